#include "dcpwr/keyword_tables.h"

#include <gtest/gtest.h>

#include <string>

#include "driver/member.h"

namespace vmk {
namespace {

int32_t ValueOf(KeywordEnum which, std::string_view keyword, std::string_view model = "K4102A") {
  int32_t value = -1;
  return KeywordTable(which).KeywordToEnum(model, keyword, &value) ? value : -1;
}

std::string KeywordOf(KeywordEnum which, int32_t value, std::string_view model = "K4102A") {
  return std::string(KeywordTable(which).EnumToKeyword(model, value));
}

TEST(ModelKeywordTest, NamesBothWaysAndTheTwoValuesWithoutAModel) {
  EXPECT_EQ(ValueOf(KeywordEnum::Model, "K4301A"), 1);
  EXPECT_EQ(ValueOf(KeywordEnum::Model, "K4109A"), 10);
  EXPECT_EQ(ValueOf(KeywordEnum::Model, "K4204A"), 14);
  EXPECT_EQ(KeywordOf(KeywordEnum::Model, 11), "K4201A");
  EXPECT_EQ(KeywordOf(KeywordEnum::Model, 0), "");
  EXPECT_EQ(KeywordOf(KeywordEnum::Model, 99), "");
  // No model yet reads as "none supported"; a name not in the table has no value at all.
  EXPECT_EQ(ValueOf(KeywordEnum::Model, "", ""), 99);
  EXPECT_EQ(ValueOf(KeywordEnum::Model, "k4301a"), -1);
}

TEST(KeywordTablesTest, KeywordsTheInstrumentSpellsItsOwnWay) {
  EXPECT_EQ(KeywordOf(KeywordEnum::Coupling, 5, "K4301A"), "P6V, N25V");
  EXPECT_EQ(ValueOf(KeywordEnum::Coupling, "P25V, N25V", "K4301A"), 6);
  EXPECT_EQ(ValueOf(KeywordEnum::Coupling, "NONE", "K4301A"), 3);
  EXPECT_EQ(ValueOf(KeywordEnum::Coupling, "ALL", "K4201A"), 2);
  EXPECT_EQ(ValueOf(KeywordEnum::CalibrationLevel, "MID"), 1);
  EXPECT_EQ(ValueOf(KeywordEnum::CalibrationLevel, "max"), -1);
  EXPECT_EQ(KeywordOf(KeywordEnum::Output, 2, "K4202A"), "2");
  EXPECT_EQ(ValueOf(KeywordEnum::Output, "+1"), -1);  // the channel reader strips "+" itself
  EXPECT_EQ(KeywordOf(KeywordEnum::RangeType, 1), "VOLT");
  EXPECT_EQ(KeywordOf(KeywordEnum::VoltageRange, 1), "HIGH");
  EXPECT_EQ(ValueOf(KeywordEnum::TriggerSource, "BUS"), 1);
  EXPECT_EQ(ValueOf(KeywordEnum::DisplayMode, "II", "K4203A"), 2);
  EXPECT_EQ(KeywordOf(KeywordEnum::StepDirection, 3), "CURR DOWN");
  EXPECT_EQ(KeywordOf(KeywordEnum::StepDirection, 4), "");
  EXPECT_EQ(KeywordOf(KeywordEnum::MeasurementType, 0), "CURR");
  EXPECT_EQ(KeywordOf(KeywordEnum::MeasurementType, 1), "VOLT");
  // The default steps are read back with the quantity's step query.
  EXPECT_EQ(KeywordOf(KeywordEnum::StepQuantity, 1), "VOLT");
  EXPECT_EQ(KeywordOf(KeywordEnum::StepQuantity, 3), "CURR");
}

TEST(KeywordTablesTest, DescriptorFunctionFollowsTheTable) {
  KeywordFn keyword = &EnumKeyword<KeywordEnum::Coupling>;
  EXPECT_EQ(keyword(4, "K4301A"), "P6V, P25V");
  EXPECT_EQ(keyword(7, "K4301A"), "");
}

TEST(KeywordTablesTest, SessionBindingForTheEnumerationQuery) {
  // The binding reads the session's own model string, which outlives the call it serves.
  const std::string model = "K4201A";
  const CModelKeywordLookup binding(KeywordTable(KeywordEnum::TriggerSource), model);
  const KeywordLookup& lookup = binding;
  int32_t value = -1;
  EXPECT_TRUE(lookup.ValueOf("IMM", &value));
  EXPECT_EQ(value, 0);
  EXPECT_FALSE(lookup.ValueOf("IMMEDIATE", &value));
  EXPECT_EQ(value, 0);
}

}  // namespace
}  // namespace vmk
