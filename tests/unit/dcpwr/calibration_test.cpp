// The calibration members: the exact bytes on a scripted instrument for each kind of model, the
// codes and messages that must never reach it as they are, the long steps' time-out, and the
// simulated session.
#include <gtest/gtest.h>

#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "dcpwr/velmora_k40xx.h"
#include "io/io_seams.h"
#include "io/visa_com_io_provider.h"
#include "platform/com/com_ptr.h"
#include "tests/support/client.h"
#include "tests/support/script.h"
#include "tests/support/trace_recorder.h"
#include "vmk40xx/vmk40xx.h"

namespace vmk {
namespace {

using com::Bstr;
using com::ComPtr;
using test::TakeError;
using visa::Script;

// Notes the session's I/O time-out at the moment each prepared command goes out.
struct TimeoutWatch final : test::TraceRecorder {
  void OnEnter(const TraceCall& call, std::span<const TraceParam> params) override {
    if (std::string_view(call.method) != "InstrPrintCommand" || params.empty()) return;
    int32_t timeout = 0;
    provider->GetIOTimeout(&timeout);
    seen.push_back(test::TraceText(params[0].value) + " @" + std::to_string(timeout));
  }
  CDriverIOProvider* provider = nullptr;
  std::vector<std::string> seen;
};

class Calibration : public ::testing::Test {
 protected:
  void TearDown() override {
    if (driver) driver->SetMethodTrace(nullptr);
    calibrations.reset();
    if (root) root->Close();
    root.reset();
    if (driver) driver->Release();
    if (script) {
      EXPECT_TRUE(script->Done()) << script->Report();
    }
    Script::Uninstall("cal");
  }

  // A session on `model`; the script holds only what the members under test send.
  void Open(const std::string& model) {
    script = Script::Install("cal");
    script->Expect("*IDN?\n").Reply("Velmora," + model + ",0,1.0\n");
    Start(Bstr("SCRIPT::cal::INSTR"), Bstr(""));
  }
  // Over a resource that would report any traffic: a simulated session sends nothing.
  void OpenSimulated(const std::string& model) {
    script = Script::Install("cal");
    Start(Bstr("SCRIPT::cal::INSTR"), Bstr("Simulate=true, DriverSetup=Model=" + model));
  }
  void Start(const Bstr& resource, const Bstr& options) {
    driver = VelmoraK40xx::Create();
    ASSERT_TRUE(driver);
    ASSERT_EQ(driver->QueryInterface(IID_IVelmoraK40xx, reinterpret_cast<void**>(root.put())),
              S_OK);
    ASSERT_EQ(root->Initialize(resource.get(), VARIANT_FALSE, VARIANT_FALSE, options.get()), S_OK)
        << TakeError();
    ASSERT_EQ(root->get_Calibrations(calibrations.put()), S_OK);
  }
  ComPtr<IVelmoraK40xxCalibration> Item(const std::string& name) {
    ComPtr<IVelmoraK40xxCalibration> item;
    Bstr n(name);
    EXPECT_EQ(calibrations->get_Item(n.get(), item.put()), S_OK) << TakeError();
    return item;
  }
  // The session's tracer sees the commands of the root and of every instance.
  void Watch() {
    watch.provider = &driver->Provider();
    driver->SetMethodTrace(&watch);
  }
  void SetTimeout(int32_t ms) { ASSERT_EQ(driver->IO().SetIOTimeout(ms), S_OK); }
  int32_t Timeout() {
    int32_t ms = 0;
    EXPECT_EQ(driver->IO().GetIOTimeout(&ms), S_OK);
    return ms;
  }
  void PollStatus() {
    ComPtr<IIviDriverOperation> operation;
    ASSERT_EQ(
        root->QueryInterface(IID_IIviDriverOperation, reinterpret_cast<void**>(operation.put())),
        S_OK);
    script->Expect("*CLS\n").Expect("*ESR?\n").Reply("0\n");
    ASSERT_EQ(operation->put_QueryInstrumentStatus(VARIANT_TRUE), S_OK);
  }
  std::string String() {
    Bstr s;
    EXPECT_EQ(calibrations->get_String(s.put()), S_OK) << TakeError();
    return s.utf8();
  }

