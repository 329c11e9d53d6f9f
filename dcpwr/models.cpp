#include "dcpwr/models.h"

#include <algorithm>
#include <array>

namespace vmk {

namespace {

struct LimitsRow {
  std::string_view model;
  std::string_view lowRangeName;
  double lowVoltage, highVoltage, lowCurrent, highCurrent, ovpMax, ocpMax;
};

// On K4301A the "low" columns describe output 1 (P6V) and the "high" ones outputs 2 and 3.
constexpr std::array<LimitsRow, 14> kLimits{{
    {"K4301A", "", 6.18, 25.75, 5.15, 1.03, 0, 0},
    {"K4101A", "P15V", 15.45, 30.9, 7.21, 4.12, 32.0, 7.5},
    {"K4102A", "P8V", 8.24, 20.6, 20.64, 10.3, 22.0, 22.0},
    {"K4103A", "P25V", 25.75, 51.5, 7.21, 4.12, 55.0, 7.5},
    {"K4104A", "P8V", 8.24, 20.6, 3.09, 1.545, 22.0, 0},
    {"K4105A", "P35V", 36.05, 61.8, 0.824, 0.515, 66.0, 0},
    {"K4106A", "P8V", 8.24, 20.6, 5.15, 2.575, 22.0, 0},
    {"K4107A", "P35V", 36.05, 61.8, 1.442, 0.824, 66.0, 0},
    {"K4108A", "P8V", 8.24, 20.6, 8.24, 4.12, 22.0, 0},
    {"K4109A", "P35V", 36.05, 61.8, 2.266, 1.339, 66.0, 0},
    {"K4201A", "P8V", 8.24, 20.6, 3.09, 1.545, 22.0, 0},
    {"K4202A", "P35V", 36.05, 61.8, 0.824, 0.515, 66.0, 0},
    {"K4203A", "P8V", 8.24, 20.6, 5.15, 2.575, 22.0, 0},
    {"K4204A", "P35V", 36.05, 61.8, 1.442, 0.824, 66.0, 0},
}};

}  // namespace

const SupportedModelTable& Models() {
  static const SupportedModelTable table(kModelRows);
  return table;
}

std::span<const ModelInfo> AllModels() {
  return kModels;
}

const ModelInfo* FindModel(std::string_view model) {
  auto it = std::find_if(kModels.begin(), kModels.end(),
                         [&](const ModelInfo& m) { return m.model == model; });
  return it == kModels.end() ? nullptr : &*it;
}

int32_t OutputCount(std::string_view model) {
  const ModelInfo* info = FindModel(model);
  return info ? info->outputs : 1;
}

ModelLimits LookupModelLimits(std::string_view model) {
  ModelLimits limits;
  for (const LimitsRow& row : kLimits) {
    if (row.model != model) continue;
    limits.LowRangeVoltageMax = row.lowVoltage;
    limits.HighRangeVoltageMax = row.highVoltage;
    limits.LowRangeCurrentMax = row.lowCurrent;
    limits.HighRangeCurrentMax = row.highCurrent;
    limits.OvpLimitMax = row.ovpMax;
    limits.OcpLimitMax = row.ocpMax;
    limits.LowRangeName = row.lowRangeName;
    break;
  }
  return limits;
}

}  // namespace vmk
