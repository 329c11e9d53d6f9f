// The attribute store of a node: the last value written per attribute, valid or not. While
// simulating it is the simulated instrument's state.
//
// An attribute is known by its descriptor: the store is keyed by the descriptor's address, a key
// that the member hands over as it is, so no call builds, copies or hashes a name.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>
#include <type_traits>
#include <vector>

#include "services/model_table.h"
#include "vmk40xx/com.h"

namespace vmk {

// Copies a BSTR, embedded nulls included; a null BSTR copies as the empty string. Throws
// std::bad_alloc when memory runs out, which the method frame turns into E_OUTOFMEMORY.
BSTR CopyBstr(const OLECHAR* source);

template <class T>
inline constexpr bool kIsCacheType =
    std::is_same_v<T, VARIANT_BOOL> || std::is_same_v<T, int32_t> || std::is_same_v<T, double> ||
    std::is_same_v<T, BSTR>;

template <class T>
class CComparePolicy : public CModelBasedType {
 public:
  using CModelBasedType::CModelBasedType;
  virtual bool Equal(const T& a, const T& b) const = 0;
};

template <class T>
class CSimpleComparePolicy : public CComparePolicy<T> {
 public:
  CSimpleComparePolicy(std::string name, uint8_t precision)
      : CComparePolicy<T>(std::move(name)), precision_(precision) {}

  // Doubles compare after rounding both to `precision` decimals, so that values which differ only
  // by binary representation noise count as equal.
  bool Equal(const T& a, const T& b) const override;
  uint8_t Precision() const { return precision_; }

 private:
  uint8_t precision_;
};

template <class T>
using ComparePolicies = CModelBasedMap<CComparePolicy<T>>;

// The process-wide default: one entry for every model, precision 14.
template <class T>
const ComparePolicies<T>& DefaultComparePolicies();

class CCacheEntryBase {
 public:
  CCacheEntryBase() = default;
  CCacheEntryBase(const CCacheEntryBase&) = delete;
  CCacheEntryBase& operator=(const CCacheEntryBase&) = delete;
  virtual ~CCacheEntryBase() = default;

  virtual void Invalidate() { valid_ = false; }
  virtual void MarkValid() { valid_ = true; }
  virtual bool IsValid() const { return valid_; }

 private:
  bool valid_ = false;
};

template <class T>
class CCacheEntry : public CCacheEntryBase {
  static_assert(kIsCacheType<T>);

 public:
  explicit CCacheEntry(const ComparePolicies<T>& policies = DefaultComparePolicies<T>())
      : policies_(&policies) {}
  ~CCacheEntry() override;

  void Invalidate() override;
  // A BSTR is copied; the entry owns its copy and frees the one it held before.
  void SetValue(const T& value);
  // False, and `out` untouched, while invalid. A BSTR comes out as a new copy owned by the caller.
  bool GetValue(T* out) const;

  // Whether `a` and `b` count as the same value of this attribute on `model`.
  bool Equal(std::string_view model, const T& a, const T& b) const;
  const ComparePolicies<T>& Policies() const { return *policies_; }

 private:
  const ComparePolicies<T>* policies_;
  T value_{};
};

// One per node; entries are made on the first write, so a node that is never written to holds
// nothing. A node has a few dozen attributes at most, so a key is found by a scan of the entries
// made so far. The same key asked for as another type is a separate entry rather than a
// reinterpretation: keys are the driver's own, so a clash is a driver bug that must not corrupt
// memory.
class CCacheManager {
 public:
  CCacheManager() = default;
  CCacheManager(const CCacheManager&) = delete;
  CCacheManager& operator=(const CCacheManager&) = delete;

  // The entry for the key, created invalid on first use.
  template <class T>
  CCacheEntry<T>& GetEntry(const void* key) {
    static_assert(kIsCacheType<T>);
    if (CCacheEntryBase* entry = Lookup(key, TypeIndex<T>())) return static_cast<CCacheEntry<T>&>(*entry);
    entries_.push_back({key, TypeIndex<T>(), std::make_unique<CCacheEntry<T>>()});
    return static_cast<CCacheEntry<T>&>(*entries_.back().entry);
  }
  // The entry when one was made, else null; never makes one.
  template <class T>
  const CCacheEntry<T>* FindEntry(const void* key) const {
    static_assert(kIsCacheType<T>);
    return static_cast<const CCacheEntry<T>*>(Lookup(key, TypeIndex<T>()));
  }

  // Invalidates this node's entries only; the node walks its repeated-capability instances.
  void InvalidateAll();
  void RemoveAll() { entries_.clear(); }
  std::size_t Size() const { return entries_.size(); }

 private:
  struct Entry {
    const void* key;
    std::size_t type;
    std::unique_ptr<CCacheEntryBase> entry;
  };
  CCacheEntryBase* Lookup(const void* key, std::size_t type) const {
    for (const Entry& e : entries_)
      if (e.key == key && e.type == type) return e.entry.get();
    return nullptr;
  }
  template <class T>
  static constexpr std::size_t TypeIndex() {
    if constexpr (std::is_same_v<T, VARIANT_BOOL>)
      return 0;
    else if constexpr (std::is_same_v<T, int32_t>)
      return 1;
    else if constexpr (std::is_same_v<T, double>)
      return 2;
    else
      return 3;
  }
  std::vector<Entry> entries_;
};

extern template class CSimpleComparePolicy<VARIANT_BOOL>;
extern template class CSimpleComparePolicy<int32_t>;
extern template class CSimpleComparePolicy<double>;
extern template class CSimpleComparePolicy<BSTR>;
extern template class CCacheEntry<VARIANT_BOOL>;
extern template class CCacheEntry<int32_t>;
extern template class CCacheEntry<double>;
extern template class CCacheEntry<BSTR>;

}  // namespace vmk
