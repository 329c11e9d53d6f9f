// The fourteen K40xx models: families, enumeration values, output counts, limits, and which
// interface members and enumeration values each model has.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "services/model_table.h"

namespace vmk {

inline constexpr std::string_view kFamilySingleOutput = "Single Output";
inline constexpr std::string_view kFamilyDualOutput = "Dual Output";
inline constexpr std::string_view kFamilyThreeOutputs = "3 Outputs";
inline constexpr std::string_view kDefaultModel = "K4102A";
inline constexpr std::string_view kTripleOutputModel = "K4301A";

struct ModelInfo {
  std::string_view model;
  std::string_view family;
  int32_t enumValue;  // VelmoraK40xxModelEnum
  int32_t outputs;
};

// In the order of the model enumeration.
std::span<const ModelInfo> AllModels();
// Null for a name that is not exactly one of the fourteen.
const ModelInfo* FindModel(std::string_view model);

// The number of instances of each repeated capability. An unknown model still gets one: the
// first output is always there.
int32_t OutputCount(std::string_view model);

struct ModelLimits {
  double LowRangeVoltageMax = 0.0;
  double HighRangeVoltageMax = 0.0;
  double LowRangeCurrentMax = 0.0;
  double HighRangeCurrentMax = 0.0;
  double OvpLimitMax = 0.0;
  double OcpLimitMax = 0.0;
  // The "VOLT:RANG?" reply that means the low range.
  std::string LowRangeName;
};

// The model's row; all zeros and an empty name for a model that is not in the table.
ModelLimits LookupModelLimits(std::string_view model);

// The models that have a member, keyed by interface and COM member name ("get_Channel",
// "RunStep"); null when the member is on every model.
const CSupportedModelValidator* FeatureValidator(std::string_view interfaceName,
                                                 std::string_view memberName);

struct FeatureRow {
  std::string_view interfaceName;
  std::string_view memberName;
  std::span<const std::string_view> models;  // models and families
};
std::span<const FeatureRow> FeatureRows();

// An enumeration parameter of a member whose values are not all available on every model.
struct EnumRestriction {
  std::string_view parameter;  // the name the invalid-value error gives ("val", "Behavior"...)
  const CEnumValueRestriction* values;
};
// Null when none of the member's parameters is restricted.
const EnumRestriction* FindEnumRestriction(std::string_view interfaceName,
                                           std::string_view memberName);

}  // namespace vmk
