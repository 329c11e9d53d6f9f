// What a caller hands the driver that must never reach the instrument as it is: text that would
// end a command early or start another, and numbers no instrument takes; and a status left by
// an earlier program, which must not cost the caller the session.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>
#include <string>

#include "tests/support/client.h"
#include "tests/support/script.h"
#include "vmk40xx/errors.h"
#include "vmk40xx/vmk40xx.h"

namespace {

using vmk::test::Bstr;
using vmk::test::Ref;
using vmk::test::TakeError;
using vmk::visa::Script;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

class CallerInput : public ::testing::Test {
 protected:
  void TearDown() override {
    if (driver) driver->Close();
    Script::Uninstall("psu");
  }

  // A session on `model` over the scripted instrument, or simulated; `options` are added to the
  // option string.
  void Open(const std::string& model, bool simulate, const std::string& options = "") {
    script = Script::Install("psu");
    if (!simulate) script->Expect("*IDN?\n").Reply("Velmora," + model + ",0,1.0\n");
    driver = vmk::test::NewDriver();
    ASSERT_TRUE(driver);
    std::string all = simulate ? "Simulate=true, DriverSetup=Model=" + model : "";
    if (!options.empty()) all += (all.empty() ? "" : ", ") + options;
    ASSERT_EQ(driver->Initialize(Bstr("SCRIPT::psu::INSTR"), VARIANT_FALSE, VARIANT_FALSE,
                                 Bstr(all)),
              S_OK)
        << TakeError();
  }
  Ref<IVelmoraK40xxOutput> Output(const std::string& name) {
    Ref<IVelmoraK40xxOutputs> outputs;
    EXPECT_EQ(driver->get_Outputs(&outputs), S_OK);
    Ref<IVelmoraK40xxOutput> out;
    EXPECT_EQ(outputs->get_Item(Bstr(name), &out), S_OK) << TakeError();
    return out;
  }
  Ref<IVelmoraK40xxSystem> System() {
    Ref<IVelmoraK40xxSystem> system;
    EXPECT_EQ(driver->get_System(&system), S_OK);
    return system;
  }

