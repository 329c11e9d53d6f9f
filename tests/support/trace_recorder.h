// A tracer for tests: every record it receives becomes one line of text,
//   "enter VelmoraK40xxOutput.IVelmoraK40xxOutput.put_VoltageLevel(In val=5.25)"
//   "leave put_VoltageLevel(Out val=5.25) 0x00000000"
// with In and InOut values on entry and Out and InOut values, read through their references, on
// leaving, as a tracer writes them.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "platform/com/unicode.h"
#include "platform/visa/number_text.h"
#include "services/trace_sink.h"

namespace vmk::test {

inline std::string TraceText(const VARIANT& v) {
  const bool ref = (v.vt & VT_BYREF) != 0;
  switch (v.vt & VT_TYPEMASK) {
    case VT_R8:
      return visa::FormatG(ref ? *v.pdblVal : v.dblVal);
    case VT_I4:
      return std::to_string(ref ? *v.plVal : v.lVal);
    case VT_I2:
      return std::to_string(ref ? *v.piVal : v.iVal);
    case VT_BOOL:
      return (ref ? *v.pboolVal : v.boolVal) ? "true" : "false";
    case VT_BSTR:
      return com::BstrToUtf8(ref ? *v.pbstrVal : v.bstrVal);
    case VT_UNKNOWN:
      return "<interface>";
    default:
      return "<unknown>";
  }
}

class TraceRecorder : public MethodTraceSink {
 public:
  bool Running() const override {
    ++asked;
    return running;
  }
  void* EnterMethod(const TraceCall& call, std::span<const TraceParam> params) override {
    methods.push_back(call.method);
    events.push_back(std::string("enter ") + call.cls + "." + call.iface + "." + call.method +
                     Values(params, ParamDirection::Out));
    OnEnter(call, params);
    return reinterpret_cast<void*>(methods.size());
  }
  void LeaveMethod(void* token, std::span<const TraceParam> params, HRESULT hr) override {
    char result[16];
    std::snprintf(result, sizeof result, " 0x%08X", static_cast<unsigned>(hr));
    events.push_back("leave " + methods[reinterpret_cast<size_t>(token) - 1] +
                     Values(params, ParamDirection::In) + result);
  }
  // Called on every record that opens, for tests that look at the session while it does.
  virtual void OnEnter(const TraceCall&, std::span<const TraceParam>) {}

  bool running = true;
  mutable int asked = 0;
  std::vector<std::string> events;

 private:
  static std::string Values(std::span<const TraceParam> params, ParamDirection skip) {
    static constexpr const char* kNames[] = {"In", "Out", "InOut"};
    std::string text = "(";
    for (const TraceParam& p : params) {
      if (p.direction == skip) continue;
      if (text.size() > 1) text += ", ";
      text += std::string(kNames[static_cast<int>(p.direction)]) + " " + p.name + "=" +
              TraceText(p.value);
    }
    return text + ")";
  }
  std::vector<std::string> methods;
};

}  // namespace vmk::test
