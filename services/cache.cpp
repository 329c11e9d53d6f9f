#include "services/cache.h"

#include <new>
#include <utility>

namespace vmk {

BSTR CopyBstr(const OLECHAR* source) {
  const UINT length = source ? SysStringLen(const_cast<BSTR>(source)) : 0;
  BSTR copy = SysAllocStringLen(length ? source : u"", length);
  if (!copy) throw std::bad_alloc();
  return copy;
}

template <class T>
bool CSimpleComparePolicy<T>::Equal(const T& a, const T& b) const {
  if constexpr (std::is_same_v<T, double>) {
    double ra = a, rb = b;
    // Should rounding refuse a value (infinities, NaN), fall back to the values themselves.
    if (FAILED(VarR8Round(a, precision_, &ra))) ra = a;
    if (FAILED(VarR8Round(b, precision_, &rb))) rb = b;
    return ra == rb;
  } else if constexpr (std::is_same_v<T, BSTR>) {
    return VarBstrCmp(a, b, 0x400, 0) == VARCMP_EQ;
  } else {
    return a == b;
  }
}

template <class T>
const ComparePolicies<T>& DefaultComparePolicies() {
  static const ComparePolicies<T> policies = [] {
    ModelBasedEntries<CComparePolicy<T>> entries;
    entries.push_back(std::make_unique<CSimpleComparePolicy<T>>(std::string(), 14));
    // A default entry needs no model to be spread over.
    static const SupportedModelTable kNoModels{std::span<const ModelFamilyRow>{}};
    return ComparePolicies<T>(std::move(entries), kNoModels);
  }();
  return policies;
}

template <class T>
CCacheEntry<T>::~CCacheEntry() {
  if constexpr (std::is_same_v<T, BSTR>) SysFreeString(value_);
}

template <class T>
void CCacheEntry<T>::Invalidate() {
  if constexpr (std::is_same_v<T, BSTR>) {
    SysFreeString(value_);
    value_ = nullptr;
  }
  CCacheEntryBase::Invalidate();
}

template <class T>
void CCacheEntry<T>::SetValue(const T& value) {
  if constexpr (std::is_same_v<T, BSTR>) {
    // Copy first: should the copy fail, the entry keeps its old value; and `value` may be the
    // entry's own string.
    BSTR copy = CopyBstr(value);
    SysFreeString(std::exchange(value_, copy));
  } else {
    value_ = value;
  }
  MarkValid();
}

template <class T>
bool CCacheEntry<T>::GetValue(T* out) const {
  if (!IsValid() || !out) return false;
  if constexpr (std::is_same_v<T, BSTR>) {
    *out = CopyBstr(value_);
  } else {
    *out = value_;
  }
  return true;
}

template <class T>
bool CCacheEntry<T>::Equal(std::string_view model, const T& a, const T& b) const {
  const CComparePolicy<T>* policy = policies_->Lookup(model);
  if (!policy) policy = DefaultComparePolicies<T>().Lookup(model);
  return policy->Equal(a, b);
}

void CCacheManager::InvalidateAll() {
  for (Entry& e : entries_) e.entry->Invalidate();
}

template class CSimpleComparePolicy<VARIANT_BOOL>;
template class CSimpleComparePolicy<int32_t>;
template class CSimpleComparePolicy<double>;
template class CSimpleComparePolicy<BSTR>;
template class CCacheEntry<VARIANT_BOOL>;
template class CCacheEntry<int32_t>;
template class CCacheEntry<double>;
template class CCacheEntry<BSTR>;
template const ComparePolicies<VARIANT_BOOL>& DefaultComparePolicies<VARIANT_BOOL>();
template const ComparePolicies<int32_t>& DefaultComparePolicies<int32_t>();
template const ComparePolicies<double>& DefaultComparePolicies<double>();
template const ComparePolicies<BSTR>& DefaultComparePolicies<BSTR>();

}  // namespace vmk
