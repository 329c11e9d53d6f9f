#include "dcpwr/models.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace vmk {
namespace {

// Written out model by model, independently of the table's family shorthand.
const std::vector<std::string> kSingle = {"K4101A", "K4102A", "K4103A", "K4104A", "K4105A",
                                          "K4106A", "K4107A", "K4108A", "K4109A"};
const std::vector<std::string> kDual = {"K4201A", "K4202A", "K4203A", "K4204A"};
const std::vector<std::string> kTriple = {"K4301A"};

// The models a set holds, by name, through the bits the session's model gets.
std::set<std::string> Named(ModelSet set) {
  std::set<std::string> names;
  for (const ModelInfo& info : AllModels())
    if (Models().Bit(info.model) & set) names.emplace(info.model);
  return names;
}

std::set<std::string> Set(std::initializer_list<std::vector<std::string>> parts) {
  std::set<std::string> all;
  for (const auto& part : parts) all.insert(part.begin(), part.end());
  return all;
}

TEST(ModelSetTest, TheSetsMembersNameHoldExactlyTheirModels) {
  EXPECT_EQ(Named(kSingleOutput), Set({kSingle}));
  EXPECT_EQ(Named(kDualOutput), Set({kDual}));
  EXPECT_EQ(Named(kThreeOutputs), Set({kTriple}));
  EXPECT_EQ(Named(kMultiOutput), Set({kDual, kTriple}));
  EXPECT_EQ(Named(kOvpModels), Set({kSingle, kDual}));
  EXPECT_EQ(Named(kOcpModels), Set({{"K4101A", "K4102A", "K4103A"}}));
  EXPECT_EQ(Named(kMemoryModels),
            Set({kDual, {"K4104A", "K4105A", "K4106A", "K4107A", "K4108A", "K4109A"}}));
  // Every model has its own bit; a name the table does not have has none.
  ModelSet all = 0;
  for (const ModelInfo& info : AllModels()) {
    const ModelSet bit = Models().Bit(info.model);
    EXPECT_EQ(bit & (bit - 1), 0u) << info.model;
    EXPECT_EQ(all & bit, 0u) << info.model;
    all |= bit;
  }
  EXPECT_EQ(Models().Bit("k4102a"), 0u);
  EXPECT_EQ(Models().Bit(""), 0u);
}

TEST(ModelLimitsTest, RowsThatAreEasyToGetWrong) {
  const ModelLimits k4102 = LookupModelLimits("K4102A");
  EXPECT_EQ(k4102.OvpLimitMax, 22.0);
  EXPECT_EQ(k4102.OcpLimitMax, 22.0);
  EXPECT_EQ(k4102.LowRangeCurrentMax, 20.64);
  EXPECT_EQ(k4102.LowRangeName, "P8V");

  const ModelLimits k4104 = LookupModelLimits("K4104A");
  EXPECT_EQ(k4104.OcpLimitMax, 0.0);
  EXPECT_EQ(k4104.HighRangeCurrentMax, 1.545);

  const ModelLimits k4301 = LookupModelLimits("K4301A");
  EXPECT_EQ(k4301.LowRangeVoltageMax, 6.18);
  EXPECT_EQ(k4301.HighRangeVoltageMax, 25.75);
  EXPECT_EQ(k4301.LowRangeCurrentMax, 5.15);
  EXPECT_EQ(k4301.HighRangeCurrentMax, 1.03);
  EXPECT_EQ(k4301.OvpLimitMax, 0.0);
  EXPECT_EQ(k4301.LowRangeName, "");

  const ModelLimits k4101 = LookupModelLimits("K4101A");
  EXPECT_EQ(k4101.LowRangeName, "P15V");
  EXPECT_EQ(k4101.OvpLimitMax, 32.0);
  EXPECT_EQ(k4101.OcpLimitMax, 7.5);
  EXPECT_EQ(LookupModelLimits("K4103A").OvpLimitMax, 55.0);
  EXPECT_EQ(LookupModelLimits("K4109A").HighRangeCurrentMax, 1.339);
}

TEST(ModelLimitsTest, UnknownOrMiscasedModelHasNoLimits) {
  for (std::string_view model : {"", "k4102a", "K4102", "K4102A "}) {
    const ModelLimits limits = LookupModelLimits(model);
    EXPECT_EQ(limits.LowRangeVoltageMax, 0.0) << model;
    EXPECT_EQ(limits.HighRangeVoltageMax, 0.0);
    EXPECT_EQ(limits.LowRangeCurrentMax, 0.0);
    EXPECT_EQ(limits.HighRangeCurrentMax, 0.0);
    EXPECT_EQ(limits.OvpLimitMax, 0.0);
    EXPECT_EQ(limits.OcpLimitMax, 0.0);
    EXPECT_EQ(limits.LowRangeName, "");
    EXPECT_EQ(FindModel(model), nullptr);
  }
}

TEST(ModelTableTest, FamiliesOutputsAndEnumerationValues) {
  ASSERT_EQ(AllModels().size(), 14u);
  std::set<int32_t> values;
  for (const ModelInfo& info : AllModels()) {
    values.insert(info.enumValue);
    EXPECT_TRUE(Models().IsModelInFamily(info.model, info.family)) << info.model;
    EXPECT_EQ(Models().FamiliesOf(info.model).size(), 1u) << info.model;
  }
  EXPECT_EQ(values, (std::set<int32_t>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14}));

  EXPECT_EQ(Models().ModelsOf(kFamilySingleOutput).size(), 9u);
  EXPECT_EQ(Models().ModelsOf(kFamilyDualOutput).size(), 4u);
  EXPECT_EQ(Models().ModelsOf(kFamilyThreeOutputs).size(), 1u);
  EXPECT_EQ(OutputCount("K4301A"), 3);
  EXPECT_EQ(OutputCount("K4203A"), 2);
  EXPECT_EQ(OutputCount("K4105A"), 1);
  EXPECT_EQ(OutputCount("K9999Z"), 1);
  EXPECT_EQ(FindModel("K4301A")->enumValue, 1);
  EXPECT_EQ(FindModel("K4204A")->enumValue, 14);
  EXPECT_TRUE(Models().IsKnownModel(kDefaultModel));
}

}  // namespace
}  // namespace vmk
