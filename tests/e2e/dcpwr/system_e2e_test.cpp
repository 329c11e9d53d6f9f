// The status, system and display members against the emulator: what the driver sends is what an
// instrument parses, and what it reads back is what that instrument answers.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "tests/e2e/emulator.h"
#include "tests/support/client.h"
#include "vmk40xx/errors.h"
#include "vmk40xx/visacom.h"
#include "vmk40xx/vmk40xx.h"

namespace {

using vmk::test::Bstr;
using vmk::test::Emulator;
using vmk::test::Ref;
using vmk::test::TakeError;

class Housekeeping : public ::testing::Test {
 protected:
  void TearDown() override {
    status.Reset();
    system.Reset();
    display.Reset();
    if (driver) driver->Close();
    emulator.reset();
  }
  void Open(const std::string& model, bool serial = false) {
    emulator = std::make_unique<Emulator>(std::vector<std::string>{"--model", model}, serial);
    ASSERT_FALSE(emulator->Resource().empty()) << "the emulator did not start";
    driver = vmk::test::NewDriver();
    ASSERT_TRUE(driver);
    ASSERT_EQ(driver->Initialize(Bstr(emulator->Resource()), VARIANT_TRUE, VARIANT_FALSE, Bstr("")),
              S_OK)
        << TakeError();
    ASSERT_EQ(driver->get_Status(&status.p), S_OK);
    ASSERT_EQ(driver->get_System(&system.p), S_OK);
    ASSERT_EQ(driver->get_Display(&display.p), S_OK);
  }

  std::unique_ptr<Emulator> emulator;
  vmk::com::ComPtr<IVelmoraK40xx> driver;
  Ref<IVelmoraK40xxStatus> status;
  Ref<IVelmoraK40xxSystem> system;
  Ref<IVelmoraK40xxDisplay> display;
};

TEST_F(Housekeeping, TextWithQuotesReachesTheDisplayAndTheMemoriesIntact) {
  Open("K4201A");
  const std::string text = "SAY \"HI\"";
  ASSERT_EQ(display->put_Text(Bstr(text)), S_OK) << TakeError();
  vmk::com::Bstr read;
  ASSERT_EQ(display->get_Text(read.put()), S_OK) << TakeError();
  EXPECT_EQ(read.utf8(), text);
  ASSERT_EQ(display->Clear(), S_OK);
  ASSERT_EQ(display->get_Text(read.put()), S_OK);
  EXPECT_EQ(read.utf8(), "");

  ASSERT_EQ(system->put_MemoryName(3, Bstr("RAMP \"B\"")), S_OK) << TakeError();
  ASSERT_EQ(system->get_MemoryName(3, read.put()), S_OK) << TakeError();
  EXPECT_EQ(read.utf8(), "RAMP \"B\"");

  ASSERT_EQ(display->put_Mode(VelmoraK40xxDisplayModeCurrentCurrent), S_OK) << TakeError();
  VelmoraK40xxDisplayModeEnum mode = VelmoraK40xxDisplayModeVoltCurrent;
  ASSERT_EQ(display->get_Mode(&mode), S_OK);
  EXPECT_EQ(mode, VelmoraK40xxDisplayModeCurrentCurrent);
  ASSERT_EQ(display->put_Enabled(VARIANT_FALSE), S_OK);
  VARIANT_BOOL on = VARIANT_TRUE;
  ASSERT_EQ(display->get_Enabled(&on), S_OK);
  EXPECT_EQ(on, VARIANT_FALSE);
}

TEST_F(Housekeeping, EnableMasksReadBackAndASavedStateComesBack) {
  Open("K4301A");
  ASSERT_EQ(status->ConfigureRegister(VelmoraK40xxStatusRegisterStandardEvent,
                                      VelmoraK40xxStatusSubRegisterEnable, 60),
            S_OK)
      << TakeError();
  ASSERT_EQ(status->put_Register(VelmoraK40xxStatusRegisterInstrument3,
                                 VelmoraK40xxStatusSubRegisterEnable, 3),
            S_OK)
      << TakeError();
  LONG value = 0;
  ASSERT_EQ(status->QueryRegister(VelmoraK40xxStatusRegisterStandardEvent,
                                  VelmoraK40xxStatusSubRegisterEnable, &value),
            S_OK);
  EXPECT_EQ(value, 60);
  ASSERT_EQ(status->get_Register(VelmoraK40xxStatusRegisterInstrument3,
                                 VelmoraK40xxStatusSubRegisterEnable, &value),
            S_OK);
  EXPECT_EQ(value, 3);
  ASSERT_EQ(status->Clear(), S_OK);
  ASSERT_EQ(status->get_SerialPoll(&value), S_OK) << TakeError();

  Ref<IVelmoraK40xxOutputs> outputs;
  Ref<IVelmoraK40xxOutput> output;
  ASSERT_EQ(driver->get_Outputs(&outputs), S_OK);
  ASSERT_EQ(outputs->get_Item(Bstr("Output1"), &output), S_OK);
  ASSERT_EQ(output->put_VoltageLevel(2.5), S_OK);
  ASSERT_EQ(system->SaveState(Bstr("2")), S_OK) << TakeError();
  ASSERT_EQ(output->put_VoltageLevel(4), S_OK);
  ASSERT_EQ(system->RecallState(Bstr("2")), S_OK) << TakeError();
  double level = 0;
  ASSERT_EQ(output->get_VoltageLevel(&level), S_OK);
  EXPECT_EQ(level, 2.5);
  EXPECT_EQ(system->WaitForOperationComplete(10), S_OK) << TakeError();
  EXPECT_EQ(system->Beep(), S_OK);
}

TEST_F(Housekeeping, DirectIoSharesTheSessionsConnection) {
  Open("K4102A");
  Ref<IFormattedIO488> io;
  ASSERT_EQ(system->get_IO(&io), S_OK) << TakeError();
  ASSERT_EQ(io->WriteString(Bstr("*IDN?\n"), VARIANT_TRUE), S_OK);
  vmk::com::Bstr reply;
  ASSERT_EQ(io->ReadString(reply.put()), S_OK);
  EXPECT_NE(reply.utf8().find(",K4102A,"), std::string::npos);
}

TEST_F(Housekeeping, AWaitLongerThanItsLimitIsReportedAsSuch) {
  Open("K4102A");
  ASSERT_TRUE(emulator->Send("SIMulation:FAULt:DELay 3000"));
  EXPECT_EQ(system->WaitForOperationComplete(10), E_VELMORAK40XX_MAX_TIME_EXCEEDED);
  TakeError();
}

TEST_F(Housekeeping, ASerialInstrumentIsSwitchedBetweenLocalAndRemoteByCommand) {
  Open("K4102A", true);
  EXPECT_EQ(system->EnableLocalControls(), S_OK) << TakeError();
  EXPECT_EQ(system->DisableLocalControls(), S_OK) << TakeError();
  // The instrument takes commands again once remote.
  ASSERT_EQ(display->put_Text(Bstr("REMOTE")), S_OK);
  vmk::com::Bstr read;
  ASSERT_EQ(display->get_Text(read.put()), S_OK) << TakeError();
  EXPECT_EQ(read.utf8(), "REMOTE");
}

}  // namespace
