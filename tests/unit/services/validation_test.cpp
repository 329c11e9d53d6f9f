#include "services/validation.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "tests/unit/services/test_models.h"

namespace vmk {
namespace {

TEST(MinMaxPolicyTest, BoundsAreInclusiveAndExact) {
  ModelBasedEntries<CParameterValidationPolicy> entries;
  entries.push_back(std::make_unique<CMinMaxParameterValidationPolicy>("", 0.0, 3600.0));
  const ValidationPolicies policies(std::move(entries), test::TestModels());
  for (std::string_view model : {"A1", "B1", ""}) {
    EXPECT_TRUE(CheckValue(policies, model, 0.0));
    EXPECT_TRUE(CheckValue(policies, model, 3600.0));
    EXPECT_FALSE(CheckValue(policies, model, 3600.000001));
    EXPECT_FALSE(CheckValue(policies, model, -0.0000001));
  }
  EXPECT_FALSE(CheckValue(policies, "A1", std::numeric_limits<double>::quiet_NaN()));
  EXPECT_FALSE(CheckValue(policies, "A1", std::numeric_limits<double>::infinity()));
}

TEST(ValidationPolicyTest, ModelPolicyBeforeDefaultAndNoPolicyAccepts) {
  ModelBasedEntries<CParameterValidationPolicy> entries;
  entries.push_back(std::make_unique<CMinMaxParameterValidationPolicy>("", 0.0, 10.0));
  entries.push_back(std::make_unique<CMinMaxParameterValidationPolicy>("B1", 0.0, 1.0));
  ValidationPolicies withDefault(std::move(entries), test::TestModels());
  EXPECT_TRUE(CheckValue(withDefault, "A1", 5.0));
  EXPECT_FALSE(CheckValue(withDefault, "B1", 5.0));

  ModelBasedEntries<CParameterValidationPolicy> onlyB1;
  onlyB1.push_back(std::make_unique<CMinMaxParameterValidationPolicy>("B1", 0.0, 1.0));
  ValidationPolicies withoutDefault(std::move(onlyB1), test::TestModels());
  EXPECT_TRUE(CheckValue(withoutDefault, "A1", 5000.0));
}

TEST(CoercionLogTest, OldestFirstAndTheOldestDroppedWhenFull) {
  CCoercionLog log;
  EXPECT_EQ(log.NextCoercionRecord(), "");
  for (int i = 1; i <= 1001; ++i) log.AddCoercionRecord("record " + std::to_string(i));
  EXPECT_EQ(log.Size(), CCoercionLog::kCapacity);
  EXPECT_EQ(log.NextCoercionRecord(), "record 2");
  EXPECT_EQ(log.NextCoercionRecord(), "record 3");
  EXPECT_EQ(log.Size(), 998u);
}

}  // namespace
}  // namespace vmk
