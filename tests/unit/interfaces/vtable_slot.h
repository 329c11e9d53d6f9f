// Reads vtable slots out of pointers to virtual member functions, so that the interface tests can
// pin the binary layout that COM clients call by, rather than trusting declaration order by eye.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <initializer_list>

#include <gtest/gtest.h>

namespace vmk::test {

// The Itanium C++ ABI (GCC, Clang) stores a pointer to member function as {ptr, adj}. For a
// virtual function the generic form puts 1 + the byte offset into the vtable in ptr; the ARM form
// keeps the plain offset in ptr and flags virtual in the low bit of adj. -1 means "not virtual".
template <class C, class R, class... A>
std::ptrdiff_t VtableSlot(R (C::*member)(A...)) {
  static_assert(sizeof(member) == 2 * sizeof(std::uintptr_t), "not an Itanium member pointer");
  std::uintptr_t words[2];
  std::memcpy(words, &member, sizeof words);
#if defined(__arm__) || defined(__aarch64__)
  if ((words[1] & 1u) == 0) return -1;
  return static_cast<std::ptrdiff_t>(words[0] / sizeof(void*));
#else
  if ((words[0] & 1u) == 0) return -1;
  return static_cast<std::ptrdiff_t>((words[0] - 1) / sizeof(void*));
#endif
}

// A class that derives from I alone appends its first new virtual function right after I's
// slots, so that function's slot is the number of slots I has: extra or missing members anywhere
// in I, its bases included, show up here even when the last member is in its right place.
template <class I>
struct SlotProbe : I {
  virtual void Sentinel() = 0;
};

template <class I>
std::ptrdiff_t VtableSize() {
  return VtableSlot(&SlotProbe<I>::Sentinel);
}

// Slots as the interface tables number them: from 1, after the base interface's slots.
inline constexpr std::ptrdiff_t kIUnknownSlots = 3;
constexpr std::ptrdiff_t Own(std::ptrdiff_t n, std::ptrdiff_t base_slots = kIUnknownSlots) {
  return base_slots + n - 1;
}

struct SlotCase {
  const char* what;
  std::ptrdiff_t actual;
  std::ptrdiff_t expected;
};

inline void ExpectSlots(std::initializer_list<SlotCase> cases) {
  for (const SlotCase& c : cases) EXPECT_EQ(c.actual, c.expected) << c.what;
}

}  // namespace vmk::test

#define VMK_SLOT(Interface, Member, expected)                                                 \
  ::vmk::test::SlotCase {                                                                     \
    "slot of " #Interface "::" #Member, ::vmk::test::VtableSlot(&Interface::Member), expected \
  }
#define VMK_SIZE(Interface, expected)                                           \
  ::vmk::test::SlotCase {                                                       \
    "slot count of " #Interface, ::vmk::test::VtableSize<Interface>(), expected \
  }
