// Which model has which member, written out model by model: every accessor of every member below
// works on the models marked "x" and is refused, by its own name and before anything is sent, on
// the models marked ".". The matrix is the instrument's documentation, not the driver's table.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "tests/support/client.h"
#include "tests/support/script.h"
#include "vmk40xx/server.h"
#include "vmk40xx/vmk40xx.h"

namespace vmk {
namespace {

using com::ComPtr;
using test::TakeError;

// The columns of the matrix.
const char* const kModelColumns[] = {"K4301A", "K4101A", "K4102A", "K4103A", "K4104A",
                                     "K4105A", "K4106A", "K4107A", "K4108A", "K4109A",
                                     "K4201A", "K4202A", "K4203A", "K4204A"};

// The driver's interfaces of one session, reached as a client reaches them.
struct Session {
  ComPtr<IVelmoraK40xx> root;
  ComPtr<IVelmoraK40xxOutputs> outputs;
  ComPtr<IVelmoraK40xxOutput> output;
  ComPtr<IVelmoraK40xxProtection> protection;
  ComPtr<IVelmoraK40xxTriggers> triggers;
  ComPtr<IVelmoraK40xxTrigger> trigger;
  ComPtr<IVelmoraK40xxDisplay> display;
  ComPtr<IVelmoraK40xxSystem> system;
  ComPtr<IVelmoraK40xxCalibrations> calibrations;
  ComPtr<IVelmoraK40xxCalibration> calibration;
};

// One accessor or method, called with arguments every model that has it accepts.
struct Call {
  const char* name;
  std::function<HRESULT(Session&)> run;
};

struct Row {
  const char* member;
  const char* models;  // one mark per column of kModelColumns
  std::vector<Call> calls;
};

VARIANT_BOOL b;
double d;
LONG l;

const std::vector<Row>& Matrix() {
  static const std::vector<Row> rows = {
      //                                     4444444444 4444
      //                                     3111111111 2222
      //                                     0000000000 0000
      //                                     1123456789 1234
      {"IVelmoraK40xxOutputs.Channel", "x.........xxxx",
       {{"get_Channel", [](Session& s) {
          VelmoraK40xxOutputEnum v;
          return s.outputs->get_Channel(&v);
        }},
        {"put_Channel", [](Session& s) { return s.outputs->put_Channel(VelmoraK40xxOutput1); }}}},
      {"IVelmoraK40xxOutputs.Enabled", "xxxxxxxxxxxxxx",
       {{"get_Enabled", [](Session& s) { return s.outputs->get_Enabled(&b); }},
        {"put_Enabled", [](Session& s) { return s.outputs->put_Enabled(VARIANT_TRUE); }}}},
      {"IVelmoraK40xxOutputs.RelayEnabled", ".xxxxxxxxxxxxx",
       {{"get_RelayEnabled", [](Session& s) { return s.outputs->get_RelayEnabled(&b); }},
        {"put_RelayEnabled",
         [](Session& s) { return s.outputs->put_RelayEnabled(VARIANT_TRUE); }}}},
      {"IVelmoraK40xxOutputs.TrackingEnabled", "x.........xxxx",
       {{"get_TrackingEnabled", [](Session& s) { return s.outputs->get_TrackingEnabled(&b); }},
        {"put_TrackingEnabled",
         [](Session& s) { return s.outputs->put_TrackingEnabled(VARIANT_TRUE); }}}},
      {"IVelmoraK40xxOutput.VoltageLevel", "xxxxxxxxxxxxxx",
       {{"get_VoltageLevel", [](Session& s) { return s.output->get_VoltageLevel(&d); }},
        {"put_VoltageLevel", [](Session& s) { return s.output->put_VoltageLevel(1.0); }}}},
      {"IVelmoraK40xxOutput.Measure", "xxxxxxxxxxxxxx",
       {{"Measure",
         [](Session& s) { return s.output->Measure(VelmoraK40xxMeasurementVoltage, &d); }}}},
      {"IVelmoraK40xxOutput.VoltageRange", ".xxxxxxxxxxxxx",
       {{"get_VoltageRange", [](Session& s) {
          VelmoraK40xxVoltageRangeEnum v;
          return s.output->get_VoltageRange(&v);
        }},
        {"put_VoltageRange",
         [](Session& s) { return s.output->put_VoltageRange(VelmoraK40xxVoltageRangeHigh); }}}},
      {"IVelmoraK40xxOutput.Step", ".xxxxxxxxxxxxx",
       {{"get_Step", [](Session& s) { return s.output->get_Step(VelmoraK40xxVoltageStep, &d); }},
        {"put_Step", [](Session& s) { return s.output->put_Step(VelmoraK40xxVoltageStep, 0.1); }}}},
      {"IVelmoraK40xxOutput.RunStep", ".xxxxxxxxxxxxx",
       {{"RunStep",
         [](Session& s) { return s.output->RunStep(VelmoraK40xxVoltageStepDirectionUp); }}}},
      {"IVelmoraK40xxOutput.CurrentLimitBehavior", ".xxx..........",
       {{"get_CurrentLimitBehavior", [](Session& s) {
          VelmoraK40xxCurrentLimitBehaviorEnum v;
          return s.output->get_CurrentLimitBehavior(&v);
        }},
        {"put_CurrentLimitBehavior", [](Session& s) {
          return s.output->put_CurrentLimitBehavior(VelmoraK40xxCurrentLimitRegulate);
        }}}},
      {"IVelmoraK40xxProtection.OVPEnabled", ".xxxxxxxxxxxxx",
       {{"get_OVPEnabled", [](Session& s) { return s.protection->get_OVPEnabled(&b); }},
        {"put_OVPEnabled", [](Session& s) { return s.protection->put_OVPEnabled(VARIANT_TRUE); }}}},
      {"IVelmoraK40xxProtection.OVPLimit", ".xxxxxxxxxxxxx",
       {{"get_OVPLimit", [](Session& s) { return s.protection->get_OVPLimit(&d); }},
        {"put_OVPLimit", [](Session& s) { return s.protection->put_OVPLimit(1.0); }}}},
      {"IVelmoraK40xxProtection.OVPTripped", ".xxxxxxxxxxxxx",
       {{"get_OVPTripped", [](Session& s) { return s.protection->get_OVPTripped(&b); }}}},
      {"IVelmoraK40xxProtection.ResetOVP", ".xxxxxxxxxxxxx",
       {{"ResetOVP", [](Session& s) { return s.protection->ResetOVP(); }}}},
      {"IVelmoraK40xxProtection.ResetOutputProtection", ".xxxxxxxxxxxxx",
       {{"ResetOutputProtection", [](Session& s) { return s.protection->ResetOutputProtection(); }}}},
      {"IVelmoraK40xxProtection.QueryOVPLimitMax", ".xxxxxxxxxxxxx",
       {{"QueryOVPLimitMax", [](Session& s) { return s.protection->QueryOVPLimitMax(&d); }}}},
      {"IVelmoraK40xxProtection.ConfigureOVP", ".xxxxxxxxxxxxx",
       {{"ConfigureOVP", [](Session& s) { return s.protection->ConfigureOVP(VARIANT_TRUE, 1.0); }}}},
      {"IVelmoraK40xxProtection.OCPEnabled", ".xxx..........",
       {{"get_OCPEnabled", [](Session& s) { return s.protection->get_OCPEnabled(&b); }},
        {"put_OCPEnabled", [](Session& s) { return s.protection->put_OCPEnabled(VARIANT_TRUE); }}}},
      {"IVelmoraK40xxProtection.OCPLimit", ".xxx..........",
       {{"get_OCPLimit", [](Session& s) { return s.protection->get_OCPLimit(&d); }},
        {"put_OCPLimit", [](Session& s) { return s.protection->put_OCPLimit(1.0); }}}},
      {"IVelmoraK40xxProtection.OCPTripped", ".xxx..........",
       {{"get_OCPTripped", [](Session& s) { return s.protection->get_OCPTripped(&b); }}}},
      {"IVelmoraK40xxProtection.ResetOCP", ".xxx..........",
       {{"ResetOCP", [](Session& s) { return s.protection->ResetOCP(); }}}},
      {"IVelmoraK40xxProtection.QueryOCPLimitMax", ".xxx..........",
       {{"QueryOCPLimitMax", [](Session& s) { return s.protection->QueryOCPLimitMax(&d); }}}},
      {"IVelmoraK40xxProtection.ConfigureOCP", ".xxx..........",
       {{"ConfigureOCP", [](Session& s) { return s.protection->ConfigureOCP(VARIANT_TRUE, 1.0); }}}},
      {"IVelmoraK40xxTriggers.Coupling", "x.........xxxx",
       {{"get_Coupling", [](Session& s) {
          VelmoraK40xxCouplingEnum v;
          return s.triggers->get_Coupling(&v);
        }},
        {"put_Coupling", [](Session& s) { return s.triggers->put_Coupling(VelmoraK40xxCouplingOn); }}}},
      {"IVelmoraK40xxTriggers.Abort", "xxxxxxxxxxxxxx",
       {{"Abort", [](Session& s) { return s.triggers->Abort(); }}}},
      {"IVelmoraK40xxTrigger.Delay", "xxxxxxxxxxxxxx",
       {{"get_Delay", [](Session& s) { return s.trigger->get_Delay(&d); }},
        {"put_Delay", [](Session& s) { return s.trigger->put_Delay(0.5); }}}},
      {"IVelmoraK40xxDisplay.Mode", "..........xxxx",
       {{"get_Mode", [](Session& s) {
          VelmoraK40xxDisplayModeEnum v;
          return s.display->get_Mode(&v);
        }},
        {"put_Mode",
         [](Session& s) { return s.display->put_Mode(VelmoraK40xxDisplayModeVoltCurrent); }}}},
      {"IVelmoraK40xxDisplay.Text", "xxxxxxxxxxxxxx",
       {{"get_Text", [](Session& s) {
          com::Bstr v;
          return s.display->get_Text(v.put());
        }},
        {"put_Text", [](Session& s) { return s.display->put_Text(test::Bstr("hello")); }}}},
      {"IVelmoraK40xxSystem.MemoryName", "....xxxxxxxxxx",
       {{"get_MemoryName", [](Session& s) {
          com::Bstr v;
          return s.system->get_MemoryName(1, v.put());
        }},
        {"put_MemoryName", [](Session& s) { return s.system->put_MemoryName(1, test::Bstr("n")); }}}},
      {"IVelmoraK40xxSystem.TimeoutMilliseconds", "xxxxxxxxxxxxxx",
       {{"get_TimeoutMilliseconds", [](Session& s) { return s.system->get_TimeoutMilliseconds(&l); }}}},
      {"IVelmoraK40xxCalibrations.DACError", ".xxx..........",
       {{"DACError", [](Session& s) { return s.calibrations->DACError(); }}}},
      {"IVelmoraK40xxCalibration.CurrentData", "xxxxxxxxxxxxxx",
       {{"CurrentData", [](Session& s) { return s.calibration->CurrentData(0.5); }}}},
      {"IVelmoraK40xxCalibration.CurrentProtection", ".xxx..........",
       {{"CurrentProtection", [](Session& s) { return s.calibration->CurrentProtection(); }}}},
      {"IVelmoraK40xxCalibration.VoltageProtection", ".xxxxxxxxxxxxx",
       {{"VoltageProtection", [](Session& s) { return s.calibration->VoltageProtection(); }}}},
  };
  return rows;
}

// A session on the scripted instrument, simulated or not; either way the script expects nothing
// after the identification of a real session.
Session Open(const std::string& model, bool simulate) {
  auto script = visa::Script::Install("features");
  if (!simulate) script->Expect("*IDN?\n").Reply("Velmora," + model + ",0,1.0\n");
  Session s;
  s.root = test::NewDriver();
  com::Bstr resource("SCRIPT::features::INSTR");
  com::Bstr options(simulate ? "Simulate=true, DriverSetup=Model=" + model : "");
  EXPECT_EQ(s.root->Initialize(resource.get(), VARIANT_FALSE, VARIANT_FALSE, options.get()), S_OK)
      << TakeError();
  s.root->get_Outputs(s.outputs.put());
  s.root->get_Triggers(s.triggers.put());
  s.root->get_Display(s.display.put());
  s.root->get_System(s.system.put());
  s.root->get_Calibrations(s.calibrations.put());
  EXPECT_EQ(s.outputs->get_Item(test::Bstr("Output1"), s.output.put()), S_OK);
  s.output->get_Protection(s.protection.put());
  EXPECT_EQ(s.triggers->get_Item(test::Bstr("Trigger1"), s.trigger.put()), S_OK);
  EXPECT_EQ(s.calibrations->get_Item(test::Bstr("Calibration1"), s.calibration.put()), S_OK);
  EXPECT_TRUE(script->Done()) << script->Report();
  return s;
}

TEST(FeatureMatrix, EveryMemberWorksExactlyOnTheModelsThatHaveIt) {
  for (size_t column = 0; column < std::size(kModelColumns); ++column) {
    const std::string model = kModelColumns[column];
    // Simulated, a member a model has succeeds; one it lacks is refused.
    Session simulated = Open(model, true);
    for (const Row& row : Matrix()) {
      ASSERT_EQ(std::string(row.models).size(), std::size(kModelColumns)) << row.member;
      const bool has = row.models[column] == 'x';
      for (const Call& call : row.calls) {
        const HRESULT hr = call.run(simulated);
        const std::string error = TakeError();
        if (has) {
          EXPECT_EQ(hr, S_OK) << call.name << " on " << model << ": " << error;
        } else {
          EXPECT_EQ(hr, E_VELMORAK40XX_MODEL_NOT_SUPPORTED) << call.name << " on " << model;
          EXPECT_EQ(error, std::string("VelmoraK40xx: Instrument model does not support this "
                                       "feature: ") +
                               call.name + ".");
        }
      }
    }
    simulated.root->Close();
    // On an instrument, a refused member sends nothing at all.
    Session real = Open(model, false);
    auto script = visa::Script::Find("features");
    for (const Row& row : Matrix()) {
      if (row.models[column] == 'x') continue;
      for (const Call& call : row.calls) {
        EXPECT_EQ(call.run(real), E_VELMORAK40XX_MODEL_NOT_SUPPORTED) << call.name;
        TakeError();
      }
    }
    EXPECT_TRUE(script->Done()) << model << ": " << script->Report();
    real.root->Close();
  }
  visa::Script::Uninstall("features");
}

// Enumeration values that only some models have, by the same columns: refused as an invalid
// value of the parameter that carries them, simulated or not.
TEST(FeatureMatrix, RestrictedEnumerationValuesAreInvalidOnTheModelsThatLackThem) {
  struct ValueRow {
    const char* what;
    const char* models;
    std::function<HRESULT(Session&)> run;
  };
  const std::vector<ValueRow> rows = {
      //                               4444444444 4444
      //                               3111111111 2222
      //                               0000000000 0000
      //                               1123456789 1234
      {"put_Channel(Output2)", "x.........xxxx",
       [](Session& s) { return s.outputs->put_Channel(VelmoraK40xxOutput2); }},
      {"put_Channel(Output3)", "x.............",
       [](Session& s) { return s.outputs->put_Channel(VelmoraK40xxOutput3); }},
      {"put_CurrentLimitBehavior(Trip)", ".xxx..........",
       [](Session& s) { return s.output->put_CurrentLimitBehavior(VelmoraK40xxCurrentLimitTrip); }},
      {"ConfigureCurrentLimit(Trip)", ".xxx..........",
       [](Session& s) {
         return s.output->ConfigureCurrentLimit(VelmoraK40xxCurrentLimitTrip, 1.0);
       }},
      {"CurrentLevel(Mid)", ".xxxxxxxxxxxxx",
       [](Session& s) { return s.calibration->CurrentLevel(VelmoraK40xxCalibrationLevelMid); }},
      {"VoltageLevel(Mid)", ".xxxxxxxxxxxxx",
       [](Session& s) { return s.calibration->VoltageLevel(VelmoraK40xxCalibrationLevelMid); }},
      {"QueryRegister(Instrument1)", "x.........xxxx",
       [](Session& s) {
         ComPtr<IVelmoraK40xxStatus> status;
         s.root->get_Status(status.put());
         return status->QueryRegister(VelmoraK40xxStatusRegisterInstrument1,
                                      VelmoraK40xxStatusSubRegisterEvent, &l);
       }},
      {"put_Register(Instrument3)", "x.............",
       [](Session& s) {
         ComPtr<IVelmoraK40xxStatus> status;
         s.root->get_Status(status.put());
         return status->put_Register(VelmoraK40xxStatusRegisterInstrument3,
                                     VelmoraK40xxStatusSubRegisterEnable, 0);
       }},
      {"put_Coupling(P6P25)", "x.............",
       [](Session& s) { return s.triggers->put_Coupling(VelmoraK40xxCouplingP6P25); }},
  };
  for (size_t column = 0; column < std::size(kModelColumns); ++column) {
    Session s = Open(kModelColumns[column], true);
    for (const ValueRow& row : rows) {
      const HRESULT hr = row.run(s);
      const std::string error = TakeError();
      if (hr == E_VELMORAK40XX_MODEL_NOT_SUPPORTED) continue;  // the member itself is absent
      const bool has = row.models[column] == 'x';
      EXPECT_EQ(hr, has ? S_OK : E_IVI_INVALID_VALUE)
          << row.what << " on " << kModelColumns[column] << ": " << error;
    }
    s.root->Close();
  }
  visa::Script::Uninstall("features");
}

}  // namespace
}  // namespace vmk
