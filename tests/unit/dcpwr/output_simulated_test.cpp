// The output, protection and trigger members of a simulated session: defaults before any write,
// the written values after, one set per output, defaults again after Reset, and no traffic.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/client.h"
#include "tests/support/script.h"
#include "vmk40xx/vmk40xx.h"

namespace {

using vmk::test::TakeError;
using vmk::visa::Script;

using vmk::test::Bstr;

using vmk::test::Ref;

class SimulatedSupply : public ::testing::Test {
 protected:
  void TearDown() override {
    if (driver) driver->Close();
    // Nothing of a simulated session reaches the instrument, not even the identification.
    if (script) {
      EXPECT_TRUE(script->Log().empty()) << script->Report();
    }
    Script::Uninstall("psu");
  }

  // A simulated session on `model`, over a resource that would record any traffic.
  void Open(const std::string& model) {
    script = Script::Install("psu");
    driver = vmk::test::NewDriver();
    ASSERT_TRUE(driver);
    ASSERT_EQ(driver->Initialize(Bstr("SCRIPT::psu::INSTR"), VARIANT_FALSE, VARIANT_FALSE,
                                 Bstr("Simulate=true, DriverSetup=Model=" + model)),
              S_OK);
    ASSERT_EQ(driver->get_Outputs(&outputs), S_OK);
    ASSERT_EQ(driver->get_Triggers(&triggers), S_OK);
  }
  Ref<IVelmoraK40xxOutput> Output(const std::string& name) {
    Ref<IVelmoraK40xxOutput> out;
    EXPECT_EQ(outputs->get_Item(Bstr(name), &out), S_OK);
    return out;
  }
  Ref<IVelmoraK40xxProtection> Protection(const std::string& name) {
    Ref<IVelmoraK40xxProtection> p;
    EXPECT_EQ(Output(name)->get_Protection(&p), S_OK);
    return p;
  }
  Ref<IVelmoraK40xxTrigger> Trigger(const std::string& name) {
    Ref<IVelmoraK40xxTrigger> t;
    EXPECT_EQ(triggers->get_Item(Bstr(name), &t), S_OK);
    return t;
  }
  void Reset() {
    Ref<IIviDriverUtility> utility;
    ASSERT_EQ(driver->QueryInterface(IID_IIviDriverUtility, reinterpret_cast<void**>(&utility)),
              S_OK);
    ASSERT_EQ(utility->Reset(), S_OK);
  }

