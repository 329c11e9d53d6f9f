// A calibration run end to end against the emulator over TCP: unsecure with the code, step
// through the points of one output, see the count go up, secure again.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "tests/e2e/emulator.h"
#include "tests/support/client.h"
#include "vmk40xx/errors.h"
#include "vmk40xx/vmk40xx.h"

namespace {

using vmk::test::Bstr;
using vmk::test::Emulator;
using vmk::test::Ref;
using vmk::test::TakeError;

constexpr const char* kCode = "VMK40XX";

class CalibrationOnTheEmulator : public ::testing::Test {
 protected:
  void TearDown() override {
    calibrations.Reset();
    if (driver) driver->Close();
    emulator.reset();
  }

  // A session with status polling on, so that whatever the instrument refuses comes back.
  void Open(const std::string& model) {
    emulator = std::make_unique<Emulator>(std::vector<std::string>{"--model", model});
    ASSERT_FALSE(emulator->Resource().empty()) << "the emulator did not start";
    driver = vmk::test::NewDriver();
    ASSERT_TRUE(driver);
    ASSERT_EQ(driver->Initialize(Bstr(emulator->Resource()), VARIANT_TRUE, VARIANT_FALSE,
                                 Bstr("QueryInstrStatus=true")),
              S_OK)
        << TakeError();
    ASSERT_EQ(driver->get_Calibrations(&calibrations), S_OK);
  }
  Ref<IVelmoraK40xxCalibration> Item(const std::string& name) {
    Ref<IVelmoraK40xxCalibration> item;
    EXPECT_EQ(calibrations->get_Item(Bstr(name), &item), S_OK) << TakeError();
    return item;
  }
  bool Secured() {
    VARIANT_BOOL secured = VARIANT_FALSE;
    EXPECT_EQ(calibrations->get_Enabled(&secured), S_OK) << TakeError();
    return secured != VARIANT_FALSE;
  }
  LONG Times() {
    LONG times = -1;
    EXPECT_EQ(calibrations->get_Times(&times), S_OK) << TakeError();
    return times;
  }

  std::unique_ptr<Emulator> emulator;
  vmk::com::ComPtr<IVelmoraK40xx> driver;
  Ref<IVelmoraK40xxCalibrations> calibrations;
};

TEST_F(CalibrationOnTheEmulator, AVoltageCalibrationOfASingleOutputCountsOnceAndIsSecuredAgain) {
  Open("K4102A");
  ASSERT_TRUE(Secured());
  const LONG before = Times();
  auto cal = Item("Calibration1");
  // Secured, the instrument refuses every step, and the driver says so.
  EXPECT_EQ(cal->VoltageLevel(VelmoraK40xxCalibrationLevelMin), E_IVI_INSTRUMENT_STATUS);
  TakeError();
  EXPECT_EQ(calibrations->SetState(VARIANT_FALSE, Bstr("WRONG")), E_IVI_INSTRUMENT_STATUS);
  TakeError();
  EXPECT_TRUE(Secured());

  ASSERT_EQ(calibrations->SetState(VARIANT_FALSE, Bstr(kCode)), S_OK) << TakeError();
  EXPECT_FALSE(Secured());
  const struct {
    VelmoraK40xxCalibrationLevelEnum level;
    double measured;
  } kPoints[] = {{VelmoraK40xxCalibrationLevelMin, 0.012},
                 {VelmoraK40xxCalibrationLevelMid, 4.104},
                 {VelmoraK40xxCalibrationLevelMax, 8.196}};
  for (const auto& point : kPoints) {
    ASSERT_EQ(cal->VoltageLevel(point.level), S_OK) << TakeError();
    EXPECT_EQ(Times(), before);  // not done until every point has its value
    ASSERT_EQ(cal->VoltageData(point.measured), S_OK) << TakeError();
  }
  EXPECT_EQ(Times(), before + 1);

  // One-step calibrations count at once.
  EXPECT_EQ(calibrations->DACError(), S_OK) << TakeError();
  EXPECT_EQ(cal->VoltageProtection(), S_OK) << TakeError();
  EXPECT_EQ(Times(), before + 3);

  // The message survives quotes on the way there and back.
  ASSERT_EQ(calibrations->put_String(Bstr("Lab \"B\" 2026")), S_OK) << TakeError();
  vmk::com::Bstr message;
  EXPECT_EQ(calibrations->get_String(message.put()), S_OK);
  EXPECT_EQ(message.utf8(), "Lab \"B\" 2026");

  ASSERT_EQ(calibrations->SetState(VARIANT_TRUE, Bstr(kCode)), S_OK) << TakeError();
  EXPECT_TRUE(Secured());
  EXPECT_EQ(cal->VoltageData(1), E_IVI_INSTRUMENT_STATUS);
  TakeError();
}

TEST_F(CalibrationOnTheEmulator, TheNegativeOutputOfTheThreeOutputModelCalibratesAtTwoPoints) {
  Open("K4301A");
  ASSERT_EQ(calibrations->SetState(VARIANT_FALSE, Bstr(kCode)), S_OK) << TakeError();
  const LONG before = Times();
  auto cal = Item("Calibration3");
  ASSERT_EQ(cal->CurrentLevel(VelmoraK40xxCalibrationLevelMin), S_OK) << TakeError();
  ASSERT_EQ(cal->CurrentData(0.002), S_OK) << TakeError();
  ASSERT_EQ(cal->CurrentLevel(VelmoraK40xxCalibrationLevelMax), S_OK) << TakeError();
  ASSERT_EQ(cal->CurrentData(0.998), S_OK) << TakeError();
  EXPECT_EQ(Times(), before + 1);
  // Another output's points are its own: the first output has not been calibrated.
  ASSERT_EQ(Item("Calibration1")->CurrentData(0.5), E_IVI_INSTRUMENT_STATUS);
  TakeError();
  EXPECT_EQ(Times(), before + 1);
}

TEST_F(CalibrationOnTheEmulator, ANewCodeReplacesTheOldOne) {
  Open("K4201A");
  ASSERT_EQ(calibrations->SetState(VARIANT_FALSE, Bstr(kCode)), S_OK) << TakeError();
  ASSERT_EQ(calibrations->put_Password(Bstr("LAB_7")), S_OK) << TakeError();
  ASSERT_EQ(calibrations->SetState(VARIANT_TRUE, Bstr("LAB_7")), S_OK) << TakeError();
  EXPECT_TRUE(Secured());
  EXPECT_EQ(calibrations->SetState(VARIANT_FALSE, Bstr(kCode)), E_IVI_INSTRUMENT_STATUS);
  TakeError();
  EXPECT_TRUE(Secured());
  // A code that would smuggle in a reset never reaches the instrument.
  EXPECT_EQ(calibrations->SetState(VARIANT_FALSE, Bstr("LAB_7;*RST")), E_IVI_INVALID_VALUE);
  TakeError();
  ASSERT_EQ(calibrations->SetState(VARIANT_FALSE, Bstr("LAB_7")), S_OK) << TakeError();
  EXPECT_FALSE(Secured());
}

}  // namespace
