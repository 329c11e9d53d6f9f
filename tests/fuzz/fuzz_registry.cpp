// The registry file reader: any text is a tree or a refusal naming the line, and a tree that was
// read writes out as text that reads back to an equal tree.
#include <cstdlib>
#include <string>

#include "platform/com/registry.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view in(reinterpret_cast<const char*>(data), size);
  std::string error;
  auto tree = vmk::com::ParseRegistry(in, &error);
  if (!tree) {
    if (error.empty()) std::abort();
    return 0;
  }
  std::string again;
  auto reread = vmk::com::ParseRegistry(vmk::com::FormatRegistry(*tree), &again);
  if (!reread || !(*reread == *tree)) std::abort();
  return 0;
}
