// The COM essentials that the driver's interfaces are made of, with COM's binary shape:
// 32-bit HRESULTs and longs, UTF-16 BSTRs with a length prefix, VARIANT_BOOL true = -1, and
// interfaces whose virtual tables start with IUnknown's three slots.
//
// Interfaces declare no virtual destructor: it would take vtable slots that COM does not have.
// Objects free themselves in Release().
#pragma once

#include <cstddef>
#include <cstdint>

#include "vmk40xx/export.h"

using HRESULT = int32_t;
using SCODE = int32_t;
using LONG = int32_t;
using ULONG = uint32_t;
using DWORD = uint32_t;
using UINT = uint32_t;
using INT = int32_t;
using SHORT = int16_t;
using USHORT = uint16_t;
using BYTE = uint8_t;
using FLOAT = float;
using DOUBLE = double;
using LCID = uint32_t;
using BOOL = int32_t;
using VARIANT_BOOL = int16_t;
using VARTYPE = uint16_t;
using OLECHAR = char16_t;
using LPOLESTR = OLECHAR*;
using LPCOLESTR = const OLECHAR*;
using BSTR = OLECHAR*;

constexpr VARIANT_BOOL VARIANT_TRUE = -1;
constexpr VARIANT_BOOL VARIANT_FALSE = 0;

constexpr bool SUCCEEDED(HRESULT hr) {
  return hr >= 0;
}
constexpr bool FAILED(HRESULT hr) {
  return hr < 0;
}

constexpr HRESULT S_OK = 0;
constexpr HRESULT S_FALSE = 1;
constexpr HRESULT E_NOTIMPL = HRESULT(0x80004001u);
constexpr HRESULT E_NOINTERFACE = HRESULT(0x80004002u);
constexpr HRESULT E_POINTER = HRESULT(0x80004003u);
constexpr HRESULT E_ABORT = HRESULT(0x80004004u);
constexpr HRESULT E_FAIL = HRESULT(0x80004005u);
constexpr HRESULT E_UNEXPECTED = HRESULT(0x8000FFFFu);
constexpr HRESULT E_ACCESSDENIED = HRESULT(0x80070005u);
constexpr HRESULT E_OUTOFMEMORY = HRESULT(0x8007000Eu);
constexpr HRESULT E_INVALIDARG = HRESULT(0x80070057u);
constexpr HRESULT CLASS_E_NOAGGREGATION = HRESULT(0x80040110u);
constexpr HRESULT CLASS_E_CLASSNOTAVAILABLE = HRESULT(0x80040111u);
constexpr HRESULT REGDB_E_READREGDB = HRESULT(0x80040150u);
constexpr HRESULT REGDB_E_WRITEREGDB = HRESULT(0x80040151u);
constexpr HRESULT REGDB_E_CLASSNOTREG = HRESULT(0x80040154u);
constexpr HRESULT SELFREG_E_TYPELIB = HRESULT(0x80040200u);
constexpr HRESULT SELFREG_E_CLASS = HRESULT(0x80040201u);
constexpr HRESULT CO_E_NOTINITIALIZED = HRESULT(0x800401F0u);
constexpr HRESULT CO_E_CLASSSTRING = HRESULT(0x800401F3u);
constexpr HRESULT CO_E_DLLNOTFOUND = HRESULT(0x800401F8u);
constexpr HRESULT CO_E_ERRORINDLL = HRESULT(0x800401F9u);
constexpr HRESULT RPC_E_CHANGED_MODE = HRESULT(0x80010106u);
constexpr HRESULT DISP_E_TYPEMISMATCH = HRESULT(0x80020005u);
constexpr HRESULT DISP_E_BADVARTYPE = HRESULT(0x80020008u);
constexpr HRESULT DISP_E_EXCEPTION = HRESULT(0x80020009u);
constexpr HRESULT DISP_E_OVERFLOW = HRESULT(0x8002000Au);
constexpr HRESULT DISP_E_BADINDEX = HRESULT(0x8002000Bu);
constexpr HRESULT DISP_E_ARRAYISLOCKED = HRESULT(0x8002000Du);

