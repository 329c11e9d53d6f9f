// The functions beside the attributes on simulated sessions: the buffer rule through a name
// getter, the fixed-size buffers, direct I/O refused while simulating, text in and out as UTF-8.
#include <gtest/gtest.h>

#include <cstring>

#include "tests/unit/ivic/ivic_test_support.h"

namespace {

using vmk::test::OpenSimulated;
using vmk::test::Recorded;
using vmk::test::TakeError;

constexpr ViStatus kFailure = ViStatus(0x80000000u);

class Functions : public ::testing::Test {
 protected:
  void SetUp() override { vi = OpenSimulated("K4201A"); }
  void TearDown() override { VmK40xx_close(vi); }
  ViSession vi = VI_NULL;
};

TEST_F(Functions, NamesFollowTheBufferRule) {
  char name[16];
  std::strcpy(name, "untouched");
  EXPECT_EQ(VmK40xx_GetOutputName(vi, 2, 0, name), 8);  // "Output2" and its zero
  EXPECT_STREQ(name, "untouched");
  EXPECT_EQ(VmK40xx_GetOutputName(vi, 2, 12, nullptr), 8);
  EXPECT_EQ(VmK40xx_GetOutputName(vi, 2, 7, name), 8);  // one byte too small
  EXPECT_STREQ(name, "Output");
  EXPECT_EQ(VmK40xx_GetOutputName(vi, 2, 8, name), VI_SUCCESS);
  EXPECT_STREQ(name, "Output2");
  EXPECT_EQ(VmK40xx_GetOutputName(vi, 1, -1, name), VI_SUCCESS);
  EXPECT_STREQ(name, "Output1");
  EXPECT_EQ(VmK40xx_GetTriggerName(vi, 2, sizeof name, name), VI_SUCCESS);
  EXPECT_STREQ(name, "Trigger2");
  EXPECT_EQ(VmK40xx_GetCalibrationName(vi, 1, sizeof name, name), VI_SUCCESS);
  EXPECT_STREQ(name, "Calibration1");
  EXPECT_EQ(VmK40xx_GetChannelName(vi, 2, sizeof name, name), VI_SUCCESS);
  EXPECT_STREQ(name, "Output2");
  std::strcpy(name, "untouched");
  EXPECT_EQ(VmK40xx_GetChannelName(vi, 0, sizeof name, name), ViStatus(0xBFFA0010u));
  EXPECT_STREQ(name, "untouched");
}

TEST_F(Functions, FixedBuffersOfTheInherentQueries) {
  ViInt32 code = -1;
  char message[1024];
  EXPECT_EQ(VmK40xx_error_query(vi, &code, message), VI_SUCCESS);
  EXPECT_EQ(code, 0);
  EXPECT_STREQ(message, "No error.");
  ViInt16 result = -1;
  EXPECT_EQ(VmK40xx_self_test(vi, &result, message), VI_SUCCESS);
  EXPECT_EQ(result, 0);
  EXPECT_STREQ(message, "Selftest passed");
  char driver[256], instrument[256];
  EXPECT_EQ(VmK40xx_revision_query(vi, driver, instrument), VI_SUCCESS);
  EXPECT_STREQ(driver, "1.1.5.0");
  EXPECT_STREQ(instrument, "Sim1.1.5.0");

  // Nothing to deliver a result into: refused before the instrument is asked.
  EXPECT_EQ(VmK40xx_error_query(vi, &code, nullptr), kFailure);
  EXPECT_EQ(VmK40xx_error_query(vi, nullptr, message), kFailure);
  EXPECT_EQ(VmK40xx_self_test(vi, nullptr, message), kFailure);
  EXPECT_EQ(VmK40xx_revision_query(vi, driver, nullptr), kFailure);
  EXPECT_EQ(TakeError(vi), (Recorded{kFailure, "Null pointer passed for a result parameter."}));
}

TEST_F(Functions, ResultsOfTheClassAndOwnFunctions) {
  EXPECT_EQ(VmK40xx_ConfigureVoltageLevel(vi, "Output2", 5.0), VI_SUCCESS);
  EXPECT_EQ(VmK40xx_ConfigureCurrentLimit(vi, "Output2", VMK40XX_VAL_CURRENT_REGULATE, 0.5),
            VI_SUCCESS);
  EXPECT_EQ(VmK40xx_ConfigureOutputEnabled(vi, "Output2", VI_TRUE), VI_SUCCESS);
  ViBoolean on = VI_FALSE;
  EXPECT_EQ(VmK40xx_GetAttributeViBoolean(vi, "Output2", VMK40XX_ATTR_OUTPUT_ENABLED, &on),
            VI_SUCCESS);
  EXPECT_EQ(on, VI_TRUE);
  ViReal64 value = -1;
  EXPECT_EQ(VmK40xx_GetAttributeViReal64(vi, "Output2", VMK40XX_ATTR_CURRENT_LIMIT, &value),
            VI_SUCCESS);
  EXPECT_EQ(value, 0.5);
  EXPECT_EQ(VmK40xx_OutputSetStep(vi, "Output1", VMK40XX_VAL_VOLTAGE_STEP, 0.125), VI_SUCCESS);
  EXPECT_EQ(VmK40xx_OutputGetStep(vi, "Output1", VMK40XX_VAL_VOLTAGE_STEP, &value), VI_SUCCESS);
  EXPECT_EQ(value, 0.125);
  EXPECT_EQ(VmK40xx_Measure(vi, "Output2", VMK40XX_VAL_MEASURE_VOLTAGE, nullptr), kFailure);
  EXPECT_EQ(VmK40xx_QueryOutputState(vi, "Output2", VMK40XX_VAL_OUTPUT_CONSTANT_VOLTAGE, nullptr),
            kFailure);
  ViInt32 reg = -1;
  EXPECT_EQ(VmK40xx_StatusGetRegister(vi, VMK40XX_VAL_STATUS_REGISTER_STANDARD_EVENT,
                                      VMK40XX_VAL_STATUS_SUB_REGISTER_ENABLE, &reg),
            VI_SUCCESS);
  EXPECT_EQ(VmK40xx_CalibrationVoltageLevel(vi, ":", VMK40XX_VAL_CALIBRATION_LEVEL_MIN),
            ViStatus(0xBFFA0066u));
  EXPECT_EQ(VmK40xx_CalibrationVoltageLevel(vi, "Output1", VMK40XX_VAL_CALIBRATION_LEVEL_MIN),
            ViStatus(0xBFFA0067u));
}

TEST_F(Functions, InterchangeCheckingIsNotOffered) {
  EXPECT_EQ(VmK40xx_ResetInterchangeCheck(vi), ViStatus(0xBFFA0011u));
  EXPECT_EQ(VmK40xx_ClearInterchangeWarnings(vi), ViStatus(0xBFFA0011u));
  char warning[64] = "untouched";
  EXPECT_EQ(VmK40xx_GetNextInterchangeWarning(vi, sizeof warning, warning), ViStatus(0xBFFA0011u));
  EXPECT_STREQ(warning, "untouched");
  char record[64] = "untouched";
  EXPECT_EQ(VmK40xx_GetNextCoercionRecord(vi, sizeof record, record), VI_SUCCESS);
  EXPECT_STREQ(record, "");
}

TEST_F(Functions, DirectIoIsRefusedWhileSimulating) {
  EXPECT_EQ(VmK40xx_SystemWrite(vi, "*IDN?\n"), ViStatus(0xBFFA4214u));
  EXPECT_EQ(TakeError(vi),
            (Recorded{ViStatus(0xBFFA4214u),
                      "VelmoraK40xx: IO error: Direct I/O not available while Simulating."}));
  char buffer[16];
  ViInt32 actual = -1;
  EXPECT_EQ(VmK40xx_SystemRead(vi, sizeof buffer, buffer, &actual), ViStatus(0xBFFA4214u));
  EXPECT_EQ(actual, 0);
  TakeError(vi);
  EXPECT_EQ(VmK40xx_SystemRead(vi, -1, buffer, &actual), ViStatus(0xBFFA0010u));
  EXPECT_EQ(TakeError(vi),
            (Recorded{ViStatus(0xBFFA0010u),
                      "Invalid value (-1) for function VmK40xx_SystemRead, parameter size."}));
  EXPECT_EQ(VmK40xx_SystemRead(vi, sizeof buffer, nullptr, &actual), kFailure);
  EXPECT_EQ(VmK40xx_SystemRead(vi, sizeof buffer, buffer, nullptr), kFailure);
}

TEST_F(Functions, AMemoryNameKeepsItsNonAsciiCharacters) {
  const char name[] = "R\xC3\xA9glage \xCE\xA9";
  EXPECT_EQ(VmK40xx_SystemSetMemoryName(vi, 2, name), VI_SUCCESS);
  char back[32];
  EXPECT_EQ(VmK40xx_SystemGetMemoryName(vi, 2, sizeof back, back), VI_SUCCESS);
  EXPECT_STREQ(back, name);
  // Cut inside the two bytes of the e with acute accent: the first byte is kept, by the rule.
  EXPECT_EQ(VmK40xx_SystemGetMemoryName(vi, 2, 3, back), ViStatus(sizeof name));
  EXPECT_STREQ(back, "R\xC3");
}

}  // namespace
