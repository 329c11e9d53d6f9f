#include "driver/command_format.h"

#include <gtest/gtest.h>

namespace vmk {
namespace {

TEST(CommandFormat, DoublesIntegersAndKeywords) {
  EXPECT_EQ(FormatCommand("VOLT %.15g", {5.0}), "VOLT 5");
  EXPECT_EQ(FormatCommand("VOLT %.15g", {0.1}), "VOLT 0.1");
  EXPECT_EQ(FormatCommand("INST:NSEL %d", {2LL}), "INST:NSEL 2");
  EXPECT_EQ(FormatCommand("VOLT:PROT:STAT %d; :VOLT:PROT %.15g", {1LL, 18.5}),
            "VOLT:PROT:STAT 1; :VOLT:PROT 18.5");
  EXPECT_EQ(FormatCommand("TRIG:SOUR %s", {std::string("BUS")}), "TRIG:SOUR BUS");
}

TEST(CommandFormat, TheConversionDecidesHowAnArgumentIsWritten) {
  // An integer given to %g and a double given to %d are converted, never reinterpreted.
  EXPECT_EQ(FormatCommand("VOLT %.15g", {3LL}), "VOLT 3");
  EXPECT_EQ(FormatCommand("MEM %d", {2.9}), "MEM 2");
  EXPECT_EQ(FormatCommand("X %s", {1.5}), "X 1.5");
}

TEST(CommandFormat, UserTextIsNeverAFormat) {
  EXPECT_EQ(FormatCommand("DISP:TEXT \"%s\"", {std::string("%s%n%d 100%")}),
            "DISP:TEXT \"%s%n%d 100%\"");
  EXPECT_EQ(FormatCommand("A %d %d", {1LL}), "A 1 ");  // a missing argument writes nothing
  EXPECT_EQ(FormatCommand("100%% %d", {7LL}), "100% 7");
  EXPECT_EQ(FormatCommand("trailing %", {}), "trailing ");
}

}  // namespace
}  // namespace vmk
