// The instrument keywords of the driver's enumerations.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "services/keywords.h"

namespace vmk {

// The enumerations that have keyword tables.
enum class KeywordEnum : int32_t {
  Model,             // VelmoraK40xxModelEnum: model name strings
  Output,            // VelmoraK40xxOutputEnum: channel numbers for "INST:NSEL"
  RangeType,         // VelmoraK40xxRangeTypeEnum
  VoltageRange,      // VelmoraK40xxVoltageRangeEnum
  StepDirection,     // VelmoraK40xxStepDirectionEnum: the whole step command
  TriggerSource,     // VelmoraK40xxTriggerSourceEnum
  Coupling,          // VelmoraK40xxCouplingEnum
  DisplayMode,       // VelmoraK40xxDisplayModeEnum
  CalibrationLevel,  // VelmoraK40xxCalibrationLevelEnum
  MeasurementType,   // VelmoraK40xxMeasurementTypeEnum: the quantity of "MEAS:<q>?"
  StepQuantity,      // VelmoraK40xxStepEnum: the quantity whose step "<q>:STEP?" reads
};

const CEnumCommandTable& KeywordTable(KeywordEnum which);

// The keyword of one enumeration as a plain function, for member descriptors that hold a
// function pointer: &EnumKeyword<KeywordEnum::Coupling>.
template <KeywordEnum which>
std::string_view EnumKeyword(int32_t value, std::string_view model) {
  return KeywordTable(which).EnumToKeyword(model, value);
}

}  // namespace vmk