  std::shared_ptr<Script> script;
  VelmoraK40xx* driver = nullptr;
  ComPtr<IVelmoraK40xx> root;
  ComPtr<IVelmoraK40xxCalibrations> calibrations;
  TimeoutWatch watch;
};

TEST_F(Calibration, ASingleOutputModelTurnsBothProtectionsOffBeforeALevelAndSelectsNothing) {
  Open("K4102A");
  auto cal = Item("Calibration1");
  script->Expect("CURR:PROT:STAT 0\n").Expect("VOLT:PROT:STAT 0\n").Expect("CAL:CURR:LEV MIN\n");
  EXPECT_EQ(cal->CurrentLevel(VelmoraK40xxCalibrationLevelMin), S_OK) << TakeError();
  script->Expect("CAL:CURR 1.25\n").Expect("CAL:CURR:PROT\n");
  EXPECT_EQ(cal->CurrentData(1.25), S_OK);
  EXPECT_EQ(cal->CurrentProtection(), S_OK);
  script->Expect("CURR:PROT:STAT 0\n").Expect("VOLT:PROT:STAT 0\n").Expect("CAL:VOLT:LEV MID\n");
  EXPECT_EQ(cal->VoltageLevel(VelmoraK40xxCalibrationLevelMid), S_OK);
  script->Expect("CAL:VOLT 7.98765432101234\n").Expect("CAL:VOLT:PROT\n");
  EXPECT_EQ(cal->VoltageData(7.98765432101234), S_OK);
  EXPECT_EQ(cal->VoltageProtection(), S_OK);
}

TEST_F(Calibration, TheThreeOutputModelSelectsTheOutputAndHasNoProtectionToTurnOff) {
  Open("K4301A");
  script->Expect("INST:NSEL 3\n").Expect("CAL:VOLT:LEV MAX\n");
  EXPECT_EQ(Item("Calibration3")->VoltageLevel(VelmoraK40xxCalibrationLevelMax), S_OK);
  script->Expect("INST:NSEL 2\n").Expect("CAL:CURR -0.5\n");
  EXPECT_EQ(Item("Calibration2")->CurrentData(-0.5), S_OK);
  // Mid is no point of this model, and neither protection calibration exists on it.
  auto cal = Item("Calibration1");
  EXPECT_EQ(cal->CurrentLevel(VelmoraK40xxCalibrationLevelMid), E_IVI_INVALID_VALUE);
  EXPECT_EQ(TakeError(),
            "VelmoraK40xx: Invalid value (1) for method CurrentLevel, parameter Level.");
  EXPECT_EQ(cal->VoltageProtection(), E_VELMORAK40XX_MODEL_NOT_SUPPORTED);
  EXPECT_EQ(TakeError(),
            "VelmoraK40xx: Instrument model does not support this feature: VoltageProtection.");
  EXPECT_EQ(cal->CurrentProtection(), E_VELMORAK40XX_MODEL_NOT_SUPPORTED);
  EXPECT_EQ(calibrations->DACError(), E_VELMORAK40XX_MODEL_NOT_SUPPORTED);
}

TEST_F(Calibration, ADualModelSelectsEveryTimeAndTurnsOffOnlyOverVoltageProtection) {
  Open("K4202A");
  auto cal = Item("Calibration2");
  script->Expect("INST:NSEL 2\n").Expect("VOLT:PROT:STAT 0\n").Expect("CAL:VOLT:LEV MID\n");
  EXPECT_EQ(cal->VoltageLevel(VelmoraK40xxCalibrationLevelMid), S_OK);
  script->Expect("INST:NSEL 2\n").Expect("CAL:VOLT 17.5\n");
  EXPECT_EQ(cal->VoltageData(17.5), S_OK);
  script->Expect("INST:NSEL 2\n").Expect("CAL:VOLT:PROT\n");
  EXPECT_EQ(cal->VoltageProtection(), S_OK);
  script->Expect("INST:NSEL 1\n").Expect("VOLT:PROT:STAT 0\n").Expect("CAL:CURR:LEV MAX\n");
  EXPECT_EQ(Item("Calibration1")->CurrentLevel(VelmoraK40xxCalibrationLevelMax), S_OK);
  EXPECT_EQ(cal->CurrentProtection(), E_VELMORAK40XX_MODEL_NOT_SUPPORTED);
  EXPECT_EQ(calibrations->DACError(), E_VELMORAK40XX_MODEL_NOT_SUPPORTED);
  // A level outside the enumeration has no keyword to send.
  EXPECT_EQ(cal->VoltageLevel(static_cast<VelmoraK40xxCalibrationLevelEnum>(3)),
            E_IVI_INVALID_VALUE);
  EXPECT_EQ(TakeError(),
            "VelmoraK40xx: Invalid value (3) for method VoltageLevel, parameter Level.");
}

TEST_F(Calibration, ARefusedProtectionSwitchOffIsTheResultAndNoPointIsTaken) {
  Open("K4101A");
  PollStatus();
  script->Expect("CURR:PROT:STAT 0\n").Expect("*ESR?\n").Reply("16\n");
  EXPECT_EQ(Item("Calibration1")->VoltageLevel(VelmoraK40xxCalibrationLevelMin),
            E_IVI_INSTRUMENT_STATUS);
  TakeError();
  // The instrument's refusal of a step (calibration still secured) comes back the same way.
  script->Expect("CAL:VOLT 1\n").Expect("*ESR?\n").Reply("8\n");
  EXPECT_EQ(Item("Calibration1")->VoltageData(1), E_IVI_INSTRUMENT_STATUS);
  TakeError();
}

TEST_F(Calibration, TheLongStepsRaiseAShortTimeOutForTheirCommandOnlyAndPutItBack) {
  Open("K4103A");
  Watch();
  script->Expect("CAL:DAC:ERR\n").Expect("CAL:DAC:ERR\n").Expect("CAL:DAC:ERR\n");
  SetTimeout(60000);
  EXPECT_EQ(calibrations->DACError(), S_OK);
  EXPECT_EQ(Timeout(), 60000);
  SetTimeout(2000);
  EXPECT_EQ(calibrations->DACError(), S_OK);
  EXPECT_EQ(Timeout(), 2000);
  // A session that waits forever is not cut down to the step's minimum.
  SetTimeout(kIoTimeoutInfinite);
  EXPECT_EQ(calibrations->DACError(), S_OK);
  EXPECT_EQ(Timeout(), kIoTimeoutInfinite);
  SetTimeout(14999);
  script->Expect("CAL:CURR:PROT\n").Expect("CAL:VOLT:PROT\n");
  EXPECT_EQ(Item("Calibration1")->CurrentProtection(), S_OK);
  EXPECT_EQ(Item("Calibration1")->VoltageProtection(), S_OK);
  EXPECT_EQ(Timeout(), 14999);
  // Failing steps put the time-out back too, and keep their own error.
  script->Fail(E_FAIL, "link down").ExpectClear();
  EXPECT_TRUE(FAILED(calibrations->DACError()));
  EXPECT_NE(TakeError().find("link down"), std::string::npos);
  EXPECT_EQ(Timeout(), 14999);
  EXPECT_EQ(watch.seen, (std::vector<std::string>{"CAL:DAC:ERR @60000", "CAL:DAC:ERR @45000",
                                                  "CAL:DAC:ERR @-1", "CAL:CURR:PROT @15000",
                                                  "CAL:VOLT:PROT @15000", "CAL:DAC:ERR @45000"}));
}

TEST_F(Calibration, SecurityCodeCountAndStateGoOutAndComeBackAsTheInstrumentUsesThem) {
  Open("K4201A");
  script->Expect("CAL:SEC:STAT 0, VMK40XX\n").Expect("CAL:SEC:STAT?\n").Reply("0\n");
  EXPECT_EQ(calibrations->SetState(VARIANT_FALSE, Bstr("VMK40XX").get()), S_OK) << TakeError();
  VARIANT_BOOL secured = VARIANT_TRUE;
  EXPECT_EQ(calibrations->get_Enabled(&secured), S_OK);
  EXPECT_EQ(secured, VARIANT_FALSE);
  script->Expect("CAL:SEC:CODE New_Code_42\n").Expect("CAL:COUN?\n").Reply("+17\n");
  EXPECT_EQ(calibrations->put_Password(Bstr("New_Code_42").get()), S_OK);
  LONG times = 0;
  EXPECT_EQ(calibrations->get_Times(&times), S_OK);
  EXPECT_EQ(times, 17);
  script->Expect("CAL:SEC:STAT 1, New_Code_42\n").Expect("CAL:SEC:STAT?\n").Reply("ON\n");
  EXPECT_EQ(calibrations->SetState(VARIANT_TRUE, Bstr("New_Code_42").get()), S_OK);
  // Anything but 1 or 0 is no answer to trust about security.
  EXPECT_EQ(calibrations->get_Enabled(&secured), E_IVI_UNEXPECTED_RESPONSE);
  TakeError();
}

TEST_F(Calibration, ACodeThatWouldEndOrSplitTheCommandIsRefusedUnsentAndUnechoed) {
  Open("K4102A");
  for (const char* code : {"VMK;*RST", "VMK,1", "VMK\n*RST", "VMK 40", "\"VMK\"", "", "VMKé"}) {
    SCOPED_TRACE(code);
    EXPECT_EQ(calibrations->SetState(VARIANT_FALSE, Bstr(code).get()), E_IVI_INVALID_VALUE);
    const std::string error = TakeError();
    EXPECT_EQ(error,
              "VelmoraK40xx: Invalid value (not shown) for method SetState, parameter "
              "Password.");
    EXPECT_EQ(calibrations->put_Password(Bstr(code).get()), E_IVI_INVALID_VALUE);
    EXPECT_NE(TakeError().find("put_Password, parameter val"), std::string::npos);
  }
  // A null code reads as the empty one.
  EXPECT_EQ(calibrations->SetState(VARIANT_TRUE, nullptr), E_IVI_INVALID_VALUE);
  TakeError();
}

TEST_F(Calibration, TheMessageKeepsItsQuotesBothWaysAndCannotEndTheCommand) {
  Open("K4102A");
  script->Expect("CAL:STR \"Lab \"\"B\"\" 5%s %d\"\n");
  EXPECT_EQ(calibrations->put_String(Bstr("Lab \"B\" 5%s %d").get()), S_OK) << TakeError();
  script->Expect("CAL:STR?\n").Reply("\"Lab \"\"B\"\" 5%s %d\"\n");
  EXPECT_EQ(String(), "Lab \"B\" 5%s %d");
  script->Expect("CAL:STR?\n").Reply("  \"FACTORY CAL 09/Aug/2002\" \r\n");
  EXPECT_EQ(String(), "FACTORY CAL 09/Aug/2002");
  script->Expect("CAL:STR?\n").Reply("\"\"\n");
  EXPECT_EQ(String(), "");
  // Replies that are not one quoted string lose every quote but keep their text.
  script->Expect("CAL:STR?\n").Reply("BARE TEXT\n");
  EXPECT_EQ(String(), "BARE TEXT");
  script->Expect("CAL:STR?\n").Reply("\"cut sho\n");
  EXPECT_EQ(String(), "cut sho");
  EXPECT_EQ(calibrations->put_String(Bstr("one\n*RST").get()), E_IVI_INVALID_VALUE);
  EXPECT_NE(TakeError().find("(one\n*RST) for method put_String, parameter val"),
            std::string::npos);
}

TEST_F(Calibration, ALongMessageIsReadNoFurtherThanItsLimit) {
  Open("K4102A");
  const std::string longText(200, 'x');
  script->Expect("CAL:STR?\n").Reply("\"" + longText + "\"\n");
  const std::string read = String();
  EXPECT_LE(read.size(), 128u);
  EXPECT_EQ(read, std::string(read.size(), 'x'));
  // What was not read is dropped before the next command, not taken as its answer.
  script->Expect("CAL:COUN?\n").Reply("3\n");
  LONG times = 0;
  EXPECT_EQ(calibrations->get_Times(&times), S_OK) << TakeError();
  EXPECT_EQ(times, 3);
}

TEST_F(Calibration, SimulatedSecurityMessageAndCountStayInTheSession) {
  OpenSimulated("K4102A");
  VARIANT_BOOL secured = VARIANT_FALSE;
  EXPECT_EQ(calibrations->get_Enabled(&secured), S_OK);
  EXPECT_EQ(secured, VARIANT_TRUE);
  EXPECT_EQ(String(), "FACTORY CAL 09/Aug/2002");
  LONG times = 0;
  EXPECT_EQ(calibrations->get_Times(&times), S_OK);
  EXPECT_EQ(times, 1);

  EXPECT_EQ(calibrations->SetState(VARIANT_FALSE, Bstr("VMK40XX").get()), S_OK);
  EXPECT_EQ(calibrations->get_Enabled(&secured), S_OK);
  EXPECT_EQ(secured, VARIANT_FALSE);
  EXPECT_EQ(calibrations->put_Password(Bstr("OTHER").get()), S_OK);
  EXPECT_EQ(calibrations->put_String(Bstr("Lab \"B\"").get()), S_OK);
  EXPECT_EQ(String(), "Lab \"B\"");
  EXPECT_EQ(calibrations->SetState(VARIANT_TRUE, Bstr("OTHER").get()), S_OK);
  EXPECT_EQ(calibrations->get_Enabled(&secured), S_OK);
  EXPECT_EQ(secured, VARIANT_TRUE);
  // The same refusals as on an instrument, and the refused call changes nothing.
  EXPECT_EQ(calibrations->SetState(VARIANT_FALSE, Bstr("X;Y").get()), E_IVI_INVALID_VALUE);
  TakeError();
  EXPECT_EQ(calibrations->get_Enabled(&secured), S_OK);
  EXPECT_EQ(secured, VARIANT_TRUE);

  // The steps do nothing, the DAC step included, on the model that has it.
  auto cal = Item("Calibration1");
  EXPECT_EQ(cal->VoltageLevel(VelmoraK40xxCalibrationLevelMid), S_OK);
  EXPECT_EQ(cal->VoltageData(5), S_OK);
  EXPECT_EQ(cal->CurrentProtection(), S_OK);
  EXPECT_EQ(calibrations->DACError(), S_OK);
  EXPECT_EQ(calibrations->get_Times(&times), S_OK);
  EXPECT_EQ(times, 1);
}

TEST_F(Calibration, SimulationRefusesWhatTheModelLacks) {
  OpenSimulated("K4301A");
  auto cal = Item("Calibration2");
  EXPECT_EQ(cal->VoltageLevel(VelmoraK40xxCalibrationLevelMid), E_IVI_INVALID_VALUE);
  TakeError();
  EXPECT_EQ(cal->VoltageLevel(VelmoraK40xxCalibrationLevelMax), S_OK);
  EXPECT_EQ(cal->VoltageProtection(), E_VELMORAK40XX_MODEL_NOT_SUPPORTED);
  TakeError();
  EXPECT_EQ(calibrations->DACError(), E_VELMORAK40XX_MODEL_NOT_SUPPORTED);
  TakeError();
}

}  // namespace
}  // namespace vmk
