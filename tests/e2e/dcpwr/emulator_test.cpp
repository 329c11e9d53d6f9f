// The output, protection and trigger members end to end: the driver, created through its class
// factory, drives the emulator over a TCP socket, for one model of each family.
#include <gtest/gtest.h>

#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "tests/e2e/emulator.h"
#include "tests/support/client.h"
#include "vmk40xx/errors.h"
#include "vmk40xx/vmk40xx.h"

namespace {

using vmk::test::Bstr;
using vmk::test::Ref;
using vmk::test::TakeError;

using vmk::test::Emulator;

struct Family {
  const char* model;
  const char* lastOutput;  // per-output members are tried on the last output
  const char* lastTrigger;
  double level;  // the last output's voltage sign: K4301A's third output is negative
  bool protection;
  bool multiOutput;
};

void PrintTo(const Family& f, std::ostream* os) {
  *os << f.model;
}

class OnTheEmulator : public ::testing::TestWithParam<Family> {
 protected:
  void SetUp() override {
    emulator = std::make_unique<Emulator>(std::vector<std::string>{"--model", GetParam().model});
    ASSERT_FALSE(emulator->Resource().empty()) << "the emulator did not start";
    driver = vmk::test::NewDriver();
    ASSERT_TRUE(driver);
    ASSERT_EQ(driver->Initialize(Bstr(emulator->Resource()), VARIANT_TRUE, VARIANT_FALSE, Bstr("")), S_OK)
        << TakeError();
    ASSERT_EQ(driver->get_Outputs(&outputs), S_OK);
    ASSERT_EQ(driver->get_Triggers(&triggers), S_OK);
    ASSERT_EQ(outputs->get_Item(Bstr(GetParam().lastOutput), &output), S_OK);
    ASSERT_EQ(triggers->get_Item(Bstr(GetParam().lastTrigger), &trigger), S_OK);
  }
  void TearDown() override {
    output.Reset();
    trigger.Reset();
    outputs.Reset();
    triggers.Reset();
    if (driver) driver->Close();
    emulator.reset();
  }