struct GUID {
  uint32_t Data1;
  uint16_t Data2;
  uint16_t Data3;
  uint8_t Data4[8];
};
using IID = GUID;
using CLSID = GUID;
using REFGUID = const GUID&;
using REFIID = const IID&;
using REFCLSID = const CLSID&;

constexpr bool operator==(const GUID& a, const GUID& b) {
  if (a.Data1 != b.Data1 || a.Data2 != b.Data2 || a.Data3 != b.Data3) return false;
  for (int i = 0; i < 8; ++i)
    if (a.Data4[i] != b.Data4[i]) return false;
  return true;
}
constexpr bool IsEqualGUID(REFGUID a, REFGUID b) {
  return a == b;
}
constexpr bool IsEqualIID(REFIID a, REFIID b) {
  return a == b;
}
inline constexpr GUID GUID_NULL{};

struct IUnknown {
  virtual HRESULT QueryInterface(REFIID riid, void** ppvObject) = 0;
  virtual ULONG AddRef() = 0;
  virtual ULONG Release() = 0;
};
inline constexpr IID IID_IUnknown{0x00000000, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

struct IClassFactory : IUnknown {
  virtual HRESULT CreateInstance(IUnknown* pUnkOuter, REFIID riid, void** ppvObject) = 0;
  virtual HRESULT LockServer(BOOL fLock) = 0;
};
inline constexpr IID IID_IClassFactory{0x00000001, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

struct ISupportErrorInfo : IUnknown {
  virtual HRESULT InterfaceSupportsErrorInfo(REFIID riid) = 0;
};
inline constexpr IID IID_ISupportErrorInfo{
    0xDF0B3D60, 0x548F, 0x101B, {0x8E, 0x65, 0x08, 0x00, 0x2B, 0x2B, 0xD1, 0x19}};

struct IErrorInfo : IUnknown {
  virtual HRESULT GetGUID(GUID* pGUID) = 0;
  virtual HRESULT GetSource(BSTR* pBstrSource) = 0;
  virtual HRESULT GetDescription(BSTR* pBstrDescription) = 0;
  virtual HRESULT GetHelpFile(BSTR* pBstrHelpFile) = 0;
  virtual HRESULT GetHelpContext(DWORD* pdwHelpContext) = 0;
};
inline constexpr IID IID_IErrorInfo{
    0x1CF2B120, 0x547D, 0x101B, {0x8E, 0x65, 0x08, 0x00, 0x2B, 0x2B, 0xD1, 0x19}};

struct ICreateErrorInfo : IUnknown {
  virtual HRESULT SetGUID(REFGUID rguid) = 0;
  virtual HRESULT SetSource(LPCOLESTR szSource) = 0;
  virtual HRESULT SetDescription(LPCOLESTR szDescription) = 0;
  virtual HRESULT SetHelpFile(LPCOLESTR szHelpFile) = 0;
  virtual HRESULT SetHelpContext(DWORD dwHelpContext) = 0;
};
inline constexpr IID IID_ICreateErrorInfo{
    0x22F03340, 0x547D, 0x101B, {0x8E, 0x65, 0x08, 0x00, 0x2B, 0x2B, 0xD1, 0x19}};

// VARIANT type codes the driver and its I/O layer use.
enum VARENUM : VARTYPE {
  VT_EMPTY = 0,
  VT_NULL = 1,
  VT_I2 = 2,
  VT_I4 = 3,
  VT_R4 = 4,
  VT_R8 = 5,
  VT_BSTR = 8,
  VT_ERROR = 10,
  VT_BOOL = 11,
  VT_VARIANT = 12,
  VT_UNKNOWN = 13,
  VT_I1 = 16,
  VT_UI1 = 17,
  VT_UI2 = 18,
  VT_UI4 = 19,
  VT_I8 = 20,
  VT_UI8 = 21,
  VT_INT = 22,
  VT_UINT = 23,
  VT_ARRAY = 0x2000,
  VT_BYREF = 0x4000,
  VT_TYPEMASK = 0x0FFF,
};

struct SAFEARRAYBOUND {
  ULONG cElements;
  LONG lLbound;
};

// Only one-dimensional arrays are made here; the layout keeps COM's field order.
struct SAFEARRAY {
  USHORT cDims;
  USHORT fFeatures;
  ULONG cbElements;
  ULONG cLocks;
  void* pvData;
  SAFEARRAYBOUND rgsabound[1];
  VARTYPE vt;  // element type, kept beside the array as FADF_HAVEVARTYPE does
};

struct VARIANT {
  VARTYPE vt;
  USHORT wReserved1;
  USHORT wReserved2;
  USHORT wReserved3;
  union {
    int64_t llVal;
    LONG lVal;
    BYTE bVal;
    SHORT iVal;
    FLOAT fltVal;
    DOUBLE dblVal;
    VARIANT_BOOL boolVal;
    SCODE scode;
    BSTR bstrVal;
    IUnknown* punkVal;
    SAFEARRAY* parray;
    BYTE* pbVal;
    SHORT* piVal;
    LONG* plVal;
    int64_t* pllVal;
    FLOAT* pfltVal;
    DOUBLE* pdblVal;
    VARIANT_BOOL* pboolVal;
    SCODE* pscode;
    BSTR* pbstrVal;
    IUnknown** ppunkVal;
    SAFEARRAY** pparray;
    VARIANT* pvarVal;
    void* byref;
  };
};
using VARIANTARG = VARIANT;

enum { VARCMP_LT = 0, VARCMP_EQ = 1, VARCMP_GT = 2, VARCMP_NULL = 3 };
enum { NORM_IGNORECASE = 0x00000001 };
enum { COINIT_MULTITHREADED = 0x0, COINIT_APARTMENTTHREADED = 0x2 };
// Only in-process servers exist here; the other contexts are accepted and find nothing.
enum CLSCTX : DWORD {
  CLSCTX_INPROC_SERVER = 0x1,
  CLSCTX_INPROC_HANDLER = 0x2,
  CLSCTX_LOCAL_SERVER = 0x4,
  CLSCTX_REMOTE_SERVER = 0x10,
  CLSCTX_SERVER = 0x15,
  CLSCTX_ALL = 0x17,
};

extern "C" {
VMK40XX_EXPORT BSTR SysAllocString(const OLECHAR* psz);
VMK40XX_EXPORT BSTR SysAllocStringLen(const OLECHAR* strIn, UINT ui);
VMK40XX_EXPORT INT SysReAllocString(BSTR* pbstr, const OLECHAR* psz);
VMK40XX_EXPORT void SysFreeString(BSTR bstrString);
VMK40XX_EXPORT UINT SysStringLen(BSTR pbstr);
VMK40XX_EXPORT UINT SysStringByteLen(BSTR bstr);

VMK40XX_EXPORT void VariantInit(VARIANTARG* pvarg);
VMK40XX_EXPORT HRESULT VariantClear(VARIANTARG* pvarg);
VMK40XX_EXPORT HRESULT VariantCopy(VARIANTARG* pvargDest, const VARIANTARG* pvargSrc);

VMK40XX_EXPORT SAFEARRAY* SafeArrayCreateVector(VARTYPE vt, LONG lLbound, ULONG cElements);
VMK40XX_EXPORT HRESULT SafeArrayDestroy(SAFEARRAY* psa);
VMK40XX_EXPORT HRESULT SafeArrayCopy(SAFEARRAY* psa, SAFEARRAY** ppsaOut);
VMK40XX_EXPORT UINT SafeArrayGetDim(SAFEARRAY* psa);
VMK40XX_EXPORT UINT SafeArrayGetElemsize(SAFEARRAY* psa);
VMK40XX_EXPORT HRESULT SafeArrayGetVartype(SAFEARRAY* psa, VARTYPE* pvt);
VMK40XX_EXPORT HRESULT SafeArrayGetLBound(SAFEARRAY* psa, UINT nDim, LONG* plLbound);
VMK40XX_EXPORT HRESULT SafeArrayGetUBound(SAFEARRAY* psa, UINT nDim, LONG* plUbound);
VMK40XX_EXPORT HRESULT SafeArrayGetElement(SAFEARRAY* psa, LONG* rgIndices, void* pv);
VMK40XX_EXPORT HRESULT SafeArrayPutElement(SAFEARRAY* psa, LONG* rgIndices, void* pv);
VMK40XX_EXPORT HRESULT SafeArrayAccessData(SAFEARRAY* psa, void** ppvData);
VMK40XX_EXPORT HRESULT SafeArrayUnaccessData(SAFEARRAY* psa);

VMK40XX_EXPORT HRESULT VarR8Round(double dblIn, int cDecimals, double* pdblResult);
VMK40XX_EXPORT HRESULT VarBstrCmp(BSTR bstrLeft, BSTR bstrRight, LCID lcid, ULONG dwFlags);

VMK40XX_EXPORT HRESULT CreateErrorInfo(ICreateErrorInfo** pperrinfo);
VMK40XX_EXPORT HRESULT SetErrorInfo(ULONG dwReserved, IErrorInfo* perrinfo);
VMK40XX_EXPORT HRESULT GetErrorInfo(ULONG dwReserved, IErrorInfo** pperrinfo);

VMK40XX_EXPORT HRESULT CoInitializeEx(void* pvReserved, DWORD dwCoInit);
VMK40XX_EXPORT void CoUninitialize();

// Creating a registered class. The registry is the file-backed stand-in described in the README
// (VMK40XX_REGISTRY, else a per-user file over a system-wide one).
//
// CLSIDFromProgID: the class identifier registered for a ProgID (HKEY_CLASSES_ROOT\<ProgID>\CLSID,
// or that of its CurVer). E_INVALIDARG for null arguments; CO_E_CLASSSTRING when the ProgID is
// not registered.
VMK40XX_EXPORT HRESULT CLSIDFromProgID(LPCOLESTR lpszProgID, CLSID* lpclsid);
// CoCreateInstance: a new object of a registered class. The library named by the class's
// InprocServer32 key is loaded (dlopen) unless it is already in the process, and stays loaded;
// its DllGetClassObject makes the object. REGDB_E_CLASSNOTREG when the class has no in-process
// server registered; CO_E_DLLNOTFOUND when its library cannot be loaded and CO_E_ERRORINDLL when
// it has no DllGetClassObject (both leave error information saying why); otherwise what the
// class factory answers (CLASS_E_NOAGGREGATION, E_NOINTERFACE...). Unlike Windows, it does not
// require CoInitializeEx first.
VMK40XX_EXPORT HRESULT CoCreateInstance(REFCLSID rclsid, IUnknown* pUnkOuter, DWORD dwClsContext,
                                        REFIID riid, void** ppv);
// "{6E6F7DED-9115-4851-AA4F-5250E57C132A}" and back. CLSIDFromString accepts either letter case
// and gives CO_E_CLASSSTRING for anything else; StringFromGUID2 returns the characters written
// with the terminating NUL (39), or 0 when `cchMax` is too small.
VMK40XX_EXPORT HRESULT CLSIDFromString(LPCOLESTR lpsz, CLSID* pclsid);
VMK40XX_EXPORT int StringFromGUID2(REFGUID rguid, LPOLESTR lpsz, int cchMax);
}
