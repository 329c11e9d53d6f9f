// The in-process server: the class factory of the driver class and the module's lock count.
#include <new>

#include "dcpwr/velmora_k40xx.h"
#include "platform/com/module.h"
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
    if (outer) return CLASS_E_NOAGGREGATION;
    VelmoraK40xx* driver = nullptr;
    try {
      driver = VelmoraK40xx::Create();
    } catch (const std::bad_alloc&) {
      return E_OUTOFMEMORY;
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

}  // namespace

}  // namespace vmk

extern "C" HRESULT DllGetClassObject(REFCLSID rclsid, REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  if (rclsid != CLSID_VelmoraK40xx) return CLASS_E_CLASSNOTAVAILABLE;
  static vmk::ClassFactory factory;
  return factory.QueryInterface(riid, ppv);
}

extern "C" HRESULT DllCanUnloadNow() {
  return vmk::com::ModuleLockCount() == 0 ? S_OK : S_FALSE;
}
