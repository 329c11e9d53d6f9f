// The instrument-wide status, system and display members: the exact bytes each sends over the
// scripted instrument, what each refuses before sending, and what a simulated session answers.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "dcpwr/system.h"
#include "platform/com/com_ptr.h"
#include "platform/visa/visa.h"
#include "services/errors.h"

#include "tests/support/client.h"
#include "tests/support/script.h"
#include "vmk40xx/errors.h"
#include "vmk40xx/vmk40xx.h"

namespace {

using vmk::test::Bstr;
using vmk::test::Ref;
using vmk::test::TakeError;
using vmk::visa::Script;

class Session : public ::testing::Test {
 protected:
  void TearDown() override {
    status.Reset();
    system.Reset();
    display.Reset();
    if (driver) driver->Close();
    if (script) Script::Uninstall(scriptName);
  }

  // A session on `model` over the scripted instrument named `name`; with `simulate`, no traffic
  // at all is expected.
  void Open(const std::string& model, bool simulate = false, const std::string& name = "psu") {
    scriptName = name;
    script = Script::Install(name);
    // A serial instrument is switched to remote before it is identified.
    if (!simulate && name.find("ASRL") != std::string::npos)
      script->Expect("SYST:REM;*OPC?\n").Reply("1\n");
    if (!simulate) script->Expect("*IDN?\n").Reply("Velmora," + model + ",0,1.0\n");
    driver = vmk::test::NewDriver();
    ASSERT_TRUE(driver);
    const std::string options = simulate ? "Simulate=true, DriverSetup=Model=" + model : "";
    ASSERT_EQ(driver->Initialize(Bstr("SCRIPT::" + name + "::INSTR"), VARIANT_FALSE, VARIANT_FALSE,
                                 Bstr(options)),
              S_OK)
        << TakeError();
    ASSERT_EQ(driver->get_Status(&status.p), S_OK);
    ASSERT_EQ(driver->get_System(&system.p), S_OK);
    ASSERT_EQ(driver->get_Display(&display.p), S_OK);
  }
  void PollStatus() {
    Ref<IIviDriverOperation> operation;
    ASSERT_EQ(driver->QueryInterface(IID_IIviDriverOperation, reinterpret_cast<void**>(&operation)),
              S_OK);
    script->Expect("*CLS\n").Expect("*ESR?\n").Reply("0\n");
    ASSERT_EQ(operation->put_QueryInstrumentStatus(VARIANT_TRUE), S_OK);
  }

