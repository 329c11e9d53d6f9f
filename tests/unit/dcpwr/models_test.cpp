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

std::vector<std::string> Join(std::initializer_list<std::vector<std::string>> parts) {
  std::vector<std::string> all;
  for (const auto& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

struct Expected {
  std::string interfaceName;
  std::vector<std::string> members;
  std::vector<std::string> models;
};

std::vector<Expected> ExpectedFeatures() {
  const auto singleDual = Join({kSingle, kDual});
  const auto multi = Join({kDual, kTriple});
  const std::vector<std::string> ocp = {"K4101A", "K4102A", "K4103A"};
  return {
      {"IVelmoraK40xxOutputs", {"get_Channel", "put_Channel"}, multi},
      {"IVelmoraK40xxOutputs", {"get_RelayEnabled", "put_RelayEnabled"}, singleDual},
      {"IVelmoraK40xxOutputs", {"get_TrackingEnabled", "put_TrackingEnabled"}, multi},
      {"IVelmoraK40xxOutput",
       {"get_VoltageRange", "put_VoltageRange", "get_Step", "put_Step", "RunStep"},
       singleDual},
      {"IVelmoraK40xxOutput", {"get_CurrentLimitBehavior", "put_CurrentLimitBehavior"}, ocp},
      {"IVelmoraK40xxProtection",
       {"get_OVPEnabled", "put_OVPEnabled", "get_OVPLimit", "put_OVPLimit", "get_OVPTripped",
        "ResetOVP", "ResetOutputProtection", "QueryOVPLimitMax", "ConfigureOVP"},
       singleDual},
      {"IVelmoraK40xxProtection",
       {"get_OCPEnabled", "put_OCPEnabled", "get_OCPLimit", "put_OCPLimit", "get_OCPTripped",
        "ResetOCP", "QueryOCPLimitMax", "ConfigureOCP"},
       ocp},
      {"IVelmoraK40xxTriggers", {"get_Coupling", "put_Coupling"}, multi},
      {"IVelmoraK40xxDisplay", {"get_Mode", "put_Mode"}, kDual},
      {"IVelmoraK40xxSystem",
       {"get_MemoryName", "put_MemoryName"},
       Join({kDual, {"K4104A", "K4105A", "K4106A", "K4107A", "K4108A", "K4109A"}})},
      {"IVelmoraK40xxCalibrations", {"DACError"}, ocp},
      {"IVelmoraK40xxCalibration", {"CurrentProtection"}, ocp},
      {"IVelmoraK40xxCalibration", {"VoltageProtection"}, singleDual},
  };
}

TEST(FeatureTableTest, EveryRestrictedMemberRefusesExactlyTheModelsOutsideItsList) {
  const auto all = Join({kSingle, kDual, kTriple});
  std::size_t checked = 0;
  for (const Expected& feature : ExpectedFeatures()) {
    const std::set<std::string> allowed(feature.models.begin(), feature.models.end());
    for (const std::string& member : feature.members) {
      const CSupportedModelValidator* validator = FeatureValidator(feature.interfaceName, member);
      ASSERT_NE(validator, nullptr) << feature.interfaceName << "." << member;
      for (const std::string& model : all)
        EXPECT_EQ(validator->IsSupported(model), allowed.count(model) == 1)
            << feature.interfaceName << "." << member << " on " << model;
      EXPECT_FALSE(validator->IsSupported(""));
      EXPECT_FALSE(validator->IsSupported("k4201a"));
      ++checked;
    }
  }
  // No row of the table escapes the expectations above.
  EXPECT_EQ(checked, FeatureRows().size());
}

TEST(FeatureTableTest, UnlistedMembersAndOtherInterfacesAreOnEveryModel) {
  EXPECT_EQ(FeatureValidator("IVelmoraK40xxOutput", "put_VoltageLevel"), nullptr);
  EXPECT_EQ(FeatureValidator("IVelmoraK40xxDisplay", "get_Text"), nullptr);
  // A member name is only restricted on the interface the row names.
  EXPECT_EQ(FeatureValidator("IVelmoraK40xxOutputs", "get_Mode"), nullptr);
  EXPECT_EQ(FeatureValidator("IVelmoraK40xxDisplay", "Mode"), nullptr);
}

TEST(EnumRestrictionTest, RestrictedValuesPerMember) {
  struct Case {
    const char* interfaceName;
    const char* member;
    const char* parameter;
    int32_t value;
    std::vector<std::string> models;
  };
  const std::vector<std::string> ocp = {"K4101A", "K4102A", "K4103A"};
  const std::vector<Case> cases = {
      {"IVelmoraK40xxOutputs", "put_Channel", "val", 2, Join({kDual, kTriple})},
      {"IVelmoraK40xxOutputs", "put_Channel", "val", 3, kTriple},
      {"IVelmoraK40xxOutput", "ConfigureCurrentLimit", "Behavior", 1, ocp},
      {"IVelmoraK40xxOutput", "put_CurrentLimitBehavior", "val", 1, ocp},
      {"IVelmoraK40xxCalibration", "CurrentLevel", "Level", 1, Join({kSingle, kDual})},
      {"IVelmoraK40xxCalibration", "VoltageLevel", "Level", 1, Join({kSingle, kDual})},
      {"IVelmoraK40xxStatus", "QueryRegister", "Register", 4, Join({kDual, kTriple})},
      {"IVelmoraK40xxStatus", "ConfigureRegister", "Register", 3, Join({kDual, kTriple})},
      {"IVelmoraK40xxStatus", "get_Register", "Register", 6, kTriple},
      {"IVelmoraK40xxStatus", "put_Register", "Register", 5, Join({kDual, kTriple})},
      {"IVelmoraK40xxTriggers", "put_Coupling", "val", 4, kTriple},
      {"IVelmoraK40xxTriggers", "put_Coupling", "val", 6, kTriple},
  };
  const auto all = Join({kSingle, kDual, kTriple});
  for (const Case& c : cases) {
    const EnumRestriction* restriction = FindEnumRestriction(c.interfaceName, c.member);
    ASSERT_NE(restriction, nullptr) << c.member;
    EXPECT_EQ(restriction->parameter, c.parameter);
    const std::set<std::string> allowed(c.models.begin(), c.models.end());
    for (const std::string& model : all) {
      EXPECT_EQ(restriction->values->IsValueSupported(model, c.value), allowed.count(model) == 1)
          << c.member << " value " << c.value << " on " << model;
      // The values around the restricted ones stay open everywhere.
      EXPECT_TRUE(restriction->values->IsValueSupported(model, 0)) << c.member;
    }
  }
  EXPECT_EQ(FindEnumRestriction("IVelmoraK40xxOutput", "put_VoltageRange"), nullptr);
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
