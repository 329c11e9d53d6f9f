// A bare IUnknown that counts its references, so a test can see every AddRef and Release that
// VARIANT and SAFEARRAY code makes on its behalf.
#pragma once

#include "vmk40xx/com.h"

namespace vmk::com::testing {

class CountingUnknown : public IUnknown {
 public:
  HRESULT QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    if (riid == IID_IUnknown) {
      *ppv = static_cast<IUnknown*>(this);
      AddRef();
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  // Lives on the test's stack: the count only has to be observed, never reach zero and free.
  ULONG AddRef() override { return ++refs; }
  ULONG Release() override { return --refs; }

  ULONG refs = 1;
};

}  // namespace vmk::com::testing
