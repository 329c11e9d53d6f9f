// One-dimensional SAFEARRAYs with OLE Automation's ownership rules: the array owns its BSTRs,
// VARIANTs and interface references, and a locked array cannot be destroyed.
#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "platform/com/vartype.h"
#include "vmk40xx/com.h"

namespace {

using vmk::com::ElementSize;

// The FADF_ feature bits, as COM sets them, so code written against real SAFEARRAYs still reads
// the right thing from fFeatures.
constexpr USHORT FADF_HAVEVARTYPE = 0x0080;
constexpr USHORT FADF_BSTR = 0x0100;
constexpr USHORT FADF_UNKNOWN = 0x0200;
constexpr USHORT FADF_VARIANT = 0x0800;

// COM refuses a lock count past 16 bits with E_UNEXPECTED.
constexpr ULONG kMaxLocks = 0xFFFF;
// Capping the data at what a LONG can count keeps every byte offset and size a caller derives
// from cElements * cbElements inside 32 bits.
constexpr uint64_t kMaxDataBytes = 0x7FFFFFFF;

bool Valid(const SAFEARRAY* psa) {
  return psa && psa->cDims == 1 && psa->pvData;
}

std::atomic_ref<ULONG> Locks(SAFEARRAY* psa) {
  return std::atomic_ref<ULONG>(psa->cLocks);
}

HRESULT Lock(SAFEARRAY* psa) {
  auto locks = Locks(psa);
  ULONG n = locks.load();
  do {
    if (n >= kMaxLocks) return E_UNEXPECTED;
  } while (!locks.compare_exchange_weak(n, n + 1));
  return S_OK;
}

HRESULT Unlock(SAFEARRAY* psa) {
  auto locks = Locks(psa);
  ULONG n = locks.load();
  do {
    if (n == 0) return E_UNEXPECTED;
  } while (!locks.compare_exchange_weak(n, n - 1));
  return S_OK;
}

void* ElementAt(SAFEARRAY* psa, LONG index) {
  const int64_t offset = int64_t{index} - psa->rgsabound[0].lLbound;
  if (offset < 0 || offset >= int64_t{psa->rgsabound[0].cElements}) return nullptr;
  return static_cast<BYTE*>(psa->pvData) + offset * psa->cbElements;
}

// Releases what the elements own and leaves them zeroed.
void ClearElements(SAFEARRAY* psa) {
  const ULONG n = psa->rgsabound[0].cElements;
  switch (psa->vt) {
    case VT_BSTR: {
      auto* p = static_cast<BSTR*>(psa->pvData);
      for (ULONG i = 0; i < n; ++i) SysFreeString(std::exchange(p[i], nullptr));
      break;
    }
    case VT_UNKNOWN: {
      auto* p = static_cast<IUnknown**>(psa->pvData);
      for (ULONG i = 0; i < n; ++i)
        if (IUnknown* u = std::exchange(p[i], nullptr)) u->Release();
      break;
    }
    case VT_VARIANT: {
      auto* p = static_cast<VARIANT*>(psa->pvData);
      for (ULONG i = 0; i < n; ++i) VariantClear(&p[i]);
      break;
    }
    default:
      break;
  }
}

// Copies one element into uninitialised storage, taking its own reference or string.
HRESULT CopyElement(VARTYPE vt, const void* from, void* to, ULONG size) {
  switch (vt) {
    case VT_BSTR: {
      BSTR s = *static_cast<const BSTR*>(from);
      BSTR copy = nullptr;
      if (s && !(copy = SysAllocStringLen(s, SysStringLen(s)))) return E_OUTOFMEMORY;
      *static_cast<BSTR*>(to) = copy;
      return S_OK;
    }
    case VT_UNKNOWN: {
      IUnknown* u = *static_cast<IUnknown* const*>(from);
      if (u) u->AddRef();
      *static_cast<IUnknown**>(to) = u;
      return S_OK;
    }
    case VT_VARIANT: {
      auto* dest = static_cast<VARIANT*>(to);
      VariantInit(dest);
      return VariantCopy(dest, static_cast<const VARIANT*>(from));
    }
    default:
      std::memcpy(to, from, size);
      return S_OK;
  }
}

}  // namespace

