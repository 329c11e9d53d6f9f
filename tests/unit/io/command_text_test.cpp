#include "io/command_text.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <random>

#include "platform/visa/number_text.h"

namespace vmk {
namespace {

TEST(CommandText, DoublesIntegersAndKeywords) {
  EXPECT_EQ(FormatCommand("VOLT %.15g", {5.0}), "VOLT 5");
  EXPECT_EQ(FormatCommand("VOLT %.15g", {0.1}), "VOLT 0.1");
  EXPECT_EQ(FormatCommand("INST:NSEL %d", {2LL}), "INST:NSEL 2");
  EXPECT_EQ(FormatCommand("VOLT:PROT:STAT %d; :VOLT:PROT %.15g", {1LL, 18.5}),
            "VOLT:PROT:STAT 1; :VOLT:PROT 18.5");
  EXPECT_EQ(FormatCommand("TRIG:SOUR %s", {std::string("BUS")}), "TRIG:SOUR BUS");
}

TEST(CommandText, TheConversionDecidesHowAnArgumentIsWritten) {
  // An integer given to %g and a double given to %d are converted, never reinterpreted.
  EXPECT_EQ(FormatCommand("VOLT %.15g", {3LL}), "VOLT 3");
  EXPECT_EQ(FormatCommand("MEM %d", {2.9}), "MEM 2");
  EXPECT_EQ(FormatCommand("MEM %d", {-2.9}), "MEM -2");
  EXPECT_EQ(FormatCommand("X %s", {1.5}), "X 1.5");
  EXPECT_EQ(FormatCommand("X %s", {-7LL}), "X -7");
  EXPECT_EQ(FormatCommand("R %f %e %G", {2.5, 2.5, 1e-20}), "R 2.500000 2.500000e+00 1E-20");
  // A double beyond the integers ends at their edge instead of an undefined cut.
  EXPECT_EQ(FormatCommand("N %d", {1e30}), "N 9223372036854775807");
  EXPECT_EQ(FormatCommand("N %d", {std::nan("")}), "N 0");
}

TEST(CommandText, ArgumentsCanBeNamedByPosition) {
  EXPECT_EQ(FormatCommand("CURR %2$.15g", {1LL, 0.25}), "CURR 0.25");
  EXPECT_EQ(FormatCommand("%2$s %1$s %s", {"a", "b"}), "b a a");
}

TEST(CommandText, QuotedTextKeepsItsQuotesAsText) {
  EXPECT_EQ(FormatCommand("DISP:TEXT %q", {"say \"hi\""}), "DISP:TEXT \"say \"\"hi\"\"\"");
  EXPECT_EQ(FormatCommand("MEM:STAT:NAME %d, %q", {3LL, ""}), "MEM:STAT:NAME 3, \"\"");
}

TEST(CommandText, UserTextIsNeverAFormat) {
  EXPECT_EQ(FormatCommand("DISP:TEXT \"%s\"", {std::string("%s%n%d 100%")}),
            "DISP:TEXT \"%s%n%d 100%\"");
  EXPECT_EQ(FormatCommand("A %d %d", {1LL}), "A 1 ");  // a missing argument writes nothing
  EXPECT_EQ(FormatCommand("100%% %d", {7LL}), "100% 7");
  EXPECT_EQ(FormatCommand("trailing %", {}), "trailing ");
  EXPECT_EQ(FormatCommand("trailing %.1", {1.0}), "trailing ");
}

// The formatter must write exactly what "%.15g" writes in the "C" locale: the command text
// instruments have always been sent. printf here runs in the "C" locale, the program's start-up
// locale; the formatter is then asked again under a locale with a decimal comma.
TEST(CommandText, NumbersAreByteForBytePrintfsInTheCLocaleWhateverTheLocale) {
  std::vector<double> values = {0.0,     -0.0,    5.25,     0.1,      1e15,     1e16,
                                123456789012345678.0,   1e21,     1e-5,     1e-4,    0.000123456,
                                2.5e-300, 1.7976931348623157e308, 4.9e-324, -3.75,  100.0,
                                99.999999999999986,    0.30000000000000004, 1.0 / 3.0,
                                std::numeric_limits<double>::infinity(),
                                -std::numeric_limits<double>::infinity(),
                                std::numeric_limits<double>::quiet_NaN()};
  std::mt19937_64 random(15);
  for (int i = 0; i < 2000; ++i) {
    uint64_t bits = random();
    double v;
    static_assert(sizeof v == sizeof bits);
    std::memcpy(&v, &bits, sizeof v);
    values.push_back(v);
    values.push_back(std::ldexp(static_cast<double>(random() % 100000), -(int)(random() % 40)));
  }
  std::vector<std::string> printed;
  for (double v : values) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.15g", v);
    printed.emplace_back(buf);
  }
  const std::string saved = std::setlocale(LC_ALL, nullptr);
  const bool comma = std::setlocale(LC_ALL, "de_DE.UTF-8") != nullptr;
  for (size_t i = 0; i < values.size(); ++i) {
    ASSERT_EQ(FormatCommand("%.15g", {values[i]}), printed[i]) << i;
    ASSERT_EQ(visa::FormatG(values[i]), printed[i]) << i;
  }
  std::setlocale(LC_ALL, saved.c_str());
  if (!comma) GTEST_SKIP() << "no de_DE.UTF-8 locale: compared in the C locale only";
}

}  // namespace
}  // namespace vmk
