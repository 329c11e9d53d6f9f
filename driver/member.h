// The descriptors of interface members. Everything the method entry frame does for a member —
// names for errors and trace, the open-session check, null-pointer checks, the trace record of
// every parameter, the model check, the simulation short-cut and the prepared instrument command —
// follows from its descriptor, so a member's code holds only what is particular to it.
//
// A property is one descriptor holding both of its accessors; a method is one Member. Each names
// its parameters as the trace writes them, with their direction and type:
//
//   constexpr Interface kItf{&IID_IVelmoraK40xxOutput, "IVelmoraK40xxOutput", kPowerSupply};
//   constexpr Property VoltageLevel =
//       kItf.Prop("VoltageLevel", Double, {.get = "VOLT?", .put = "VOLT %.15g", .sim = 0.0});
//   constexpr Member Measure = kItf.Method("Measure", {In("MeasurementType", Enum, keyword),
//                                                      Out("val", Double)},
//                                          {.command = "MEAS:%s?"});
#pragma once

#include <array>
#include <cstdint>
#include <initializer_list>
#include <span>
#include <string_view>

#include "services/model_table.h"
#include "services/trace_sink.h"
#include "vmk40xx/com.h"

namespace vmk {

enum class ParamType : uint8_t { Bool, Long, Double, String, Enum, Object };
inline constexpr ParamType Bool = ParamType::Bool;
inline constexpr ParamType Long = ParamType::Long;
inline constexpr ParamType Double = ParamType::Double;
inline constexpr ParamType String = ParamType::String;
inline constexpr ParamType Enum = ParamType::Enum;
inline constexpr ParamType Object = ParamType::Object;

// The instrument keyword of an enumeration value on a model; empty when the value has none.
using KeywordFn = std::string_view (*)(int32_t value, std::string_view model);

struct Param {
  const char* name = nullptr;
  ParamDirection direction = ParamDirection::In;
  ParamType type = ParamType::Long;
  // An enumeration given to the member's command template: the keyword the command carries.
  KeywordFn keyword = nullptr;
};

constexpr Param In(const char* name, ParamType type, KeywordFn keyword = nullptr) {
  return {name, ParamDirection::In, type, keyword};
}
constexpr Param Out(const char* name, ParamType type) {
  return {name, ParamDirection::Out, type, nullptr};
}
constexpr Param InOut(const char* name, ParamType type) {
  return {name, ParamDirection::InOut, type, nullptr};
}

// A member's COM name, held in its descriptor: an accessor's name is made from its property's.
struct MemberName {
  static constexpr size_t kCapacity = 40;
  constexpr MemberName(std::string_view first, std::string_view second = {}) {
    if (first.size() + second.size() >= kCapacity) throw "member name too long";
    size_t n = 0;
    for (char c : first) text[n++] = c;
    for (char c : second) text[n++] = c;
  }
  char text[kCapacity]{};
};

struct Interface;

struct Member {
  static constexpr size_t kMaxParams = 4;

  const Interface* itf = nullptr;
  MemberName name{""};
  std::array<Param, kMaxParams> params{};
  uint8_t paramCount = 0;
  // The instrument command template, formatted with the In parameters (io/command_text.h).
  const char* command = nullptr;
  // The models that have the member; the model check refuses it on every other.
  ModelSet models = kEveryModel;
  bool needsSession = true;

  const char* Name() const { return name.text; }
  std::span<const Param> Params() const { return {params.data(), paramCount}; }
};

// What a simulated property reads before it is written. The number serves booleans
// (VARIANT_TRUE is -1), integers, enumerations and doubles alike.
struct SimDefault {
  constexpr SimDefault() = default;
  constexpr SimDefault(double n) : number(n) {}
  constexpr SimDefault(const OLECHAR* t) : text(t) {}
  double number = 0;
  const OLECHAR* text = nullptr;
};

struct Property {
  const Interface* itf;
  const char* name;  // "VoltageLevel"
  ParamType type;
  Member get;  // "get_VoltageLevel": the index parameters, then Out "val"
  Member put;  // "put_VoltageLevel": the index parameters, then In "val"
  SimDefault sim;
  // The simulated value never changes, whatever is written (a status register reads clear).
  bool fixed;
};

struct MethodSpec {
  const char* command = nullptr;
  ModelSet models = kEveryModel;
  bool needsSession = true;
};

struct PropertySpec {
  const char* get = nullptr;  // the getter's command template
  const char* put = nullptr;  // the setter's
  SimDefault sim{};
  ModelSet models = kEveryModel;
  // Parameters both accessors take before the value (StepType of Step, Index of MemoryName).
  std::initializer_list<Param> index{};
  // The keyword an enumerated value takes in the setter's command.
  KeywordFn keyword = nullptr;
  bool fixed = false;
  // The getter also runs while the session is closed.
  bool getWhileClosed = false;
};

struct Interface {
  const IID* iid;
  const char* name;  // "IVelmoraK40xxOutput"
  // The driver's own power-supply interfaces: their members pass the model check and take the
  // simulation short-cut and the prepared command.
  bool powerSupply;

  constexpr Member Method(const char* member, std::initializer_list<Param> params = {},
                          MethodSpec spec = {}) const {
    Member m{.itf = this,
             .name = MemberName(member),
             .command = spec.command,
             .models = spec.models,
             .needsSession = spec.needsSession};
    for (const Param& p : params) Add(m, p);
    return m;
  }

  constexpr Property Prop(const char* property, ParamType type, PropertySpec spec = {}) const {
    Property p{.itf = this,
               .name = property,
               .type = type,
               .get = {.itf = this,
                       .name = MemberName("get_", property),
                       .command = spec.get,
                       .models = spec.models,
                       .needsSession = !spec.getWhileClosed},
               .put = {.itf = this,
                       .name = MemberName("put_", property),
                       .command = spec.put,
                       .models = spec.models},
               .sim = spec.sim,
               .fixed = spec.fixed};
    for (const Param& index : spec.index) {
      Add(p.get, index);
      Add(p.put, index);
    }
    Add(p.get, Out("val", type));
    Add(p.put, In("val", type, spec.keyword));
    return p;
  }

 private:
  static constexpr void Add(Member& m, const Param& p) {
    if (m.paramCount == Member::kMaxParams) throw "too many parameters";
    m.params[m.paramCount++] = p;
  }
};

inline constexpr bool kPowerSupply = true;

}  // namespace vmk
