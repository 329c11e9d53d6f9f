#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "platform/com/com_ptr.h"
#include "vmk40xx/com.h"

namespace vmk::com {
namespace {

uint32_t PrefixOf(BSTR b) {
  uint32_t bytes;
  std::memcpy(&bytes, reinterpret_cast<const char*>(b) - 4, 4);
  return bytes;
}

TEST(Bstr, LaidOutAsComWithByteCountBeforeAndNulAfter) {
  BSTR b = SysAllocString(u"K4301A");
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(PrefixOf(b), 12u);
  EXPECT_EQ(SysStringLen(b), 6u);
  EXPECT_EQ(SysStringByteLen(b), 12u);
  EXPECT_EQ(b[6], u'\0');
  EXPECT_EQ(std::u16string(b), u"K4301A");
  SysFreeString(b);
}

TEST(Bstr, LengthKeepsEmbeddedNuls) {
  const OLECHAR text[] = {u'a', 0, u'b', 0, u'c'};
  BSTR b = SysAllocStringLen(text, 5);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(SysStringLen(b), 5u);
  EXPECT_EQ(std::u16string(b, SysStringLen(b)), std::u16string(text, 5));
  EXPECT_EQ(b[5], u'\0');
  SysFreeString(b);
}

TEST(Bstr, AllocStringLenCopiesOnlyTheCountGiven) {
  BSTR b = SysAllocStringLen(u"Velmora", 3);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(SysStringLen(b), 3u);
  EXPECT_EQ(std::u16string(b), u"Vel");
  SysFreeString(b);
}

TEST(Bstr, NullSourceWithLengthAllocatesZeroFilled) {
  BSTR b = SysAllocStringLen(nullptr, 4);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(SysStringLen(b), 4u);
  for (int i = 0; i <= 4; ++i) EXPECT_EQ(b[i], 0) << i;
  SysFreeString(b);
}

TEST(Bstr, EmptyStringIsAllocatedAndNotNull) {
  BSTR b = SysAllocString(u"");
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(SysStringLen(b), 0u);
  EXPECT_EQ(b[0], u'\0');
  SysFreeString(b);
}

TEST(Bstr, NullBstrReadsAsEmpty) {
  EXPECT_EQ(SysAllocString(nullptr), nullptr);
  EXPECT_EQ(SysStringLen(nullptr), 0u);
  EXPECT_EQ(SysStringByteLen(nullptr), 0u);
  SysFreeString(nullptr);
  EXPECT_EQ(BstrToUtf8(nullptr), "");
}

TEST(Bstr, LengthThatCannotFitThePrefixIsRefused) {
  EXPECT_EQ(SysAllocStringLen(nullptr, 0xFFFFFFFFu), nullptr);
  EXPECT_EQ(SysAllocStringLen(nullptr, 0x80000000u), nullptr);
}

TEST(Bstr, ReAllocReplacesAndFreesTheOld) {
  BSTR b = SysAllocString(u"short");
  ASSERT_TRUE(SysReAllocString(&b, u"a rather longer text"));
  EXPECT_EQ(std::u16string(b, SysStringLen(b)), u"a rather longer text");
  ASSERT_TRUE(SysReAllocString(&b, u"x"));
  EXPECT_EQ(SysStringLen(b), 1u);
  EXPECT_EQ(b[1], u'\0');
  SysFreeString(b);
}

TEST(Bstr, ReAllocFromItsOwnTail) {
  BSTR b = SysAllocString(u"VOLT 1.5");
  ASSERT_TRUE(SysReAllocString(&b, b + 5));
  EXPECT_EQ(std::u16string(b, SysStringLen(b)), u"1.5");
  SysFreeString(b);
}

TEST(Bstr, ReAllocOfNullBstrAndNullText) {
  BSTR b = nullptr;
  ASSERT_TRUE(SysReAllocString(&b, u"abc"));
  EXPECT_EQ(SysStringLen(b), 3u);
  ASSERT_TRUE(SysReAllocString(&b, nullptr));
  EXPECT_EQ(SysStringLen(b), 0u);
  SysFreeString(b);
  EXPECT_FALSE(SysReAllocString(nullptr, u"abc"));
}

TEST(Bstr, HolderConvertsAndFrees) {
  Bstr b("Ω 5 V");
  EXPECT_EQ(b.size(), 5u);
  EXPECT_EQ(b.utf8(), "Ω 5 V");
  Bstr moved = std::move(b);
  EXPECT_EQ(b.get(), nullptr);  // NOLINT(bugprone-use-after-move): moved-from state is defined
  EXPECT_EQ(moved.utf8(), "Ω 5 V");
  *moved.put() = SysAllocString(u"next");
  EXPECT_EQ(moved.utf8(), "next");
}

}  // namespace
}  // namespace vmk::com
