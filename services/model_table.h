// Per-model tables: entries tagged with a model name, a family name or nothing (the default), and
// the lookups that pick an entry for the session's current model.
//
// Names are exact, case-sensitive strings. The list of models and their families belongs to the
// power-supply layer; this layer only resolves tags against it, so every builder takes the model
// table as an argument.
//
// A set of models is a bit mask over the rows of that list (ModelSet): whether a session's model
// has a feature is then one AND of the model's bit, fixed when the model is, and the feature's
// set, fixed when the feature is declared.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <span>
#include <stdexcept>
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

// Bit i stands for the model of the i-th distinct model name of the rows, in row order. A model
// the rows do not name has no bit; kEveryModel also holds such models, for features that every
// model has whatever its name.
using ModelSet = uint32_t;
inline constexpr ModelSet kEveryModel = ~ModelSet{0};
inline constexpr size_t kMaxModels = 31;

// The bit of `model`, or 0 when the rows do not name it.
constexpr ModelSet ModelBit(std::span<const ModelFamilyRow> rows, std::string_view model) {
  ModelSet bit = 1;
  for (size_t i = 0; i < rows.size(); ++i) {
    bool seen = false;
    for (size_t j = 0; j < i; ++j) seen = seen || rows[j].model == rows[i].model;
    if (seen) continue;
    if (!model.empty() && rows[i].model == model) return bit;
    bit <<= 1;
  }
  return 0;
}

// The models that `names` name, each a model or a family. A name that is neither fails: in a
// constant expression, where the driver's sets are made, that is a build error.
constexpr ModelSet ModelsNamed(std::span<const ModelFamilyRow> rows,
                               std::initializer_list<std::string_view> names) {
  ModelSet set = 0;
  for (std::string_view name : names) {
    bool known = false;
    for (const ModelFamilyRow& row : rows) {
      if (row.model != name && row.family != name) continue;
      set |= ModelBit(rows, row.model);
      known = true;
    }
    if (!known) throw std::invalid_argument("neither a model nor a family");
  }
  return set;
}

// An enumeration value that only some models have.
struct EnumModels {
  int32_t value;
  ModelSet models;
};

// True when no row restricts `value`, or when one that does holds the model's bit.
constexpr bool IsValueSupported(std::span<const EnumModels> rows, ModelSet modelBit,
                                int32_t value) {
  bool restricted = false;
  for (const EnumModels& row : rows) {
    if (row.value != value) continue;
    if (row.models & modelBit) return true;
    restricted = true;
  }
  return !restricted;
}

class SupportedModelTable {
 public:
  explicit SupportedModelTable(std::span<const ModelFamilyRow> rows);

  // The model's bit (ModelBit over the rows); 0 for a model the rows do not name.
  ModelSet Bit(std::string_view model) const;

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
  StringMap<ModelSet> bits_;
};

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
  CModelBasedMap(ModelBasedEntries<T> entries, const SupportedModelTable& models) {
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

}  // namespace vmk