  std::shared_ptr<Script> script;
  vmk::com::ComPtr<IVelmoraK40xx> driver;
  Ref<IVelmoraK40xxOutputs> outputs;
  Ref<IVelmoraK40xxTriggers> triggers;
};

// One simulated property: how to read it, write it, its default and a value to write.
struct Property {
  std::string name;
  std::function<HRESULT(double*)> get;
  std::function<HRESULT(double)> put;
  double initial;
  double written;
};

// Every property reads its default, then what was written, then its default again after Reset.
void ExpectDefaultsWritesAndReset(const std::vector<Property>& properties,
                                  const std::function<void()>& reset) {
  for (const Property& p : properties) {
    double v = -12345;
    EXPECT_EQ(p.get(&v), S_OK) << p.name;
    EXPECT_EQ(v, p.initial) << p.name;
    EXPECT_EQ(p.put(p.written), S_OK) << p.name;
  }
  for (const Property& p : properties) {
    double v = -12345;
    EXPECT_EQ(p.get(&v), S_OK) << p.name;
    EXPECT_EQ(v, p.written) << p.name;
  }
  reset();
  for (const Property& p : properties) {
    double v = -12345;
    EXPECT_EQ(p.get(&v), S_OK) << p.name;
    EXPECT_EQ(v, p.initial) << p.name << " after Reset";
  }
}

template <class T, class Itf>
Property Prop(std::string name, Itf* itf, HRESULT (Itf::*get)(T*), HRESULT (Itf::*put)(T),
              T initial, T written) {
  return {std::move(name),
          [=](double* out) {
            T v{};
            HRESULT hr = (itf->*get)(&v);
            *out = static_cast<double>(v);
            return hr;
          },
          [=](double in) { return (itf->*put)(static_cast<T>(in)); }, static_cast<double>(initial),
          static_cast<double>(written)};
}

TEST_F(SimulatedSupply, EveryPropertyOfASingleOutputOcpModelReadsItsDefaultThenItsValue) {
  Open("K4102A");
  auto out = Output("Output1");
  auto protection = Protection("Output1");
  auto trigger = Trigger("Trigger1");
  IVelmoraK40xxOutputs* o = outputs.p;
  IVelmoraK40xxOutput* u = out.p;
  IVelmoraK40xxProtection* p = protection.p;
  IVelmoraK40xxTrigger* t = trigger.p;
  constexpr VARIANT_BOOL T = VARIANT_TRUE, F = VARIANT_FALSE;
  std::vector<Property> properties = {
      Prop("Enabled", o, &IVelmoraK40xxOutputs::get_Enabled, &IVelmoraK40xxOutputs::put_Enabled, F,
           T),
      Prop("RelayEnabled", o, &IVelmoraK40xxOutputs::get_RelayEnabled,
           &IVelmoraK40xxOutputs::put_RelayEnabled, F, T),
      Prop("VoltageLevel", u, &IVelmoraK40xxOutput::get_VoltageLevel,
           &IVelmoraK40xxOutput::put_VoltageLevel, 0.0, 4.5),
      Prop("CurrentLimit", u, &IVelmoraK40xxOutput::get_CurrentLimit,
           &IVelmoraK40xxOutput::put_CurrentLimit, 20.0, 1.5),
      Prop("CurrentLimitBehavior", u, &IVelmoraK40xxOutput::get_CurrentLimitBehavior,
           &IVelmoraK40xxOutput::put_CurrentLimitBehavior, VelmoraK40xxCurrentLimitTrip,
           VelmoraK40xxCurrentLimitRegulate),
      Prop("VoltageRange", u, &IVelmoraK40xxOutput::get_VoltageRange,
           &IVelmoraK40xxOutput::put_VoltageRange, VelmoraK40xxVoltageRangeLow,
           VelmoraK40xxVoltageRangeHigh),
      {"Step", [&](double* v) { return u->get_Step(VelmoraK40xxCurrentStep, v); },
       [&](double v) { return u->put_Step(VelmoraK40xxVoltageStep, v); }, 0.001, 0.05},
      Prop("OVPEnabled", p, &IVelmoraK40xxProtection::get_OVPEnabled,
           &IVelmoraK40xxProtection::put_OVPEnabled, T, F),
      Prop("OVPLimit", p, &IVelmoraK40xxProtection::get_OVPLimit,
           &IVelmoraK40xxProtection::put_OVPLimit, 66.0, 18.5),
      Prop("OCPEnabled", p, &IVelmoraK40xxProtection::get_OCPEnabled,
           &IVelmoraK40xxProtection::put_OCPEnabled, T, F),
      Prop("OCPLimit", p, &IVelmoraK40xxProtection::get_OCPLimit,
           &IVelmoraK40xxProtection::put_OCPLimit, 22.0, 3.0),
      Prop("Trigger.VoltageLevel", t, &IVelmoraK40xxTrigger::get_VoltageLevel,
           &IVelmoraK40xxTrigger::put_VoltageLevel, 0.0, 2.0),
      Prop("Trigger.CurrentLimit", t, &IVelmoraK40xxTrigger::get_CurrentLimit,
           &IVelmoraK40xxTrigger::put_CurrentLimit, 20.0, 0.75),
      Prop("Trigger.Delay", t, &IVelmoraK40xxTrigger::get_Delay, &IVelmoraK40xxTrigger::put_Delay,
           0.0, 3600.0),
      Prop("Trigger.Source", t, &IVelmoraK40xxTrigger::get_Source,
           &IVelmoraK40xxTrigger::put_Source, VelmoraK40xxTriggerSourceImmediate,
           VelmoraK40xxTriggerSourceSwTrigFunc),
  };
  ExpectDefaultsWritesAndReset(properties, [&] { Reset(); });

  // The trip states have no setter; they read their default.
  VARIANT_BOOL tripped = VARIANT_TRUE;
  EXPECT_EQ(p->get_OVPTripped(&tripped), S_OK);
  EXPECT_EQ(tripped, VARIANT_FALSE);
  tripped = VARIANT_TRUE;
  EXPECT_EQ(p->get_OCPTripped(&tripped), S_OK);
  EXPECT_EQ(tripped, VARIANT_FALSE);
}

TEST_F(SimulatedSupply, MultiOutputPropertiesReadTheirDefaultThenTheirValue) {
  Open("K4301A");
  IVelmoraK40xxOutputs* o = outputs.p;
  IVelmoraK40xxTriggers* t = triggers.p;
  std::vector<Property> properties = {
      Prop("Channel", o, &IVelmoraK40xxOutputs::get_Channel, &IVelmoraK40xxOutputs::put_Channel,
           VelmoraK40xxOutput1, VelmoraK40xxOutput3),
      Prop("TrackingEnabled", o, &IVelmoraK40xxOutputs::get_TrackingEnabled,
           &IVelmoraK40xxOutputs::put_TrackingEnabled, VARIANT_BOOL(VARIANT_FALSE),
           VARIANT_BOOL(VARIANT_TRUE)),
      Prop("Coupling", t, &IVelmoraK40xxTriggers::get_Coupling,
           &IVelmoraK40xxTriggers::put_Coupling, VelmoraK40xxCouplingOn, VelmoraK40xxCouplingP6N25),
  };
  ExpectDefaultsWritesAndReset(properties, [&] { Reset(); });
}

TEST_F(SimulatedSupply, EachOutputKeepsItsOwnValues) {
  Open("K4201A");
  auto out1 = Output("Output1");
  auto out2 = Output("Output2");
  EXPECT_EQ(out2->put_VoltageLevel(5), S_OK);
  EXPECT_EQ(Protection("Output1")->ConfigureOVP(VARIANT_FALSE, 12.5), S_OK);
  EXPECT_EQ(Trigger("Trigger2")->put_Delay(7), S_OK);
  double v = -1;
  EXPECT_EQ(out1->get_VoltageLevel(&v), S_OK);
  EXPECT_EQ(v, 0.0);
  EXPECT_EQ(out2->get_VoltageLevel(&v), S_OK);
  EXPECT_EQ(v, 5.0);
  EXPECT_EQ(Protection("Output2")->get_OVPLimit(&v), S_OK);
  EXPECT_EQ(v, 66.0);
  EXPECT_EQ(Protection("Output1")->get_OVPLimit(&v), S_OK);
  EXPECT_EQ(v, 12.5);
  VARIANT_BOOL on = VARIANT_TRUE;
  EXPECT_EQ(Protection("Output1")->get_OVPEnabled(&on), S_OK);
  EXPECT_EQ(on, VARIANT_FALSE);
  EXPECT_EQ(Trigger("Trigger1")->get_Delay(&v), S_OK);
  EXPECT_EQ(v, 0.0);
  EXPECT_EQ(Trigger("Trigger2")->get_Delay(&v), S_OK);
  EXPECT_EQ(v, 7.0);
}

TEST_F(SimulatedSupply, MethodsStoreTheSettingsTheyMake) {
  Open("K4103A");
  auto out = Output("Output1");
  double v = -1;
  EXPECT_EQ(out->ApplyVoltageCurrent(12, 2.5), S_OK);
  EXPECT_EQ(out->get_VoltageLevel(&v), S_OK);
  EXPECT_EQ(v, 12.0);
  EXPECT_EQ(out->get_CurrentLimit(&v), S_OK);
  EXPECT_EQ(v, 2.5);
  EXPECT_EQ(out->ConfigureRange(VelmoraK40xxRangeCurrent, 1.25), S_OK);
  EXPECT_EQ(out->get_CurrentLimit(&v), S_OK);
  EXPECT_EQ(v, 1.25);
  EXPECT_EQ(out->ConfigureRange(VelmoraK40xxRangeVoltage, 9), S_OK);
  EXPECT_EQ(out->get_VoltageLevel(&v), S_OK);
  EXPECT_EQ(v, 9.0);
  EXPECT_EQ(out->ConfigureCurrentLimit(VelmoraK40xxCurrentLimitRegulate, 3), S_OK);
  VelmoraK40xxCurrentLimitBehaviorEnum behavior = VelmoraK40xxCurrentLimitTrip;
  EXPECT_EQ(out->get_CurrentLimitBehavior(&behavior), S_OK);
  EXPECT_EQ(behavior, VelmoraK40xxCurrentLimitRegulate);
  EXPECT_EQ(out->get_CurrentLimit(&v), S_OK);
  EXPECT_EQ(v, 3.0);
  auto protection = Protection("Output1");
  EXPECT_EQ(protection->ConfigureOCP(VARIANT_FALSE, 4), S_OK);
  VARIANT_BOOL on = VARIANT_TRUE;
  EXPECT_EQ(protection->get_OCPEnabled(&on), S_OK);
  EXPECT_EQ(on, VARIANT_FALSE);
  EXPECT_EQ(protection->get_OCPLimit(&v), S_OK);
  EXPECT_EQ(v, 4.0);
  // Actions have nothing to simulate but succeed.
  EXPECT_EQ(out->RunStep(VelmoraK40xxVoltageStepDirectionUp), S_OK);
  EXPECT_EQ(protection->ResetOutputProtection(), S_OK);
  EXPECT_EQ(triggers->Initiate(), S_OK);
  EXPECT_EQ(triggers->SendSoftwareTrigger(), S_OK);
  EXPECT_EQ(protection->QueryOCPLimitMax(&v), S_OK);
  EXPECT_EQ(v, 7.5);
}

TEST_F(SimulatedSupply, MeasuredVoltageIsTheLevelOnlyWhileOutputsAreOn) {
  Open("K4201A");
  auto out = Output("Output2");
  double v = -1;
  EXPECT_EQ(out->ApplyVoltageCurrent(6, 1), S_OK);
  EXPECT_EQ(out->Measure(VelmoraK40xxMeasurementVoltage, &v), S_OK);
  EXPECT_EQ(v, 0.0);
  EXPECT_EQ(outputs->put_Enabled(VARIANT_TRUE), S_OK);
  EXPECT_EQ(out->Measure(VelmoraK40xxMeasurementVoltage, &v), S_OK);
  EXPECT_EQ(v, 6.0);
  EXPECT_EQ(out->Measure(VelmoraK40xxMeasurementCurrent, &v), S_OK);
  EXPECT_EQ(v, 0.0);
  EXPECT_EQ(Output("Output1")->Measure(VelmoraK40xxMeasurementVoltage, &v), S_OK);
  EXPECT_EQ(v, 0.0);
  VARIANT_BOOL in = VARIANT_TRUE;
  EXPECT_EQ(out->QueryState(VelmoraK40xxOutputConstantVoltage, &in), S_OK);
  EXPECT_EQ(in, VARIANT_FALSE);
  EXPECT_EQ(out->QueryState(VelmoraK40xxOutputStateOutputOff, &in), S_OK);
  EXPECT_EQ(in, VARIANT_TRUE);
}

TEST_F(SimulatedSupply, RefusedValuesAreNotStored) {
  Open("K4201A");
  auto trigger = Trigger("Trigger1");
  double v = -1;
  EXPECT_EQ(trigger->put_Delay(3600.000001), E_IVI_INVALID_VALUE);
  EXPECT_EQ(trigger->put_Delay(-0.0000001), E_IVI_INVALID_VALUE);
  EXPECT_EQ(trigger->get_Delay(&v), S_OK);
  EXPECT_EQ(v, 0.0);
  EXPECT_EQ(triggers->put_Coupling(VelmoraK40xxCouplingP6P25), E_IVI_INVALID_VALUE);
  VelmoraK40xxCouplingEnum coupling = VelmoraK40xxCouplingNone;
  EXPECT_EQ(triggers->get_Coupling(&coupling), S_OK);
  EXPECT_EQ(coupling, VelmoraK40xxCouplingOn);
  EXPECT_EQ(outputs->put_Channel(VelmoraK40xxOutput3), E_IVI_INVALID_VALUE);
  VelmoraK40xxOutputEnum channel = VelmoraK40xxOutput2;
  EXPECT_EQ(outputs->get_Channel(&channel), S_OK);
  EXPECT_EQ(channel, VelmoraK40xxOutput1);
  TakeError();

  // Without range checking the delay is whatever the caller says.
  Ref<IIviDriverOperation> operation;
  ASSERT_EQ(driver->QueryInterface(IID_IIviDriverOperation, reinterpret_cast<void**>(&operation)),
            S_OK);
  ASSERT_EQ(operation->put_RangeCheck(VARIANT_FALSE), S_OK);
  EXPECT_EQ(trigger->put_Delay(5000), S_OK);
  EXPECT_EQ(trigger->get_Delay(&v), S_OK);
  EXPECT_EQ(v, 5000.0);
}

TEST_F(SimulatedSupply, TripBehaviorIsRefusedInSimulationWhereTheModelCannotTrip) {
  Open("K4104A");
  auto out = Output("Output1");
  EXPECT_EQ(out->ConfigureCurrentLimit(VelmoraK40xxCurrentLimitTrip, 2), E_IVI_INVALID_VALUE);
  double v = -1;
  EXPECT_EQ(out->get_CurrentLimit(&v), S_OK);
  EXPECT_EQ(v, 20.0);
  EXPECT_EQ(Protection("Output1")->get_OCPLimit(&v), E_VELMORAK40XX_MODEL_NOT_SUPPORTED);
  TakeError();
}

}  // namespace
