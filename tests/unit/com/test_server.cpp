// A COM server library of its own, for creation by ProgID from another library: one class whose
// objects answer 42.
#include <atomic>

#include "vmk40xx/com.h"

// {5A0C8D2E-3B61-4F5E-9D0A-7C2B1E4F6A81}
constexpr CLSID kClass{
    0x5a0c8d2e, 0x3b61, 0x4f5e, {0x9d, 0x0a, 0x7c, 0x2b, 0x1e, 0x4f, 0x6a, 0x81}};
// {5A0C8D2E-3B61-4F5E-9D0A-7C2B1E4F6A82}
constexpr IID kAnswerIid{
    0x5a0c8d2e, 0x3b61, 0x4f5e, {0x9d, 0x0a, 0x7c, 0x2b, 0x1e, 0x4f, 0x6a, 0x82}};

struct IAnswer : IUnknown {
  virtual LONG Answer() = 0;
};

namespace {

class TheAnswer final : public IAnswer {
 public:
  HRESULT QueryInterface(REFIID iid, void** ppv) override {
    if (iid != IID_IUnknown && iid != kAnswerIid) return *ppv = nullptr, E_NOINTERFACE;
    *ppv = static_cast<IAnswer*>(this);
    AddRef();
    return S_OK;
  }
  ULONG AddRef() override { return ++refs_; }
  ULONG Release() override {
    ULONG n = --refs_;
    if (n == 0) delete this;
    return n;
  }
  LONG Answer() override { return 42; }

 private:
  std::atomic<ULONG> refs_{1};
};

class Factory final : public IClassFactory {
 public:
  HRESULT QueryInterface(REFIID iid, void** ppv) override {
    if (iid != IID_IUnknown && iid != IID_IClassFactory) return *ppv = nullptr, E_NOINTERFACE;
    *ppv = this;
    return S_OK;
  }
  ULONG AddRef() override { return 2; }
  ULONG Release() override { return 1; }
  HRESULT CreateInstance(IUnknown* outer, REFIID iid, void** ppv) override {
    if (outer) return CLASS_E_NOAGGREGATION;
    auto* a = new TheAnswer;
    HRESULT hr = a->QueryInterface(iid, ppv);
    a->Release();
    return hr;
  }
  HRESULT LockServer(BOOL) override { return S_OK; }
};

}  // namespace

extern "C" __attribute__((visibility("default"))) HRESULT DllGetClassObject(REFCLSID clsid,
                                                                            REFIID iid,
                                                                            void** ppv) {
  static Factory factory;
  if (clsid != kClass) return CLASS_E_CLASSNOTAVAILABLE;
  return factory.QueryInterface(iid, ppv);
}
