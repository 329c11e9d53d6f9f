// What every simulated property reads before it is written: one value for all models.
#include "services/simulation.h"
#include "vmk40xx/vmk40xx.h"

namespace vmk {

namespace {

constexpr VARIANT_BOOL kTrue = VARIANT_TRUE;
constexpr VARIANT_BOOL kFalse = VARIANT_FALSE;

const SimulationRow kRows[] = {
    {"IVelmoraK40xxOutputs.Channel", int32_t{VelmoraK40xxOutput1}},
    {"IVelmoraK40xxOutputs.Enabled", kFalse},
    {"IVelmoraK40xxOutputs.RelayEnabled", kFalse},
    {"IVelmoraK40xxOutputs.TrackingEnabled", kFalse},

    {"IVelmoraK40xxOutput.VoltageLevel", 0.0},
    {"IVelmoraK40xxOutput.CurrentLimit", 20.0},
    {"IVelmoraK40xxOutput.CurrentLimitBehavior", int32_t{VelmoraK40xxCurrentLimitTrip}},
    {"IVelmoraK40xxOutput.Step", 0.001},  // all four step types
    {"IVelmoraK40xxOutput.VoltageRange", int32_t{VelmoraK40xxVoltageRangeLow}},

    {"IVelmoraK40xxProtection.OVPEnabled", kTrue},
    {"IVelmoraK40xxProtection.OVPLimit", 66.0},
    {"IVelmoraK40xxProtection.OVPTripped", kFalse},
    {"IVelmoraK40xxProtection.OCPEnabled", kTrue},
    {"IVelmoraK40xxProtection.OCPLimit", 22.0},
    {"IVelmoraK40xxProtection.OCPTripped", kFalse},

    {"IVelmoraK40xxTrigger.CurrentLimit", 20.0},
    {"IVelmoraK40xxTrigger.Delay", 0.0},
    {"IVelmoraK40xxTrigger.Source", int32_t{VelmoraK40xxTriggerSourceImmediate}},
    {"IVelmoraK40xxTrigger.VoltageLevel", 0.0},
    {"IVelmoraK40xxTriggers.Coupling", int32_t{VelmoraK40xxCouplingOn}},

    // A simulated status register always reads clear; nothing a caller writes changes that.
    {"IVelmoraK40xxStatus.Register", int32_t{0}, true},
    {"IVelmoraK40xxStatus.SerialPoll", int32_t{0}},

    {"IVelmoraK40xxSystem.MemoryName", std::string_view("1")},  // all five memories
    {"IVelmoraK40xxSystem.TimeoutMilliseconds", int32_t{2000}},
    {"IVelmoraK40xxSystem.TraceEnabled", kFalse},

    {"IVelmoraK40xxDisplay.Enabled", kTrue},
    {"IVelmoraK40xxDisplay.Mode", int32_t{VelmoraK40xxDisplayModeVoltCurrent}},
    {"IVelmoraK40xxDisplay.Text", std::string_view("")},

    {"IVelmoraK40xxCalibrations.Enabled", kTrue},
    {"IVelmoraK40xxCalibrations.Password", std::string_view("")},
    {"IVelmoraK40xxCalibrations.String", std::string_view("FACTORY CAL 09/Aug/2002")},
    {"IVelmoraK40xxCalibrations.Times", int32_t{1}},
};

}  // namespace

const CSimulationRegistry& SimulationTables() {
  static const CSimulationRegistry registry{kRows};
  return registry;
}

}  // namespace vmk
