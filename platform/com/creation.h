// What the library itself asks of the class registrations.
#pragma once

#include <optional>
#include <string>

#include "vmk40xx/com.h"

namespace vmk::com {

// The ProgID registered for a class (HKEY_CLASSES_ROOT\CLSID\{clsid}\ProgID); nothing while
// the class is not registered.
std::optional<std::string> RegisteredProgId(const CLSID& clsid);

}  // namespace vmk::com