  std::string scriptName;
  std::shared_ptr<Script> script;
  vmk::com::ComPtr<IVelmoraK40xx> driver;
  Ref<IVelmoraK40xxStatus> status;
  Ref<IVelmoraK40xxSystem> system;
  Ref<IVelmoraK40xxDisplay> display;
};

// ---------------------------------------------------------------------------------------------
// Status

TEST_F(Session, RegisterQueriesReadTheEventRegisterUnlessTheEnableOneIsAskedFor) {
  Open("K4301A");
  struct Case {
    VelmoraK40xxStatusRegisterEnum reg;
    VelmoraK40xxStatusSubRegisterEnum sub;
    const char* command;
  };
  const Case cases[] = {
      {VelmoraK40xxStatusRegisterStatusByte, VelmoraK40xxStatusSubRegisterEvent, "*STB?\n"},
      {VelmoraK40xxStatusRegisterStatusByte, VelmoraK40xxStatusSubRegisterEnable, "*SRE?\n"},
      {VelmoraK40xxStatusRegisterStandardEvent, VelmoraK40xxStatusSubRegisterSummary, "*ESR?\n"},
      {VelmoraK40xxStatusRegisterStandardEvent, VelmoraK40xxStatusSubRegisterEnable, "*ESE?\n"},
      {VelmoraK40xxStatusRegisterQuestionable, VelmoraK40xxStatusSubRegisterSummary,
       "STAT:QUES?\n"},
      {VelmoraK40xxStatusRegisterQuestionable, VelmoraK40xxStatusSubRegisterEnable,
       "STAT:QUES:ENAB?\n"},
      {VelmoraK40xxStatusRegisterInstrument, VelmoraK40xxStatusSubRegisterEvent,
       "STAT:QUES:INST?\n"},
      {VelmoraK40xxStatusRegisterInstrument2, VelmoraK40xxStatusSubRegisterEnable,
       "STAT:QUES:INST:ISUM2:ENAB?\n"},
      {VelmoraK40xxStatusRegisterInstrument3, VelmoraK40xxStatusSubRegisterEvent,
       "STAT:QUES:INST:ISUM3?\n"},
  };
  LONG value = 0;
  for (const Case& c : cases) {
    script->Expect(c.command).Reply("+17\n");
    EXPECT_EQ(status->QueryRegister(c.reg, c.sub, &value), S_OK) << c.command << TakeError();
    EXPECT_EQ(value, 17) << c.command;
  }
  // The indexed property reads through the method.
  script->Expect("STAT:QUES:INST:ISUM1:ENAB?\n").Reply("3\n");
  EXPECT_EQ(status->get_Register(VelmoraK40xxStatusRegisterInstrument1,
                                 VelmoraK40xxStatusSubRegisterEnable, &value),
            S_OK);
  EXPECT_EQ(value, 3);
  EXPECT_TRUE(script->Done()) << script->Report();
}

TEST_F(Session, ConfigureRegisterWritesTheEnableMaskAndRefusesBitsTheRegisterLacks) {
  Open("K4201A");
  script->Expect("*SRE 56\n").Expect("*ESE 255\n").Expect("STAT:QUES:ENAB -1\n");
  EXPECT_EQ(status->ConfigureRegister(VelmoraK40xxStatusRegisterStatusByte,
                                      VelmoraK40xxStatusSubRegisterEvent, 56),
            S_OK);
  // Only enable registers can be written: the sub-register chooses nothing.
  EXPECT_EQ(status->ConfigureRegister(VelmoraK40xxStatusRegisterStandardEvent,
                                      VelmoraK40xxStatusSubRegisterSummary, 255),
            S_OK);
  EXPECT_EQ(status->ConfigureRegister(VelmoraK40xxStatusRegisterQuestionable,
                                      VelmoraK40xxStatusSubRegisterEnable, -1),
            S_OK);

  EXPECT_EQ(status->ConfigureRegister(VelmoraK40xxStatusRegisterStatusByte,
                                      VelmoraK40xxStatusSubRegisterEvent, 57),
            E_IVI_INVALID_VALUE);
  EXPECT_EQ(TakeError(),
            "VelmoraK40xx: Invalid value (57) for method ConfigureRegister, parameter Data, "
            "Range 0-56.");
  EXPECT_EQ(status->ConfigureRegister(VelmoraK40xxStatusRegisterStandardEvent,
                                      VelmoraK40xxStatusSubRegisterEnable, -1),
            E_IVI_INVALID_VALUE);
  EXPECT_EQ(TakeError(),
            "VelmoraK40xx: Invalid value (-1) for method ConfigureRegister, parameter Data, "
            "Range 0-255.");
  // The property setter writes through the method, whose check and text it keeps.
  EXPECT_EQ(status->put_Register(VelmoraK40xxStatusRegisterStandardEvent,
                                 VelmoraK40xxStatusSubRegisterEnable, 256),
            E_IVI_INVALID_VALUE);
  EXPECT_NE(TakeError().find("method ConfigureRegister, parameter Data, Range 0-255"),
            std::string::npos);
  script->Expect("STAT:QUES:INST:ISUM2:ENAB 3\n");
  EXPECT_EQ(status->put_Register(VelmoraK40xxStatusRegisterInstrument2,
                                 VelmoraK40xxStatusSubRegisterEnable, 3),
            S_OK);
  EXPECT_TRUE(script->Done()) << script->Report();
}

TEST_F(Session, RegistersAModelOrTheEnumerationLacksAreRefusedByEveryRegisterMember) {
  Open("K4202A");
  LONG value = 5;
  EXPECT_EQ(status->QueryRegister(VelmoraK40xxStatusRegisterInstrument3,
                                  VelmoraK40xxStatusSubRegisterEvent, &value),
            E_IVI_INVALID_VALUE);
  EXPECT_EQ(TakeError(),
            "VelmoraK40xx: Invalid value (6) for method QueryRegister, parameter Register.");
  EXPECT_EQ(status->get_Register(VelmoraK40xxStatusRegisterInstrument3,
                                 VelmoraK40xxStatusSubRegisterEvent, &value),
            E_IVI_INVALID_VALUE);
  EXPECT_EQ(TakeError(),
            "VelmoraK40xx: Invalid value (6) for method get_Register, parameter Register.");
  EXPECT_EQ(status->ConfigureRegister(VelmoraK40xxStatusRegisterInstrument3,
                                      VelmoraK40xxStatusSubRegisterEnable, 1),
            E_IVI_INVALID_VALUE);
  TakeError();
  // A register number the enumeration does not have reaches no register at all, rather than
  // the status byte.
  EXPECT_EQ(status->ConfigureRegister(static_cast<VelmoraK40xxStatusRegisterEnum>(7),
                                      VelmoraK40xxStatusSubRegisterEnable, 1),
            E_IVI_INVALID_VALUE);
  EXPECT_EQ(TakeError(),
            "VelmoraK40xx: Invalid value (7) for method ConfigureRegister, parameter Register.");
  EXPECT_EQ(status->QueryRegister(VelmoraK40xxStatusRegisterQuestionable,
                                  static_cast<VelmoraK40xxStatusSubRegisterEnum>(3), &value),
            E_IVI_INVALID_VALUE);
  TakeError();
  EXPECT_TRUE(script->Done()) << script->Report();

  driver->Close();
  script->Expect("*IDN?\n").Reply("Velmora,K4105A,0,1.0\n");
  ASSERT_EQ(driver->Initialize(Bstr("SCRIPT::psu::INSTR"), VARIANT_FALSE, VARIANT_FALSE, Bstr("")),
            S_OK);
  EXPECT_EQ(status->QueryRegister(VelmoraK40xxStatusRegisterInstrument,
                                  VelmoraK40xxStatusSubRegisterEvent, &value),
            E_IVI_INVALID_VALUE);
  EXPECT_EQ(TakeError(),
            "VelmoraK40xx: Invalid value (3) for method QueryRegister, parameter Register.");
  EXPECT_TRUE(script->Done()) << script->Report();
}

TEST_F(Session, ClearAndSerialPoll) {
  Open("K4102A");
  script->Expect("*CLS\n");
  EXPECT_EQ(status->Clear(), S_OK);
  // The status byte comes from a serial poll, never from a "*STB?" that would wait behind
  // queued commands.
  script->SerialPoll(0x60);
  LONG stb = 0;
  EXPECT_EQ(status->get_SerialPoll(&stb), S_OK) << TakeError();
  EXPECT_EQ(stb, 0x60);
  EXPECT_TRUE(script->Done()) << script->Report();
  EXPECT_EQ(script->Log().back(), "serial poll");
}

TEST_F(Session, AnInstrumentErrorAfterARegisterWriteIsTheMembersResult) {
  Open("K4102A");
  PollStatus();
  script->Expect("*ESE 16\n").Expect("*ESR?\n").Reply("32\n");
  EXPECT_EQ(status->ConfigureRegister(VelmoraK40xxStatusRegisterStandardEvent,
                                      VelmoraK40xxStatusSubRegisterEnable, 16),
            E_IVI_INSTRUMENT_STATUS);
  TakeError();
  EXPECT_TRUE(script->Done()) << script->Report();
}

TEST_F(Session, SimulatedRegistersReadClearAndStillRefuseWhatTheModelLacks) {
  Open("K4201A", true);
  LONG value = 9;
  for (int reg = VelmoraK40xxStatusRegisterStatusByte; reg <= VelmoraK40xxStatusRegisterInstrument2;
       ++reg) {
    value = 9;
    EXPECT_EQ(status->QueryRegister(static_cast<VelmoraK40xxStatusRegisterEnum>(reg),
                                    VelmoraK40xxStatusSubRegisterEvent, &value),
              S_OK);
    EXPECT_EQ(value, 0);
  }
  // Out of range data is the instrument's to refuse; a simulated session writes nowhere.
  EXPECT_EQ(status->put_Register(VelmoraK40xxStatusRegisterStatusByte,
                                 VelmoraK40xxStatusSubRegisterEnable, 32),
            S_OK);
  value = 9;
  EXPECT_EQ(status->get_Register(VelmoraK40xxStatusRegisterStatusByte,
                                 VelmoraK40xxStatusSubRegisterEnable, &value),
            S_OK);
  EXPECT_EQ(value, 0);
  EXPECT_EQ(status->ConfigureRegister(VelmoraK40xxStatusRegisterStatusByte,
                                      VelmoraK40xxStatusSubRegisterEnable, 1000),
            S_OK);
  EXPECT_EQ(status->QueryRegister(VelmoraK40xxStatusRegisterInstrument3,
                                  VelmoraK40xxStatusSubRegisterEvent, &value),
            E_IVI_INVALID_VALUE);
  TakeError();
  EXPECT_EQ(status->get_SerialPoll(&value), S_OK);
  EXPECT_EQ(value, 0);
  EXPECT_EQ(status->Clear(), S_OK);
  EXPECT_TRUE(script->Log().empty()) << script->Report();
}

// ---------------------------------------------------------------------------------------------
// Display

TEST_F(Session, DisplayTextIsSentQuotedAndReadBackWithoutItsQuotes) {
  Open("K4104A");
  script->Expect("DISP:TEXT \"HELLO\"\n").Expect("DISP:TEXT?\n").Reply(" \"HELLO\" \n");
  EXPECT_EQ(display->put_Text(Bstr("HELLO")), S_OK);
  vmk::com::Bstr text;
  EXPECT_EQ(display->get_Text(text.put()), S_OK);
  EXPECT_EQ(text.utf8(), "HELLO");
  script->Expect("DISP:TEXT:CLE\n").Expect("DISP:TEXT?\n").Reply("\"\"\n");
  EXPECT_EQ(display->Clear(), S_OK);
  EXPECT_EQ(display->get_Text(text.put()), S_OK);
  EXPECT_EQ(text.utf8(), "");
  EXPECT_TRUE(script->Done()) << script->Report();
}

TEST_F(Session, AQuoteInTheDisplayTextStaysTextAndALineFeedIsRefused) {
  Open("K4104A");
  // Unescaped, the quote would close the string and the instrument would reset.
  script->Expect("DISP:TEXT \"A\"\";*RST;DISP:TEXT \"\"B\"\n");
  EXPECT_EQ(display->put_Text(Bstr("A\";*RST;DISP:TEXT \"B")), S_OK);
  script->Expect("DISP:TEXT?\n").Reply("\"SAY \"\"HI\"\"\"\n");
  vmk::com::Bstr text;
  EXPECT_EQ(display->get_Text(text.put()), S_OK);
  EXPECT_EQ(text.utf8(), "SAY \"HI\"");
  EXPECT_EQ(display->put_Text(Bstr("ONE\n*RST")), E_IVI_INVALID_VALUE);
  EXPECT_NE(TakeError().find("for method put_Text, parameter val."), std::string::npos);
  EXPECT_TRUE(script->Done()) << script->Report();
}

TEST_F(Session, DisplayStateAndModeOnADualModel) {
  Open("K4203A");
  script->Expect("DISP:STAT 0\n").Expect("DISP:STAT?\n").Reply("0\n");
  EXPECT_EQ(display->put_Enabled(VARIANT_FALSE), S_OK);
  VARIANT_BOOL on = VARIANT_TRUE;
  EXPECT_EQ(display->get_Enabled(&on), S_OK);
  EXPECT_EQ(on, VARIANT_FALSE);
  script->Expect("DISP:MODE II\n").Expect("DISP:MODE?\n").Reply("VV\n");
  EXPECT_EQ(display->put_Mode(VelmoraK40xxDisplayModeCurrentCurrent), S_OK);
  VelmoraK40xxDisplayModeEnum mode = VelmoraK40xxDisplayModeVoltCurrent;
  EXPECT_EQ(display->get_Mode(&mode), S_OK);
  EXPECT_EQ(mode, VelmoraK40xxDisplayModeVoltVolt);
  script->Expect("DISP:MODE?\n").Reply("VX\n");
  EXPECT_EQ(display->get_Mode(&mode), E_IVI_UNEXPECTED_RESPONSE);
  TakeError();
  EXPECT_EQ(display->put_Mode(static_cast<VelmoraK40xxDisplayModeEnum>(3)), E_IVI_INVALID_VALUE);
  TakeError();
  EXPECT_TRUE(script->Done()) << script->Report();
}

TEST_F(Session, SimulatedDisplayKeepsWhatWasWrittenAndClearEmptiesTheText) {
  Open("K4201A", true);
  VARIANT_BOOL on = VARIANT_FALSE;
  VelmoraK40xxDisplayModeEnum mode = VelmoraK40xxDisplayModeCurrentCurrent;
  vmk::com::Bstr text;
  EXPECT_EQ(display->get_Enabled(&on), S_OK);
  EXPECT_EQ(on, VARIANT_TRUE);
  EXPECT_EQ(display->get_Mode(&mode), S_OK);
  EXPECT_EQ(mode, VelmoraK40xxDisplayModeVoltCurrent);
  EXPECT_EQ(display->get_Text(text.put()), S_OK);
  EXPECT_EQ(text.utf8(), "");

  EXPECT_EQ(display->put_Enabled(VARIANT_FALSE), S_OK);
  EXPECT_EQ(display->put_Mode(VelmoraK40xxDisplayModeVoltVolt), S_OK);
  EXPECT_EQ(display->put_Text(Bstr("RUN 7")), S_OK);
  EXPECT_EQ(display->get_Enabled(&on), S_OK);
  EXPECT_EQ(on, VARIANT_FALSE);
  EXPECT_EQ(display->get_Mode(&mode), S_OK);
  EXPECT_EQ(mode, VelmoraK40xxDisplayModeVoltVolt);
  EXPECT_EQ(display->get_Text(text.put()), S_OK);
  EXPECT_EQ(text.utf8(), "RUN 7");
  EXPECT_EQ(display->Clear(), S_OK);
  EXPECT_EQ(display->get_Text(text.put()), S_OK);
  EXPECT_EQ(text.utf8(), "");
  EXPECT_TRUE(script->Log().empty()) << script->Report();
}

// ---------------------------------------------------------------------------------------------
// System

TEST_F(Session, MemoryNamesAreCheckedForTheirIndexQuotedAndReadBackWithoutQuotes) {
  Open("K4104A");
  vmk::com::Bstr name;
  for (LONG index : {0, 6}) {
    EXPECT_EQ(system->get_MemoryName(index, name.put()), E_IVI_INVALID_VALUE);
    EXPECT_EQ(TakeError(), "VelmoraK40xx: Invalid value (" + std::to_string(index) +
                               ") for method MemoryName, parameter Index, Range 1-5.");
    EXPECT_EQ(system->put_MemoryName(index, Bstr("X")), E_IVI_INVALID_VALUE);
    TakeError();
  }
  script->Expect("MEM:STAT:NAME? 2\n").Reply(" \"BENCH A\" \n");
  EXPECT_EQ(system->get_MemoryName(2, name.put()), S_OK) << TakeError();
  EXPECT_EQ(name.utf8(), "BENCH A");
  script->Expect("MEM:STAT:NAME 5, \"SAY \"\"HI\"\"\"\n");
  EXPECT_EQ(system->put_MemoryName(5, Bstr("SAY \"HI\"")), S_OK);
  EXPECT_EQ(system->put_MemoryName(1, Bstr("A\nB")), E_IVI_INVALID_VALUE);
  TakeError();
  EXPECT_TRUE(script->Done()) << script->Report();
}

TEST_F(Session, StatesBeepAndTheIoTimeout) {
  Open("K4201A");
  script->Expect("*SAV 3\n").Expect("*RCL 3\n").Expect("SYST:BEEP\n");
  EXPECT_EQ(system->SaveState(Bstr("3")), S_OK);
  EXPECT_EQ(system->RecallState(Bstr("3")), S_OK);
  EXPECT_EQ(system->Beep(), S_OK);
  EXPECT_EQ(system->RecallState(Bstr("1\n*RST")), E_IVI_INVALID_VALUE);
  EXPECT_NE(TakeError().find("method RecallState, parameter Identifier"), std::string::npos);

  LONG timeout = 0;
  EXPECT_EQ(system->put_TimeoutMilliseconds(50), S_OK);
  EXPECT_EQ(system->get_TimeoutMilliseconds(&timeout), S_OK);
  EXPECT_EQ(timeout, 100);
  EXPECT_EQ(system->put_TimeoutMilliseconds(4500), S_OK);
  EXPECT_EQ(system->get_TimeoutMilliseconds(&timeout), S_OK);
  EXPECT_EQ(timeout, 4500);
  EXPECT_TRUE(script->Done()) << script->Report();
}

TEST_F(Session, WaitForOperationCompleteAsksWithoutPollingAndRestoresPolling) {
  Open("K4102A");
  PollStatus();
  script->Expect("*OPC?\n").Reply("1\n");
  EXPECT_EQ(system->WaitForOperationComplete(10), S_OK) << TakeError();
  script->Expect("*OPC?\n").Timeout().ExpectClear();
  EXPECT_EQ(system->WaitForOperationComplete(2000), E_VELMORAK40XX_MAX_TIME_EXCEEDED);
  EXPECT_EQ(TakeError(), "VelmoraK40xx: Maximum time for operation to complete exceeded.");
  // A reply that is not a number is the instrument's fault, not the clock's.
  script->Expect("*OPC?\n").Reply("BUSY\n");
  EXPECT_EQ(system->WaitForOperationComplete(2000), E_IVI_UNEXPECTED_RESPONSE);
  TakeError();
  // Polling is back on for the next command.
  script->Expect("SYST:BEEP\n").Expect("*ESR?\n").Reply("0\n");
  EXPECT_EQ(system->Beep(), S_OK);
  EXPECT_TRUE(script->Done()) << script->Report();
}

TEST_F(Session, LocalControlsOnASerialLineAreCommandsThatWaitForTheSwitch) {
  Open("K4102A", false, "ASRL4");
  script->Expect("SYST:REM;*OPC?\n").Reply("1\n").Expect("SYST:LOC;*OPC?\n").Reply("1\n");
  EXPECT_EQ(system->DisableLocalControls(), S_OK) << TakeError();
  EXPECT_EQ(system->EnableLocalControls(), S_OK) << TakeError();
  EXPECT_TRUE(script->Done()) << script->Report();
}

TEST_F(Session, LocalControlsNeedABusThatHasARemoteLine) {
  Open("K4102A");
  EXPECT_EQ(system->EnableLocalControls(), E_IVI_METHOD_NOT_SUPPORTED);
  EXPECT_EQ(TakeError(),
            "VelmoraK40xx: Does not support this class-compliant feature: method "
            "EnableLocalControls");
  EXPECT_EQ(system->DisableLocalControls(), E_IVI_METHOD_NOT_SUPPORTED);
  EXPECT_NE(TakeError().find("DisableLocalControls"), std::string::npos);
  EXPECT_TRUE(script->Done()) << script->Report();
}

// A bus session that records what was done to its remote-enable line.
class FakeBus final : public IGpib {
 public:
  std::vector<LONG> modes;
  HRESULT result = S_OK;

