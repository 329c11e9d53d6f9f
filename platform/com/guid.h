// Class and interface identifiers as the registry spells them: "{6E6F7DED-9115-4851-AA4F-...}".
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "vmk40xx/com.h"

namespace vmk::com {

// Upper-case hexadecimal in braces, as the registry keys are written.
std::string GuidToString(const GUID& guid);
// Braces required, either letter case; nothing for any other text.
std::optional<GUID> GuidFromString(std::string_view text);

}  // namespace vmk::com
