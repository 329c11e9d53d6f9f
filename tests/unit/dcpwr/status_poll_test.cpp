// The status poll within one call, to the byte: no poll result is lost behind the command after
// it, and a time-out ends the call's traffic at once, so that a fault costs one time-out.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "tests/support/script.h"
#include "tests/support/client.h"
#include "vmk40xx/errors.h"
#include "vmk40xx/vmk40xx.h"

namespace {

using vmk::test::Bstr;
using vmk::test::Ref;
using vmk::test::TakeError;
using vmk::visa::Script;

const std::string kStatusText =
    "VelmoraK40xx: Instrument error detected.  Use ErrorQuery() to determine the error(s).";

class StatusPoll : public ::testing::Test {
 protected:
  void SetUp() override {
    script = Script::Install("psu");
    script->Expect("*IDN?\n").Reply("Velmora,K4201A,0,1.0\n");
    driver = vmk::test::NewDriver();
    ASSERT_EQ(driver->Initialize(Bstr("SCRIPT::psu::INSTR"), VARIANT_FALSE, VARIANT_FALSE,
                                 Bstr("")),
              S_OK)
        << TakeError();
    Ref<IIviDriverOperation> operation;
    ASSERT_EQ(driver->QueryInterface(IID_IIviDriverOperation, reinterpret_cast<void**>(&operation)),
              S_OK);
    script->Expect("*CLS\n").Expect("*ESR?\n").Reply("+0\n");
    ASSERT_EQ(operation->put_QueryInstrumentStatus(VARIANT_TRUE), S_OK);
    Ref<IVelmoraK40xxOutputs> outputs;
    ASSERT_EQ(driver->get_Outputs(&outputs), S_OK);
    ASSERT_EQ(outputs->get_Item(Bstr("Output2"), &output), S_OK);
  }
  void TearDown() override {
    output.Reset();
    if (driver) driver->Close();
    Script::Uninstall("psu");
  }

  std::shared_ptr<Script> script;
  vmk::com::ComPtr<IVelmoraK40xx> driver;
  Ref<IVelmoraK40xxOutput> output;
};

TEST_F(StatusPoll, AStalledStatusReplyAfterAPutIsATimeOutAndNothingFollowsIt) {
  script->Expect("INST:NSEL 2\n").Expect("*ESR?\n").Reply("+0\n");
  script->Expect("VOLT 1\n").Expect("*ESR?\n").Timeout().ExpectClear();
  EXPECT_EQ(output->put_VoltageLevel(1.0), E_VELMORAK40XX_IO_TIMEOUT);
  EXPECT_EQ(TakeError().rfind("VelmoraK40xx: IO timeout error: ", 0), 0u);
  EXPECT_TRUE(script->Done()) << script->Report();
}

TEST_F(StatusPoll, AStalledStatusReplyAfterTheSelectionEndsTheCallWithoutItsQuery) {
  script->Expect("INST:NSEL 2\n").Expect("*ESR?\n").Timeout().ExpectClear();
  double level = -1;
  EXPECT_EQ(output->get_VoltageLevel(&level), E_VELMORAK40XX_IO_TIMEOUT);
  EXPECT_EQ(TakeError().rfind("VelmoraK40xx: IO timeout error: ", 0), 0u);
  // The next call talks to the instrument again.
  script->Expect("INST:NSEL 2\n").Expect("*ESR?\n").Reply("+0\n");
  script->Expect("VOLT?\n").Reply("+2.5\n").Expect("*ESR?\n").Reply("+0\n");
  EXPECT_EQ(output->get_VoltageLevel(&level), S_OK) << TakeError();
  EXPECT_EQ(level, 2.5);
  EXPECT_EQ(TakeError(), "");
  EXPECT_TRUE(script->Done()) << script->Report();
}

TEST_F(StatusPoll, ATimedOutQueryIsNotFollowedByAStatusQuery) {
  script->Expect("INST:NSEL 2\n").Expect("*ESR?\n").Reply("+0\n");
  script->Expect("VOLT?\n").Timeout().ExpectClear();
  double level = -1;
  EXPECT_EQ(output->get_VoltageLevel(&level), E_VELMORAK40XX_IO_TIMEOUT);
  TakeError();
  EXPECT_TRUE(script->Done()) << script->Report();
}

TEST_F(StatusPoll, ASelectionPollThatSeesErrorBitsIsTheResultOfAQueryThatSucceeds) {
  script->Expect("INST:NSEL 2\n").Expect("*ESR?\n").Reply("+28\n");
  script->Expect("VOLT?\n").Reply("+1.5\n").Expect("*ESR?\n").Reply("+0\n");
  double level = -1;
  EXPECT_EQ(output->get_VoltageLevel(&level), E_IVI_INSTRUMENT_STATUS);
  EXPECT_EQ(TakeError(), kStatusText);
  // Bits that are no error do not count.
  script->Expect("INST:NSEL 2\n").Expect("*ESR?\n").Reply("+129\n");
  script->Expect("VOLT?\n").Reply("+1.5\n").Expect("*ESR?\n").Reply("+0\n");
  EXPECT_EQ(output->get_VoltageLevel(&level), S_OK);
  EXPECT_EQ(TakeError(), "");
  EXPECT_TRUE(script->Done()) << script->Report();
}

// The class interface's member runs the driver's own inside it: the inner call's poll failure
// is still the outer call's result.
TEST_F(StatusPoll, ThePollFailureOfANestedCallIsTheOuterCallsResult) {
  Ref<IIviDCPwrOutputs> classOutputs;
  ASSERT_EQ(driver->QueryInterface(IID_IIviDCPwrOutputs, reinterpret_cast<void**>(&classOutputs)),
            S_OK);
  Ref<IIviDCPwrOutput> classOutput;
  ASSERT_EQ(classOutputs->get_Item(Bstr("Output2"), &classOutput), S_OK);
  script->Expect("INST:NSEL 2\n").Expect("*ESR?\n").Reply("+32\n");
  script->Expect("VOLT 2\n").Expect("*ESR?\n").Reply("+0\n");
  EXPECT_EQ(classOutput->put_VoltageLevel(2.0), E_IVI_INSTRUMENT_STATUS);
  EXPECT_EQ(TakeError(), kStatusText);
  EXPECT_TRUE(script->Done()) << script->Report();
}

}  // namespace
