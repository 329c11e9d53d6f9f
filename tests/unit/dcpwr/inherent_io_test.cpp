// Initialize, Close and the inherent operations on a scripted instrument: the exact bytes sent
// and what the driver makes of the replies.
#include <gtest/gtest.h>

#include <string>

#include "tests/support/client.h"
#include "tests/support/script.h"
#include "vmk40xx/server.h"
#include "vmk40xx/vmk40xx.h"

namespace vmk {
namespace {

using com::Bstr;
using com::ComPtr;
using test::TakeError;

class Instrument : public ::testing::Test {
 protected:
  void SetUp() override {
    root = test::NewDriver();
    ASSERT_TRUE(root);
    root->QueryInterface(IID_IIviDriverUtility, reinterpret_cast<void**>(utility.put()));
    root->QueryInterface(IID_IIviDriverOperation, reinterpret_cast<void**>(operation.put()));
    root->QueryInterface(IID_IIviDriverIdentity, reinterpret_cast<void**>(identity.put()));
  }
  void TearDown() override {
    EXPECT_TRUE(script->Done()) << script->Report();
    visa::Script::Uninstall(name);
  }
  HRESULT Init(bool idQuery = false, bool reset = false, const std::string& options = "") {
    Bstr r("SCRIPT::" + name + "::INSTR"), o(options);
    return root->Initialize(r.get(), idQuery ? VARIANT_TRUE : VARIANT_FALSE,
                            reset ? VARIANT_TRUE : VARIANT_FALSE, o.get());
  }
  // Opens the session on a dual-output model, identified as the instrument answers.
  void OpenIdentified() {
    script->Expect("*IDN?\n").Reply("Velmora,K4201A,0,1.0\n");
    ASSERT_EQ(Init(), S_OK) << TakeError();
  }
  VARIANT_BOOL Initialized() {
    VARIANT_BOOL v = VARIANT_TRUE;
    root->get_Initialized(&v);
    return v;
  }
  std::string name = "inherent";
  std::shared_ptr<visa::Script> script = visa::Script::Install(name);
  ComPtr<IVelmoraK40xx> root;
  ComPtr<IIviDriverUtility> utility;
  ComPtr<IIviDriverOperation> operation;
  ComPtr<IIviDriverIdentity> identity;
};

TEST_F(Instrument, IdentificationSetsModelAndFirmware) {
  script->Expect("*IDN?\n").Reply("Maker,K4201A,0,1.7-2.0\n");
  ASSERT_EQ(Init(), S_OK) << TakeError();
  Bstr model, firmware, maker;
  identity->get_InstrumentModel(model.put());
  identity->get_InstrumentFirmwareRevision(firmware.put());
  identity->get_InstrumentManufacturer(maker.put());
  EXPECT_EQ(model.utf8(), "K4201A");
  EXPECT_EQ(firmware.utf8(), "1.7-2.0");
  EXPECT_EQ(maker.utf8(), "Maker");
  // The instances follow the model the instrument named, not the one of an earlier session.
  ComPtr<IVelmoraK40xxOutputs> outputs;
  ASSERT_EQ(root->get_Outputs(outputs.put()), S_OK);
  LONG count = 0;
  EXPECT_EQ(outputs->get_Count(&count), S_OK);
  EXPECT_EQ(count, 2);
}

TEST_F(Instrument, ASerialInstrumentIsPutIntoRemoteModeFirst) {
  visa::Script::Uninstall(name);
  name = "ASRL7";
  script = visa::Script::Install(name);
  script->Expect("SYST:REM;*OPC?\n").Reply("1\n");
  script->Expect("*IDN?\n").Reply("Velmora,K4105A,12,2.1\n");
  ASSERT_EQ(Init(), S_OK) << TakeError();
}

TEST_F(Instrument, ASerialInstrumentThatDoesNotAnswerTheRemoteCommandStillOpens) {
  visa::Script::Uninstall(name);
  name = "ASRL8";
  script = visa::Script::Install(name);
  script->Expect("SYST:REM;*OPC?\n").Timeout();
  script->ExpectClear();
  script->Expect("*IDN?\n").Reply("Velmora,K4105A,12,2.1\n");
  ASSERT_EQ(Init(), S_OK) << TakeError();
}

TEST_F(Instrument, IdQueryRefusesAnInstrumentOutsideTheModelTable) {
  script->Expect("*IDN?\n").Reply("Velmora,K9999Z,0,1.0\n");
  EXPECT_EQ(Init(true), E_IVI_ID_QUERY_FAILED);
  EXPECT_EQ(TakeError(),
            "VelmoraK40xx: Instrument ID query failed.\r\nUnrecognized model: K9999Z.");
  EXPECT_EQ(Initialized(), VARIANT_FALSE);
}

TEST_F(Instrument, ResetAtInitializationAndAFailedReset) {
  script->Expect("*IDN?\n").Reply("Velmora,K4201A,0,1.0\n");
  script->Expect("*RST;*OPC?\n").Reply("1\n");
  ASSERT_EQ(Init(false, true), S_OK) << TakeError();
  ASSERT_EQ(root->Close(), S_OK);

  script->Expect("*IDN?\n").Reply("Velmora,K4201A,0,1.0\n");
  script->Expect("*RST;*OPC?\n").Fail(E_FAIL, "device gone");
  script->ExpectClear();
  EXPECT_EQ(Init(false, true), E_IVI_RESET_FAILED);
  EXPECT_EQ(TakeError(), "VelmoraK40xx: Instrument reset failed.");
  EXPECT_EQ(Initialized(), VARIANT_FALSE);
}

TEST_F(Instrument, ErrorQueryReadsCodeAndMessage) {
  OpenIdentified();
  LONG code = 0;
  Bstr message;
  script->Expect("SYST:ERR?\n").Reply("-113,\"Undefined header\"\n");
  ASSERT_EQ(utility->ErrorQuery(&code, message.put()), S_OK);
  EXPECT_EQ(code, -113);
  EXPECT_EQ(message.utf8(), "Undefined header");

  script->Expect("SYST:ERR?\n").Reply("+0,\"No error\"\n");
  ASSERT_EQ(utility->ErrorQuery(&code, message.put()), S_OK);
  EXPECT_EQ(code, 0);

  script->Expect("SYST:ERR?\n").Reply("-222,\"Data out of range; can't go there\"\n");
  ASSERT_EQ(utility->ErrorQuery(&code, message.put()), S_OK);
  EXPECT_EQ(message.utf8(), "Data out of range; can");  // cut at the apostrophe
}

TEST_F(Instrument, ErrorQueryRefusesRepliesOutsideTheForm) {
  OpenIdentified();
  for (const char* reply : {"-113,Undefined header\"\n", "-113,\"\"\n", "Undefined\n"}) {
    LONG code = 5;
    Bstr message;
    script->Expect("SYST:ERR?\n").Reply(reply);
    EXPECT_EQ(utility->ErrorQuery(&code, message.put()), E_IVI_UNEXPECTED_RESPONSE) << reply;
    EXPECT_EQ(code, 0);
    EXPECT_EQ(message.utf8(), "");
  }
}

TEST_F(Instrument, ErrorQueryDoesNotPollStatusAndRestoresTheSetting) {
  OpenIdentified();
  script->Expect("*CLS\n").Expect("*ESR?\n").Reply("+0\n");
  ASSERT_EQ(operation->put_QueryInstrumentStatus(VARIANT_TRUE), S_OK) << TakeError();
  LONG code = 0;
  Bstr message;
  script->Expect("SYST:ERR?\n").Reply("-113,\"Undefined header\"\n");
  ASSERT_EQ(utility->ErrorQuery(&code, message.put()), S_OK);
  VARIANT_BOOL on = VARIANT_FALSE;
  operation->get_QueryInstrumentStatus(&on);
  EXPECT_EQ(on, VARIANT_TRUE);
  // A later command is polled again.
  script->Expect("*TST?\n").Reply("0\n").Expect("*ESR?\n").Reply("+32\n");
  EXPECT_EQ(utility->SelfTest(&code, message.put()), E_IVI_INSTRUMENT_STATUS);
}

TEST_F(Instrument, SelfTestAndDisable) {
  OpenIdentified();
  LONG result = 0;
  Bstr message;
  script->Expect("*TST?\n").Reply("1\n");
  ASSERT_EQ(utility->SelfTest(&result, message.put()), S_OK);
  EXPECT_EQ(result, 1);
  EXPECT_EQ(message.utf8(), "Selftest failed");
  script->Expect("*RST;*OPC?\n").Reply("1\n");
  EXPECT_EQ(utility->Disable(), S_OK);
}

TEST_F(Instrument, AnInstrumentErrorDuringAPolledCommandIsReported) {
  OpenIdentified();
  script->Expect("*CLS\n").Expect("*ESR?\n").Reply("+1\n");  // operation complete only
  ASSERT_EQ(operation->put_QueryInstrumentStatus(VARIANT_TRUE), S_OK) << TakeError();
  script->Expect("*RST;*OPC?\n").Reply("1\n").Expect("*ESR?\n").Reply("+32\n");
  EXPECT_EQ(utility->Reset(), E_IVI_INSTRUMENT_STATUS);
  EXPECT_EQ(TakeError(),
            "VelmoraK40xx: Instrument error detected.  Use ErrorQuery() to determine the "
            "error(s).");
}

TEST_F(Instrument, AnUnreachableResourceLeavesTheSessionClosed) {
  Bstr r("TCPIP0::127.0.0.1::1::SOCKET"), o("");
  EXPECT_EQ(root->Initialize(r.get(), VARIANT_FALSE, VARIANT_FALSE, o.get()),
            E_IVI_RESOURCE_UNKNOWN);
  EXPECT_EQ(TakeError(),
            "VelmoraK40xx: Unknown resource.\r\nconnection to 127.0.0.1:1 refused (nothing "
            "listens on that port)");
  EXPECT_EQ(Initialized(), VARIANT_FALSE);
}

TEST_F(Instrument, CloseClosesTheConnection) {
  OpenIdentified();
  ASSERT_EQ(root->Close(), S_OK);
  // Simulation may be switched on for a session opened without it.
  OpenIdentified();
  EXPECT_EQ(operation->put_Simulate(VARIANT_TRUE), S_OK);
  LONG result = 3;
  Bstr message;
  EXPECT_EQ(utility->SelfTest(&result, message.put()), S_OK);  // nothing sent
  EXPECT_EQ(message.utf8(), "Selftest passed");
}

}  // namespace
}  // namespace vmk
