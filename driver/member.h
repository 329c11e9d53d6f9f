// The descriptor of one interface member. Everything the method entry frame does for a member —
// names for errors and trace, the open-session check, null-pointer checks, the model check, the
// simulation short-cut and the prepared instrument command — follows from this record, so a
// member's code holds only what is particular to it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "vmk40xx/com.h"

namespace vmk {

struct Member {
  const IID* iid;     // interface whose error information the member raises
  const char* iface;  // "IVelmoraK40xxOutput"
  const char* name;   // COM name: "put_VoltageLevel", "SelfTest"
  bool needsSession = true;
  // Names of the pointer parameters the frame refuses when null, in order. Property getters name
  // their result "val".
  const char* checked[2] = {nullptr, nullptr};

  // Power-supply members only: the model check against the feature table, the attribute-store
  // key of the simulation short-cut ("IVelmoraK40xxOutput.VoltageLevel"), and the instrument
  // command template formatted with the member's arguments.
  bool powerSupply = false;
  const char* simKey = nullptr;
  const char* command = nullptr;
  // Instrument keyword of an enumerated argument of `command`, for the session's model.
  std::string (*keyword)(int32_t value, std::string_view model) = nullptr;
};

// The members of one interface are declared through it, so that each descriptor states only its
// own names and data.
struct InterfaceInfo {
  const IID* iid;
  const char* name;
  bool powerSupply;

  constexpr Member Method(const char* member, const char* checked1 = nullptr,
                          const char* checked2 = nullptr) const {
    return Member{.iid = iid,
                  .iface = name,
                  .name = member,
                  .checked = {checked1, checked2},
                  .powerSupply = powerSupply};
  }
  // A method sent as the instrument command `command`, formatted with the method's arguments.
  constexpr Member Command(const char* member, const char* command,
                           const char* checked1 = nullptr) const {
    return Member{.iid = iid,
                  .iface = name,
                  .name = member,
                  .checked = {checked1, nullptr},
                  .powerSupply = powerSupply,
                  .command = command};
  }
  // A property getter; its result pointer is checked under the name "val".
  constexpr Member Get(const char* member, const char* simKey = nullptr,
                       const char* command = nullptr) const {
    return Member{.iid = iid,
                  .iface = name,
                  .name = member,
                  .checked = {"val", nullptr},
                  .powerSupply = powerSupply,
                  .simKey = simKey,
                  .command = command};
  }
  constexpr Member Put(const char* member, const char* simKey = nullptr,
                       const char* command = nullptr) const {
    return Member{.iid = iid,
                  .iface = name,
                  .name = member,
                  .powerSupply = powerSupply,
                  .simKey = simKey,
                  .command = command};
  }
};

// The same member, callable while the session is closed.
constexpr Member Unchecked(Member m) {
  m.needsSession = false;
  return m;
}

// With an instrument keyword for its enumerated command argument.
constexpr Member WithKeywords(Member m, std::string (*keyword)(int32_t, std::string_view)) {
  m.keyword = keyword;
  return m;
}

}  // namespace vmk
