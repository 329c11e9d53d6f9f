// The option string of Initialize, in simulation: any text either opens a session that then
// works and closes, or fails Initialize with an error text; nothing else.
#include <cctype>
#include <cstdlib>
#include <string>

#include "tests/fuzz/fuzz_support.h"

using vmk::test::Bstr;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  vmk::fuzz::IsolateFromTheMachine();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string options(vmk::fuzz::Text(data, size));
  // A trace would write files named by the input: the tracer's own target reads trace files.
  std::string lower = options;
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (lower.find("trace") != std::string::npos) return -1;
  auto driver = vmk::test::NewDriver();
  if (!driver) std::abort();
  const HRESULT hr = driver->Initialize(Bstr("GPIB0::5::INSTR"), VARIANT_TRUE, VARIANT_TRUE,
                                        Bstr("Simulate=true, " + options));
  if (SUCCEEDED(hr)) {
    vmk::test::Ref<IVelmoraK40xxOutputs> outputs;
    LONG count = 0;
    if (FAILED(driver->get_Outputs(&outputs)) || FAILED(outputs->get_Count(&count)) || count < 1 ||
        count > 3)
      std::abort();
    if (FAILED(driver->Close())) std::abort();
  } else if (vmk::test::TakeError().empty()) {
    // A failure must say why.
    std::abort();
  }
  vmk::fuzz::DropErrorInfo();
  return 0;
}
