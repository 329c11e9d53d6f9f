#include "services/model_table.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include "tests/unit/services/test_models.h"

namespace vmk {
namespace {

using test::TestModels;

class Tagged : public CModelBasedType {
 public:
  Tagged(std::string name, int tag) : CModelBasedType(std::move(name)), tag(tag) {}
  int tag;
};

CModelBasedMap<Tagged> Build(std::initializer_list<std::pair<const char*, int>> rows) {
  ModelBasedEntries<Tagged> entries;
  for (auto [name, tag] : rows) entries.push_back(std::make_unique<Tagged>(name, tag));
  return CModelBasedMap<Tagged>(std::move(entries), TestModels());
}

int TagOf(const CModelBasedMap<Tagged>& map, std::string_view model) {
  const Tagged* entry = map.Lookup(model);
  return entry ? entry->tag : -1;
}

TEST(ModelBasedMapTest, ModelEntryBeatsFamilyEntryInEitherOrder) {
  auto familyFirst = Build({{"Fam1", 1}, {"A1", 2}});
  EXPECT_EQ(TagOf(familyFirst, "A1"), 2);
  EXPECT_EQ(TagOf(familyFirst, "A2"), 1);
  EXPECT_EQ(TagOf(familyFirst, "A3"), 1);

  auto modelFirst = Build({{"A1", 2}, {"Fam1", 1}});
  EXPECT_EQ(TagOf(modelFirst, "A1"), 2);
  EXPECT_EQ(TagOf(modelFirst, "A2"), 1);
}

TEST(ModelBasedMapTest, FirstFamilyWinsForASharedModelAndLaterModelEntryReplaces) {
  auto map = Build({{"Fam2", 1}, {"Fam1", 2}, {"B1", 3}, {"B1", 4}});
  EXPECT_EQ(TagOf(map, "A2"), 1);  // in both families: the first listed keeps it
  EXPECT_EQ(TagOf(map, "A1"), 2);
  EXPECT_EQ(TagOf(map, "B1"), 4);
}

TEST(ModelBasedMapTest, DefaultEntryIsIndependentAndUnknownNamesAreDropped) {
  auto withDefault = Build({{"A1", 1}, {"", 9}, {"Fam9", 5}, {"a1", 6}});
  EXPECT_EQ(TagOf(withDefault, "A1"), 1);
  EXPECT_EQ(TagOf(withDefault, "B1"), 9);  // named by nothing: the default
  EXPECT_EQ(TagOf(withDefault, ""), 9);
  EXPECT_EQ(withDefault.Find("Fam9"), nullptr);
  EXPECT_EQ(withDefault.Find("a1"), nullptr);  // names are case-sensitive

  auto withoutDefault = Build({{"A1", 1}});
  EXPECT_EQ(withoutDefault.Lookup("B1"), nullptr);
  EXPECT_EQ(withoutDefault.Lookup(""), nullptr);
}

TEST(ModelSetTest, EachModelHasOneBitInRowOrderAndAFamilyIsItsModels) {
  using test::kTestModelRows;
  // A2 is listed twice and still has one bit; B1 comes after it.
  EXPECT_EQ(ModelBit(kTestModelRows, "A1"), 0b0001u);
  EXPECT_EQ(ModelBit(kTestModelRows, "A2"), 0b0010u);
  EXPECT_EQ(ModelBit(kTestModelRows, "A3"), 0b0100u);
  EXPECT_EQ(ModelBit(kTestModelRows, "B1"), 0b1000u);
  EXPECT_EQ(ModelBit(kTestModelRows, ""), 0u);
  EXPECT_EQ(ModelBit(kTestModelRows, "b1"), 0u);  // names are case-sensitive
  EXPECT_EQ(ModelBit(kTestModelRows, "Fam1"), 0u);
  // The table at run time gives the same bits the descriptors were built with.
  for (std::string_view model : {"A1", "A2", "A3", "B1", "", "Fam2"})
    EXPECT_EQ(test::TestModels().Bit(model), ModelBit(kTestModelRows, model)) << model;

  EXPECT_EQ(ModelsNamed(kTestModelRows, {"Fam2"}), 0b1010u);
  EXPECT_EQ(ModelsNamed(kTestModelRows, {"Fam1", "B1"}), 0b1111u);
  EXPECT_EQ(ModelsNamed(kTestModelRows, {}), 0u);
  EXPECT_THROW(ModelsNamed(kTestModelRows, {"Fam1", "Nowhere"}), std::invalid_argument);
  // Made where the driver makes them, a misspelt name is no set at all but a failed build.
  static_assert(ModelsNamed(kTestModelRows, {"A3", "Fam2"}) == 0b1110u);

  // A model outside the table has no bit, so it is in no set; only "every model" holds it.
  constexpr ModelSet fam2 = ModelsNamed(kTestModelRows, {"Fam2"});
  EXPECT_FALSE(ModelBit(kTestModelRows, "Z9") & fam2);
  EXPECT_TRUE((ModelSet{0} | ~ModelSet{0}) == kEveryModel);
}

TEST(ModelSetTest, RestrictedValuesOnlyOnTheirModels) {
  using test::kTestModelRows;
  constexpr EnumModels rows[] = {{7, ModelsNamed(kTestModelRows, {"Fam1"})},
                                 {8, ModelsNamed(kTestModelRows, {"B1"})},
                                 {9, 0}};
  auto on = [&](std::string_view model, int32_t value) {
    return IsValueSupported(rows, ModelBit(kTestModelRows, model), value);
  };
  EXPECT_TRUE(on("A3", 7));
  EXPECT_FALSE(on("B1", 7));
  EXPECT_TRUE(on("B1", 8));
  EXPECT_FALSE(on("A2", 8));
  EXPECT_FALSE(on("", 7));  // before a model is known a restricted value is on none
  // Unrestricted values pass on every model, even before a model is known.
  EXPECT_TRUE(on("B1", 1));
  EXPECT_TRUE(on("", 1));
  // A value restricted to no model is on none.
  EXPECT_FALSE(on("A1", 9));
}

TEST(SupportedModelTableTest, IndexesBothWays) {
  const auto& models = TestModels();
  EXPECT_TRUE(models.IsModelInFamily("A2", "Fam1"));
  EXPECT_TRUE(models.IsModelInFamily("A2", "Fam2"));
  EXPECT_FALSE(models.IsModelInFamily("A1", "Fam2"));
  EXPECT_FALSE(models.IsModelInFamily("A1", "Nowhere"));
  EXPECT_EQ(models.ModelsOf("Fam1").size(), 3u);
  EXPECT_EQ(models.FamiliesOf("A2").size(), 2u);
  EXPECT_FALSE(models.IsKnownModel("Fam1"));
  EXPECT_FALSE(models.IsKnownFamily("A1"));
}

}  // namespace
}  // namespace vmk
