// The C interface against the emulator over TCP: direct I/O that loses nothing when the caller's
// buffer is short, the instrument's error queue, and a non-ASCII memory name on the wire.
#include <gtest/gtest.h>

#include <string>

#include "tests/e2e/emulator.h"
#include "vmk40xx/vmk40xx_c.h"

namespace {

class OnTheEmulator : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(emulator.Resource().empty()) << "the emulator did not start";
    ASSERT_EQ(VmK40xx_InitWithOptions(emulator.Resource().c_str(), VI_TRUE, VI_FALSE,
                                      "QueryInstrStatus=false", &vi),
              VI_SUCCESS);
  }
  void TearDown() override { VmK40xx_close(vi); }

  vmk::test::Emulator emulator{{"--model", "K4201A", "--serial", "SN0042"}};
  ViSession vi = VI_NULL;
};

TEST_F(OnTheEmulator, DirectIoReadsWhatAShortBufferCouldNotTakeOnTheNextRead) {
  ASSERT_EQ(VmK40xx_SystemWrite(vi, "*IDN?\n"), VI_SUCCESS);
  char whole[256];
  ViInt32 actual = -1;
  ASSERT_EQ(VmK40xx_SystemRead(vi, sizeof whole, whole, &actual), VI_SUCCESS);
  const std::string reply = whole;
  EXPECT_EQ(actual, static_cast<ViInt32>(reply.size()));
  EXPECT_NE(reply.find("K4201A"), std::string::npos) << reply;
  EXPECT_NE(reply.find("SN0042"), std::string::npos) << reply;

  ASSERT_EQ(VmK40xx_SystemWrite(vi, "*IDN?\n"), VI_SUCCESS);
  char part[8];
  ASSERT_EQ(VmK40xx_SystemRead(vi, sizeof part, part, &actual), VI_SUCCESS);
  EXPECT_EQ(actual, 7);
  EXPECT_EQ(std::string(part), reply.substr(0, 7));
  ASSERT_EQ(VmK40xx_SystemRead(vi, sizeof whole, whole, &actual), VI_SUCCESS);
  EXPECT_EQ(std::string(part) + whole, reply);
}

TEST_F(OnTheEmulator, TheErrorQueueReportsABadDirectCommand) {
  ASSERT_EQ(VmK40xx_SystemWrite(vi, "BOGUS:COMMand 1\n"), VI_SUCCESS);
  ViInt32 code = 0;
  char message[1024];
  ASSERT_EQ(VmK40xx_error_query(vi, &code, message), VI_SUCCESS);
  EXPECT_EQ(code, -113);
  EXPECT_STREQ(message, "Undefined header");
  ASSERT_EQ(VmK40xx_error_query(vi, &code, message), VI_SUCCESS);
  EXPECT_EQ(code, 0);
}

TEST_F(OnTheEmulator, ANonAsciiMemoryNameComesBackFromTheInstrument) {
  const char name[] = "R\xC3\xA9glage \xCE\xA9";  // 11 bytes: within the 12 the panel keeps
  ASSERT_EQ(VmK40xx_SystemSetMemoryName(vi, 4, name), VI_SUCCESS);
  char back[64];
  ASSERT_EQ(VmK40xx_SystemGetMemoryName(vi, 4, sizeof back, back), VI_SUCCESS);
  EXPECT_STREQ(back, name);
}

TEST_F(OnTheEmulator, ASelectedOutputKeepsItsOwnSettings) {
  ASSERT_EQ(VmK40xx_ConfigureVoltageLevel(vi, "Output1", 1.25), VI_SUCCESS);
  ASSERT_EQ(VmK40xx_ConfigureVoltageLevel(vi, "Output2", 2.5), VI_SUCCESS);
  // Cache off: both reads go to the instrument.
  ASSERT_EQ(VmK40xx_SetAttributeViBoolean(vi, "", VMK40XX_ATTR_CACHE, VI_FALSE), VI_SUCCESS);
  ViReal64 one = 0, two = 0;
  ASSERT_EQ(VmK40xx_GetAttributeViReal64(vi, "Output1", VMK40XX_ATTR_VOLTAGE_LEVEL, &one),
            VI_SUCCESS);
  ASSERT_EQ(VmK40xx_GetAttributeViReal64(vi, "Output2", VMK40XX_ATTR_VOLTAGE_LEVEL, &two),
            VI_SUCCESS);
  EXPECT_EQ(one, 1.25);
  EXPECT_EQ(two, 2.5);
}

}  // namespace