  std::unique_ptr<Emulator> emulator;
  vmk::com::ComPtr<IVelmoraK40xx> driver;
  Ref<IVelmoraK40xxOutputs> outputs;
  Ref<IVelmoraK40xxTriggers> triggers;
  Ref<IVelmoraK40xxOutput> output;
  Ref<IVelmoraK40xxTrigger> trigger;
};

TEST_P(OnTheEmulator, SettingsReadBackAndAnEnabledOutputMeasuresItsLevel) {
  const double level = GetParam().level;
  // Currents within every model's smallest range: K4105A gives only 0.824 A.
  ASSERT_EQ(output->ApplyVoltageCurrent(level, 0.5), S_OK) << TakeError();
  double v = 0;
  EXPECT_EQ(output->get_VoltageLevel(&v), S_OK);
  EXPECT_EQ(v, level);
  EXPECT_EQ(output->put_CurrentLimit(0.45), S_OK);
  EXPECT_EQ(output->get_CurrentLimit(&v), S_OK);
  EXPECT_EQ(v, 0.45);

  ASSERT_EQ(outputs->put_Enabled(VARIANT_TRUE), S_OK);
  VARIANT_BOOL on = VARIANT_FALSE;
  EXPECT_EQ(outputs->get_Enabled(&on), S_OK);
  EXPECT_EQ(on, VARIANT_TRUE);
  // The default load of 10 ohms draws well under the limit: the output regulates its voltage.
  EXPECT_EQ(output->Measure(VelmoraK40xxMeasurementVoltage, &v), S_OK);
  EXPECT_NEAR(v, level, 1e-6);
  VARIANT_BOOL state = VARIANT_FALSE;
  EXPECT_EQ(output->QueryState(VelmoraK40xxOutputConstantVoltage, &state), S_OK);
  EXPECT_EQ(state, VARIANT_TRUE);
  EXPECT_EQ(output->QueryState(VelmoraK40xxOutputStateOutputOff, &state), S_OK);
  EXPECT_EQ(state, VARIANT_FALSE);
}

TEST_P(OnTheEmulator, ABusTriggerAppliesTheTriggeredLevel) {
  const double triggered = GetParam().level / 2;
  ASSERT_EQ(trigger->put_VoltageLevel(triggered), S_OK) << TakeError();
  ASSERT_EQ(trigger->put_Source(VelmoraK40xxTriggerSourceSwTrigFunc), S_OK);
  ASSERT_EQ(trigger->put_Delay(0), S_OK);
  VelmoraK40xxTriggerSourceEnum source = VelmoraK40xxTriggerSourceImmediate;
  EXPECT_EQ(trigger->get_Source(&source), S_OK);
  EXPECT_EQ(source, VelmoraK40xxTriggerSourceSwTrigFunc);
  double v = 1;
  EXPECT_EQ(trigger->get_VoltageLevel(&v), S_OK);
  EXPECT_EQ(v, triggered);
  EXPECT_EQ(output->get_VoltageLevel(&v), S_OK);
  EXPECT_EQ(v, 0.0);

  ASSERT_EQ(triggers->Initiate(), S_OK);
  ASSERT_EQ(triggers->SendSoftwareTrigger(), S_OK);
  EXPECT_EQ(output->get_VoltageLevel(&v), S_OK);
  EXPECT_EQ(v, triggered);
}

TEST_P(OnTheEmulator, OverVoltageProtectionIsConfiguredWhereTheModelHasIt) {
  Ref<IVelmoraK40xxProtection> protection;
  ASSERT_EQ(output->get_Protection(&protection), S_OK);
  if (!GetParam().protection) {
    EXPECT_EQ(protection->ConfigureOVP(VARIANT_TRUE, 5), E_VELMORAK40XX_MODEL_NOT_SUPPORTED);
    TakeError();
    return;
  }
  ASSERT_EQ(protection->ConfigureOVP(VARIANT_TRUE, 18.5), S_OK) << TakeError();
  double limit = 0;
  EXPECT_EQ(protection->get_OVPLimit(&limit), S_OK);
  EXPECT_EQ(limit, 18.5);
  VARIANT_BOOL on = VARIANT_FALSE;
  EXPECT_EQ(protection->get_OVPEnabled(&on), S_OK);
  EXPECT_EQ(on, VARIANT_TRUE);
  VARIANT_BOOL tripped = VARIANT_TRUE;
  EXPECT_EQ(protection->get_OVPTripped(&tripped), S_OK);
  EXPECT_EQ(tripped, VARIANT_FALSE);
  EXPECT_EQ(protection->ResetOutputProtection(), S_OK);
}

TEST_P(OnTheEmulator, CouplingAndChannelRoundTripOnMultiOutputModels) {
  if (!GetParam().multiOutput) {
    VelmoraK40xxCouplingEnum c = VelmoraK40xxCouplingOn;
    EXPECT_EQ(triggers->get_Coupling(&c), E_VELMORAK40XX_MODEL_NOT_SUPPORTED);
    TakeError();
    return;
  }
  VelmoraK40xxCouplingEnum coupling = VelmoraK40xxCouplingNone;
  ASSERT_EQ(triggers->put_Coupling(VelmoraK40xxCouplingOn), S_OK) << TakeError();
  EXPECT_EQ(triggers->get_Coupling(&coupling), S_OK) << TakeError();
  // K4301A names the coupled set; the dual models answer on or off.
  const bool triple = std::string(GetParam().model) == "K4301A";
  EXPECT_EQ(coupling, triple ? VelmoraK40xxCouplingAll : VelmoraK40xxCouplingOn);
  ASSERT_EQ(triggers->put_Coupling(VelmoraK40xxCouplingNone), S_OK);
  EXPECT_EQ(triggers->get_Coupling(&coupling), S_OK);
  EXPECT_EQ(coupling, triple ? VelmoraK40xxCouplingNone : VelmoraK40xxCouplingOff);

  ASSERT_EQ(outputs->put_Channel(VelmoraK40xxOutput2), S_OK);
  VelmoraK40xxOutputEnum channel = VelmoraK40xxOutput1;
  EXPECT_EQ(outputs->get_Channel(&channel), S_OK);
  EXPECT_EQ(channel, VelmoraK40xxOutput2);
}

TEST_P(OnTheEmulator, ARejectedCommandIsReportedByTheStatusPollAndReadByErrorQuery) {
  Ref<IIviDriverOperation> operation;
  ASSERT_EQ(driver->QueryInterface(IID_IIviDriverOperation, reinterpret_cast<void**>(&operation)),
            S_OK);
  ASSERT_EQ(operation->put_QueryInstrumentStatus(VARIANT_TRUE), S_OK) << TakeError();
  // The driver does not range-check levels: the instrument refuses this one.
  EXPECT_EQ(output->put_VoltageLevel(1000), E_IVI_INSTRUMENT_STATUS);
  EXPECT_EQ(TakeError(),
            "VelmoraK40xx: Instrument error detected.  Use ErrorQuery() to determine the "
            "error(s).");

  Ref<IIviDriverUtility> utility;
  ASSERT_EQ(driver->QueryInterface(IID_IIviDriverUtility, reinterpret_cast<void**>(&utility)),
            S_OK);
  LONG code = 0;
  BSTR message = nullptr;
  ASSERT_EQ(utility->ErrorQuery(&code, &message), S_OK) << TakeError();
  EXPECT_EQ(code, -222);
  EXPECT_EQ(vmk::com::BstrToUtf8(message), "Data out of range");
  SysFreeString(message);

  // The queue is empty again, and a good command passes the poll.
  EXPECT_EQ(output->put_VoltageLevel(GetParam().level), S_OK) << TakeError();
}

INSTANTIATE_TEST_SUITE_P(
    Families, OnTheEmulator,
    ::testing::Values(Family{"K4105A", "Output1", "Trigger1", 3.0, true, false},
                      Family{"K4201A", "Output2", "Trigger2", 3.0, true, true},
                      Family{"K4301A", "Output3", "Trigger3", -3.0, false, true}),
    [](const ::testing::TestParamInfo<Family>& info) { return std::string(info.param.model); });

}  // namespace
