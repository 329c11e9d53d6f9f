// Resource strings: the parser takes any text apart or says why not, a resource expression
// matches or is refused with a reason, and Initialize (simulated, so nothing is opened) takes
// any resource or logical name.
#include <cstdlib>
#include <string>

#include "platform/visa/transport.h"
#include "platform/visa/visa.h"
#include "tests/fuzz/fuzz_support.h"

using vmk::test::Bstr;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  vmk::fuzz::IsolateFromTheMachine();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view in = vmk::fuzz::Text(data, size);
  vmk::visa::ResourceName parsed;
  std::string why;
  const HRESULT hr = vmk::visa::ParseResourceName(in, &parsed, &why);
  if (SUCCEEDED(hr)) {
    if (parsed.text != in || parsed.keyword.empty()) std::abort();
  } else if (why.empty()) {
    std::abort();
  }

  const auto [expression, resource] = vmk::fuzz::Halves(in);
  bool matches = false;
  why.clear();
  if (FAILED(vmk::visa::MatchResourceExpression(expression, resource, &matches, &why)) &&
      why.empty())
    std::abort();

  auto driver = vmk::test::NewDriver();
  if (!driver) std::abort();
  if (SUCCEEDED(driver->Initialize(Bstr(std::string(in)), VARIANT_FALSE, VARIANT_FALSE,
                                   Bstr("Simulate=true"))) &&
      FAILED(driver->Close()))
    std::abort();
  vmk::fuzz::DropErrorInfo();
  return 0;
}
