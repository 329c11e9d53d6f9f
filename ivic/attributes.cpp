// Attribute access by identifier: one row per attribute, expanded from vmk40xx_attributes.def,
// and one dispatch for the ten functions. A row's getter and setter are the generic property
// access of the frame, instantiated for the row's COM accessor; the compiler checks each row's
// type against the accessor's COM type, its repeated capability against the interface's place,
// and its identifier against the VMK40XX_ATTR_ macro of the public header.
#include <iterator>
#include <type_traits>

#include "ivic/frame.h"

namespace vmk::ivic {

namespace {

enum class Type { ViInt32, ViReal64, ViBoolean, ViString, ViSession };

// Where a getter's caller wants the value, and a setter's value.
struct Result {
  void* value;
  ViInt32 bufferSize;  // ViString only
};
union Value {
  ViInt32 i;
  ViReal64 r;
  ViBoolean b;
  ViConstString s;
};

using Getter = ViStatus (*)(ViSession vi, ViConstString channel, Result result);
using Setter = ViStatus (*)(ViSession vi, ViConstString channel, Value value);

struct Attribute {
  ViAttr id;
  Type type;
  Getter get;  // null: write-only
  Setter set;  // null: read-only
};

template <Type T>
auto ResultArg(Result r) {
  if constexpr (T == Type::ViInt32) return Out{static_cast<ViInt32*>(r.value)};
  if constexpr (T == Type::ViReal64) return Out{static_cast<ViReal64*>(r.value)};
  if constexpr (T == Type::ViBoolean) return Out{static_cast<ViBoolean*>(r.value)};
  if constexpr (T == Type::ViString) return TextOut{r.bufferSize, static_cast<ViChar*>(r.value)};
}

template <Type T>
auto ValueArg(Value v) {
  if constexpr (T == Type::ViInt32) return v.i;
  if constexpr (T == Type::ViReal64) return v.r;
  if constexpr (T == Type::ViBoolean) return v.b;
  if constexpr (T == Type::ViString) return v.s;
}

template <class Itf, auto getter, Type T>
ViStatus GetProperty(ViSession vi, ViConstString channel, Result r) {
  return OnInterface<Itf>(vi, channel,
                          [&](Itf* itf) { return Invoke(vi, itf, getter, ResultArg<T>(r)); });
}

// Also readable without a session, from a driver object made for the one read.
template <class Itf, auto getter, Type T>
ViStatus GetPropertyOrNew(ViSession vi, ViConstString channel, Result r) {
  if (vi != VI_NULL) return GetProperty<Itf, getter, T>(vi, channel, r);
  return Guarded(VI_NULL, [&]() -> ViStatus {
    ComOnThread com;
    if (!com) return Refuse(VI_NULL, kNoCom);
    com::ComPtr<IUnknown> object;
    if (FAILED(CreateDriver(object))) return Refuse(VI_NULL, kNoDriverObject);
    com::ComPtr<Itf> itf;
    if (ViStatus s = Query(VI_NULL, object.get(), itf)) return s;
    return Invoke(VI_NULL, itf.get(), getter, ResultArg<T>(r));
  });
}

template <class Itf, auto setter, Type T>
ViStatus SetProperty(ViSession vi, ViConstString channel, Value v) {
  return OnInterface<Itf>(vi, channel,
                          [&](Itf* itf) { return Invoke(vi, itf, setter, ValueArg<T>(v)); });
}

// Checks of every row, at compile time.
#define ROW_CHECKS(id, name, repcap, itf)                                            \
  static_assert(VMK40XX_ATTR_##name == id, "VMK40XX_ATTR_" #name " in vmk40xx_c.h"); \
  static_assert(Path<itf>::kRepCap == RepCap::repcap, #name ": repeated capability of " #itf);
#define ATTR_RW(id, name, type, repcap, itf, prop) ROW_CHECKS(id, name, repcap, itf)
#define ATTR_RO(id, name, type, repcap, itf, prop) ROW_CHECKS(id, name, repcap, itf)
#define ATTR_WO(id, name, type, repcap, itf, prop) ROW_CHECKS(id, name, repcap, itf)
#define ATTR_CONST(id, name, type, repcap, text)                                     \
  static_assert(VMK40XX_ATTR_##name == id, "VMK40XX_ATTR_" #name " in vmk40xx_c.h"); \
  static_assert(Type::type == Type::ViString && RepCap::repcap == RepCap::None);
#include "vmk40xx/vmk40xx_attributes.def"
#undef ROW_CHECKS

constexpr Attribute kAttributes[] = {
#define ATTR_RW(id, name, type, repcap, itf, prop)                  \
  {id, Type::type, &GetProperty<itf, &itf::get_##prop, Type::type>, \
   &SetProperty<itf, &itf::put_##prop, Type::type>},
#define ATTR_RO(id, name, type, repcap, itf, prop) \
  {id, Type::type, &GetProperty<itf, &itf::get_##prop, Type::type>, nullptr},
#define ATTR_WO(id, name, type, repcap, itf, prop) \
  {id, Type::type, nullptr, &SetProperty<itf, &itf::put_##prop, Type::type>},
#define ATTR_RO_VI_NULL(id, name, type, repcap, itf, prop) \
  {id, Type::type, &GetPropertyOrNew<itf, &itf::get_##prop, Type::type>, nullptr},
#define ATTR_CONST(id, name, type, repcap, text)                         \
  {id, Type::type,                                                       \
   [](ViSession, ViConstString, Result r) -> ViStatus {                  \
     return CopyText(text, r.bufferSize, static_cast<ViChar*>(r.value)); \
   },                                                                    \
   nullptr},
#include "vmk40xx/vmk40xx_attributes.def"
};

constexpr size_t IndexOf(ViAttr id) {
  for (size_t i = 0; i < std::size(kAttributes); ++i)
    if (kAttributes[i].id == id) return i;
  return std::size(kAttributes);
}

// A switch over the identifiers, which the compiler turns into a few comparisons.
const Attribute* Find(ViAttr id) {
  switch (id) {
#define ATTR(id, name, type, access, repcap) \
  case id:                                   \
    return &kAttributes[std::integral_constant<size_t, IndexOf(id)>::value];
#include "vmk40xx/vmk40xx_attributes.def"
  }
  return nullptr;
}

// The checks of identifier, type and access come before the session is looked at.
ViStatus Get(ViSession vi, ViConstString channel, ViAttr id, Type type, Result result) {
  const Attribute* a = Find(id);
  if (!a) return Refuse(vi, kUnknownAttribute);
  if (a->type != type) return Refuse(vi, kGetOfOtherType);
  if (!a->get) return Refuse(vi, kWriteOnly);
  return a->get(vi, channel, result);
}

ViStatus Set(ViSession vi, ViConstString channel, ViAttr id, Type type, Value value) {
  const Attribute* a = Find(id);
  if (!a) return Refuse(vi, kUnknownAttribute);
  if (a->type != type) return Refuse(vi, kSetOfOtherType);
  if (!a->set) return Refuse(vi, kReadOnly);
  return a->set(vi, channel, value);
}

}  // namespace

}  // namespace vmk::ivic

using vmk::ivic::Type;

extern "C" {

VMK40XX_EXPORT ViStatus VmK40xx_GetAttributeViInt32(ViSession vi, ViConstString channelName,
                                                    ViAttr attributeId, ViInt32* value) {
  return vmk::ivic::Get(vi, channelName, attributeId, Type::ViInt32, {value, 0});
}
VMK40XX_EXPORT ViStatus VmK40xx_SetAttributeViInt32(ViSession vi, ViConstString channelName,
                                                    ViAttr attributeId, ViInt32 value) {
  return vmk::ivic::Set(vi, channelName, attributeId, Type::ViInt32, {.i = value});
}
VMK40XX_EXPORT ViStatus VmK40xx_GetAttributeViReal64(ViSession vi, ViConstString channelName,
                                                     ViAttr attributeId, ViReal64* value) {
  return vmk::ivic::Get(vi, channelName, attributeId, Type::ViReal64, {value, 0});
}
VMK40XX_EXPORT ViStatus VmK40xx_SetAttributeViReal64(ViSession vi, ViConstString channelName,
                                                     ViAttr attributeId, ViReal64 value) {
  return vmk::ivic::Set(vi, channelName, attributeId, Type::ViReal64, {.r = value});
}
VMK40XX_EXPORT ViStatus VmK40xx_GetAttributeViBoolean(ViSession vi, ViConstString channelName,
                                                      ViAttr attributeId, ViBoolean* value) {
  return vmk::ivic::Get(vi, channelName, attributeId, Type::ViBoolean, {value, 0});
}
VMK40XX_EXPORT ViStatus VmK40xx_SetAttributeViBoolean(ViSession vi, ViConstString channelName,
                                                      ViAttr attributeId, ViBoolean value) {
  return vmk::ivic::Set(vi, channelName, attributeId, Type::ViBoolean, {.b = value});
}
VMK40XX_EXPORT ViStatus VmK40xx_GetAttributeViString(ViSession vi, ViConstString channelName,
                                                     ViAttr attributeId, ViInt32 bufferSize,
                                                     ViChar value[]) {
  return vmk::ivic::Get(vi, channelName, attributeId, Type::ViString, {value, bufferSize});
}
VMK40XX_EXPORT ViStatus VmK40xx_SetAttributeViString(ViSession vi, ViConstString channelName,
                                                     ViAttr attributeId, ViConstString value) {
  return vmk::ivic::Set(vi, channelName, attributeId, Type::ViString, {.s = value});
}
VMK40XX_EXPORT ViStatus VmK40xx_GetAttributeViSession(ViSession vi, ViConstString channelName,
                                                      ViAttr attributeId, ViSession* value) {
  return vmk::ivic::Get(vi, channelName, attributeId, Type::ViSession, {value, 0});
}
VMK40XX_EXPORT ViStatus VmK40xx_SetAttributeViSession(ViSession vi, ViConstString channelName,
                                                      ViAttr attributeId, ViSession value) {
  return vmk::ivic::Set(vi, channelName, attributeId, Type::ViSession,
                        {.i = static_cast<ViInt32>(value)});
}

}  // extern "C"
