#include "dcpwr/keyword_tables.h"

#include <gtest/gtest.h>

namespace vmk {
namespace {

int32_t ValueOf(KeywordEnum which, std::string_view keyword, std::string_view model = "K4102A") {
  int32_t value = -1;
  return KeywordTable(which).KeywordToEnum(model, keyword, &value) ? value : -1;
}

std::string KeywordOf(KeywordEnum which, int32_t value, std::string_view model = "K4102A") {
  return KeywordTable(which).EnumToKeyword(model, value);
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
}

TEST(KeywordTablesTest, DescriptorFunctionFollowsTheTable) {
  std::string (*keyword)(int32_t, std::string_view) = &EnumKeyword<KeywordEnum::Coupling>;
  EXPECT_EQ(keyword(4, "K4301A"), "P6V, P25V");
  EXPECT_EQ(keyword(7, "K4301A"), "");
}

TEST(KeywordTablesTest, SessionBindingForTheEnumerationQuery) {
  // Built from a temporary model string, as the session hands out its model by value.
  const CModelKeywordLookup binding(KeywordTable(KeywordEnum::TriggerSource),
                                    std::string("K4201A"));
  const KeywordLookup& lookup = binding;
  int32_t value = -1;
  EXPECT_TRUE(lookup.ValueOf("IMM", &value));
  EXPECT_EQ(value, 0);
  EXPECT_FALSE(lookup.ValueOf("IMMEDIATE", &value));
  EXPECT_EQ(value, 0);
}

}  // namespace
}  // namespace vmk
