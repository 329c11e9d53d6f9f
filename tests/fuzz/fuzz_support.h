// What every fuzz target shares: a process that sees no registry and no configuration store of
// the user's, and the scripted instrument the I/O targets answer through.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/com/com_ptr.h"
#include "tests/support/client.h"
#include "vmk40xx/vmk40xx.h"

namespace vmk::fuzz {

// Points the registry and the store at files that do not exist; called once per process.
inline void IsolateFromTheMachine() {
  setenv("VMK40XX_REGISTRY", "/nonexistent/vmk40xx-fuzz/registry.reg", 1);
  setenv("IVICONFIGSERVERDEFAULT", "/nonexistent/vmk40xx-fuzz/IviConfigurationStore.xml", 1);
}

inline std::string_view Text(const uint8_t* data, size_t size) {
  return {reinterpret_cast<const char*>(data), size};
}

// Takes the calling thread's error information off it, so that one input's report never
// stays for the next.
inline void DropErrorInfo() {
  com::ComPtr<IErrorInfo> info;
  GetErrorInfo(0, info.put());
}

// Splits an input at its first NUL, or in the middle when there is none.
inline std::pair<std::string_view, std::string_view> Halves(std::string_view in) {
  size_t cut = in.find('\0');
  if (cut == std::string_view::npos) return {in.substr(0, in.size() / 2), in.substr(in.size() / 2)};
  return {in.substr(0, cut), in.substr(cut + 1)};
}

}  // namespace vmk::fuzz
