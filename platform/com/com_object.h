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

  // The IUnknown of every interface: the outer object's while aggregated, else the object's own.
  ULONG AddRef() { return outer_ ? outer_->AddRef() : InnerAddRef(); }
  ULONG Release() { return outer_ ? outer_->Release() : InnerRelease(); }
  HRESULT QueryInterface(REFIID iid, void** ppv) {
    return outer_ ? outer_->QueryInterface(iid, ppv) : InnerQueryInterface(iid, ppv);
  }
  // True when `iid` is in the class's table (for ISupportErrorInfo).
  bool Implements(REFIID iid) {
    for (const InterfaceEntry& e : Interfaces())
      if (*e.iid == iid) return true;
    return false;
  }

  // Makes this new object part of `outer` (COM aggregation): from now on its interfaces' IUnknown
  // members go to `outer`, and the returned non-delegating IUnknown, which the outer object
  // keeps, owns the object's life. Takes over the creation reference.
  IUnknown* Aggregate(IUnknown* outer) {
    outer_ = outer;
    return &inner_;
  }

 protected:
  CComObject() = default;
  virtual ~CComObject() = default;
  // The class's interfaces; the first entry is the object's identity (answered for IUnknown).
  virtual std::span<const InterfaceEntry> Interfaces() = 0;

 private:
  ULONG InnerAddRef() { return ++refs_; }
  ULONG InnerRelease() {
    ULONG n = --refs_;
    if (n == 0) delete this;
    return n;
  }
  HRESULT InnerQueryInterface(REFIID iid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    // Aggregated, the object's identity is its non-delegating IUnknown.
    if (outer_ && iid == IID_IUnknown) {
      InnerAddRef();
      *ppv = static_cast<IUnknown*>(&inner_);
      return S_OK;
    }
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

  struct Inner final : IUnknown {
    explicit Inner(CComObject* o) : self(o) {}
    HRESULT QueryInterface(REFIID iid, void** ppv) override {
      return self->InnerQueryInterface(iid, ppv);
    }
    ULONG AddRef() override { return self->InnerAddRef(); }
    ULONG Release() override { return self->InnerRelease(); }
    CComObject* self;
  };

  std::atomic<ULONG> refs_{1};
  IUnknown* outer_ = nullptr;  // not counted: the outer object owns this one
  Inner inner_{this};
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
