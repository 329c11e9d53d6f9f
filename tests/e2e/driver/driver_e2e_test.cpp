// Sessions on the emulator through the public interfaces: opening over TCP and over a serial
// line, the inherent operations on a real peer, time-outs and a peer that goes away.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "tests/e2e/emulator.h"
#include "tests/support/client.h"
#include "vmk40xx/server.h"
#include "vmk40xx/vmk40xx.h"

namespace vmk {
namespace {

using com::Bstr;
using com::ComPtr;
using test::Emulator;
using test::TakeError;

struct Session {
  Session() {
    root = test::NewDriver();
    root->QueryInterface(IID_IIviDriverUtility, reinterpret_cast<void**>(utility.put()));
    root->QueryInterface(IID_IIviDriverIdentity, reinterpret_cast<void**>(identity.put()));
    root->QueryInterface(IID_IIviDriverOperation, reinterpret_cast<void**>(operation.put()));
  }
  HRESULT Open(const std::string& resource, bool idQuery = true, bool reset = false,
               const char* options = "") {
    Bstr r(resource), o(options);
    return root->Initialize(r.get(), idQuery ? VARIANT_TRUE : VARIANT_FALSE,
                            reset ? VARIANT_TRUE : VARIANT_FALSE, o.get());
  }
  std::string Model() {
    Bstr m;
    identity->get_InstrumentModel(m.put());
    return m.utf8();
  }
  ComPtr<IVelmoraK40xx> root;
  ComPtr<IIviDriverUtility> utility;
  ComPtr<IIviDriverIdentity> identity;
  ComPtr<IIviDriverOperation> operation;
};

TEST(OnTheEmulator, OpensOverTcpWithIdQueryAndReset) {
  Emulator sim({"--model", "K4201A"});
  ASSERT_FALSE(sim.Resource().empty());
  Session s;
  ASSERT_EQ(s.Open(sim.Resource(), true, true), S_OK) << TakeError();
  EXPECT_EQ(s.Model(), "K4201A");
  LONG result = -1;
  Bstr message;
  EXPECT_EQ(s.utility->SelfTest(&result, message.put()), S_OK) << TakeError();
  EXPECT_EQ(result, 0);
  EXPECT_EQ(s.root->Close(), S_OK);
}

TEST(OnTheEmulator, OpensOverASerialLine) {
  Emulator sim({"--model", "K4105A"}, true);
  ASSERT_FALSE(sim.Resource().empty());
  Session s;
  ASSERT_EQ(s.Open(sim.Resource()), S_OK) << TakeError();
  EXPECT_EQ(s.Model(), "K4105A");
  EXPECT_EQ(s.root->Close(), S_OK);
}

TEST(OnTheEmulator, ErrorQueryReadsTheInstrumentsQueue) {
  Emulator sim({"--model", "K4102A"});
  Session s;
  ASSERT_EQ(s.Open(sim.Resource(), true, false, "QueryInstrStatus=true"), S_OK) << TakeError();
  LONG code = 0;
  Bstr message;
  EXPECT_EQ(s.utility->ErrorQuery(&code, message.put()), S_OK) << TakeError();
  EXPECT_EQ(code, 0);
  EXPECT_EQ(message.utf8(), "No error");
  // An error the instrument raised on another connection is in the same queue.
  ASSERT_TRUE(sim.Send("NOSUCH:HEADER"));
  EXPECT_EQ(s.utility->ErrorQuery(&code, message.put()), S_OK) << TakeError();
  EXPECT_EQ(code, -113);
  EXPECT_EQ(message.utf8(), "Undefined header");
}

TEST(OnTheEmulator, ATimeOutIsReportedInTimeAndTheNextCallWorks) {
  Emulator sim({"--model", "K4102A"});
  Session s;
  ASSERT_EQ(s.Open(sim.Resource()), S_OK) << TakeError();
  ASSERT_TRUE(sim.Send("SIM:FAUL:DEL 4000"));
  LONG code = 0;
  Bstr message;
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(s.utility->ErrorQuery(&code, message.put()), E_VELMORAK40XX_IO_TIMEOUT);
  auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(TakeError().rfind("VelmoraK40xx: IO timeout error: ", 0), 0u);
  EXPECT_GE(waited, std::chrono::milliseconds(1900));
  EXPECT_LT(waited, std::chrono::milliseconds(2750));
  ASSERT_TRUE(sim.Send("SIM:FAUL:DEL 0"));
  // The late answer to the timed-out query arrives meanwhile; it must not be taken for the
  // answer to the next one.
  std::this_thread::sleep_for(std::chrono::milliseconds(2500));
  EXPECT_EQ(s.utility->ErrorQuery(&code, message.put()), S_OK) << TakeError();
  EXPECT_EQ(message.utf8(), "No error");
  LONG result = -1;
  EXPECT_EQ(s.utility->SelfTest(&result, message.put()), S_OK) << TakeError();
  EXPECT_EQ(result, 0);
}

TEST(OnTheEmulator, APeerThatHangsUpMidReplyIsAnIoError) {
  Emulator sim({"--model", "K4102A"});
  Session s;
  ASSERT_EQ(s.Open(sim.Resource()), S_OK) << TakeError();
  ASSERT_TRUE(sim.Send("SIM:FAUL:DROP"));
  ASSERT_TRUE(sim.Send("SIM:FAUL:CLOS 1"));
  LONG code = 0;
  Bstr message;
  EXPECT_EQ(s.utility->ErrorQuery(&code, message.put()), E_VELMORAK40XX_IO_GENERAL);
  std::string text = TakeError();
  EXPECT_EQ(text.rfind("VelmoraK40xx: IO error: ", 0), 0u) << text;
  EXPECT_GT(text.size(), std::string("VelmoraK40xx: IO error: .").size()) << text;
  // Later calls fail the same way rather than hang.
  EXPECT_EQ(s.utility->ErrorQuery(&code, message.put()), E_VELMORAK40XX_IO_GENERAL);
  EXPECT_EQ(s.root->Close(), S_OK);
}

}  // namespace
}  // namespace vmk
