// Simulation values: what a simulated property reads before anything was written to it, and the
// read and write paths of a simulated property over the node's attribute store.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <variant>

#include "services/cache.h"
#include "services/model_table.h"
#include "vmk40xx/com.h"

namespace vmk {

template <class T>
class CSimulationInfo : public CModelBasedType {
  static_assert(kIsCacheType<T>);

 public:
  CSimulationInfo(std::string name, const T& value);
  ~CSimulationInfo() override;
  // The stored value; a BSTR stays owned by the entry.
  const T& Value() const { return value_; }

 private:
  T value_;
};

template <class T>
using SimulationTable = CModelBasedMap<CSimulationInfo<T>>;

// The table's value for the model (model entry, else default), or zero, false or a new empty
// string when there is none. A BSTR result is always a new copy owned by the caller, never null.
template <class T>
T SimulatedValue(const SimulationTable<T>& table, std::string_view model);

// One simulated property: its attribute key ("Interface.Property"), its default for every model,
// and whether it reads that default on every read instead of the last value written.
using SimulationDefault = std::variant<VARIANT_BOOL, int32_t, double, std::string_view>;
struct SimulationRow {
  std::string_view key;
  SimulationDefault value;
  bool fixed = false;
};

class CSimulationRegistry {
 public:
  explicit CSimulationRegistry(std::span<const SimulationRow> rows,
                               const SupportedModelTable& models = Models());
  CSimulationRegistry(const CSimulationRegistry&) = delete;
  CSimulationRegistry& operator=(const CSimulationRegistry&) = delete;

  // The property's table when it exists with this type, else null.
  template <class T>
  const SimulationTable<T>* Find(std::string_view key) const;
  bool IsFixed(std::string_view key) const;

 private:
  struct Property {
    std::variant<SimulationTable<VARIANT_BOOL>, SimulationTable<int32_t>, SimulationTable<double>,
                 SimulationTable<BSTR>>
        table;
    bool fixed;
  };
  StringMap<Property> properties_;
};

// The driver's simulated properties; defined by the power-supply layer.
const CSimulationRegistry& SimulationTables();

// The frame's simulated read: the value last written to the node's store, else the model's
// simulation value (always the latter for the fixed property). E_UNEXPECTED, with `out` untouched,
// when the key names no simulated property of that type, so that a misspelt key in a member
// descriptor shows at its first simulated call instead of reading a plausible zero.
template <class T>
HRESULT SimulatedRead(CCacheManager& cache, std::string_view key, std::string_view model, T* out,
                      const CSimulationRegistry& registry = SimulationTables());

// The frame's simulated write, after range checks: stores the value (a BSTR as a copy). The fixed
// property stores nothing. E_UNEXPECTED for an unknown key, as above.
template <class T>
HRESULT SimulatedWrite(CCacheManager& cache, std::string_view key, const T& value,
                       const CSimulationRegistry& registry = SimulationTables());

// Member descriptors hold their key as a C string that is null for members without one; such a
// member has no simulated value, which must not become a string_view over a null pointer.
template <class T>
HRESULT SimulatedRead(CCacheManager& cache, const char* key, std::string_view model, T* out,
                      const CSimulationRegistry& registry = SimulationTables()) {
  if (!key) return E_UNEXPECTED;
  return SimulatedRead<T>(cache, std::string_view(key), model, out, registry);
}

template <class T>
HRESULT SimulatedWrite(CCacheManager& cache, const char* key, const T& value,
                       const CSimulationRegistry& registry = SimulationTables()) {
  if (!key) return E_UNEXPECTED;
  return SimulatedWrite<T>(cache, std::string_view(key), value, registry);
}

}  // namespace vmk
