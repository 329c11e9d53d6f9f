#include "dcpwr/models.h"

#include <algorithm>
#include <array>
#include <memory>
#include <vector>

#include "vmk40xx/vmk40xx.h"

namespace vmk {

namespace {

constexpr std::array<ModelInfo, 14> kModels{{
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

constexpr std::string_view kMultiOutput[] = {kFamilyDualOutput, kFamilyThreeOutputs};
constexpr std::string_view kSingleOrDual[] = {kFamilySingleOutput, kFamilyDualOutput};
constexpr std::string_view kOcpModels[] = {"K4101A", "K4102A", "K4103A"};
constexpr std::string_view kDualModels[] = {"K4201A", "K4202A", "K4203A", "K4204A"};
constexpr std::string_view kMemoryModels[] = {kFamilyDualOutput, "K4104A", "K4105A", "K4106A",
                                              "K4107A",          "K4108A", "K4109A"};

constexpr std::string_view kOutputs = "IVelmoraK40xxOutputs";
constexpr std::string_view kOutput = "IVelmoraK40xxOutput";
constexpr std::string_view kProtection = "IVelmoraK40xxProtection";
constexpr std::string_view kTriggers = "IVelmoraK40xxTriggers";
constexpr std::string_view kDisplay = "IVelmoraK40xxDisplay";
constexpr std::string_view kSystem = "IVelmoraK40xxSystem";
constexpr std::string_view kCalibrations = "IVelmoraK40xxCalibrations";
constexpr std::string_view kCalibration = "IVelmoraK40xxCalibration";
constexpr std::string_view kStatus = "IVelmoraK40xxStatus";

// Members not listed are on every model. OVP is on every model but K4301A; so is the voltage
// protection calibration.
const FeatureRow kFeatures[] = {
    {kOutputs, "get_Channel", kMultiOutput},
    {kOutputs, "put_Channel", kMultiOutput},
    {kOutputs, "get_RelayEnabled", kSingleOrDual},
    {kOutputs, "put_RelayEnabled", kSingleOrDual},
    {kOutputs, "get_TrackingEnabled", kMultiOutput},
    {kOutputs, "put_TrackingEnabled", kMultiOutput},
    {kOutput, "get_VoltageRange", kSingleOrDual},
    {kOutput, "put_VoltageRange", kSingleOrDual},
    {kOutput, "get_Step", kSingleOrDual},
    {kOutput, "put_Step", kSingleOrDual},
    {kOutput, "RunStep", kSingleOrDual},
    {kOutput, "get_CurrentLimitBehavior", kOcpModels},
    {kOutput, "put_CurrentLimitBehavior", kOcpModels},
    {kProtection, "get_OVPEnabled", kSingleOrDual},
    {kProtection, "put_OVPEnabled", kSingleOrDual},
    {kProtection, "get_OVPLimit", kSingleOrDual},
    {kProtection, "put_OVPLimit", kSingleOrDual},
    {kProtection, "get_OVPTripped", kSingleOrDual},
    {kProtection, "ResetOVP", kSingleOrDual},
    {kProtection, "ResetOutputProtection", kSingleOrDual},
    {kProtection, "QueryOVPLimitMax", kSingleOrDual},
    {kProtection, "ConfigureOVP", kSingleOrDual},
    {kProtection, "get_OCPEnabled", kOcpModels},
    {kProtection, "put_OCPEnabled", kOcpModels},
    {kProtection, "get_OCPLimit", kOcpModels},
    {kProtection, "put_OCPLimit", kOcpModels},
    {kProtection, "get_OCPTripped", kOcpModels},
    {kProtection, "ResetOCP", kOcpModels},
    {kProtection, "QueryOCPLimitMax", kOcpModels},
    {kProtection, "ConfigureOCP", kOcpModels},
    {kTriggers, "get_Coupling", kMultiOutput},
    {kTriggers, "put_Coupling", kMultiOutput},
    {kDisplay, "get_Mode", kDualModels},
    {kDisplay, "put_Mode", kDualModels},
    {kSystem, "get_MemoryName", kMemoryModels},
    {kSystem, "put_MemoryName", kMemoryModels},
    {kCalibrations, "DACError", kOcpModels},
    {kCalibration, "CurrentProtection", kOcpModels},
    {kCalibration, "VoltageProtection", kSingleOrDual},
};

// Restricted values per enumeration; every other value of the enumeration is on every model.
constexpr CEnumSupportedModel kOutputValues[] = {{kFamilyThreeOutputs, VelmoraK40xxOutput2},
                                                 {kFamilyDualOutput, VelmoraK40xxOutput2},
                                                 {kFamilyThreeOutputs, VelmoraK40xxOutput3}};
constexpr CEnumSupportedModel kCurrentLimitBehaviorValues[] = {
    {"K4101A", VelmoraK40xxCurrentLimitTrip},
    {"K4102A", VelmoraK40xxCurrentLimitTrip},
    {"K4103A", VelmoraK40xxCurrentLimitTrip}};
constexpr CEnumSupportedModel kCalibrationLevelValues[] = {
    {kFamilySingleOutput, VelmoraK40xxCalibrationLevelMid},
    {kFamilyDualOutput, VelmoraK40xxCalibrationLevelMid}};
constexpr CEnumSupportedModel kStatusRegisterValues[] = {
    {kFamilyDualOutput, VelmoraK40xxStatusRegisterInstrument},
    {kFamilyThreeOutputs, VelmoraK40xxStatusRegisterInstrument},
    {kFamilyDualOutput, VelmoraK40xxStatusRegisterInstrument1},
    {kFamilyThreeOutputs, VelmoraK40xxStatusRegisterInstrument1},
    {kFamilyDualOutput, VelmoraK40xxStatusRegisterInstrument2},
    {kFamilyThreeOutputs, VelmoraK40xxStatusRegisterInstrument2},
    {kFamilyThreeOutputs, VelmoraK40xxStatusRegisterInstrument3}};
constexpr CEnumSupportedModel kCouplingValues[] = {
    {kFamilyThreeOutputs, VelmoraK40xxCouplingP6P25},
    {kFamilyThreeOutputs, VelmoraK40xxCouplingP6N25},
    {kFamilyThreeOutputs, VelmoraK40xxCouplingP25N25}};

struct RestrictionRow {
  std::string_view interfaceName;
  std::string_view memberName;
  std::string_view parameter;
  std::span<const CEnumSupportedModel> values;
};

const RestrictionRow kRestrictions[] = {
    {kOutputs, "put_Channel", "val", kOutputValues},
    {kOutput, "ConfigureCurrentLimit", "Behavior", kCurrentLimitBehaviorValues},
    {kOutput, "put_CurrentLimitBehavior", "val", kCurrentLimitBehaviorValues},
    {kCalibration, "CurrentLevel", "Level", kCalibrationLevelValues},
    {kCalibration, "VoltageLevel", "Level", kCalibrationLevelValues},
    {kStatus, "QueryRegister", "Register", kStatusRegisterValues},
    {kStatus, "ConfigureRegister", "Register", kStatusRegisterValues},
    {kStatus, "get_Register", "Register", kStatusRegisterValues},
    {kStatus, "put_Register", "Register", kStatusRegisterValues},
    {kTriggers, "put_Coupling", "val", kCouplingValues},
};

std::string MemberKey(std::string_view interfaceName, std::string_view memberName) {
  std::string key;
  key.reserve(interfaceName.size() + 1 + memberName.size());
  key.append(interfaceName).append(1, '.').append(memberName);
  return key;
}

}  // namespace

const SupportedModelTable& Models() {
  static const SupportedModelTable table = [] {
    std::array<ModelFamilyRow, kModels.size()> rows{};
    std::transform(kModels.begin(), kModels.end(), rows.begin(), [](const ModelInfo& m) {
      return ModelFamilyRow{m.model, m.family};
    });
    return SupportedModelTable(rows);
  }();
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

std::span<const FeatureRow> FeatureRows() {
  return kFeatures;
}

const CSupportedModelValidator* FeatureValidator(std::string_view interfaceName,
                                                 std::string_view memberName) {
  static const auto validators = [] {
    StringMap<std::unique_ptr<CSupportedModelValidator>> map;
    for (const FeatureRow& row : kFeatures)
      map.emplace(MemberKey(row.interfaceName, row.memberName),
                  std::make_unique<CSupportedModelValidator>(row.models));
    return map;
  }();
  auto it = validators.find(MemberKey(interfaceName, memberName));
  return it == validators.end() ? nullptr : it->second.get();
}

const EnumRestriction* FindEnumRestriction(std::string_view interfaceName,
                                           std::string_view memberName) {
  struct Built {
    // One table per value list, shared by the members that check the same enumeration.
    std::vector<std::unique_ptr<CEnumValueRestriction>> tables;
    StringMap<EnumRestriction> byMember;
  };
  static const Built built = [] {
    Built b;
    std::vector<const CEnumSupportedModel*> sources;
    for (const RestrictionRow& row : kRestrictions) {
      auto found = std::find(sources.begin(), sources.end(), row.values.data());
      const CEnumValueRestriction* table;
      if (found == sources.end()) {
        sources.push_back(row.values.data());
        b.tables.push_back(std::make_unique<CEnumValueRestriction>(row.values));
        table = b.tables.back().get();
      } else {
        table = b.tables[static_cast<std::size_t>(found - sources.begin())].get();
      }
      b.byMember.emplace(MemberKey(row.interfaceName, row.memberName),
                         EnumRestriction{row.parameter, table});
    }
    return b;
  }();
  auto it = built.byMember.find(MemberKey(interfaceName, memberName));
  return it == built.byMember.end() ? nullptr : &it->second;
}

}  // namespace vmk
