#include "driver/options.h"

#include <gtest/gtest.h>

namespace vmk {
namespace {

using Pairs = OptionPairs;

TEST(OptionPairs, TrimsAndSkipsTextThatFormsNoPair) {
  EXPECT_EQ(ExtractPairs(" simulate = TRUE , RangeCheck=false"),
            (Pairs{{"simulate", "TRUE"}, {"RangeCheck", "false"}}));
  EXPECT_EQ(ExtractPairs("Simulate, Cache=0"), (Pairs{{"Cache", "0"}}));
  EXPECT_EQ(ExtractPairs("=1, =, ,,"), Pairs{});
}

TEST(OptionPairs, SemicolonsBelongToTheValue) {
  EXPECT_EQ(ExtractPairs("Simulate=true; RangeCheck=false"),
            (Pairs{{"Simulate", "true; RangeCheck"}}));
}

TEST(OptionPairs, ASecondEqualsSignEndsThePair) {
  EXPECT_EQ(ExtractPairs("Simulate=true=false"), (Pairs{{"Simulate", "true"}}));
  EXPECT_EQ(ExtractPairs("a==b, c=d"), (Pairs{{"c", "d"}}));
}

TEST(OptionPairs, ALaterValueReplacesAnEarlierOne) {
  EXPECT_EQ(ExtractPairs("Cache=1, Simulate=0, Cache=0"),
            (Pairs{{"Cache", "0"}, {"Simulate", "0"}}));
}

TEST(OptionPairs, BlankValueIsKeptEmptyForTheCallerToRefuse) {
  EXPECT_EQ(ExtractPairs("Cache=   "), (Pairs{{"Cache", ""}}));
}

TEST(OptionString, SplitsAtTheMarkerInAnyCase) {
  SplitOptions s = SplitOptionString("Simulate=true, driversetup=Model=K4301A, Trace=false");
  EXPECT_TRUE(s.found);
  EXPECT_EQ(s.options, "Simulate=true, ");
  EXPECT_EQ(s.driverSetup, "Model=K4301A, Trace=false");
  EXPECT_FALSE(SplitOptionString("Simulate=true").found);
}

TEST(OptionValues, BooleansAndIntegers) {
  bool b = false;
  EXPECT_TRUE(ParseOptionBool("vi_true", &b) && b);
  EXPECT_TRUE(ParseOptionBool("0", &b) && !b);
  EXPECT_FALSE(ParseOptionBool("yes", &b));
  EXPECT_FALSE(ParseOptionBool("1.0", &b));
  EXPECT_EQ(ParseOptionInteger("-42abc"), -42);
  EXPECT_EQ(ParseOptionInteger("abc"), 0);
  EXPECT_EQ(ParseOptionInteger("99999999999999999999"), 2147483647);
  EXPECT_EQ(ParseOptionInteger("-99999999999999999999"), -2147483647 - 1);
}

}  // namespace
}  // namespace vmk