  HRESULT QueryInterface(REFIID riid, void** ppv) override {
    if (riid == IID_IUnknown || riid == IID_IVisaSession || riid == IID_IGpib) {
      *ppv = static_cast<IGpib*>(this);
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  ULONG AddRef() override { return 2; }
  ULONG Release() override { return 1; }
  HRESULT get_Timeout(LONG*) override { return E_NOTIMPL; }
  HRESULT put_Timeout(LONG) override { return E_NOTIMPL; }
  HRESULT get_HardwareInterfaceType(SHORT* v) override { return *v = INTF_GPIB, S_OK; }
  HRESULT get_HardwareInterfaceNumber(SHORT*) override { return E_NOTIMPL; }
  HRESULT get_SessionType(BSTR*) override { return E_NOTIMPL; }
  HRESULT get_ResourceName(BSTR*) override { return E_NOTIMPL; }
  HRESULT get_LastStatus(HRESULT*) override { return E_NOTIMPL; }
  HRESULT Close() override { return S_OK; }
  HRESULT get_PrimaryAddress(SHORT*) override { return E_NOTIMPL; }
  HRESULT get_SecondaryAddress(SHORT*) override { return E_NOTIMPL; }
  HRESULT ControlREN(LONG mode) override {
    modes.push_back(mode);
    return result;
  }
};

TEST(LocalControlsOverABus, LockoutIsFollowedByALineFeedAndLocalAssertsTheLineAgain) {
  auto script = Script::Install("bus");
  vmk::com::ComPtr<IResourceManager> manager;
  ASSERT_EQ(vmk::visa::CreateResourceManager(manager.put()), S_OK);
  vmk::com::ComPtr<IVisaSession> session;
  ASSERT_EQ(manager->Open(Bstr("SCRIPT::bus::INSTR"), NO_LOCK, 2000, Bstr(""), session.put()),
            S_OK);
  vmk::com::ComPtr<IMessage> message;
  ASSERT_EQ(session->QueryInterface(IID_IMessage, reinterpret_cast<void**>(message.put())), S_OK);
  vmk::CErrorManager errors;
  FakeBus bus;

  script->Expect("\n");
  EXPECT_EQ(vmk::SetLocalControlsOverBus(errors, &bus, message.get(), false, "Disable"), S_OK);
  EXPECT_EQ(bus.modes, std::vector<LONG>{GPIB_REN_LLO});
  EXPECT_TRUE(script->Done()) << script->Report();

  bus.modes.clear();
  EXPECT_EQ(vmk::SetLocalControlsOverBus(errors, &bus, message.get(), true, "Enable"), S_OK);
  EXPECT_EQ(bus.modes, (std::vector<LONG>{GPIB_REN_GTL_AND_DEASSERT, GPIB_REN_ASSERT}));

  // A bus without the line is no failure; any other refusal is.
  bus.result = E_VISA_NSUP_OPER;
  script->Expect("\n");
  EXPECT_EQ(vmk::SetLocalControlsOverBus(errors, &bus, message.get(), false, "Disable"), S_OK);
  EXPECT_TRUE(script->Done()) << script->Report();
  bus.result = E_VISA_IO;
  EXPECT_EQ(vmk::SetLocalControlsOverBus(errors, &bus, message.get(), true, "Enable"),
            E_IVI_UNEXPECTED_RESPONSE);
  EXPECT_EQ(vmk::SetLocalControlsOverBus(errors, &bus, message.get(), false, "Disable"),
            E_IVI_UNEXPECTED_RESPONSE);
  EXPECT_EQ(vmk::SetLocalControlsOverBus(errors, nullptr, message.get(), false, "Disable"),
            E_IVI_NOT_INITIALIZED);
  TakeError();
  // Nothing follows a lockout that failed.
  EXPECT_TRUE(script->Done()) << script->Report();
  message.reset();
  session.reset();
  Script::Uninstall("bus");
}

TEST_F(Session, ModelAsyncEventsAndTraceSwitch) {
  Open("K4203A");
  VelmoraK40xxModelEnum model = VelmoraK40xxNotAssigned;
  EXPECT_EQ(system->get_Model(&model), S_OK);
  EXPECT_EQ(model, VelmoraK40xxModelK4203A);
  EXPECT_EQ(system->put_Model(VelmoraK40xxModelK4102A), E_IVI_PROPERTY_NOT_SUPPORTED);
  TakeError();
  VARIANT_BOOL on = VARIANT_TRUE;
  EXPECT_EQ(system->get_AsyncEventsEnabled(&on), E_IVI_PROPERTY_NOT_SUPPORTED);
  EXPECT_EQ(TakeError(),
            "VelmoraK40xx: Does not support this class-compliant feature: property "
            "AsyncEventsEnabled.");
  EXPECT_EQ(system->put_AsyncEventsEnabled(VARIANT_FALSE), E_IVI_PROPERTY_NOT_SUPPORTED);
  TakeError();
  // Switching the trace on writes a file; the trace's own tests do that in a directory of theirs.
  EXPECT_EQ(system->get_TraceEnabled(&on), S_OK);
  EXPECT_EQ(on, VARIANT_FALSE);
  EXPECT_TRUE(script->Done()) << script->Report();
}

TEST_F(Session, AModelTheTableDoesNotKnowReadsAsNoSupportedModel) {
  Open("K9999Z");
  VelmoraK40xxModelEnum model = VelmoraK40xxNotAssigned;
  EXPECT_EQ(system->get_Model(&model), S_OK);
  EXPECT_EQ(model, VelmoraK40xxModelNoneSupport);
}

TEST_F(Session, TheFormattedIoObjectTalksOverTheSessionsConnectionAndIsGoneAfterClose) {
  Open("K4102A");
  Ref<IFormattedIO488> io;
  ASSERT_EQ(system->get_IO(&io), S_OK) << TakeError();
  ASSERT_TRUE(io.p);
  script->Expect("*TRG\n");
  EXPECT_EQ(io->WriteString(Bstr("*TRG\n"), VARIANT_TRUE), S_OK);
  EXPECT_TRUE(script->Done()) << script->Report();
  io.Reset();
  driver->Close();
  EXPECT_EQ(system->get_IO(&io), E_IVI_NOT_INITIALIZED);
  EXPECT_EQ(io.p, nullptr);
  TakeError();
}

TEST_F(Session, SimulatedSystemStoresItsSettingsAndSendsNothing) {
  Open("K4202A", true);
  vmk::com::Bstr name;
  LONG timeout = 0;
  VARIANT_BOOL on = VARIANT_TRUE;
  EXPECT_EQ(system->get_MemoryName(4, name.put()), S_OK);
  EXPECT_EQ(name.utf8(), "1");
  EXPECT_EQ(system->get_TimeoutMilliseconds(&timeout), S_OK);
  EXPECT_EQ(timeout, 2000);
  EXPECT_EQ(system->get_TraceEnabled(&on), S_OK);
  EXPECT_EQ(on, VARIANT_FALSE);

  EXPECT_EQ(system->put_MemoryName(2, Bstr("RAMP")), S_OK);
  EXPECT_EQ(system->get_MemoryName(2, name.put()), S_OK);
  EXPECT_EQ(name.utf8(), "RAMP");
  EXPECT_EQ(system->put_TimeoutMilliseconds(7000), S_OK);
  EXPECT_EQ(system->get_TimeoutMilliseconds(&timeout), S_OK);
  EXPECT_EQ(timeout, 7000);

  EXPECT_EQ(system->SaveState(Bstr("1")), S_OK);
  EXPECT_EQ(system->RecallState(Bstr("1")), S_OK);
  EXPECT_EQ(system->Beep(), S_OK);
  EXPECT_EQ(system->WaitForOperationComplete(10), S_OK);
  EXPECT_EQ(system->EnableLocalControls(), S_OK);
  EXPECT_EQ(system->DisableLocalControls(), S_OK);
  VelmoraK40xxModelEnum model = VelmoraK40xxNotAssigned;
  EXPECT_EQ(system->get_Model(&model), S_OK);
  EXPECT_EQ(model, VelmoraK40xxModelK4202A);
  EXPECT_EQ(system->put_Model(VelmoraK40xxModelK4202A), E_IVI_PROPERTY_NOT_SUPPORTED);
  TakeError();
  Ref<IFormattedIO488> io;
  EXPECT_EQ(system->get_IO(&io), E_VELMORAK40XX_IO_GENERAL);
  EXPECT_EQ(TakeError(), "VelmoraK40xx: IO error: Direct I/O not available while Simulating.");
  EXPECT_EQ(io.p, nullptr);
  EXPECT_TRUE(script->Log().empty()) << script->Report();
}

}  // namespace
