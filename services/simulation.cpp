#include "services/simulation.h"

#include <new>
#include <utility>

#include "platform/com/com_ptr.h"

namespace vmk {

template <class T>
CSimulationInfo<T>::CSimulationInfo(std::string name, const T& value)
    : CModelBasedType(std::move(name)) {
  if constexpr (std::is_same_v<T, BSTR>) {
    value_ = CopyBstr(value);
  } else {
    value_ = value;
  }
}

template <class T>
CSimulationInfo<T>::~CSimulationInfo() {
  if constexpr (std::is_same_v<T, BSTR>) SysFreeString(value_);
}

template <class T>
T SimulatedValue(const SimulationTable<T>& table, std::string_view model) {
  const CSimulationInfo<T>* info = table.Lookup(model);
  if constexpr (std::is_same_v<T, BSTR>) {
    return CopyBstr(info ? info->Value() : nullptr);
  } else {
    return info ? info->Value() : T{};
  }
}

namespace {

template <class T>
SimulationTable<T> DefaultOnlyTable(const T& value, const SupportedModelTable& models) {
  ModelBasedEntries<CSimulationInfo<T>> entries;
  entries.push_back(std::make_unique<CSimulationInfo<T>>(std::string(), value));
  return SimulationTable<T>(std::move(entries), models);
}

}  // namespace

CSimulationRegistry::CSimulationRegistry(std::span<const SimulationRow> rows,
                                         const SupportedModelTable& models) {
  for (const SimulationRow& row : rows) {
    auto property = std::visit(
        [&](const auto& value) -> Property {
          using V = std::decay_t<decltype(value)>;
          if constexpr (std::is_same_v<V, std::string_view>) {
            com::Bstr text(value);
            if (!text.get()) throw std::bad_alloc();
            return Property{DefaultOnlyTable<BSTR>(text.get(), models), row.fixed};
          } else {
            return Property{DefaultOnlyTable<V>(value, models), row.fixed};
          }
        },
        row.value);
    properties_.insert_or_assign(std::string(row.key), std::move(property));
  }
}

template <class T>
const SimulationTable<T>* CSimulationRegistry::Find(std::string_view key) const {
  auto it = properties_.find(key);
  if (it == properties_.end()) return nullptr;
  return std::get_if<SimulationTable<T>>(&it->second.table);
}

bool CSimulationRegistry::IsFixed(std::string_view key) const {
  auto it = properties_.find(key);
  return it != properties_.end() && it->second.fixed;
}

template <class T>
HRESULT SimulatedRead(CCacheManager& cache, std::string_view key, std::string_view model, T* out,
                      const CSimulationRegistry& registry) {
  const SimulationTable<T>* table = registry.Find<T>(key);
  if (!table || !out) return E_UNEXPECTED;
  if (!registry.IsFixed(key) && cache.GetEntry<T>(key).GetValue(out)) return S_OK;
  *out = SimulatedValue<T>(*table, model);
  return S_OK;
}

template <class T>
HRESULT SimulatedWrite(CCacheManager& cache, std::string_view key, const T& value,
                       const CSimulationRegistry& registry) {
  if (!registry.Find<T>(key)) return E_UNEXPECTED;
  if (registry.IsFixed(key)) return S_OK;
  cache.GetEntry<T>(key).SetValue(value);
  return S_OK;
}

#define VMK_SIMULATION_TYPE(T)                                                              \
  template class CSimulationInfo<T>;                                                        \
  template T SimulatedValue<T>(const SimulationTable<T>&, std::string_view);                \
  template const SimulationTable<T>* CSimulationRegistry::Find<T>(std::string_view) const;  \
  template HRESULT SimulatedRead<T>(CCacheManager&, std::string_view, std::string_view, T*, \
                                    const CSimulationRegistry&);                            \
  template HRESULT SimulatedWrite<T>(CCacheManager&, std::string_view, const T&,            \
                                     const CSimulationRegistry&);
VMK_SIMULATION_TYPE(VARIANT_BOOL)
VMK_SIMULATION_TYPE(int32_t)
VMK_SIMULATION_TYPE(double)
VMK_SIMULATION_TYPE(BSTR)
#undef VMK_SIMULATION_TYPE

}  // namespace vmk
