// What the VARIANT and SAFEARRAY code agree on about type codes.
#pragma once

#include <cstddef>

#include "vmk40xx/com.h"

namespace vmk::com {

// Size of one element of this base type (no VT_ARRAY/VT_BYREF bits), or 0 when it cannot be an
// array element or a by-reference target (VT_EMPTY, VT_NULL and the types not supported here).
constexpr size_t ElementSize(VARTYPE vt) {
  switch (vt) {
    case VT_I1:
    case VT_UI1:
      return 1;
    case VT_I2:
    case VT_UI2:
    case VT_BOOL:
      return 2;
    case VT_I4:
    case VT_UI4:
    case VT_INT:
    case VT_UINT:
    case VT_R4:
    case VT_ERROR:
      return 4;
    case VT_I8:
    case VT_UI8:
    case VT_R8:
      return 8;
    case VT_BSTR:
      return sizeof(BSTR);
    case VT_UNKNOWN:
      return sizeof(IUnknown*);
    case VT_VARIANT:
      return sizeof(VARIANT);
    default:
      return 0;
  }
}

}  // namespace vmk::com
