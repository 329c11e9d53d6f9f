// The in-process server: the class factory of the driver class, the module's lock count and the
// registration entry points.
#include <new>
#include <string>

#include "com/registration.h"
#include "dcpwr/velmora_k40xx.h"
#include "platform/com/module.h"
#include "platform/com/registry.h"
#include "services/errors.h"
#include "vmk40xx/server.h"
#include "vmk40xx/vmk40xx.h"

namespace vmk {

namespace {

class ClassFactory final : public IClassFactory {
 public:
  HRESULT QueryInterface(REFIID iid, void** ppv) override {
    if (!ppv) return E_POINTER;
    if (iid == IID_IUnknown || iid == IID_IClassFactory) {
      *ppv = static_cast<IClassFactory*>(this);
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  // The factory lives as long as the library.
  ULONG AddRef() override { return 2; }
  ULONG Release() override { return 1; }

  HRESULT CreateInstance(IUnknown* outer, REFIID iid, void** ppv) override {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    // An outer object must hold the inner one by its non-delegating IUnknown.
    if (outer && iid != IID_IUnknown) return CLASS_E_NOAGGREGATION;
    VelmoraK40xx* driver = nullptr;
    try {
      driver = VelmoraK40xx::Create();
    } catch (const std::bad_alloc&) {
      return E_OUTOFMEMORY;
    }
    if (outer) {
      *ppv = driver->Aggregate(outer);
      return S_OK;
    }
    HRESULT hr = driver->QueryInterface(iid, ppv);
    driver->Release();
    return hr;
  }
  HRESULT LockServer(BOOL lock) override {
    if (lock)
      com::ModuleLock();
    else
      com::ModuleUnlock();
    return S_OK;
  }
};

// Registration changes the registry file in one locked step; a failure leaves it untouched and
// error information that says why.
HRESULT UpdateRegistration(const char* entry, bool enrol) {
  SetErrorInfo(0, nullptr);
  std::string library;
  if (enrol) {
    library = com::ThisLibraryPath();
    if (library.empty()) {
      SetComErrorInfo(GUID_NULL, entry, "the path of the driver library cannot be told");
      return E_UNEXPECTED;
    }
  }
  std::string error;
  HRESULT hr = com::UpdateRegistry(
      [&](com::RegistryTree& tree) {
        if (enrol)
          RegisterServerKeys(tree, library);
        else
          UnregisterServerKeys(tree);
      },
      &error);
  if (FAILED(hr)) SetComErrorInfo(GUID_NULL, entry, error);
  return hr;
}

}  // namespace

}  // namespace vmk

extern "C" {

HRESULT DllGetClassObject(REFCLSID rclsid, REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  if (rclsid != CLSID_VelmoraK40xx) return CLASS_E_CLASSNOTAVAILABLE;
  static vmk::ClassFactory factory;
  return factory.QueryInterface(riid, ppv);
}

HRESULT DllCanUnloadNow() {
  return vmk::com::ModuleLockCount() == 0 ? S_OK : S_FALSE;
}

HRESULT DllRegisterServer() {
  return vmk::UpdateRegistration("DllRegisterServer", true);
}

HRESULT DllUnregisterServer() {
  return vmk::UpdateRegistration("DllUnregisterServer", false);
}

}  // extern "C"
