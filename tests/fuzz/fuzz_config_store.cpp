// The IVI configuration store reader: any text is a store or a refusal with its reason, and a
// store that was read writes out as text that reads back to the same store.
#include <cstdlib>
#include <string>

#include "platform/config/store.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view in(reinterpret_cast<const char*>(data), size);
  std::string error;
  auto store = vmk::config::ParseStore(in, &error);
  if (!store) {
    if (error.empty()) std::abort();
    return 0;
  }
  const std::string text = vmk::config::FormatStore(*store);
  std::string again;
  auto reread = vmk::config::ParseStore(text, &again);
  if (!reread || vmk::config::FormatStore(*reread) != text) std::abort();
  return 0;
}
