// Reaching outputs, triggers and calibrations by name and index, and what a held instance does
// once its session is gone.
#include <gtest/gtest.h>

#include <string>

#include "dcpwr/velmora_k40xx.h"
#include "tests/support/client.h"
#include "vmk40xx/server.h"
#include "vmk40xx/vmk40xx.h"

namespace vmk {
namespace {

using com::Bstr;
using com::ComPtr;
using test::TakeError;

class RepCaps : public ::testing::Test {
 protected:
  void Open(const std::string& model) {
    root = test::NewDriver();
    ASSERT_TRUE(root);
    Bstr resource("GPIB0::5::INSTR"), options("Simulate=true, DriverSetup=Model=" + model);
    ASSERT_EQ(root->Initialize(resource.get(), VARIANT_FALSE, VARIANT_FALSE, options.get()), S_OK);
    ASSERT_EQ(root->get_Outputs(outputs.put()), S_OK);
  }
  HRESULT Item(const char* name, IVelmoraK40xxOutput** out) {
    Bstr n(name);
    return outputs->get_Item(n.get(), out);
  }
  ComPtr<IVelmoraK40xx> root;
  ComPtr<IVelmoraK40xxOutputs> outputs;
};

TEST_F(RepCaps, AThreeOutputModelHasThreeOfEachInstance) {
  Open("K4301A");
  ComPtr<IVelmoraK40xxTriggers> triggers;
  ComPtr<IVelmoraK40xxCalibrations> calibrations;
  root->get_Triggers(triggers.put());
  root->get_Calibrations(calibrations.put());
  LONG n = 0;
  EXPECT_EQ(outputs->get_Count(&n), S_OK);
  EXPECT_EQ(n, 3);
  EXPECT_EQ(triggers->get_Count(&n), S_OK);
  EXPECT_EQ(n, 3);
  EXPECT_EQ(calibrations->get_Count(&n), S_OK);
  EXPECT_EQ(n, 3);
  for (LONG i = 1; i <= 3; ++i) {
    Bstr o, t, c;
    outputs->get_Name(i, o.put());
    triggers->get_Name(i, t.put());
    calibrations->get_Name(i, c.put());
    EXPECT_EQ(o.utf8(), "Output" + std::to_string(i));
    EXPECT_EQ(t.utf8(), "Trigger" + std::to_string(i));
    EXPECT_EQ(c.utf8(), "Calibration" + std::to_string(i));
  }
}

TEST_F(RepCaps, NamesOutsideOneToCountAreInvalidValues) {
  Open("K4201A");
  Bstr name;
  EXPECT_EQ(outputs->get_Name(0, name.put()), E_IVI_INVALID_VALUE);
  EXPECT_EQ(TakeError(), "VelmoraK40xx: Invalid value (0) for method get_Name, parameter Index.");
  EXPECT_EQ(outputs->get_Name(3, name.put()), E_IVI_INVALID_VALUE);
  EXPECT_EQ(TakeError(), "VelmoraK40xx: Invalid value (3) for method get_Name, parameter Index.");
}

TEST_F(RepCaps, ItemMatchesTrimmedNamesInAnyCase) {
  Open("K4201A");
  ComPtr<IVelmoraK40xxOutput> a, b, c;
  ASSERT_EQ(Item(" output1 ", a.put()), S_OK);
  ASSERT_EQ(Item("Output1", b.put()), S_OK);
  ASSERT_EQ(Item("OUTPUT2", c.put()), S_OK);
  ComPtr<IUnknown> ua, ub, uc;
  a->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(ua.put()));
  b->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(ub.put()));
  c->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(uc.put()));
  EXPECT_EQ(ua.get(), ub.get());
  EXPECT_NE(ua.get(), uc.get());
}

TEST_F(RepCaps, UnknownNamesAndTheEmptyNameOnSeveralOutputs) {
  Open("K4201A");
  ComPtr<IVelmoraK40xxOutput> out;
  EXPECT_EQ(Item("Output3", out.put()), E_IVI_UNKNOWN_PHYSICAL_IDENTIFIER);
  EXPECT_EQ(TakeError(), "VelmoraK40xx: Unknown physical repeated capability selector.");
  EXPECT_EQ(out.get(), nullptr);
  EXPECT_EQ(Item("", out.put()), E_IVI_UNKNOWN_PHYSICAL_IDENTIFIER);
}

TEST_F(RepCaps, TheEmptyNameReachesTheOnlyOutput) {
  Open("K4105A");
  ComPtr<IVelmoraK40xxOutput> out;
  EXPECT_EQ(Item("", out.put()), S_OK);
  EXPECT_NE(out.get(), nullptr);
}

