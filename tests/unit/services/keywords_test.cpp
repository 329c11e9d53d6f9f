#include "services/keywords.h"

#include <gtest/gtest.h>

#include "tests/unit/services/test_models.h"

namespace vmk {
namespace {

using test::TestModels;

TEST(EnumCommandTableTest, SharedKeywordReadsBackAsTheLaterValue) {
  constexpr CEnumCommand rows[] = {{"", 0, "ON"}, {"", 2, "ON"}, {"", 1, "OFF"}, {"", 1, "0"}};
  CEnumCommandTable table(rows, TestModels());

  EXPECT_EQ(table.EnumToKeyword("A1", 0), "ON");
  EXPECT_EQ(table.EnumToKeyword("A1", 2), "ON");
  EXPECT_EQ(table.EnumToKeyword("A1", 1), "0");  // listed twice: the later keyword is sent
  int32_t value = -1;
  ASSERT_TRUE(table.KeywordToEnum("A1", "ON", &value));
  EXPECT_EQ(value, 2);
  // The keyword a value lost still reads back as that value.
  ASSERT_TRUE(table.KeywordToEnum("A1", "OFF", &value));
  EXPECT_EQ(value, 1);
}

TEST(EnumCommandTableTest, ExactCaseAndNoKeywordLeaveTheOutputAlone) {
  constexpr CEnumCommand rows[] = {{"", 2, "MAX"}};
  CEnumCommandTable table(rows, TestModels());
  int32_t value = 42;
  EXPECT_FALSE(table.KeywordToEnum("A1", "max", &value));
  EXPECT_FALSE(table.KeywordToEnum("A1", " MAX", &value));
  EXPECT_EQ(value, 42);
  EXPECT_EQ(table.EnumToKeyword("A1", 3), "");
  EXPECT_EQ(table.EnumToKeyword("", 2), "MAX");
}

TEST(EnumCommandTableTest, ModelPairsFirstThenEmptyNamePairs) {
  constexpr CEnumCommand rows[] = {
      {"", 0, "ON"}, {"", 1, "OFF"}, {"B1", 0, "ALL"}, {"Bogus", 1, "X"}};
  CEnumCommandTable table(rows, TestModels());

  EXPECT_EQ(table.EnumToKeyword("B1", 0), "ALL");
  EXPECT_EQ(table.EnumToKeyword("B1", 1), "OFF");  // B1's own map lacks 1
  EXPECT_EQ(table.EnumToKeyword("A1", 0), "ON");   // no pairs of its own
  int32_t value = -1;
  EXPECT_TRUE(table.KeywordToEnum("B1", "ON", &value));
  EXPECT_EQ(value, 0);
  EXPECT_FALSE(table.KeywordToEnum("A1", "ALL", &value));
  EXPECT_FALSE(table.KeywordToEnum("B1", "X", &value));
}

TEST(EnumCommandTableTest, FamilyRowsFillOnlyModelsWithoutPairs) {
  constexpr CEnumCommand rows[] = {
      {"A1", 0, "own"}, {"Fam1", 0, "fam"}, {"Fam1", 1, "second"}, {"", 1, "dflt"}};
  CEnumCommandTable table(rows, TestModels());
  EXPECT_EQ(table.EnumToKeyword("A1", 0), "own");
  EXPECT_EQ(table.EnumToKeyword("A2", 0), "fam");
  EXPECT_EQ(table.EnumToKeyword("A3", 0), "fam");
  // The family's second row finds every model already filled.
  EXPECT_EQ(table.EnumToKeyword("A2", 1), "dflt");
  EXPECT_EQ(table.EnumToKeyword("B1", 0), "");
}

TEST(EnumCommandTableTest, LookupBindsTheSessionModel) {
  constexpr CEnumCommand rows[] = {{"", 0, "ON"}, {"B1", 5, "ON"}};
  CEnumCommandTable table(rows, TestModels());
  int32_t value = -1;
  EXPECT_TRUE(CModelKeywordLookup(table, "B1").ValueOf("ON", &value));
  EXPECT_EQ(value, 5);
  EXPECT_TRUE(CModelKeywordLookup(table, "A1").ValueOf("ON", &value));
  EXPECT_EQ(value, 0);
  EXPECT_FALSE(CModelKeywordLookup(table, "A1").ValueOf("on", &value));
}

}  // namespace
}  // namespace vmk
