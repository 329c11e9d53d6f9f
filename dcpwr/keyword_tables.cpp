#include "dcpwr/keyword_tables.h"

#include <array>
#include <memory>
#include <span>

#include "dcpwr/models.h"
#include "vmk40xx/vmk40xx.h"

namespace vmk {

namespace {

// The empty keyword for 0 and 99 lets a session whose model is unknown (or not yet settled)
// read back as "no supported model": 99 is listed last, so the empty string maps to it.
constexpr CEnumCommand kModel[] = {
    {"", VelmoraK40xxNotAssigned, ""},       {"", VelmoraK40xxModelK4301A, "K4301A"},
    {"", VelmoraK40xxModelK4101A, "K4101A"}, {"", VelmoraK40xxModelK4102A, "K4102A"},
    {"", VelmoraK40xxModelK4103A, "K4103A"}, {"", VelmoraK40xxModelK4104A, "K4104A"},
    {"", VelmoraK40xxModelK4105A, "K4105A"}, {"", VelmoraK40xxModelK4106A, "K4106A"},
    {"", VelmoraK40xxModelK4107A, "K4107A"}, {"", VelmoraK40xxModelK4108A, "K4108A"},
    {"", VelmoraK40xxModelK4109A, "K4109A"}, {"", VelmoraK40xxModelK4201A, "K4201A"},
    {"", VelmoraK40xxModelK4202A, "K4202A"}, {"", VelmoraK40xxModelK4203A, "K4203A"},
    {"", VelmoraK40xxModelK4204A, "K4204A"}, {"", VelmoraK40xxModelNoneSupport, ""},
};

constexpr CEnumCommand kOutput[] = {
    {"", VelmoraK40xxOutput1, "1"}, {"", VelmoraK40xxOutput2, "2"}, {"", VelmoraK40xxOutput3, "3"}};

constexpr CEnumCommand kRangeType[] = {{"", VelmoraK40xxRangeCurrent, "CURR"},
                                       {"", VelmoraK40xxRangeVoltage, "VOLT"}};

constexpr CEnumCommand kVoltageRange[] = {{"", VelmoraK40xxVoltageRangeLow, "LOW"},
                                          {"", VelmoraK40xxVoltageRangeHigh, "HIGH"}};

// A direction without a row has no command: RunStep then sends nothing after the selection.
constexpr CEnumCommand kStepDirection[] = {
    {"", VelmoraK40xxVoltageStepDirectionUp, "VOLT UP"},
    {"", VelmoraK40xxVoltageStepDirectionDown, "VOLT DOWN"},
    {"", VelmoraK40xxCurrentStepDirectionUp, "CURR UP"},
    {"", VelmoraK40xxCurrentStepDirectionDown, "CURR DOWN"},
};

constexpr CEnumCommand kTriggerSource[] = {{"", VelmoraK40xxTriggerSourceImmediate, "IMM"},
                                           {"", VelmoraK40xxTriggerSourceSwTrigFunc, "BUS"}};

// The output pairs are K4301A's output names exactly as the instrument spells them. The fixed
// texts the dual models and K4301A send for On, Off, All and None are the Coupling member's.
constexpr CEnumCommand kCoupling[] = {
    {"", VelmoraK40xxCouplingOn, "ON"},
    {"", VelmoraK40xxCouplingOff, "OFF"},
    {"", VelmoraK40xxCouplingAll, "ALL"},
    {"", VelmoraK40xxCouplingNone, "NONE"},
    {"", VelmoraK40xxCouplingP6P25, "P6V, P25V"},
    {"", VelmoraK40xxCouplingP6N25, "P6V, N25V"},
    {"", VelmoraK40xxCouplingP25N25, "P25V, N25V"},
};

constexpr CEnumCommand kDisplayMode[] = {{"", VelmoraK40xxDisplayModeVoltCurrent, "VI"},
                                         {"", VelmoraK40xxDisplayModeVoltVolt, "VV"},
                                         {"", VelmoraK40xxDisplayModeCurrentCurrent, "II"}};

constexpr CEnumCommand kCalibrationLevel[] = {{"", VelmoraK40xxCalibrationLevelMin, "MIN"},
                                              {"", VelmoraK40xxCalibrationLevelMid, "MID"},
                                              {"", VelmoraK40xxCalibrationLevelMax, "MAX"}};

constexpr CEnumCommand kMeasurementType[] = {{"", VelmoraK40xxMeasurementCurrent, "CURR"},
                                             {"", VelmoraK40xxMeasurementVoltage, "VOLT"}};

// The default steps are read with the same query as the set ones.
constexpr CEnumCommand kStepQuantity[] = {{"", VelmoraK40xxVoltageStep, "VOLT"},
                                          {"", VelmoraK40xxDefaultVoltageStep, "VOLT"},
                                          {"", VelmoraK40xxCurrentStep, "CURR"},
                                          {"", VelmoraK40xxDefaultCurrentStep, "CURR"}};

constexpr std::array<std::span<const CEnumCommand>, 11> kRows{
    kModel,         kOutput,   kRangeType,   kVoltageRange,     kStepDirection,   kTriggerSource,
    kCoupling,      kDisplayMode, kCalibrationLevel, kMeasurementType, kStepQuantity,
};

}  // namespace

const CEnumCommandTable& KeywordTable(KeywordEnum which) {
  static const auto tables = [] {
    std::array<std::unique_ptr<CEnumCommandTable>, kRows.size()> built;
    for (std::size_t i = 0; i < kRows.size(); ++i)
      built[i] = std::make_unique<CEnumCommandTable>(kRows[i], Models());
    return built;
  }();
  const auto index = static_cast<std::size_t>(which);
  // An enumerator without rows would be a driver bug; answer with an empty table, not a crash.
  static const CEnumCommandTable kEmpty{std::span<const CEnumCommand>{}, Models()};
  return index < tables.size() ? *tables[index] : kEmpty;
}

}  // namespace vmk
