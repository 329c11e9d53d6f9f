#include "services/model_table.h"

#include <gtest/gtest.h>

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

TEST(SupportedModelValidatorTest, FamiliesCoverTheirModelsOnlyAndNeverTheEmptyModel) {
  CSupportedModelValidator byFamily({"Fam2"}, TestModels());
  EXPECT_TRUE(byFamily.IsSupported("A2"));
  EXPECT_TRUE(byFamily.IsSupported("B1"));
  EXPECT_FALSE(byFamily.IsSupported("A1"));
  EXPECT_FALSE(byFamily.IsSupported(""));
  EXPECT_FALSE(byFamily.IsSupported("b1"));

  // A default entry is not "every model".
  CSupportedModelValidator withDefault({"", "A1"}, TestModels());
  EXPECT_TRUE(withDefault.IsSupported("A1"));
  EXPECT_FALSE(withDefault.IsSupported("A3"));
  EXPECT_FALSE(withDefault.IsSupported(""));
}

TEST(EnumValueRestrictionTest, RestrictedValuesOnlyOnListedModels) {
  constexpr CEnumSupportedModel rows[] = {{"Fam1", 7}, {"B1", 8}, {"Nowhere", 9}};
  CEnumValueRestriction restriction(rows, TestModels());

  EXPECT_TRUE(restriction.IsValueSupported("A3", 7));
  EXPECT_FALSE(restriction.IsValueSupported("B1", 7));
  EXPECT_TRUE(restriction.IsValueSupported("B1", 8));
  EXPECT_FALSE(restriction.IsValueSupported("A2", 8));
  EXPECT_FALSE(restriction.IsValueSupported("", 7));
  // Unrestricted values pass on every model, even before a model is known.
  EXPECT_TRUE(restriction.IsValueSupported("B1", 1));
  EXPECT_TRUE(restriction.IsValueSupported("", 1));
  // A row whose name is misspelt keeps its value restricted rather than opening it to all.
  EXPECT_FALSE(restriction.IsValueSupported("A1", 9));
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
