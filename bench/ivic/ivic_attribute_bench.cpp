// What the C interface adds to a COM call: one attribute read through VmK40xx_GetAttribute...,
// and the COM calls it wraps made directly, on the same simulated session.
//
//   ivic_attribute_bench CASE [ITERATIONS]
//     c-simulate     VmK40xx_GetAttributeViBoolean(vi, "", VMK40XX_ATTR_SIMULATE)
//     com-simulate   IIviDriverOperation::get_Simulate on a held interface
//     c-voltage      VmK40xx_GetAttributeViReal64(vi, "Output2", VMK40XX_ATTR_VOLTAGE_LEVEL)
//     com-voltage    IIviDCPwrOutputs::get_Item("Output2"), get_VoltageLevel, Release
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "bench/callgrind_case.h"
#include "platform/com/com_ptr.h"
#include "vmk40xx/vmk40xx.h"
#include "vmk40xx/vmk40xx_c.h"

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s c-simulate|com-simulate|c-voltage|com-voltage [N]\n", argv[0]);
    return 2;
  }
  const char* which = argv[1];
  const int iterations = argc > 2 ? std::atoi(argv[2]) : 2000;
  ViSession vi = VI_NULL;
  if (VmK40xx_InitWithOptions("TCPIP0::192.0.2.1::5025::SOCKET", VI_FALSE, VI_FALSE,
                              "Simulate=true, DriverSetup=Model=K4201A", &vi) != VI_SUCCESS)
    return 1;
  IUnknown* unknown = nullptr;
  VmK40xx_GetNativeIUnknownPtr(vi, &unknown);
  vmk::com::ComPtr<IIviDriverOperation> operation;
  vmk::com::ComPtr<IIviDCPwrOutputs> outputs;
  unknown->QueryInterface(IID_IIviDriverOperation, reinterpret_cast<void**>(operation.put()));
  unknown->QueryInterface(IID_IIviDCPwrOutputs, reinterpret_cast<void**>(outputs.put()));
  unknown->Release();
  vmk::com::Bstr output2(std::string_view("Output2"));
  int failures = 0;

  int rc = 2;
  if (!std::strcmp(which, "c-simulate")) {
    rc = vmk::bench::MeasureInstructions(iterations, [&] {
      ViBoolean b = VI_FALSE;
      failures += VmK40xx_GetAttributeViBoolean(vi, "", VMK40XX_ATTR_SIMULATE, &b) != VI_SUCCESS;
    });
  } else if (!std::strcmp(which, "com-simulate")) {
    rc = vmk::bench::MeasureInstructions(iterations, [&] {
      VARIANT_BOOL b = VARIANT_FALSE;
      failures += operation->get_Simulate(&b) != S_OK;
    });
  } else if (!std::strcmp(which, "c-voltage")) {
    rc = vmk::bench::MeasureInstructions(iterations, [&] {
      ViReal64 level = 0;
      failures += VmK40xx_GetAttributeViReal64(vi, "Output2", VMK40XX_ATTR_VOLTAGE_LEVEL, &level) !=
                  VI_SUCCESS;
    });
  } else if (!std::strcmp(which, "com-voltage")) {
    rc = vmk::bench::MeasureInstructions(iterations, [&] {
      IIviDCPwrOutput* output = nullptr;
      double level = 0;
      failures += outputs->get_Item(output2.get(), &output) != S_OK;
      failures += output->get_VoltageLevel(&level) != S_OK;
      output->Release();
    });
  } else {
    std::fprintf(stderr, "unknown case %s\n", which);
  }
  operation.reset();
  outputs.reset();
  VmK40xx_close(vi);
  if (failures) std::fprintf(stderr, "%d calls failed\n", failures);
  return failures ? 1 : rc;
}
