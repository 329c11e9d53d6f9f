// Per-model tables: entries tagged with a model name, a family name or nothing (the default), and
// the lookups that pick an entry for the session's current model.
//
// Names are exact, case-sensitive strings. The list of models and their families belongs to the
// power-supply layer; this layer only resolves tags against it, so every builder takes the model
// table as an argument and defaults to the process-wide one that layer defines.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

namespace vmk {

// Lets string-keyed hash maps be searched with a string_view without building a std::string.
struct StringHash {
  using is_transparent = void;
  std::size_t operator()(std::string_view s) const noexcept {
    return std::hash<std::string_view>{}(s);
  }
};

template <class V>
using StringMap = std::unordered_map<std::string, V, StringHash, std::equal_to<>>;

struct ModelFamilyRow {
  std::string_view model;
  std::string_view family;
};

class SupportedModelTable {
 public:
  explicit SupportedModelTable(std::span<const ModelFamilyRow> rows);

  bool IsKnownModel(std::string_view model) const;
  bool IsKnownFamily(std::string_view family) const;
  // True when the family is known and lists the model.
  bool IsModelInFamily(std::string_view model, std::string_view family) const;
  // The models of a family in row order; empty for an unknown family.
  std::span<const std::string> ModelsOf(std::string_view family) const;
  std::span<const std::string> FamiliesOf(std::string_view model) const;

 private:
  StringMap<std::vector<std::string>> familyModels_;
  StringMap<std::vector<std::string>> modelFamilies_;
};

// The table of the fourteen supported models; defined by the power-supply layer.
const SupportedModelTable& Models();

class CModelBasedType {
 public:
  explicit CModelBasedType(std::string name) : name_(std::move(name)) {}
  virtual ~CModelBasedType() = default;
  CModelBasedType(const CModelBasedType&) = delete;
  CModelBasedType& operator=(const CModelBasedType&) = delete;

  // Asked when a family entry is spread over a model that already has an entry: true keeps the
  // existing one, which is what every table of this driver wants.
  virtual bool KeepExisting(const CModelBasedType& /*existing*/) const { return true; }

  const std::string& Name() const { return name_; }

 private:
  std::string name_;
};

template <class T>
using ModelBasedEntries = std::vector<std::unique_ptr<T>>;

// Built once from an ordered list of tagged entries, then read-only. Rules, in list order:
// a default (empty) or model entry replaces whatever that name held; a family entry fills only
// the family's models that have no entry yet (unless KeepExisting says otherwise); any other name
// is dropped.
template <class T>
class CModelBasedMap {
 public:
  explicit CModelBasedMap(ModelBasedEntries<T> entries,
                          const SupportedModelTable& models = Models()) {
    for (auto& entry : entries) {
      if (!entry) continue;
      const std::string& name = entry->Name();
      const T* stored = nullptr;
      if (name.empty() || models.IsKnownModel(name)) {
        byName_.insert_or_assign(name, entry.get());
        stored = entry.get();
      } else if (models.IsKnownFamily(name)) {
        for (const std::string& model : models.ModelsOf(name)) {
          auto it = byName_.find(model);
          if (it == byName_.end()) {
            byName_.emplace(model, entry.get());
            stored = entry.get();
          } else if (!entry->KeepExisting(*it->second)) {
            it->second = entry.get();
            stored = entry.get();
          }
        }
      }
      if (stored) owned_.push_back(std::move(entry));
    }
    // An entry that was replaced later may no longer be reachable; it is kept owned anyway, which
    // costs nothing for tables this small and keeps every pointer handed out valid.
  }

  // The entry stored under exactly this name (the default entry for ""), or null.
  const T* Find(std::string_view name) const {
    auto it = byName_.find(name);
    return it == byName_.end() ? nullptr : it->second;
  }

  // The current model's entry, else the default entry, else null.
  const T* Lookup(std::string_view model) const {
    if (const T* entry = Find(model)) return entry;
    return Find(std::string_view{});
  }

 private:
  StringMap<const T*> byName_;
  ModelBasedEntries<T> owned_;
};

class CSupportedModel : public CModelBasedType {
 public:
  using CModelBasedType::CModelBasedType;
};

// Whether the current model has a feature. Deliberately without default fallback: a default entry
// never makes a model supported, and neither does the empty model of an uninitialized session.
class CSupportedModelValidator {
 public:
  explicit CSupportedModelValidator(std::span<const std::string_view> names,
                                    const SupportedModelTable& models = Models());
  CSupportedModelValidator(std::initializer_list<std::string_view> names,
                           const SupportedModelTable& models = Models())
      : CSupportedModelValidator(std::span<const std::string_view>(names.begin(), names.size()),
                                 models) {}

  bool IsSupported(std::string_view model) const;

 private:
  CModelBasedMap<CSupportedModel> map_;
};

// One restricted enumeration value: available only on the named model or family.
struct CEnumSupportedModel {
  std::string_view name;
  int32_t value;
};

// Values that appear in no row are unrestricted; a restricted value is available exactly on the
// models its rows name (families expanded when the table is built).
class CEnumValueRestriction {
 public:
  explicit CEnumValueRestriction(std::span<const CEnumSupportedModel> rows,
                                 const SupportedModelTable& models = Models());

  bool IsValueSupported(std::string_view model, int32_t value) const;

 private:
  std::unordered_multimap<int32_t, std::string> allowed_;
};

}  // namespace vmk
