// VARIANT lifetime as OLE Automation defines it: a VARIANT owns its BSTR, its interface
// reference and its SAFEARRAY; a by-reference VARIANT owns nothing and only carries a pointer.
#include "platform/com/vartype.h"
#include "vmk40xx/com.h"

namespace {

using vmk::com::ElementSize;

// The type codes accepted here: EMPTY and NULL alone; any other supported base type alone
// (VT_VARIANT only behind a pointer or in an array), by reference, as an array, or both.
bool ValidVt(VARTYPE vt) {
  if (vt & ~(VT_ARRAY | VT_BYREF | VT_TYPEMASK)) return false;
  const VARTYPE base = vt & VT_TYPEMASK;
  if (vt & (VT_ARRAY | VT_BYREF)) return ElementSize(base) != 0;
  return base == VT_EMPTY || base == VT_NULL || (base != VT_VARIANT && ElementSize(base) != 0);
}

}  // namespace

extern "C" {

void VariantInit(VARIANTARG* pvarg) {
  if (!pvarg) return;
  pvarg->vt = VT_EMPTY;
  pvarg->wReserved1 = pvarg->wReserved2 = pvarg->wReserved3 = 0;
  pvarg->llVal = 0;
}

HRESULT VariantClear(VARIANTARG* pvarg) {
  if (!pvarg) return E_INVALIDARG;
  if (!ValidVt(pvarg->vt)) return DISP_E_BADVARTYPE;
  VARIANT old = *pvarg;
  if (!(old.vt & VT_BYREF) && (old.vt & VT_ARRAY)) {
    // A locked array stays where it is: emptying the VARIANT would leak it.
    const HRESULT hr = SafeArrayDestroy(old.parray);
    if (FAILED(hr)) return hr;
  }
  // Empty the VARIANT before releasing, so code run by a final Release never sees it half-cleared.
  VariantInit(pvarg);
  if (!(old.vt & (VT_BYREF | VT_ARRAY))) {
    if (old.vt == VT_BSTR) SysFreeString(old.bstrVal);
    if (old.vt == VT_UNKNOWN && old.punkVal) old.punkVal->Release();
  }
  return S_OK;
}

HRESULT VariantCopy(VARIANTARG* pvargDest, const VARIANTARG* pvargSrc) {
  if (!pvargDest || !pvargSrc) return E_INVALIDARG;
  if (!ValidVt(pvargSrc->vt)) return DISP_E_BADVARTYPE;
  if (pvargDest == pvargSrc) return S_OK;
  VARIANT copy = *pvargSrc;
  if (!(copy.vt & VT_BYREF)) {
    if (copy.vt & VT_ARRAY) {
      const HRESULT hr = SafeArrayCopy(pvargSrc->parray, &copy.parray);
      if (FAILED(hr)) return hr;
    } else if (copy.vt == VT_BSTR && copy.bstrVal) {
      copy.bstrVal = SysAllocStringLen(pvargSrc->bstrVal, SysStringLen(pvargSrc->bstrVal));
      if (!copy.bstrVal) return E_OUTOFMEMORY;
    } else if (copy.vt == VT_UNKNOWN && copy.punkVal) {
      copy.punkVal->AddRef();
    }
  }
  // Clearing the destination last means a failed copy leaves it as it was, and a source that
  // lives inside the destination (an element of its array) is copied before it goes away.
  const HRESULT hr = VariantClear(pvargDest);
  if (FAILED(hr)) {
    VariantClear(&copy);
    return hr;
  }
  *pvargDest = copy;
  return S_OK;
}

}  // extern "C"
