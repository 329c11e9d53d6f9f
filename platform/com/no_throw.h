// The one place where an exception turns into a status code: nothing may leave a COM method by
// unwinding, so running out of memory becomes E_OUTOFMEMORY and anything else E_UNEXPECTED.
#pragma once

#include <new>

#include "vmk40xx/com.h"

namespace vmk::com {

template <class Body>
HRESULT NoThrow(Body&& body) noexcept {
  try {
    return body();
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (...) {
    return E_UNEXPECTED;
  }
}

}  // namespace vmk::com