extern "C" {

SAFEARRAY* SafeArrayCreateVector(VARTYPE vt, LONG lLbound, ULONG cElements) {
  const size_t size = ElementSize(vt);
  if (size == 0) return nullptr;
  // The upper bound must be a LONG too.
  if (cElements > 0 && int64_t{lLbound} + cElements - 1 > INT32_MAX) return nullptr;
  const uint64_t bytes = uint64_t{cElements} * size;
  if (bytes > kMaxDataBytes) return nullptr;

  auto* psa = static_cast<SAFEARRAY*>(std::calloc(1, sizeof(SAFEARRAY)));
  if (!psa) return nullptr;
  // At least one byte, so that AccessData on an empty array still yields a usable pointer.
  psa->pvData = std::calloc(bytes ? bytes : 1, 1);
  if (!psa->pvData) {
    std::free(psa);
    return nullptr;
  }
  psa->cDims = 1;
  psa->fFeatures = FADF_HAVEVARTYPE;
  if (vt == VT_BSTR) psa->fFeatures |= FADF_BSTR;
  if (vt == VT_UNKNOWN) psa->fFeatures |= FADF_UNKNOWN;
  if (vt == VT_VARIANT) psa->fFeatures |= FADF_VARIANT;
  psa->cbElements = static_cast<ULONG>(size);
  psa->rgsabound[0] = {cElements, lLbound};
  psa->vt = vt;
  return psa;
}

HRESULT SafeArrayDestroy(SAFEARRAY* psa) {
  if (!psa) return S_OK;
  if (!Valid(psa)) return E_INVALIDARG;
  if (Locks(psa).load() > 0) return DISP_E_ARRAYISLOCKED;
  ClearElements(psa);
  std::free(psa->pvData);
  std::free(psa);
  return S_OK;
}

HRESULT SafeArrayCopy(SAFEARRAY* psa, SAFEARRAY** ppsaOut) {
  if (!ppsaOut) return E_INVALIDARG;
  *ppsaOut = nullptr;
  if (!psa) return S_OK;
  if (!Valid(psa)) return E_INVALIDARG;
  SAFEARRAY* out =
      SafeArrayCreateVector(psa->vt, psa->rgsabound[0].lLbound, psa->rgsabound[0].cElements);
  if (!out) return E_OUTOFMEMORY;
  const ULONG n = psa->rgsabound[0].cElements;
  if (psa->vt != VT_BSTR && psa->vt != VT_UNKNOWN && psa->vt != VT_VARIANT) {
    std::memcpy(out->pvData, psa->pvData, size_t{n} * psa->cbElements);
  } else {
    for (ULONG i = 0; i < n; ++i) {
      const size_t at = size_t{i} * psa->cbElements;
      const HRESULT hr = CopyElement(psa->vt, static_cast<BYTE*>(psa->pvData) + at,
                                     static_cast<BYTE*>(out->pvData) + at, psa->cbElements);
      if (FAILED(hr)) {
        // The elements not yet reached are still zero, which ClearElements skips.
        SafeArrayDestroy(out);
        return hr;
      }
    }
  }
  *ppsaOut = out;
  return S_OK;
}

UINT SafeArrayGetDim(SAFEARRAY* psa) {
  return psa ? psa->cDims : 0;
}

UINT SafeArrayGetElemsize(SAFEARRAY* psa) {
  return psa ? psa->cbElements : 0;
}

HRESULT SafeArrayGetVartype(SAFEARRAY* psa, VARTYPE* pvt) {
  if (!psa || !pvt) return E_INVALIDARG;
  *pvt = psa->vt;
  return S_OK;
}

HRESULT SafeArrayGetLBound(SAFEARRAY* psa, UINT nDim, LONG* plLbound) {
  if (!psa || !plLbound) return E_INVALIDARG;
  if (nDim == 0 || nDim > psa->cDims) return DISP_E_BADINDEX;
  *plLbound = psa->rgsabound[0].lLbound;
  return S_OK;
}

HRESULT SafeArrayGetUBound(SAFEARRAY* psa, UINT nDim, LONG* plUbound) {
  if (!psa || !plUbound) return E_INVALIDARG;
  if (nDim == 0 || nDim > psa->cDims) return DISP_E_BADINDEX;
  // An empty array's upper bound is one below its lower bound, as in COM; creation guarantees
  // the sum fits, but an empty array at INT32_MIN would not, so compute wide.
  const int64_t ubound =
      int64_t{psa->rgsabound[0].lLbound} + int64_t{psa->rgsabound[0].cElements} - 1;
  *plUbound = static_cast<LONG>(ubound);
  return S_OK;
}

HRESULT SafeArrayGetElement(SAFEARRAY* psa, LONG* rgIndices, void* pv) {
  if (!Valid(psa) || !rgIndices || !pv) return E_INVALIDARG;
  HRESULT hr = Lock(psa);
  if (FAILED(hr)) return hr;
  if (void* at = ElementAt(psa, rgIndices[0]))
    hr = CopyElement(psa->vt, at, pv, psa->cbElements);
  else
    hr = DISP_E_BADINDEX;
  Unlock(psa);
  return hr;
}

HRESULT SafeArrayPutElement(SAFEARRAY* psa, LONG* rgIndices, void* pv) {
  if (!Valid(psa) || !rgIndices) return E_INVALIDARG;
  // For BSTR and interface arrays pv is the value itself, and a null one is a valid value.
  if (!pv && psa->vt != VT_BSTR && psa->vt != VT_UNKNOWN) return E_INVALIDARG;
  HRESULT hr = Lock(psa);
  if (FAILED(hr)) return hr;
  void* at = ElementAt(psa, rgIndices[0]);
  if (!at) {
    hr = DISP_E_BADINDEX;
  } else if (psa->vt == VT_BSTR) {
    auto s = static_cast<BSTR>(pv);
    BSTR copy = nullptr;
    if (s && !(copy = SysAllocStringLen(s, SysStringLen(s)))) {
      hr = E_OUTOFMEMORY;
    } else {
      SysFreeString(std::exchange(*static_cast<BSTR*>(at), copy));
    }
  } else if (psa->vt == VT_UNKNOWN) {
    auto* u = static_cast<IUnknown*>(pv);
    if (u) u->AddRef();
    if (IUnknown* old = std::exchange(*static_cast<IUnknown**>(at), u)) old->Release();
  } else if (psa->vt == VT_VARIANT) {
    hr = VariantCopy(static_cast<VARIANT*>(at), static_cast<const VARIANT*>(pv));
  } else {
    std::memcpy(at, pv, psa->cbElements);
  }
  Unlock(psa);
  return hr;
}

HRESULT SafeArrayAccessData(SAFEARRAY* psa, void** ppvData) {
  if (!Valid(psa) || !ppvData) return E_INVALIDARG;
  const HRESULT hr = Lock(psa);
  if (FAILED(hr)) return hr;
  *ppvData = psa->pvData;
  return S_OK;
}

HRESULT SafeArrayUnaccessData(SAFEARRAY* psa) {
  if (!Valid(psa)) return E_INVALIDARG;
  return Unlock(psa);
}

}  // extern "C"
