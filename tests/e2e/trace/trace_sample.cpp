// Writes a small trace with every shape the report shows: calls with In, Out and InOut
// parameters, instrument operations nested in their call, an array, a failed call. Its clock
// is fixed, so the report's times are known to the test that reads it.
//
// Usage: trace_sample DIRECTORY   (prints the trace file's path)
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "platform/com/com_ptr.h"
#include "services/tracer.h"
#include "vmk40xx/errors.h"

namespace {

using vmk::ParamDirection;
using vmk::TraceParam;

VARIANT Variant(VARTYPE vt) {
  VARIANT v{};
  v.vt = vt;
  return v;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s DIRECTORY\n", argv[0]);
    return 2;
  }
  setenv("TZ", "UTC0", 1);
  int64_t now = 1714557600000;  // 2024-05-01 10:00:00 UTC
  vmk::TraceEnvironment env = vmk::DefaultTraceEnvironment();
  env.now = [&] { return now; };
  env.directory = argv[1];
  vmk::CTraceOwner tracer(env);
  tracer.SetTraceName("sample");
  tracer.SetTraceArray(true);
  if (FAILED(tracer.SwitchTrace(true, "VelmoraK40xx", nullptr))) return 1;

  auto call = [&](const char* cls, const char* iface, const char* method,
                  std::vector<TraceParam> params, HRESULT result, int64_t ms, auto&& inside) {
    void* token = tracer.EnterMethod({cls, iface, method}, params);
    inside(params);
    now += ms;
    if (token) tracer.LeaveMethod(token, params, result);
  };
  auto nothing = [](std::vector<TraceParam>&) {};
  vmk::com::Bstr command("VOLT 5.5");
  vmk::com::Bstr query("MEAS:VOLT?");

  VARIANT level = Variant(VT_R8);
  level.dblVal = 5.5;
  call("VelmoraK40xxOutput", "IVelmoraK40xxOutput", "put_VoltageLevel",
       {{"val", ParamDirection::In, level}}, S_OK, 12, [&](auto&) {
         VARIANT select = Variant(VT_BSTR);
         vmk::com::Bstr nsel("INST:NSEL 1");
         select.bstrVal = nsel.get();
         call("CDriverIOManager", "CDriverIOManager", "InstrPrintf",
              {{"strCommand", ParamDirection::In, select}}, S_OK, 3, nothing);
         VARIANT text = Variant(VT_BSTR);
         text.bstrVal = command.get();
         call("CDriverIOManager", "CDriverIOManager", "InstrPrintCommand",
              {{"strCommand", ParamDirection::In, text}}, S_OK, 4, nothing);
       });

  double measured = 0;
  VARIANT out = Variant(VT_BYREF | VT_R8);
  out.pdblVal = &measured;
  call("VelmoraK40xxOutput", "IVelmoraK40xxOutput", "Measure", {{"val", ParamDirection::Out, out}},
       S_OK, 40, [&](auto&) {
         VARIANT text = Variant(VT_BSTR);
         text.bstrVal = query.get();
         call("CDriverIOManager", "CDriverIOManager", "InstrQueryCommand",
              {{"strCommand", ParamDirection::In, text}}, S_OK, 35, nothing);
         measured = 5.498;
       });

  SAFEARRAY* values = SafeArrayCreateVector(VT_R8, 0, 12);
  double* data = nullptr;
  SafeArrayAccessData(values, reinterpret_cast<void**>(&data));
  for (int i = 0; i < 12; ++i) data[i] = i * 0.25;
  SafeArrayUnaccessData(values);
  VARIANT list = Variant(VT_ARRAY | VT_R8);
  list.parray = values;
  LONG count = 12;
  VARIANT inout = Variant(VT_BYREF | VT_I4);
  inout.plVal = &count;
  call("VelmoraK40xx", "IVelmoraK40xxTrigger", "ConfigureList",
       {{"Values", ParamDirection::In, list}, {"pCount", ParamDirection::InOut, inout}}, S_OK, 2,
       [&](auto&) { count = 10; });
  SafeArrayDestroy(values);

  VARIANT limit = Variant(VT_R8);
  limit.dblVal = 99;
  call("VelmoraK40xxOutput", "IVelmoraK40xxOutput", "put_CurrentLimit",
       {{"val", ParamDirection::In, limit}}, E_IVI_INVALID_VALUE, 1, nothing);

  if (FAILED(tracer.EndSession(nullptr))) return 1;
  std::printf("%s\n", tracer.FilePath().c_str());
  return 0;
}
