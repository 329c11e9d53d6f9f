// The output, protection and trigger members against a scripted instrument: the exact bytes each
// member writes, in order, for each kind of model.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "tests/support/client.h"
#include "tests/support/script.h"
#include "vmk40xx/vmk40xx.h"

namespace {

using vmk::test::TakeError;
using vmk::visa::Script;

using vmk::test::Bstr;

using vmk::test::Ref;

class ScriptedSupply : public ::testing::Test {
 protected:
  void TearDown() override {
    if (driver) driver->Close();
    Script::Uninstall("psu");
  }

  // A session on `model`; what the test expects next is the member's own traffic.
  void Open(const std::string& model) {
    script = Script::Install("psu");
    script->Expect("*IDN?\n").Reply("Velmora," + model + ",0,1.0\n");
    driver = vmk::test::NewDriver();
    ASSERT_TRUE(driver);
    ASSERT_EQ(
        driver->Initialize(Bstr("SCRIPT::psu::INSTR"), VARIANT_FALSE, VARIANT_FALSE, Bstr("")),
        S_OK)
        << TakeError();
    ASSERT_EQ(driver->get_Outputs(&outputs.p), S_OK);
    ASSERT_EQ(driver->get_Triggers(&triggers.p), S_OK);
  }
  Ref<IVelmoraK40xxOutput> Output(const std::string& name) {
    Ref<IVelmoraK40xxOutput> out;
    EXPECT_EQ(outputs->get_Item(Bstr(name), &out), S_OK) << TakeError();
    return out;
  }
  Ref<IVelmoraK40xxProtection> Protection(const std::string& name) {
    Ref<IVelmoraK40xxProtection> p;
    EXPECT_EQ(Output(name)->get_Protection(&p), S_OK);
    return p;
  }
  Ref<IVelmoraK40xxTrigger> Trigger(const std::string& name) {
    Ref<IVelmoraK40xxTrigger> t;
    EXPECT_EQ(triggers->get_Item(Bstr(name), &t), S_OK) << TakeError();
    return t;
  }

