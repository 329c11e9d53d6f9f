// An object of a lower layer that calls a function of the driver layer above it, with no header
// to say so: only the link can tell.
#include <string>
#include <string_view>

namespace vmk {
std::string LowerCopy(std::string_view s);
}

std::string LowerLayerFunction() {
  return vmk::LowerCopy("QueryInstrStatus");
}
