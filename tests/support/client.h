// What the driver's tests do as a client does: create the driver through its class factory and
// read the error information a failing call left.
#pragma once

#include <string>

#include "platform/com/com_ptr.h"
#include "vmk40xx/server.h"
#include "vmk40xx/vmk40xx.h"

namespace vmk::test {

// The description of the calling thread's error information, taken off the thread; empty when
// there is none.
inline std::string TakeError() {
  com::ComPtr<IErrorInfo> info;
  if (GetErrorInfo(0, info.put()) != S_OK || !info) return {};
  com::Bstr description;
  info->GetDescription(description.put());
  return description.utf8();
}

// A new driver object, as a program creates it.
inline com::ComPtr<IVelmoraK40xx> NewDriver() {
  com::ComPtr<IClassFactory> factory;
  com::ComPtr<IVelmoraK40xx> driver;
  if (SUCCEEDED(DllGetClassObject(CLSID_VelmoraK40xx, IID_IClassFactory,
                                  reinterpret_cast<void**>(factory.put()))))
    factory->CreateInstance(nullptr, IID_IVelmoraK40xx, reinterpret_cast<void**>(driver.put()));
  return driver;
}

// Another interface of the same object.
template <class T>
com::ComPtr<T> As(IUnknown* object, REFIID iid) {
  com::ComPtr<T> p;
  object->QueryInterface(iid, reinterpret_cast<void**>(p.put()));
  return p;
}

// A BSTR argument for the duration of a call.
struct Bstr {
  explicit Bstr(const std::string& s) : b(s) {}
  operator BSTR() const { return b.get(); }
  com::Bstr b;
};

// An interface pointer released at the end of its scope, filled through `&ref`.
template <class T>
struct Ref {
  T* p = nullptr;
  Ref() = default;
  Ref(Ref&& o) noexcept : p(o.p) { o.p = nullptr; }
  Ref(const Ref&) = delete;
  Ref& operator=(const Ref&) = delete;
  ~Ref() {
    if (p) p->Release();
  }
  T* operator->() const { return p; }
  T** operator&() { return &p; }
  void Reset() {
    if (p) p->Release();
    p = nullptr;
  }
};

}  // namespace vmk::test
