// Object creation by class identifier and ProgID over the registry stand-in: what COM's
// CoCreateInstance and CLSIDFromProgID do for in-process servers.
#include <dlfcn.h>

#include <cstdio>
#include <mutex>
#include <string>
#include <unordered_map>

#include "platform/com/com_ptr.h"
#include "platform/com/creation.h"
#include "platform/com/guid.h"
#include "platform/com/registry.h"
#include "platform/com/unicode.h"

namespace vmk::com {

std::string GuidToString(const GUID& g) {
  char buf[40];
  std::snprintf(buf, sizeof buf, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", g.Data1,
                g.Data2, g.Data3, g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3], g.Data4[4],
                g.Data4[5], g.Data4[6], g.Data4[7]);
  return buf;
}

std::optional<GUID> GuidFromString(std::string_view s) {
  // {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}
  if (s.size() != 38 || s.front() != '{' || s.back() != '}') return std::nullopt;
  uint8_t bytes[16];
  size_t b = 0;
  for (size_t i = 1; i < 37; ++i) {
    if (i == 9 || i == 14 || i == 19 || i == 24) {
      if (s[i] != '-') return std::nullopt;
      continue;
    }
    auto hex = [](char c) -> int {
      if (c >= '0' && c <= '9') return c - '0';
      if (c >= 'a' && c <= 'f') return c - 'a' + 10;
      if (c >= 'A' && c <= 'F') return c - 'A' + 10;
      return -1;
    };
    int hi = hex(s[i]), lo = hex(s[i + 1]);
    if (hi < 0 || lo < 0) return std::nullopt;
    bytes[b++] = static_cast<uint8_t>(hi * 16 + lo);
    ++i;
  }
  GUID g{};
  g.Data1 =
      uint32_t(bytes[0]) << 24 | uint32_t(bytes[1]) << 16 | uint32_t(bytes[2]) << 8 | bytes[3];
  g.Data2 = static_cast<uint16_t>(bytes[4] << 8 | bytes[5]);
  g.Data3 = static_cast<uint16_t>(bytes[6] << 8 | bytes[7]);
  for (int i = 0; i < 8; ++i) g.Data4[i] = bytes[8 + i];
  return g;
}

namespace {

using GetClassObjectFn = HRESULT (*)(REFCLSID, REFIID, void**);

// The error information a failed creation leaves, so that a caller can print why.
void SetCreationError(const std::string& text) {
  ComPtr<ICreateErrorInfo> create;
  if (FAILED(CreateErrorInfo(create.put()))) return;
  create->SetSource(u"CoCreateInstance");
  create->SetDescription(Utf8ToUtf16(text).c_str());
  ComPtr<IErrorInfo> info;
  if (SUCCEEDED(create->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(info.put()))))
    SetErrorInfo(0, info.get());
}

// The DllGetClassObject of a server library, loading the library on first use. A library stays
// loaded for the life of the process: objects it made may outlive any record of them here.
HRESULT ClassObjectEntry(const std::string& library, GetClassObjectFn* entry) {
  static std::mutex mutex;
  static auto* loaded = new std::unordered_map<std::string, GetClassObjectFn>();
  std::lock_guard lock(mutex);
  if (auto it = loaded->find(library); it != loaded->end()) {
    *entry = it->second;
    return S_OK;
  }
  // Opening the library this code is in, under any name, gives back the handle it already has:
  // the driver registered from its own library creates its objects without a second copy.
  void* handle = ::dlopen(library.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle) {
    const char* why = ::dlerror();
    SetCreationError("cannot load the server library " + library + ": " + (why ? why : "?"));
    return CO_E_DLLNOTFOUND;
  }
  auto fn = reinterpret_cast<GetClassObjectFn>(::dlsym(handle, "DllGetClassObject"));
  if (!fn) {
    SetCreationError("the server library " + library + " has no DllGetClassObject");
    return CO_E_ERRORINDLL;
  }
  loaded->emplace(library, fn);
  *entry = fn;
  return S_OK;
}

}  // namespace

std::optional<std::string> RegisteredProgId(const CLSID& clsid) {
  return ReadRegistryValue("HKEY_CLASSES_ROOT\\CLSID\\" + GuidToString(clsid) + "\\ProgID", "");
}

}  // namespace vmk::com

using vmk::com::ClassObjectEntry;
using vmk::com::GetClassObjectFn;
using vmk::com::GuidFromString;
using vmk::com::GuidToString;
using vmk::com::ReadRegistryValue;

extern "C" {

HRESULT CLSIDFromString(LPCOLESTR lpsz, CLSID* pclsid) {
  if (!lpsz || !pclsid) return E_INVALIDARG;
  std::optional<GUID> g = GuidFromString(vmk::com::Utf16ToUtf8(lpsz));
  if (!g) return CO_E_CLASSSTRING;
  *pclsid = *g;
  return S_OK;
}

int StringFromGUID2(REFGUID rguid, LPOLESTR lpsz, int cchMax) {
  if (!lpsz || cchMax < 39) return 0;
  std::string s = GuidToString(rguid);
  for (size_t i = 0; i < s.size(); ++i) lpsz[i] = static_cast<OLECHAR>(s[i]);
  lpsz[s.size()] = 0;
  return static_cast<int>(s.size() + 1);
}

HRESULT CLSIDFromProgID(LPCOLESTR lpszProgID, CLSID* lpclsid) {
  if (!lpszProgID || !lpclsid) return E_INVALIDARG;
  std::string progId = vmk::com::Utf16ToUtf8(lpszProgID);
  // A version-independent ProgID without a CLSID of its own names its current version; two
  // steps are enough for that, and a loop of CurVer keys ends.
  for (int step = 0; step < 2 && !progId.empty() && progId.find('\\') == std::string::npos;
       ++step) {
    const std::string key = "HKEY_CLASSES_ROOT\\" + progId;
    if (auto clsid = ReadRegistryValue(key + "\\CLSID", "")) {
      std::optional<GUID> g = GuidFromString(*clsid);
      if (!g) return CO_E_CLASSSTRING;
      *lpclsid = *g;
      return S_OK;
    }
    progId = ReadRegistryValue(key + "\\CurVer", "").value_or("");
  }
  return CO_E_CLASSSTRING;
}

HRESULT CoCreateInstance(REFCLSID rclsid, IUnknown* pUnkOuter, DWORD dwClsContext, REFIID riid,
                         void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  if (!(dwClsContext & CLSCTX_INPROC_SERVER)) return REGDB_E_CLASSNOTREG;
  std::optional<std::string> library = ReadRegistryValue(
      "HKEY_CLASSES_ROOT\\CLSID\\" + GuidToString(rclsid) + "\\InprocServer32", "");
  if (!library || library->empty()) return REGDB_E_CLASSNOTREG;
  GetClassObjectFn entry = nullptr;
  if (HRESULT hr = ClassObjectEntry(*library, &entry); FAILED(hr)) return hr;
  vmk::com::ComPtr<IClassFactory> factory;
  if (HRESULT hr = entry(rclsid, IID_IClassFactory, reinterpret_cast<void**>(factory.put()));
      FAILED(hr))
    return hr;
  return factory->CreateInstance(pUnkOuter, riid, ppv);
}

}  // extern "C"
