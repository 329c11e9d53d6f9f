// What a session keeps from the IVI configuration store besides its settings: the configurable
// initial settings, by name, as variants.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

#include "vmk40xx/com.h"

namespace vmk {

class InitialSettings {
 public:
  InitialSettings() = default;
  InitialSettings(const InitialSettings&) = delete;
  InitialSettings& operator=(const InitialSettings&) = delete;
  ~InitialSettings() { Clear(); }

  void Clear();
  // Takes over `value`; a later setting of the same name replaces an earlier one. `name` is
  // trimmed and lower-cased by the caller.
  void Set(const std::string& name, VARIANT value);
  // A copy of the setting into `value` (VariantCopy); false when there is none.
  bool Get(std::string_view name, VARIANT* value) const;
  // The setting's text when it is a string setting.
  std::optional<std::string> Text(std::string_view name) const;
  size_t Count() const { return values_.size(); }

 private:
  std::unordered_map<std::string, VARIANT> values_;
};

}  // namespace vmk