  std::shared_ptr<Script> script;
  vmk::com::ComPtr<IVelmoraK40xx> driver;
  Ref<IVelmoraK40xxOutputs> outputs;
  Ref<IVelmoraK40xxTriggers> triggers;
};

TEST_F(ScriptedSupply, PerOutputMembersOnADualModelSelectTheirOutputBeforeEveryCommand) {
  Open("K4201A");
  auto out2 = Output("Output2");
  script->Expect("INST:NSEL 2\n").Expect("VOLT 5\n");
  EXPECT_EQ(out2->put_VoltageLevel(5.0), S_OK) << TakeError();
  // The driver does not remember the selection: the next command selects again.
  script->Expect("INST:NSEL 2\n").Expect("CURR?\n").Reply("1.25\n");
  double current = 0;
  EXPECT_EQ(out2->get_CurrentLimit(&current), S_OK);
  EXPECT_EQ(current, 1.25);
  script->Expect("INST:NSEL 1\n").Expect("VOLT:RANG HIGH\n");
  EXPECT_EQ(Output("Output1")->put_VoltageRange(VelmoraK40xxVoltageRangeHigh), S_OK);
  script->Expect("INST:NSEL 2\n").Expect("CURR DOWN\n");
  EXPECT_EQ(out2->RunStep(VelmoraK40xxCurrentStepDirectionDown), S_OK);
  script->Expect("INST:NSEL 2\n").Expect("VOLT:STEP DEF\n");
  EXPECT_EQ(out2->put_Step(VelmoraK40xxDefaultVoltageStep, 3.0), S_OK);
  script->Expect("INST:NSEL 2\n").Expect("CURR:STEP?\n").Reply("0.01\n");
  double step = 0;
  EXPECT_EQ(out2->get_Step(VelmoraK40xxCurrentStep, &step), S_OK);
  EXPECT_EQ(step, 0.01);
  script->Expect("INST:NSEL 2\n").Expect("VOLT 7.5\n");
  EXPECT_EQ(out2->ConfigureRange(VelmoraK40xxRangeVoltage, 7.5), S_OK);
  script->Expect("INST:NSEL 2\n").Expect("MEAS:CURR?\n").Reply("0.5\n");
  double measured = 0;
  EXPECT_EQ(out2->Measure(VelmoraK40xxMeasurementCurrent, &measured), S_OK);
  EXPECT_EQ(measured, 0.5);
  script->Expect("INST:NSEL 2\n").Expect("VOLT:PROT:STAT 1; :VOLT:PROT 18.5\n");
  EXPECT_EQ(Protection("Output2")->ConfigureOVP(VARIANT_TRUE, 18.5), S_OK);
  script->Expect("INST:NSEL 2\n").Expect("TRIG:SOUR BUS\n");
  EXPECT_EQ(Trigger("Trigger2")->put_Source(VelmoraK40xxTriggerSourceSwTrigFunc), S_OK);
  script->Expect("INST:NSEL 2\n").Expect("TRIG:SOUR?\n").Reply("BUS\n");
  VelmoraK40xxTriggerSourceEnum source = VelmoraK40xxTriggerSourceImmediate;
  EXPECT_EQ(Trigger("Trigger2")->get_Source(&source), S_OK);
  EXPECT_EQ(source, VelmoraK40xxTriggerSourceSwTrigFunc);
  EXPECT_TRUE(script->Done()) << script->Report();
}

// The command still goes out after a selection whose status poll saw an error, but the error is
// the member's result: the selection's text and status, never a success with a stale text.
TEST_F(ScriptedSupply, AFailedSelectionDoesNotStopTheCommandButIsTheMembersResult) {
  Open("K4202A");
  Ref<IIviDriverOperation> operation;
  ASSERT_EQ(driver->QueryInterface(IID_IIviDriverOperation, reinterpret_cast<void**>(&operation)),
            S_OK);
  script->Expect("*CLS\n").Expect("*ESR?\n").Reply("0\n");
  ASSERT_EQ(operation->put_QueryInstrumentStatus(VARIANT_TRUE), S_OK);
  script->Expect("INST:NSEL 2\n").Expect("*ESR?\n").Reply("16\n");
  script->Expect("VOLT 5\n").Expect("*ESR?\n").Reply("0\n");
  EXPECT_EQ(Output("Output2")->put_VoltageLevel(5), E_IVI_INSTRUMENT_STATUS);
  EXPECT_EQ(TakeError(),
            "VelmoraK40xx: Instrument error detected.  Use ErrorQuery() to determine the "
            "error(s).");
  // A garbled status reply tells nothing of the status: it is no clean one either.
  script->Expect("INST:NSEL 2\n").Expect("*ESR?\n").Reply("#?!\n").ExpectClear();
  script->Expect("VOLT?\n").Reply("5\n").Expect("*ESR?\n").Reply("0\n");
  double level = 0;
  EXPECT_EQ(Output("Output2")->get_VoltageLevel(&level), E_IVI_INSTRUMENT_STATUS);
  TakeError();
  script->Expect("INST:NSEL 2\n").Expect("*ESR?\n").Reply("0\n");
  script->Expect("VOLT 50\n").Expect("*ESR?\n").Reply("16\n");
  EXPECT_EQ(Output("Output2")->put_VoltageLevel(50), E_IVI_INSTRUMENT_STATUS);
  TakeError();
  EXPECT_TRUE(script->Done()) << script->Report();
}

TEST_F(ScriptedSupply, SingleOutputModelsNeverSelectAChannel) {
  Open("K4105A");
  auto out = Output("Output1");
  auto protection = Protection("Output1");
  auto trigger = Trigger("Trigger1");
  double d = 0;
  VARIANT_BOOL b = VARIANT_FALSE;
  script->Expect("VOLT 12\n").Expect("VOLT?\n").Reply("12\n");
  EXPECT_EQ(out->put_VoltageLevel(12), S_OK);
  EXPECT_EQ(out->get_VoltageLevel(&d), S_OK);
  script->Expect("CURR 0.25\n").Expect("APPL 3, 0.5\n").Expect("CURR 0.4\n");
  EXPECT_EQ(out->put_CurrentLimit(0.25), S_OK);
  EXPECT_EQ(out->ApplyVoltageCurrent(3, 0.5), S_OK);
  EXPECT_EQ(out->ConfigureCurrentLimit(VelmoraK40xxCurrentLimitRegulate, 0.4), S_OK);
  script->Expect("VOLT UP\n").Expect("VOLT:STEP 0.2\n").Expect("MEAS:VOLT?\n").Reply("3\n");
  EXPECT_EQ(out->RunStep(VelmoraK40xxVoltageStepDirectionUp), S_OK);
  EXPECT_EQ(out->put_Step(VelmoraK40xxVoltageStep, 0.2), S_OK);
  EXPECT_EQ(out->Measure(VelmoraK40xxMeasurementVoltage, &d), S_OK);
  script->Expect("VOLT:PROT 40\n").Expect("VOLT:PROT:STAT?\n").Reply("0\n");
  EXPECT_EQ(protection->put_OVPLimit(40), S_OK);
  EXPECT_EQ(protection->get_OVPEnabled(&b), S_OK);
  EXPECT_EQ(b, VARIANT_FALSE);
  script->Expect("VOLT:PROT:TRIP?\n").Reply("1\n").Expect("VOLT:PROT:CLE\n");
  EXPECT_EQ(protection->get_OVPTripped(&b), S_OK);
  EXPECT_EQ(b, VARIANT_TRUE);
  EXPECT_EQ(protection->ResetOVP(), S_OK);
  script->Expect("TRIG:DEL 2.5\n").Expect("VOLT:TRIG 4\n").Expect("CURR:TRIG?\n").Reply("0.3\n");
  EXPECT_EQ(trigger->put_Delay(2.5), S_OK);
  EXPECT_EQ(trigger->put_VoltageLevel(4), S_OK);
  EXPECT_EQ(trigger->get_CurrentLimit(&d), S_OK);
  EXPECT_EQ(d, 0.3);
  script->Expect("STAT:QUES:COND?\n").Reply("1\n");
  EXPECT_EQ(out->QueryState(VelmoraK40xxOutputConstantCurrent, &b), S_OK);
  EXPECT_EQ(b, VARIANT_TRUE);
  EXPECT_TRUE(script->Done()) << script->Report();
}

TEST_F(ScriptedSupply, TheThreeOutputModelNamesTheOutputInsteadOfSelectingIt) {
  Open("K4301A");
  script->Expect("APPL N25V, -10, 0.5\n");
  EXPECT_EQ(Output("Output3")->ApplyVoltageCurrent(-10, 0.5), S_OK);
  script->Expect("APPL P6V, 5, 1\n");
  EXPECT_EQ(Output("Output1")->ApplyVoltageCurrent(5, 1), S_OK);
  // Other members do select, with the output's number.
  script->Expect("INST:NSEL 3\n").Expect("VOLT -20\n");
  EXPECT_EQ(Output("Output3")->put_VoltageLevel(-20), S_OK);
  EXPECT_TRUE(script->Done()) << script->Report();
}

TEST_F(ScriptedSupply, TripCurrentLimitSetsTheProtectionLevelFirstOnlyWhereTheModelCanTrip) {
  Open("K4101A");
  script->Expect("CURR:PROT 2\n").Expect("CURR 2\n");
  EXPECT_EQ(Output("Output1")->ConfigureCurrentLimit(VelmoraK40xxCurrentLimitTrip, 2), S_OK);
  EXPECT_TRUE(script->Done()) << script->Report();
}

TEST_F(ScriptedSupply, TripCurrentLimitIsAnInvalidValueOnAModelThatCannotTrip) {
  Open("K4104A");
  auto out = Output("Output1");
  EXPECT_EQ(out->ConfigureCurrentLimit(VelmoraK40xxCurrentLimitTrip, 2), E_IVI_INVALID_VALUE);
  EXPECT_EQ(
      TakeError(),
      "VelmoraK40xx: Invalid value (1) for method ConfigureCurrentLimit, parameter Behavior.");
  // CurrentLimitBehavior is not on this model at all.
  EXPECT_EQ(out->put_CurrentLimitBehavior(VelmoraK40xxCurrentLimitTrip),
            E_VELMORAK40XX_MODEL_NOT_SUPPORTED);
  EXPECT_EQ(
      TakeError(),
      "VelmoraK40xx: Instrument model does not support this feature: put_CurrentLimitBehavior.");
  EXPECT_TRUE(script->Done()) << script->Report();
}

TEST_F(ScriptedSupply, ResetOutputProtectionClearsWhatTheModelHas) {
  Open("K4104A");
  script->Expect("VOLT:PROT:CLE\n");
  EXPECT_EQ(Protection("Output1")->ResetOutputProtection(), S_OK);
  EXPECT_TRUE(script->Done()) << script->Report();
}

TEST_F(ScriptedSupply, ResetOutputProtectionOnAnOcpModelClearsBothInTwoWrites) {
  Open("K4103A");
  script->Expect("VOLT:PROT:CLE\n").Expect("CURR:PROT:CLE\n");
  EXPECT_EQ(Protection("Output1")->ResetOutputProtection(), S_OK);
  EXPECT_TRUE(script->Done()) << script->Report();
}

TEST_F(ScriptedSupply, AFailedOverVoltageClearIsReportedAndNotFollowedByTheOverCurrentClear) {
  Open("K4102A");
  script->Fail(E_FAIL, "link down").ExpectClear();
  HRESULT hr = Protection("Output1")->ResetOutputProtection();
  EXPECT_TRUE(FAILED(hr));
  TakeError();
  EXPECT_TRUE(script->Done()) << script->Report();
}

TEST_F(ScriptedSupply, ProtectionIsRefusedWhereTheModelLacksItBeforeAnythingIsSent) {
  Open("K4301A");
  auto protection = Protection("Output2");
  EXPECT_EQ(protection->ResetOutputProtection(), E_VELMORAK40XX_MODEL_NOT_SUPPORTED);
  double limit = 0;
  EXPECT_EQ(protection->get_OVPLimit(&limit), E_VELMORAK40XX_MODEL_NOT_SUPPORTED);
  EXPECT_EQ(TakeError(),
            "VelmoraK40xx: Instrument model does not support this feature: get_OVPLimit.");
  EXPECT_TRUE(script->Done()) << script->Report();
}

TEST_F(ScriptedSupply, OverCurrentProtectionIsRefusedOnADualModel) {
  Open("K4201A");
  VARIANT_BOOL on = VARIANT_FALSE;
  EXPECT_EQ(Protection("Output1")->get_OCPEnabled(&on), E_VELMORAK40XX_MODEL_NOT_SUPPORTED);
  EXPECT_EQ(TakeError(),
            "VelmoraK40xx: Instrument model does not support this feature: get_OCPEnabled.");
  double max = 0;
  EXPECT_EQ(Protection("Output1")->QueryOVPLimitMax(&max), S_OK);
  EXPECT_EQ(max, 22.0);
  EXPECT_TRUE(script->Done()) << script->Report();
}

TEST_F(ScriptedSupply, CouplingOnADualModelIsAllOrNothing) {
  Open("K4202A");
  script->Expect("INST:COUP OFF\n").Expect("INST:COUP ON\n").Expect("INST:COUP ON\n");
  EXPECT_EQ(triggers->put_Coupling(VelmoraK40xxCouplingNone), S_OK);
  EXPECT_EQ(triggers->put_Coupling(VelmoraK40xxCouplingAll), S_OK);
  EXPECT_EQ(triggers->put_Coupling(VelmoraK40xxCouplingOn), S_OK);
  EXPECT_EQ(triggers->put_Coupling(VelmoraK40xxCouplingP6P25), E_IVI_INVALID_VALUE);
  EXPECT_EQ(TakeError(), "VelmoraK40xx: Invalid value (4) for method put_Coupling, parameter val.");
  VelmoraK40xxCouplingEnum coupling = VelmoraK40xxCouplingNone;
  script->Expect("INST:COUP?\n").Reply("1\n").Expect("INST:COUP?\n").Reply("ALL\n");
  EXPECT_EQ(triggers->get_Coupling(&coupling), S_OK);
  EXPECT_EQ(coupling, VelmoraK40xxCouplingOn);
  EXPECT_EQ(triggers->get_Coupling(&coupling), S_OK);
  EXPECT_EQ(coupling, VelmoraK40xxCouplingOff);
  EXPECT_TRUE(script->Done()) << script->Report();
}

TEST_F(ScriptedSupply, CouplingOnTheThreeOutputModelNamesPairs) {
  Open("K4301A");
  script->Expect("INST:COUP NONE\n").Expect("INST:COUP NONE\n").Expect("INST:COUP ALL\n");
  EXPECT_EQ(triggers->put_Coupling(VelmoraK40xxCouplingNone), S_OK);
  EXPECT_EQ(triggers->put_Coupling(VelmoraK40xxCouplingOff), S_OK);
  EXPECT_EQ(triggers->put_Coupling(VelmoraK40xxCouplingOn), S_OK);
  script->Expect("INST:COUP P6V, N25V\n");
  EXPECT_EQ(triggers->put_Coupling(VelmoraK40xxCouplingP6N25), S_OK);
  // A value beyond the enumeration has no command at all.
  EXPECT_EQ(triggers->put_Coupling(static_cast<VelmoraK40xxCouplingEnum>(7)), E_IVI_INVALID_VALUE);
  TakeError();
  VelmoraK40xxCouplingEnum coupling = VelmoraK40xxCouplingOn;
  script->Expect("INST:COUP?\n").Reply(" P25V, N25V\n");
  EXPECT_EQ(triggers->get_Coupling(&coupling), S_OK);
  EXPECT_EQ(coupling, VelmoraK40xxCouplingP25N25);
  script->Expect("INST:COUP?\n").Reply("SOME\n");
  EXPECT_EQ(triggers->get_Coupling(&coupling), E_IVI_UNEXPECTED_RESPONSE);
  EXPECT_EQ(coupling, VelmoraK40xxCouplingP25N25);
  TakeError();
  EXPECT_TRUE(script->Done()) << script->Report();
}

TEST_F(ScriptedSupply, TriggerDelayBeyondAnHourGoesOutOnlyWithRangeCheckingOff) {
  Open("K4102A");
  auto trigger = Trigger("Trigger1");
  script->Expect("TRIG:DEL 3600\n").Expect("TRIG:DEL 0\n");
  EXPECT_EQ(trigger->put_Delay(3600), S_OK);
  EXPECT_EQ(trigger->put_Delay(0), S_OK);
  EXPECT_EQ(trigger->put_Delay(3600.5), E_IVI_INVALID_VALUE);
  EXPECT_EQ(TakeError(),
            "VelmoraK40xx: Invalid value (3600.5) for method put_Delay, parameter val.");
  EXPECT_EQ(trigger->put_Delay(-1e-7), E_IVI_INVALID_VALUE);
  EXPECT_EQ(TakeError(),
            "VelmoraK40xx: Invalid value (-1e-07) for method put_Delay, parameter val.");
  EXPECT_TRUE(script->Done()) << script->Report();

  Ref<IIviDriverOperation> operation;
  ASSERT_EQ(driver->QueryInterface(IID_IIviDriverOperation, reinterpret_cast<void**>(&operation)),
            S_OK);
  ASSERT_EQ(operation->put_RangeCheck(VARIANT_FALSE), S_OK);
  script->Expect("TRIG:DEL 3600.5\n");
  EXPECT_EQ(trigger->put_Delay(3600.5), S_OK);
  EXPECT_TRUE(script->Done()) << script->Report();
}

TEST_F(ScriptedSupply, SoftwareTriggerIgnoresTheSourcesAndTriggeringNeedsNoSelection) {
  Open("K4203A");
  script->Expect("INST:NSEL 1\n").Expect("TRIG:SOUR IMM\n");
  EXPECT_EQ(Trigger("Trigger1")->put_Source(VelmoraK40xxTriggerSourceImmediate), S_OK);
  script->Expect("INIT\n").Expect("*TRG\n").Expect("ABOR\n");
  EXPECT_EQ(triggers->Initiate(), S_OK);
  EXPECT_EQ(triggers->SendSoftwareTrigger(), S_OK);
  EXPECT_EQ(triggers->Abort(), S_OK);
  EXPECT_TRUE(script->Done()) << script->Report();
}

TEST_F(ScriptedSupply, LimitMaximaComeFromTheModelWithTheirOwnErrorTexts) {
  Open("K4102A");
  auto out = Output("Output1");
  double max = 0;
  EXPECT_EQ(out->QueryCurrentLimitMax(25, &max), E_IVI_INVALID_VALUE);
  EXPECT_EQ(TakeError(),
            "VelmoraK40xx: Invalid value (25) for method QueryCurrentLimitMax, parameter "
            "VoltageLevel, Range 0-20.600000.");
  EXPECT_EQ(out->QueryCurrentLimitMax(-1, &max), E_IVI_INVALID_VALUE);
  EXPECT_EQ(TakeError(),
            "VelmoraK40xx: Invalid value (-1) for method QueryCurrentLimitMax, parameter "
            "VoltageLevel, Range 0-20.600000.");
  // Where the ranges meet, the low range and its larger current win.
  EXPECT_EQ(out->QueryCurrentLimitMax(8.24, &max), S_OK);
  EXPECT_EQ(max, 20.64);
  EXPECT_EQ(out->QueryCurrentLimitMax(8.25, &max), S_OK);
  EXPECT_EQ(max, 10.3);
  EXPECT_EQ(out->QueryVoltageLevelMax(10.3, &max), S_OK);
  EXPECT_EQ(max, 20.6);
  EXPECT_EQ(out->QueryVoltageLevelMax(10.31, &max), S_OK);
  EXPECT_EQ(max, 8.24);
  EXPECT_EQ(out->QueryVoltageLevelMax(21, &max), E_IVI_INVALID_VALUE);
  EXPECT_EQ(TakeError(),
            "VelmoraK40xx: Invalid value (21) for method QueryVoltageLevelMax, parameter "
            "CurrentLimit, Range 0-20.640000.");
  EXPECT_TRUE(script->Done()) << script->Report();
}

TEST_F(ScriptedSupply, LimitMaximaOfTheThreeOutputModelArePerOutput) {
  Open("K4301A");
  double max = 0;
  EXPECT_EQ(Output("Output2")->QueryVoltageLevelMax(-0.5, &max), S_OK);
  EXPECT_EQ(max, 25.75);
  EXPECT_EQ(Output("Output3")->QueryCurrentLimitMax(-25, &max), S_OK);
  EXPECT_EQ(max, 1.03);
  EXPECT_EQ(Output("Output3")->QueryCurrentLimitMax(-26, &max), E_IVI_INVALID_VALUE);
  EXPECT_EQ(TakeError(),
            "VelmoraK40xx: Invalid value (-26) for method QueryCurrentLimitMax, parameter "
            "VoltageLevel, Max 25.750000.");
  EXPECT_EQ(Output("Output1")->QueryCurrentLimitMax(6.18, &max), S_OK);
  EXPECT_EQ(max, 5.15);
  EXPECT_EQ(Output("Output1")->QueryVoltageLevelMax(5.2, &max), E_IVI_INVALID_VALUE);
  EXPECT_EQ(TakeError(),
            "VelmoraK40xx: Invalid value (5.2) for method QueryVoltageLevelMax, parameter "
            "CurrentLimit, Range 0-5.150000.");
  EXPECT_TRUE(script->Done()) << script->Report();
}

TEST_F(ScriptedSupply, VoltageRangeIsLowOnlyForTheExactLowRangeName) {
  Open("K4101A");
  auto out = Output("Output1");
  VelmoraK40xxVoltageRangeEnum range = VelmoraK40xxVoltageRangeHigh;
  script->Expect("VOLT:RANG?\n").Reply("P15V\n");
  EXPECT_EQ(out->get_VoltageRange(&range), S_OK);
  EXPECT_EQ(range, VelmoraK40xxVoltageRangeLow);
  script->Expect("VOLT:RANG?\n").Reply("P30V\n").Expect("VOLT:RANG?\n").Reply("p15v\n");
  EXPECT_EQ(out->get_VoltageRange(&range), S_OK);
  EXPECT_EQ(range, VelmoraK40xxVoltageRangeHigh);
  range = VelmoraK40xxVoltageRangeLow;
  EXPECT_EQ(out->get_VoltageRange(&range), S_OK);
  EXPECT_EQ(range, VelmoraK40xxVoltageRangeHigh);
  EXPECT_TRUE(script->Done()) << script->Report();
}

TEST_F(ScriptedSupply, ChannelIsCheckedAgainstTheModelAndReadBackByNumber) {
  Open("K4204A");
  EXPECT_EQ(outputs->put_Channel(VelmoraK40xxOutput3), E_IVI_INVALID_VALUE);
  EXPECT_EQ(TakeError(), "VelmoraK40xx: Invalid value (3) for method put_Channel, parameter val.");
  script->Expect("INST:NSEL 2\n");
  EXPECT_EQ(outputs->put_Channel(VelmoraK40xxOutput2), S_OK);
  VelmoraK40xxOutputEnum channel = VelmoraK40xxOutput1;
  script->Expect("INST:NSEL?\n").Reply(" +2\n");
  EXPECT_EQ(outputs->get_Channel(&channel), S_OK);
  EXPECT_EQ(channel, VelmoraK40xxOutput2);
  script->Expect("INST:NSEL?\n").Reply("4\n");
  EXPECT_EQ(outputs->get_Channel(&channel), E_IVI_UNEXPECTED_RESPONSE);
  TakeError();
  script->Expect("OUTP 1\n").Expect("OUTP:TRAC?\n").Reply("1\n").Expect("OUTP:REL 0\n");
  EXPECT_EQ(outputs->put_Enabled(VARIANT_TRUE), S_OK);
  VARIANT_BOOL tracking = VARIANT_FALSE;
  EXPECT_EQ(outputs->get_TrackingEnabled(&tracking), S_OK);
  EXPECT_EQ(tracking, VARIANT_TRUE);
  EXPECT_EQ(outputs->put_RelayEnabled(VARIANT_FALSE), S_OK);
  EXPECT_TRUE(script->Done()) << script->Report();
}

TEST_F(ScriptedSupply, ChannelIsNotOnSingleOutputModels) {
  Open("K4106A");
  EXPECT_EQ(outputs->put_Channel(VelmoraK40xxOutput1), E_VELMORAK40XX_MODEL_NOT_SUPPORTED);
  VARIANT_BOOL tracking = VARIANT_FALSE;
  EXPECT_EQ(outputs->get_TrackingEnabled(&tracking), E_VELMORAK40XX_MODEL_NOT_SUPPORTED);
  TakeError();
  EXPECT_TRUE(script->Done()) << script->Report();
}

TEST_F(ScriptedSupply, QueryStateReadsTheOutputsConditionBeforeSelectingIt) {
  Open("K4201A");
  auto out2 = Output("Output2");
  VARIANT_BOOL in = VARIANT_FALSE;
  script->Expect("STAT:QUES:INST:ISUM2:COND?\n").Reply("0\n").Expect("INST:NSEL 2\n");
  script->Expect("VOLT:PROT:TRIP?\n").Reply("1\n");
  EXPECT_EQ(out2->QueryState(VelmoraK40xxOutputOverVoltage, &in), S_OK);
  EXPECT_EQ(in, VARIANT_TRUE);
  script->Expect("STAT:QUES:INST:ISUM2:COND?\n").Reply("2\n").Expect("INST:NSEL 2\n");
  EXPECT_EQ(out2->QueryState(VelmoraK40xxOutputConstantVoltage, &in), S_OK);
  EXPECT_EQ(in, VARIANT_TRUE);
  script->Expect("STAT:QUES:INST:ISUM2:COND?\n").Reply("2\n").Expect("INST:NSEL 2\n");
  EXPECT_EQ(out2->QueryState(VelmoraK40xxOutputStateOutputOff, &in), S_OK);
  EXPECT_EQ(in, VARIANT_FALSE);
  // Without a condition there is no answer: the failure is the result, nothing more is sent.
  script->Expect("STAT:QUES:INST:ISUM2:COND?\n").Reply("busy\n");
  EXPECT_TRUE(FAILED(out2->QueryState(VelmoraK40xxOutputUnregulated, &in)));
  TakeError();
  EXPECT_TRUE(script->Done()) << script->Report();
}

TEST_F(ScriptedSupply, EnumerationValuesWithoutACommandAreRefusedBeforeAnythingIsSent) {
  Open("K4201A");
  auto out = Output("Output2");
  double d = 0;
  EXPECT_EQ(out->Measure(static_cast<VelmoraK40xxMeasurementTypeEnum>(2), &d), E_IVI_INVALID_VALUE);
  EXPECT_EQ(TakeError(),
            "VelmoraK40xx: Invalid value (2) for method Measure, parameter MeasurementType.");
  EXPECT_EQ(out->get_Step(static_cast<VelmoraK40xxStepEnum>(4), &d), E_IVI_INVALID_VALUE);
  EXPECT_EQ(out->put_Step(static_cast<VelmoraK40xxStepEnum>(-1), 1), E_IVI_INVALID_VALUE);
  EXPECT_EQ(out->RunStep(static_cast<VelmoraK40xxStepDirectionEnum>(4)), E_IVI_INVALID_VALUE);
  EXPECT_EQ(out->ConfigureRange(static_cast<VelmoraK40xxRangeTypeEnum>(2), 1), E_IVI_INVALID_VALUE);
  EXPECT_EQ(out->put_VoltageRange(static_cast<VelmoraK40xxVoltageRangeEnum>(2)),
            E_IVI_INVALID_VALUE);
  EXPECT_EQ(Trigger("Trigger2")->put_Source(static_cast<VelmoraK40xxTriggerSourceEnum>(2)),
            E_IVI_INVALID_VALUE);
  TakeError();
  EXPECT_TRUE(script->Done()) << script->Report();
}

TEST_F(ScriptedSupply, TheClassOutputHandsOverToTheDriversMembers) {
  Open("K4201A");
  Ref<IIviDCPwr> dcpwr;
  ASSERT_EQ(driver->get_IviDCPwr(&dcpwr), S_OK);
  Ref<IIviDCPwrOutputs> classOutputs;
  ASSERT_EQ(dcpwr->get_Outputs(&classOutputs), S_OK);
  Ref<IIviDCPwrOutput> out2, out1;
  ASSERT_EQ(classOutputs->get_Item(Bstr("Output2"), &out2), S_OK);
  ASSERT_EQ(classOutputs->get_Item(Bstr("Output1"), &out1), S_OK);

  EXPECT_EQ(out2->put_TriggerSource(IviDCPwrTriggerSourceExternal), E_IVI_VALUE_NOT_SUPPORTED);
  EXPECT_EQ(TakeError(),
            "VelmoraK40xx: Does not support this class-compliant feature:  (enumeration) value "
            "IviDCPwrTriggerSourceEnum passed as the value for parameter val in method "
            "put_TriggerSource.");
  script->Expect("INST:NSEL 2\n").Expect("TRIG:SOUR BUS\n");
  EXPECT_EQ(out2->put_TriggerSource(IviDCPwrTriggerSourceSwTrigFunc), S_OK);
  script->Expect("INST:NSEL 2\n").Expect("TRIG:SOUR?\n").Reply("BUS\n");
  IviDCPwrTriggerSourceEnum source = IviDCPwrTriggerSourceImmediate;
  EXPECT_EQ(out2->get_TriggerSource(&source), S_OK);
  EXPECT_EQ(source, IviDCPwrTriggerSourceSwTrigFunc);

  // Output on/off is the instrument's, not the output's.
  script->Expect("OUTP 0\n").Expect("OUTP?\n").Reply("0\n");
  EXPECT_EQ(out2->put_Enabled(VARIANT_FALSE), S_OK);
  VARIANT_BOOL on = VARIANT_TRUE;
  EXPECT_EQ(out1->get_Enabled(&on), S_OK);
  EXPECT_EQ(on, VARIANT_FALSE);

  script->Expect("INST:NSEL 2\n").Expect("VOLT:TRIG 3\n");
  EXPECT_EQ(out2->put_TriggeredVoltageLevel(3), S_OK);
  script->Expect("INST:NSEL 1\n").Expect("VOLT:PROT 9\n");
  EXPECT_EQ(out1->put_OVPLimit(9), S_OK);

  // The driver member's restrictions and texts come through unchanged.
  IviDCPwrCurrentLimitBehaviorEnum behavior = IviDCPwrCurrentLimitRegulate;
  EXPECT_EQ(out1->get_CurrentLimitBehavior(&behavior), E_VELMORAK40XX_MODEL_NOT_SUPPORTED);
  EXPECT_EQ(TakeError(),
            "VelmoraK40xx: Instrument model does not support this feature: "
            "get_CurrentLimitBehavior.");
  EXPECT_EQ(out1->ConfigureCurrentLimit(IviDCPwrCurrentLimitTrip, 1), E_IVI_INVALID_VALUE);
  TakeError();

  Ref<IIviDCPwrTrigger> classTrigger;
  ASSERT_EQ(dcpwr->get_Trigger(&classTrigger), S_OK);
  script->Expect("INIT\n").Expect("*TRG\n").Expect("ABOR\n");
  EXPECT_EQ(classTrigger->Initiate(), S_OK);
  EXPECT_EQ(classTrigger->SendSoftwareTrigger(), S_OK);
  EXPECT_EQ(classTrigger->Abort(), S_OK);
  EXPECT_TRUE(script->Done()) << script->Report();
}

TEST_F(ScriptedSupply, OvpLimitThroughTheClassOutputIsRefusedOnTheThreeOutputModel) {
  Open("K4301A");
  Ref<IIviDCPwr> dcpwr;
  ASSERT_EQ(driver->get_IviDCPwr(&dcpwr), S_OK);
  Ref<IIviDCPwrOutputs> classOutputs;
  ASSERT_EQ(dcpwr->get_Outputs(&classOutputs), S_OK);
  Ref<IIviDCPwrOutput> out;
  ASSERT_EQ(classOutputs->get_Item(Bstr("Output1"), &out), S_OK);
  double limit = 0;
  EXPECT_EQ(out->get_OVPLimit(&limit), E_VELMORAK40XX_MODEL_NOT_SUPPORTED);
  EXPECT_EQ(TakeError(),
            "VelmoraK40xx: Instrument model does not support this feature: get_OVPLimit.");
  EXPECT_TRUE(script->Done()) << script->Report();
}

}  // namespace
