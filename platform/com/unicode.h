// The one pair of UTF-8 <-> UTF-16 conversions of the library. Narrow strings are UTF-8
// everywhere inside the driver; BSTRs are UTF-16. Invalid input never fails a call: each
// malformed sequence (bad UTF-8 bytes, an unpaired surrogate) becomes U+FFFD.
#pragma once

#include <string>
#include <string_view>

#include "vmk40xx/com.h"

namespace vmk::com {

std::u16string Utf8ToUtf16(std::string_view text);
std::string Utf16ToUtf8(std::u16string_view text);

// A null BSTR reads as the empty string.
std::string BstrToUtf8(const OLECHAR* bstr);
// A new BSTR owned by the caller; nullptr only when memory runs out.
BSTR Utf8ToBstr(std::string_view text);

}  // namespace vmk::com
