#include "services/cache.h"

#include <gtest/gtest.h>

#include "platform/com/com_ptr.h"

namespace vmk {
namespace {

using com::Bstr;

// Entries are keyed by the address of a descriptor; any object's address serves.
char kLevel, kText, kA, kB, kC, kD;

std::string ReadString(const CCacheEntry<BSTR>& entry) {
  Bstr out;
  if (!entry.GetValue(out.put())) return "<invalid>";
  return out.utf8();
}

TEST(CacheEntryTest, NewEntryIsInvalidAndLeavesTheOutputAlone) {
  CCacheManager cache;
  auto& level = cache.GetEntry<double>(&kLevel);
  double out = 7.5;
  EXPECT_FALSE(level.IsValid());
  EXPECT_FALSE(level.GetValue(&out));
  EXPECT_EQ(out, 7.5);

  level.SetValue(5.0);
  ASSERT_TRUE(level.GetValue(&out));
  EXPECT_EQ(out, 5.0);
  EXPECT_EQ(&cache.GetEntry<double>(&kLevel), &level);
}

TEST(CacheEntryTest, StringWrittenTwiceKeepsOnlyTheSecondAndHandsOutCopies) {
  CCacheManager cache;
  auto& text = cache.GetEntry<BSTR>(&kText);
  text.SetValue(Bstr("first").get());
  text.SetValue(Bstr("zweite ✓").get());
  EXPECT_EQ(ReadString(text), "zweite ✓");

  // The caller's copy is its own: freeing it leaves the entry intact.
  BSTR copy = nullptr;
  ASSERT_TRUE(text.GetValue(&copy));
  SysFreeString(copy);
  EXPECT_EQ(ReadString(text), "zweite ✓");

  // Writing the entry's own string back must not read freed memory.
  BSTR own = nullptr;
  ASSERT_TRUE(text.GetValue(&own));
  text.SetValue(own);
  SysFreeString(own);
  EXPECT_EQ(ReadString(text), "zweite ✓");

  text.Invalidate();
  EXPECT_EQ(ReadString(text), "<invalid>");
  text.SetValue(nullptr);  // a null BSTR is the empty string
  EXPECT_EQ(ReadString(text), "");
}

TEST(CacheEntryTest, StringKeepsEmbeddedNulls) {
  CCacheEntry<BSTR> entry;
  const OLECHAR raw[] = {u'a', 0, u'b'};
  BSTR value = SysAllocStringLen(raw, 3);
  entry.SetValue(value);
  SysFreeString(value);
  BSTR out = nullptr;
  ASSERT_TRUE(entry.GetValue(&out));
  EXPECT_EQ(SysStringLen(out), 3u);
  EXPECT_EQ(out[2], u'b');
  SysFreeString(out);
}

TEST(CacheManagerTest, InvalidateAllAndRemoveAllCoverEveryType) {
  CCacheManager cache;
  cache.GetEntry<VARIANT_BOOL>(&kA).SetValue(VARIANT_TRUE);
  cache.GetEntry<int32_t>(&kB).SetValue(3);
  cache.GetEntry<double>(&kC).SetValue(2.5);
  cache.GetEntry<BSTR>(&kD).SetValue(Bstr("x").get());
  ASSERT_EQ(cache.Size(), 4u);

  cache.InvalidateAll();
  EXPECT_EQ(cache.Size(), 4u);
  EXPECT_FALSE(cache.GetEntry<VARIANT_BOOL>(&kA).IsValid());
  EXPECT_FALSE(cache.GetEntry<int32_t>(&kB).IsValid());
  EXPECT_FALSE(cache.GetEntry<double>(&kC).IsValid());
  EXPECT_FALSE(cache.GetEntry<BSTR>(&kD).IsValid());

  // Written again after the invalidation, a value reads back.
  cache.GetEntry<double>(&kC).SetValue(1.25);
  double out = 0;
  EXPECT_TRUE(cache.GetEntry<double>(&kC).GetValue(&out));
  EXPECT_EQ(out, 1.25);

  cache.GetEntry<BSTR>(&kD).SetValue(Bstr("y").get());
  cache.RemoveAll();
  EXPECT_EQ(cache.Size(), 0u);
  // Looking an entry up makes none.
  EXPECT_EQ(cache.FindEntry<double>(&kC), nullptr);
  EXPECT_EQ(cache.Size(), 0u);
}

TEST(CacheManagerTest, ManagersAndTypesDoNotShareEntries) {
  CCacheManager output1, output2;
  output1.GetEntry<double>(&kLevel).SetValue(5.0);
  EXPECT_FALSE(output2.GetEntry<double>(&kLevel).IsValid());

  // The same name asked for as another type is a separate entry, not a reinterpretation.
  output1.GetEntry<BSTR>(&kLevel).SetValue(Bstr("5").get());
  double out = 0;
  ASSERT_TRUE(output1.GetEntry<double>(&kLevel).GetValue(&out));
  EXPECT_EQ(out, 5.0);
}

TEST(ComparePolicyTest, DefaultsCompareAsTheirTypeDemands) {
  CCacheEntry<double> real;
  EXPECT_TRUE(real.Equal("K4102A", 0.1 + 0.2, 0.3));
  EXPECT_FALSE(real.Equal("K4102A", 1.0, 1.0 + 1e-13));
  EXPECT_FALSE(real.Equal("K4102A", 1.0, 2.0));

  CCacheEntry<int32_t> integer;
  EXPECT_TRUE(integer.Equal("", 7, 7));
  EXPECT_FALSE(integer.Equal("", 7, -7));

  CCacheEntry<VARIANT_BOOL> boolean;
  EXPECT_FALSE(boolean.Equal("", VARIANT_TRUE, 1));  // only the 16-bit values count

  CCacheEntry<BSTR> text;
  Bstr upper("HELLO"), lower("hello"), again("HELLO");
  EXPECT_TRUE(text.Equal("", upper.get(), again.get()));
  EXPECT_FALSE(text.Equal("", upper.get(), lower.get()));
}

}  // namespace
}  // namespace vmk
