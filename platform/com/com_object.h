// What every COM class of the library shares: a thread-safe reference count, QueryInterface
// answered from a per-class table of interface identifiers, and facets — one small object per
// interface, embedded in its owner — so that members of the same name on different interfaces
// (Count, Item, Clear, Enabled...) keep their own implementations.
#pragma once

#include <atomic>
#include <span>

#include "vmk40xx/com.h"

namespace vmk {

class CComObject {
 public:
  struct InterfaceEntry {
    const IID* iid;
    IUnknown* (*get)(CComObject* self);
  };

  ULONG AddRef() { return ++refs_; }
  ULONG Release() {
    ULONG n = --refs_;
    if (n == 0) delete this;
    return n;
  }
  HRESULT QueryInterface(REFIID iid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    for (const InterfaceEntry& e : Interfaces()) {
      if (*e.iid == iid || (iid == IID_IUnknown && &e == Interfaces().data())) {
        IUnknown* p = e.get(this);
        p->AddRef();
        *ppv = p;
        return S_OK;
      }
    }
    return E_NOINTERFACE;
  }
  // True when `iid` is in the class's table (for ISupportErrorInfo).
  bool Implements(REFIID iid) {
    for (const InterfaceEntry& e : Interfaces())
      if (*e.iid == iid) return true;
    return false;
  }

 protected:
  CComObject() = default;
  virtual ~CComObject() = default;
  // The class's interfaces; the first entry is the object's identity (answered for IUnknown).
  virtual std::span<const InterfaceEntry> Interfaces() = 0;

 private:
  std::atomic<ULONG> refs_{1};
};

// One interface of an owner object; IUnknown goes to the owner. Members are defined out of line,
// after the owner's class, where the owner is complete.
template <class Itf, class Owner>
class Facet : public Itf {
 public:
  explicit Facet(Owner* owner) : owner_(owner), object_(owner) {}
  Facet(const Facet&) = delete;
  Facet& operator=(const Facet&) = delete;
  HRESULT QueryInterface(REFIID iid, void** ppv) override {
    return object_->QueryInterface(iid, ppv);
  }
  ULONG AddRef() override { return object_->AddRef(); }
  ULONG Release() override { return object_->Release(); }

 protected:
  Owner* owner_;

 private:
  CComObject* object_;
};

// ISupportErrorInfo of a class: S_OK for the interfaces in its fixed list, S_FALSE for others.
class ErrorInfoSupport final : public ISupportErrorInfo {
 public:
  ErrorInfoSupport(CComObject* owner, std::span<const IID* const> interfaces)
      : owner_(owner), interfaces_(interfaces) {}
  ErrorInfoSupport(const ErrorInfoSupport&) = delete;
  ErrorInfoSupport& operator=(const ErrorInfoSupport&) = delete;
  HRESULT QueryInterface(REFIID iid, void** ppv) override {
    return owner_->QueryInterface(iid, ppv);
  }
  ULONG AddRef() override { return owner_->AddRef(); }
  ULONG Release() override { return owner_->Release(); }
  HRESULT InterfaceSupportsErrorInfo(REFIID iid) override {
    for (const IID* i : interfaces_)
      if (*i == iid) return S_OK;
    return S_FALSE;
  }

 private:
  CComObject* owner_;
  std::span<const IID* const> interfaces_;
};

// A class that implements its interfaces itself (not through facets): IUnknown of every listed
// interface lands on the one reference count and the class's table.
template <class... Itfs>
class ComClass : public CComObject, public Itfs... {
 public:
  HRESULT QueryInterface(REFIID iid, void** ppv) override {
    return CComObject::QueryInterface(iid, ppv);
  }
  ULONG AddRef() override { return CComObject::AddRef(); }
  ULONG Release() override { return CComObject::Release(); }
};

// Table entry for interface Itf of a ComClass Derived.
template <class Derived, class Itf>
IUnknown* InterfaceOf(CComObject* self) {
  return static_cast<Itf*>(static_cast<Derived*>(self));
}

// Table entry for the facet `member` of class Owner.
template <class Owner, auto member>
IUnknown* FacetOf(CComObject* self) {
  return &(static_cast<Owner*>(self)->*member);
}

}  // namespace vmk
