// What a tracer receives from the method entry frame and from the I/O manager: one record per
// call, opened when the call enters and closed when it leaves, with the call's parameters.
// Records nest: a record opened while another is open belongs inside it.
//
// Cost rule: callers ask Running() first and build no parameter record, no string and no copy
// unless it answers true, so a session without a running tracer pays one virtual call.
#pragma once

#include <cstdint>
#include <span>

#include "vmk40xx/com.h"

namespace vmk {

enum class ParamDirection : uint8_t { In, Out, InOut };

// One parameter as the trace writes it. `value` is borrowed, never owned by the record:
//   - In: the value itself (VT_R8, VT_I4, VT_BOOL, VT_BSTR pointing at the caller's string, ...);
//   - Out and InOut: a by-reference VARIANT (VT_BYREF | type) pointing at the caller's variable,
//     read when the sink writes it, so that LeaveMethod sees the value the call produced.
// Arrays are VT_ARRAY | type with a SAFEARRAY (by reference for Out).
struct TraceParam {
  const char* name;
  ParamDirection direction;
  VARIANT value;
};

// Who is called: the node class ("VelmoraK40xx", "VelmoraK40xxOutput"), the interface
// ("IVelmoraK40xxOutput"; "CDriverIOManager" for the I/O manager's own records) and the member
// or operation ("put_VoltageLevel", "InstrQueryCommand").
struct TraceCall {
  const char* cls;
  const char* iface;
  const char* method;
};

class MethodTraceSink {
 public:
  // True while records are being written; false while paused, stopped or not started.
  virtual bool Running() const = 0;
  // Opens the record of one call with its In and InOut values. Returns a token to hand to
  // LeaveMethod, or null when nothing was opened (LeaveMethod is then not called).
  virtual void* EnterMethod(const TraceCall& call, std::span<const TraceParam> params) = 0;
  // Closes the record with its Out and InOut values as they are now, and the call's result.
  // `params` is the same list EnterMethod was given.
  virtual void LeaveMethod(void* token, std::span<const TraceParam> params, HRESULT result) = 0;

 protected:
  ~MethodTraceSink() = default;
};

}  // namespace vmk
