// Every member that some models lack is refused on the others, by name, before anything is sent.
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <string>

#include "dcpwr/models.h"
#include "platform/visa/script.h"
#include "tests/support/client.h"
#include "vmk40xx/server.h"
#include "vmk40xx/vmk40xx.h"

namespace vmk {
namespace {

using com::ComPtr;
using test::TakeError;

// The driver's interfaces of one session, reached as a client reaches them.
struct Session {
  ComPtr<IVelmoraK40xx> root;
  ComPtr<IVelmoraK40xxOutputs> outputs;
  ComPtr<IVelmoraK40xxOutput> output;
  ComPtr<IVelmoraK40xxProtection> protection;
  ComPtr<IVelmoraK40xxTriggers> triggers;
  ComPtr<IVelmoraK40xxDisplay> display;
  ComPtr<IVelmoraK40xxSystem> system;
  ComPtr<IVelmoraK40xxCalibrations> calibrations;
  ComPtr<IVelmoraK40xxCalibration> calibration;
};

using Call = std::function<HRESULT(Session&)>;

// One call per member of the feature table, with arguments any model would accept.
const std::map<std::string, Call>& Calls() {
  static const std::map<std::string, Call> calls = [] {
    std::map<std::string, Call> c;
    VARIANT_BOOL b = VARIANT_FALSE;
    double d = 0;
    c["IVelmoraK40xxOutputs.get_Channel"] = [](Session& s) {
      VelmoraK40xxOutputEnum v;
      return s.outputs->get_Channel(&v);
    };
    c["IVelmoraK40xxOutputs.put_Channel"] = [](Session& s) {
      return s.outputs->put_Channel(VelmoraK40xxOutput1);
    };
    c["IVelmoraK40xxOutputs.get_RelayEnabled"] = [b](Session& s) mutable {
      return s.outputs->get_RelayEnabled(&b);
    };
    c["IVelmoraK40xxOutputs.put_RelayEnabled"] = [](Session& s) {
      return s.outputs->put_RelayEnabled(VARIANT_TRUE);
    };
    c["IVelmoraK40xxOutputs.get_TrackingEnabled"] = [b](Session& s) mutable {
      return s.outputs->get_TrackingEnabled(&b);
    };
    c["IVelmoraK40xxOutputs.put_TrackingEnabled"] = [](Session& s) {
      return s.outputs->put_TrackingEnabled(VARIANT_TRUE);
    };
    c["IVelmoraK40xxOutput.get_VoltageRange"] = [](Session& s) {
      VelmoraK40xxVoltageRangeEnum v;
      return s.output->get_VoltageRange(&v);
    };
    c["IVelmoraK40xxOutput.put_VoltageRange"] = [](Session& s) {
      return s.output->put_VoltageRange(VelmoraK40xxVoltageRangeHigh);
    };
    c["IVelmoraK40xxOutput.get_Step"] = [d](Session& s) mutable {
      return s.output->get_Step(VelmoraK40xxVoltageStep, &d);
    };
    c["IVelmoraK40xxOutput.put_Step"] = [](Session& s) {
      return s.output->put_Step(VelmoraK40xxVoltageStep, 0.1);
    };
    c["IVelmoraK40xxOutput.RunStep"] = [](Session& s) {
      return s.output->RunStep(VelmoraK40xxVoltageStepDirectionUp);
    };
    c["IVelmoraK40xxOutput.get_CurrentLimitBehavior"] = [](Session& s) {
      VelmoraK40xxCurrentLimitBehaviorEnum v;
      return s.output->get_CurrentLimitBehavior(&v);
    };
    c["IVelmoraK40xxOutput.put_CurrentLimitBehavior"] = [](Session& s) {
      return s.output->put_CurrentLimitBehavior(VelmoraK40xxCurrentLimitRegulate);
    };
    c["IVelmoraK40xxProtection.get_OVPEnabled"] = [b](Session& s) mutable {
      return s.protection->get_OVPEnabled(&b);
    };
    c["IVelmoraK40xxProtection.put_OVPEnabled"] = [](Session& s) {
      return s.protection->put_OVPEnabled(VARIANT_TRUE);
    };
    c["IVelmoraK40xxProtection.get_OVPLimit"] = [d](Session& s) mutable {
      return s.protection->get_OVPLimit(&d);
    };
    c["IVelmoraK40xxProtection.put_OVPLimit"] = [](Session& s) {
      return s.protection->put_OVPLimit(1.0);
    };
    c["IVelmoraK40xxProtection.get_OVPTripped"] = [b](Session& s) mutable {
      return s.protection->get_OVPTripped(&b);
    };
    c["IVelmoraK40xxProtection.ResetOVP"] = [](Session& s) { return s.protection->ResetOVP(); };
    c["IVelmoraK40xxProtection.ResetOutputProtection"] = [](Session& s) {
      return s.protection->ResetOutputProtection();
    };
    c["IVelmoraK40xxProtection.QueryOVPLimitMax"] = [d](Session& s) mutable {
      return s.protection->QueryOVPLimitMax(&d);
    };
    c["IVelmoraK40xxProtection.ConfigureOVP"] = [](Session& s) {
      return s.protection->ConfigureOVP(VARIANT_TRUE, 1.0);
    };
    c["IVelmoraK40xxProtection.get_OCPEnabled"] = [b](Session& s) mutable {
      return s.protection->get_OCPEnabled(&b);
    };
    c["IVelmoraK40xxProtection.put_OCPEnabled"] = [](Session& s) {
      return s.protection->put_OCPEnabled(VARIANT_TRUE);
    };
    c["IVelmoraK40xxProtection.get_OCPLimit"] = [d](Session& s) mutable {
      return s.protection->get_OCPLimit(&d);
    };
    c["IVelmoraK40xxProtection.put_OCPLimit"] = [](Session& s) {
      return s.protection->put_OCPLimit(1.0);
    };
    c["IVelmoraK40xxProtection.get_OCPTripped"] = [b](Session& s) mutable {
      return s.protection->get_OCPTripped(&b);
    };
    c["IVelmoraK40xxProtection.ResetOCP"] = [](Session& s) { return s.protection->ResetOCP(); };
    c["IVelmoraK40xxProtection.QueryOCPLimitMax"] = [d](Session& s) mutable {
      return s.protection->QueryOCPLimitMax(&d);
    };
    c["IVelmoraK40xxProtection.ConfigureOCP"] = [](Session& s) {
      return s.protection->ConfigureOCP(VARIANT_TRUE, 1.0);
    };
    c["IVelmoraK40xxTriggers.get_Coupling"] = [](Session& s) {
      VelmoraK40xxCouplingEnum v;
      return s.triggers->get_Coupling(&v);
    };
    c["IVelmoraK40xxTriggers.put_Coupling"] = [](Session& s) {
      return s.triggers->put_Coupling(VelmoraK40xxCouplingOn);
    };
    c["IVelmoraK40xxDisplay.get_Mode"] = [](Session& s) {
      VelmoraK40xxDisplayModeEnum v;
      return s.display->get_Mode(&v);
    };
    c["IVelmoraK40xxDisplay.put_Mode"] = [](Session& s) {
      return s.display->put_Mode(VelmoraK40xxDisplayModeVoltCurrent);
    };
    c["IVelmoraK40xxSystem.get_MemoryName"] = [](Session& s) {
      com::Bstr v;
      return s.system->get_MemoryName(1, v.put());
    };
    c["IVelmoraK40xxSystem.put_MemoryName"] = [](Session& s) {
      com::Bstr v("name");
      return s.system->put_MemoryName(1, v.get());
    };
    c["IVelmoraK40xxCalibrations.DACError"] = [](Session& s) { return s.calibrations->DACError(); };
    c["IVelmoraK40xxCalibration.CurrentProtection"] = [](Session& s) {
      return s.calibration->CurrentProtection();
    };
    c["IVelmoraK40xxCalibration.VoltageProtection"] = [](Session& s) {
      return s.calibration->VoltageProtection();
    };
    return c;
  }();
  return calls;
}

// A session on the scripted instrument, which must see nothing after its identification.
Session Open(const std::string& model) {
  auto script = visa::Script::Install("features");
  script->Expect("*IDN?\n").Reply("Velmora," + model + ",0,1.0\n");
  Session s;
  s.root = test::NewDriver();
  com::Bstr resource("SCRIPT::features::INSTR"), options("");
  EXPECT_EQ(s.root->Initialize(resource.get(), VARIANT_FALSE, VARIANT_FALSE, options.get()), S_OK)
      << TakeError();
  s.root->get_Outputs(s.outputs.put());
  s.root->get_Triggers(s.triggers.put());
  s.root->get_Display(s.display.put());
  s.root->get_System(s.system.put());
  s.root->get_Calibrations(s.calibrations.put());
  com::Bstr first("Output1"), cal("Calibration1");
  EXPECT_EQ(s.outputs->get_Item(first.get(), s.output.put()), S_OK);
  s.output->get_Protection(s.protection.put());
  EXPECT_EQ(s.calibrations->get_Item(cal.get(), s.calibration.put()), S_OK);
  EXPECT_TRUE(script->Done()) << script->Report();
  return s;
}

TEST(FeatureRefusal, EveryRestrictedMemberIsRefusedOnTheModelsThatLackIt) {
  for (const FeatureRow& row : FeatureRows()) {
    std::string key = std::string(row.interfaceName) + "." + std::string(row.memberName);
    auto call = Calls().find(key);
    ASSERT_NE(call, Calls().end()) << "no call for " << key;
    const CSupportedModelValidator* validator = FeatureValidator(row.interfaceName, row.memberName);
    ASSERT_NE(validator, nullptr) << key;
    int refused = 0;
    for (const ModelInfo& info : AllModels()) {
      if (validator->IsSupported(info.model)) continue;
      Session s = Open(std::string(info.model));
      auto script = visa::Script::Find("features");
      EXPECT_EQ(call->second(s), E_VELMORAK40XX_MODEL_NOT_SUPPORTED) << key << " on " << info.model;
      EXPECT_EQ(TakeError(), "VelmoraK40xx: Instrument model does not support this feature: " +
                                 std::string(row.memberName) + ".");
      EXPECT_TRUE(script->Done()) << key << " on " << info.model << ": " << script->Report();
      s.root->Close();
      ++refused;
    }
    EXPECT_GT(refused, 0) << key << " is refused on no model";
  }
  visa::Script::Uninstall("features");
}

}  // namespace
}  // namespace vmk