  std::shared_ptr<Script> script;
  vmk::com::ComPtr<IVelmoraK40xx> driver;
};

// ---------------------------------------------------------------------------------------------
// Text

TEST_F(CallerInput, AStateIdentifierIsOneNameOrNumberAndAnythingElseIsRefusedUnsent) {
  Open("K4201A", false);
  auto system = System();
  script->Expect("*SAV 1\n").Expect("*RCL +2.5E1\n").Expect("*RCL 1.\n").Expect("*SAV BENCH_A\n");
  EXPECT_EQ(system->SaveState(Bstr("1")), S_OK) << TakeError();
  EXPECT_EQ(system->RecallState(Bstr("+2.5E1")), S_OK) << TakeError();
  EXPECT_EQ(system->RecallState(Bstr("1.")), S_OK) << TakeError();
  EXPECT_EQ(system->SaveState(Bstr("BENCH_A")), S_OK) << TakeError();

  EXPECT_EQ(system->SaveState(Bstr("1;OUTP ON")), E_IVI_INVALID_VALUE);
  EXPECT_EQ(TakeError(),
            "VelmoraK40xx: Invalid value (1;OUTP ON) for method SaveState, parameter Identifier.");
  for (const char* bad : {"1;OUTP ON", "1,2", "1 2", "", " 1", ".", "-", "1e", "1E+", "_A",
                          "A-B", "1\r", "\"1\"", "1\t"}) {
    EXPECT_EQ(system->RecallState(Bstr(bad)), E_IVI_INVALID_VALUE) << bad;
    EXPECT_NE(TakeError().find("for method RecallState, parameter Identifier."),
              std::string::npos)
        << bad;
  }
  EXPECT_EQ(system->SaveState(Bstr(std::string("1\0;*RST", 7))), E_IVI_INVALID_VALUE);
  EXPECT_EQ(TakeError(),
            "VelmoraK40xx: Invalid value (1\\0;*RST) for method SaveState, parameter Identifier.");
  EXPECT_TRUE(script->Done()) << script->Report();
}

TEST_F(CallerInput, QuotedTextsRefuseLineEndsAndNulButKeepDoublingTheirQuotes) {
  Open("K4201A", false);
  auto system = System();
  Ref<IVelmoraK40xxDisplay> display;
  ASSERT_EQ(driver->get_Display(&display), S_OK);
  Ref<IVelmoraK40xxCalibrations> calibrations;
  ASSERT_EQ(driver->get_Calibrations(&calibrations), S_OK);

  for (const std::string& bad : {std::string("A\rOUTP ON"), std::string("A\nOUTP ON"),
                                 std::string("A\0OUTP ON", 9)}) {
    EXPECT_EQ(display->put_Text(Bstr(bad)), E_IVI_INVALID_VALUE);
    EXPECT_NE(TakeError().find("for method put_Text, parameter val."), std::string::npos);
    EXPECT_EQ(calibrations->put_String(Bstr(bad)), E_IVI_INVALID_VALUE);
    EXPECT_NE(TakeError().find("for method put_String, parameter val."), std::string::npos);
    EXPECT_EQ(system->put_MemoryName(2, Bstr(bad)), E_IVI_INVALID_VALUE);
    EXPECT_NE(TakeError().find("for method put_MemoryName, parameter val."), std::string::npos);
  }
  EXPECT_EQ(display->put_Text(Bstr(std::string("A\r\0B", 4))), E_IVI_INVALID_VALUE);
  EXPECT_EQ(TakeError(), "VelmoraK40xx: Invalid value (A\r\\0B) for method put_Text, parameter val.");
  script->Expect("DISP:TEXT \"SAY \"\"HI\"\";OUTP ON\"\n");
  EXPECT_EQ(display->put_Text(Bstr("SAY \"HI\";OUTP ON")), S_OK) << TakeError();
  EXPECT_TRUE(script->Done()) << script->Report();
}

// ---------------------------------------------------------------------------------------------
// Numbers

TEST_F(CallerInput, NonFiniteNumbersAreRefusedWithoutRangeCheckingAndNothingIsSent) {
  Open("K4301A", false, "RangeCheck=false");
  auto out = Output("Output1");
  Ref<IVelmoraK40xxTriggers> triggers;
  ASSERT_EQ(driver->get_Triggers(&triggers), S_OK);
  Ref<IVelmoraK40xxTrigger> trigger;
  ASSERT_EQ(triggers->get_Item(Bstr("Trigger2"), &trigger), S_OK);

  EXPECT_EQ(out->put_VoltageLevel(kNaN), E_IVI_INVALID_VALUE);
  EXPECT_EQ(TakeError(),
            "VelmoraK40xx: Invalid value (nan) for method put_VoltageLevel, parameter val.");
  EXPECT_EQ(out->ApplyVoltageCurrent(1.0, kNaN), E_IVI_INVALID_VALUE);
  EXPECT_EQ(TakeError(), "VelmoraK40xx: Invalid value (nan) for method ApplyVoltageCurrent, "
                         "parameter CurrentLimit.");
  EXPECT_EQ(out->ApplyVoltageCurrent(-kInf, 1.0), E_IVI_INVALID_VALUE);
  EXPECT_EQ(TakeError(), "VelmoraK40xx: Invalid value (-inf) for method ApplyVoltageCurrent, "
                         "parameter VoltageLevel.");
  EXPECT_EQ(trigger->put_VoltageLevel(-kInf), E_IVI_INVALID_VALUE);
  EXPECT_NE(TakeError().find("(-inf) for method put_VoltageLevel"), std::string::npos);
  EXPECT_EQ(out->put_CurrentLimit(kInf), E_IVI_INVALID_VALUE);
  TakeError();

  // The class interface refuses it under its own name before it reaches the driver's own.
  Ref<IIviDCPwrOutputs> classOutputs;
  ASSERT_EQ(driver->QueryInterface(IID_IIviDCPwrOutputs, reinterpret_cast<void**>(&classOutputs)),
            S_OK);
  Ref<IIviDCPwrOutput> classOut;
  ASSERT_EQ(classOutputs->get_Item(Bstr("Output1"), &classOut), S_OK) << TakeError();
  EXPECT_EQ(classOut->put_VoltageLevel(kNaN), E_IVI_INVALID_VALUE);
  EXPECT_NE(TakeError().find("(nan) for method put_VoltageLevel, parameter val."),
            std::string::npos);

  // The largest finite numbers are the instrument's to judge when range checking is off.
  script->Expect("APPL P6V, 1e+308, -1e+308\n");
  EXPECT_EQ(out->ApplyVoltageCurrent(1e308, -1e308), S_OK) << TakeError();
  EXPECT_TRUE(script->Done()) << script->Report();
}

TEST_F(CallerInput, ProtectionStepsAndCalibrationDataRefuseNonFiniteNumbers) {
  Open("K4201A", false, "RangeCheck=false");
  auto out = Output("Output2");
  Ref<IVelmoraK40xxProtection> protection;
  ASSERT_EQ(out->get_Protection(&protection), S_OK);
  EXPECT_EQ(protection->ConfigureOVP(VARIANT_TRUE, kNaN), E_IVI_INVALID_VALUE);
  EXPECT_NE(TakeError().find("for method ConfigureOVP, parameter Limit."), std::string::npos);
  EXPECT_EQ(protection->put_OVPLimit(-kInf), E_IVI_INVALID_VALUE);
  TakeError();
  EXPECT_EQ(out->put_Step(VelmoraK40xxVoltageStep, kNaN), E_IVI_INVALID_VALUE);
  EXPECT_NE(TakeError().find("for method put_Step, parameter val."), std::string::npos);
  Ref<IVelmoraK40xxCalibrations> calibrations;
  ASSERT_EQ(driver->get_Calibrations(&calibrations), S_OK);
  Ref<IVelmoraK40xxCalibration> calibration;
  ASSERT_EQ(calibrations->get_Item(Bstr("Calibration2"), &calibration), S_OK);
  EXPECT_EQ(calibration->VoltageData(kInf), E_IVI_INVALID_VALUE);
  EXPECT_NE(TakeError().find("for method VoltageData, parameter Voltage."), std::string::npos);
  EXPECT_TRUE(script->Done()) << script->Report();
}

TEST_F(CallerInput, ASimulatedSessionStoresNoNonFiniteNumber) {
  Open("K4201A", true);
  auto out = Output("Output2");
  ASSERT_EQ(out->put_VoltageLevel(3.0), S_OK);
  EXPECT_EQ(out->put_VoltageLevel(kNaN), E_IVI_INVALID_VALUE);
  TakeError();
  EXPECT_EQ(out->ConfigureRange(VelmoraK40xxRangeVoltage, kInf), E_IVI_INVALID_VALUE);
  EXPECT_NE(TakeError().find("for method ConfigureRange, parameter Range."), std::string::npos);
  double level = 0;
  EXPECT_EQ(out->get_VoltageLevel(&level), S_OK);
  EXPECT_EQ(level, 3.0);
}

// ---------------------------------------------------------------------------------------------
// Initialize

class StaleStatus : public ::testing::Test {
 protected:
  void SetUp() override { script = Script::Install("psu"); }
  void TearDown() override {
    if (driver) driver->Close();
    Script::Uninstall("psu");
  }
  HRESULT Initialize(bool reset) {
    driver = vmk::test::NewDriver();
    return driver->Initialize(Bstr("SCRIPT::psu::INSTR"), VARIANT_TRUE,
                              reset ? VARIANT_TRUE : VARIANT_FALSE, Bstr("QueryInstrStatus=true"));
  }
  std::shared_ptr<Script> script;
  vmk::com::ComPtr<IVelmoraK40xx> driver;
};

// The status is cleared before the identification: the error an earlier program left in the
// event register is gone, but its error queue entry is still there to read.
TEST_F(StaleStatus, AnEventStatusFromBeforeTheSessionIsClearedAndDoesNotFailInitialize) {
  script->Expect("*CLS\n")
      .Expect("*IDN?\n")
      .Reply("Velmora,K4201A,0,1.0\n")
      .Expect("*ESR?\n")
      .Reply("+0\n")
      .Expect("*RST;*OPC?\n")
      .Reply("1\n")
      .Expect("*ESR?\n")
      .Reply("+0\n");
  ASSERT_EQ(Initialize(true), S_OK) << TakeError();
  EXPECT_EQ(TakeError(), "");
  EXPECT_TRUE(script->Done()) << script->Report();
}

TEST_F(StaleStatus, AnErrorOfTheResetItselfStillFailsInitialize) {
  script->Expect("*CLS\n")
      .Expect("*IDN?\n")
      .Reply("Velmora,K4201A,0,1.0\n")
      .Expect("*ESR?\n")
      .Reply("+0\n")
      .Expect("*RST;*OPC?\n")
      .Reply("1\n")
      .Expect("*ESR?\n")
      .Reply("+16\n");
  EXPECT_EQ(Initialize(true), E_IVI_RESET_FAILED);
  TakeError();
  VARIANT_BOOL open = VARIANT_TRUE;
  ASSERT_EQ(driver->get_Initialized(&open), S_OK);
  EXPECT_EQ(open, VARIANT_FALSE);
  EXPECT_TRUE(script->Done()) << script->Report();
}

TEST_F(StaleStatus, AnErrorOfTheIdentificationStillFailsInitialize) {
  script->Expect("*CLS\n")
      .Expect("*IDN?\n")
      .Reply("Velmora,K4201A,0,1.0\n")
      .Expect("*ESR?\n")
      .Reply("+32\n");
  EXPECT_EQ(Initialize(false), E_IVI_INSTRUMENT_STATUS);
  EXPECT_EQ(TakeError(),
            "VelmoraK40xx: Instrument error detected.  Use ErrorQuery() to determine the "
            "error(s).");
  EXPECT_TRUE(script->Done()) << script->Report();
}

}  // namespace
