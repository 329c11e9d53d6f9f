// The fourteen K40xx models: families, enumeration values, output counts, limits, and the sets of
// models that member descriptors and enumeration values name.
#pragma once

#include <array>
#include <cstdint>
#include <initializer_list>
#include <span>
#include <string>
#include <string_view>

#include "services/model_table.h"
#include "vmk40xx/vmk40xx.h"

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
inline constexpr std::array<ModelInfo, 14> kModels{{
    {"K4301A", kFamilyThreeOutputs, VelmoraK40xxModelK4301A, 3},
    {"K4101A", kFamilySingleOutput, VelmoraK40xxModelK4101A, 1},
    {"K4102A", kFamilySingleOutput, VelmoraK40xxModelK4102A, 1},
    {"K4103A", kFamilySingleOutput, VelmoraK40xxModelK4103A, 1},
    {"K4104A", kFamilySingleOutput, VelmoraK40xxModelK4104A, 1},
    {"K4105A", kFamilySingleOutput, VelmoraK40xxModelK4105A, 1},
    {"K4106A", kFamilySingleOutput, VelmoraK40xxModelK4106A, 1},
    {"K4107A", kFamilySingleOutput, VelmoraK40xxModelK4107A, 1},
    {"K4108A", kFamilySingleOutput, VelmoraK40xxModelK4108A, 1},
    {"K4109A", kFamilySingleOutput, VelmoraK40xxModelK4109A, 1},
    {"K4201A", kFamilyDualOutput, VelmoraK40xxModelK4201A, 2},
    {"K4202A", kFamilyDualOutput, VelmoraK40xxModelK4202A, 2},
    {"K4203A", kFamilyDualOutput, VelmoraK40xxModelK4203A, 2},
    {"K4204A", kFamilyDualOutput, VelmoraK40xxModelK4204A, 2},
}};

// The same rows as the model table reads them; a set of models is a mask over them.
inline constexpr auto kModelRows = [] {
  std::array<ModelFamilyRow, kModels.size()> rows{};
  for (size_t i = 0; i < kModels.size(); ++i) rows[i] = {kModels[i].model, kModels[i].family};
  return rows;
}();
static_assert(kModelRows.size() <= kMaxModels);

// The models that `names` name (models or families); a name that is neither fails the build.
consteval ModelSet ModelsOf(std::initializer_list<std::string_view> names) {
  return ModelsNamed(kModelRows, names);
}

inline constexpr ModelSet kSingleOutput = ModelsOf({kFamilySingleOutput});
inline constexpr ModelSet kDualOutput = ModelsOf({kFamilyDualOutput});
inline constexpr ModelSet kThreeOutputs = ModelsOf({kFamilyThreeOutputs});
inline constexpr ModelSet kMultiOutput = kDualOutput | kThreeOutputs;
inline constexpr ModelSet kSingleOrDual = kSingleOutput | kDualOutput;
// Over-current protection, and the current limit that trips it.
inline constexpr ModelSet kOcpModels = ModelsOf({"K4101A", "K4102A", "K4103A"});
// Over-voltage protection: every model but K4301A.
inline constexpr ModelSet kOvpModels = kSingleOrDual;
inline constexpr ModelSet kMemoryModels =
    ModelsOf({kFamilyDualOutput, "K4104A", "K4105A", "K4106A", "K4107A", "K4108A", "K4109A"});

// The table of the fourteen models, built once.
const SupportedModelTable& Models();

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

// Enumeration values that only some models have; every value not listed is on every model.
inline constexpr EnumModels kOutputValues[] = {{VelmoraK40xxOutput2, kMultiOutput},
                                               {VelmoraK40xxOutput3, kThreeOutputs}};
inline constexpr EnumModels kCurrentLimitBehaviorValues[] = {
    {VelmoraK40xxCurrentLimitTrip, kOcpModels}};
inline constexpr EnumModels kCalibrationLevelValues[] = {
    {VelmoraK40xxCalibrationLevelMid, kSingleOrDual}};
inline constexpr EnumModels kStatusRegisterValues[] = {
    {VelmoraK40xxStatusRegisterInstrument, kMultiOutput},
    {VelmoraK40xxStatusRegisterInstrument1, kMultiOutput},
    {VelmoraK40xxStatusRegisterInstrument2, kMultiOutput},
    {VelmoraK40xxStatusRegisterInstrument3, kThreeOutputs}};
inline constexpr EnumModels kCouplingValues[] = {{VelmoraK40xxCouplingP6P25, kThreeOutputs},
                                                 {VelmoraK40xxCouplingP6N25, kThreeOutputs},
                                                 {VelmoraK40xxCouplingP25N25, kThreeOutputs}};

}  // namespace vmk