TEST_F(RepCaps, InstancesAnswerTheirOwnInterfacesOnly) {
  Open("K4201A");
  ComPtr<IVelmoraK40xxOutput> out;
  ASSERT_EQ(Item("Output2", out.put()), S_OK);
  ComPtr<IIviDCPwrOutput> classOutput;
  ComPtr<IVelmoraK40xxProtection> protection;
  EXPECT_EQ(out->QueryInterface(IID_IIviDCPwrOutput, reinterpret_cast<void**>(classOutput.put())),
            S_OK);
  EXPECT_EQ(
      out->QueryInterface(IID_IVelmoraK40xxProtection, reinterpret_cast<void**>(protection.put())),
      S_OK);
  ComPtr<IVelmoraK40xxTriggers> triggers;
  ComPtr<IVelmoraK40xxTrigger> trigger;
  root->get_Triggers(triggers.put());
  Bstr t("Trigger2");
  ASSERT_EQ(triggers->get_Item(t.get(), trigger.put()), S_OK);
  ComPtr<IVelmoraK40xxOutput> notAnOutput;
  EXPECT_EQ(
      trigger->QueryInterface(IID_IVelmoraK40xxOutput, reinterpret_cast<void**>(notAnOutput.put())),
      E_NOINTERFACE);
  ComPtr<ISupportErrorInfo> sei;
  trigger->QueryInterface(IID_ISupportErrorInfo, reinterpret_cast<void**>(sei.put()));
  EXPECT_EQ(sei->InterfaceSupportsErrorInfo(IID_IVelmoraK40xxTrigger), S_OK);
  EXPECT_EQ(sei->InterfaceSupportsErrorInfo(IID_IVelmoraK40xxOutput), S_FALSE);
}

TEST_F(RepCaps, AHeldInstanceIsNotInitializedAfterClose) {
  Open("K4201A");
  ComPtr<IVelmoraK40xxOutput> out;
  ASSERT_EQ(Item("Output2", out.put()), S_OK);
  ASSERT_EQ(root->Close(), S_OK);
  double v = 0;
  EXPECT_EQ(out->get_VoltageLevel(&v), E_IVI_NOT_INITIALIZED);
  EXPECT_EQ(TakeError(), "VelmoraK40xx: A connection to the instrument has not been established.");
  // A new session builds new instances; the held one stays cut off.
  Bstr resource("GPIB0::5::INSTR"), options("Simulate=true");
  ASSERT_EQ(root->Initialize(resource.get(), VARIANT_FALSE, VARIANT_FALSE, options.get()), S_OK);
  EXPECT_EQ(out->get_VoltageLevel(&v), E_IVI_NOT_INITIALIZED);
  // The instance outlives the root it came from.
  root.reset();
  outputs.reset();
  EXPECT_EQ(out->get_VoltageLevel(&v), E_IVI_NOT_INITIALIZED);
}

TEST_F(RepCaps, InvalidatingReachesTheRootAndEveryInstance) {
  Open("K4201A");
  ComPtr<IVelmoraK40xxOutput> out;
  ASSERT_EQ(Item("Output2", out.put()), S_OK);
  ComPtr<IIviDriverOperation> op;
  root->QueryInterface(IID_IIviDriverOperation, reinterpret_cast<void**>(op.put()));
  auto writeBoth = [&] {
    ASSERT_EQ(outputs->put_Enabled(VARIANT_TRUE), S_OK);
    ASSERT_EQ(out->put_VoltageLevel(5.0), S_OK);
  };
  auto expectDefaults = [&] {
    VARIANT_BOOL on = VARIANT_TRUE;
    double v = -1;
    EXPECT_EQ(outputs->get_Enabled(&on), S_OK);
    EXPECT_EQ(on, VARIANT_FALSE);
    EXPECT_EQ(out->get_VoltageLevel(&v), S_OK);
    EXPECT_EQ(v, 0.0);
  };
  writeBoth();
  ASSERT_EQ(op->InvalidateAllAttributes(), S_OK);
  expectDefaults();
  // Switching the cache off discards the values too, and switching it on does not bring them
  // back.
  writeBoth();
  ASSERT_EQ(op->put_Cache(VARIANT_FALSE), S_OK);
  ASSERT_EQ(op->put_Cache(VARIANT_TRUE), S_OK);
  expectDefaults();
  // A value written afterwards reads back again.
  writeBoth();
  double v = 0;
  EXPECT_EQ(out->get_VoltageLevel(&v), S_OK);
  EXPECT_EQ(v, 5.0);
}

TEST(ModelLimitsOfASession, AnUnknownModelHasNoLimits) {
  VelmoraK40xx* driver = VelmoraK40xx::Create();
  Bstr resource("GPIB0::5::INSTR"), options("Simulate=true, DriverSetup=Model=X1");
  ASSERT_EQ(driver->Initialize(resource.get(), VARIANT_FALSE, VARIANT_FALSE, options.get()), S_OK);
  const ModelLimits& l = driver->Limits();
  EXPECT_EQ(l.LowRangeVoltageMax + l.HighRangeVoltageMax + l.LowRangeCurrentMax +
                l.HighRangeCurrentMax + l.OvpLimitMax + l.OcpLimitMax,
            0.0);
  EXPECT_EQ(l.LowRangeName, "");
  driver->Close();
  Bstr known("Simulate=true, DriverSetup=Model=K4102A");
  ASSERT_EQ(driver->Initialize(resource.get(), VARIANT_FALSE, VARIANT_FALSE, known.get()), S_OK);
  EXPECT_EQ(driver->Limits().OvpLimitMax, 22.0);
  EXPECT_EQ(driver->Limits().LowRangeName, "P8V");
  driver->Release();
}

}  // namespace
}  // namespace vmk
