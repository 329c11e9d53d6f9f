// Sessions on an emulator that misbehaves on request: a stalled or slow reply, garbage, a reply
// without its terminator, error bits in the event status, a hang-up mid-reply, an emulator that
// dies or comes back on the same port. Each fault is reported with its own status and text
// within one session time-out, with status polling on and off, and neither Close nor the next
// session suffers from it.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <chrono>
#include <cmath>
#include <functional>
#include <memory>
#include <string>

#include "tests/e2e/emulator.h"
#include "tests/support/client.h"
#include "vmk40xx/vmk40xx.h"

namespace vmk {
namespace {

using com::Bstr;
using com::ComPtr;
using test::Emulator;
using test::TakeError;
using Clock = std::chrono::steady_clock;

constexpr LONG kTimeoutMs = 1000;
// What a fault may cost beyond the one time-out it takes to notice it.
constexpr auto kBound = std::chrono::milliseconds(kTimeoutMs + 100);
const std::string kTimeoutText = "VelmoraK40xx: IO timeout error: ";
const std::string kIoErrorText = "VelmoraK40xx: IO error: ";
const std::string kStatusText =
    "VelmoraK40xx: Instrument error detected.  Use ErrorQuery() to determine the error(s).";

struct Outcome {
  HRESULT hr;
  std::string text;
  Clock::duration took;
};

class Fault : public ::testing::TestWithParam<bool> {
 protected:
  bool Polling() const { return GetParam(); }

  void SetUp() override {
    sim = std::make_unique<Emulator>(std::vector<std::string>{"--model", "K4201A"});
    ASSERT_FALSE(sim->Resource().empty());
    ASSERT_EQ(Open(&root, sim->Resource()), S_OK) << TakeError();
    ComPtr<IVelmoraK40xxOutputs> outputs;
    ASSERT_EQ(root->get_Outputs(outputs.put()), S_OK);
    Bstr name("Output2");
    ASSERT_EQ(outputs->get_Item(name.get(), output2.put()), S_OK);
  }

  HRESULT Open(ComPtr<IVelmoraK40xx>* driver, const std::string& resource) {
    *driver = test::NewDriver();
    Bstr r(resource);
    Bstr options(Polling() ? "QueryInstrStatus=true" : "QueryInstrStatus=false");
    HRESULT hr = (*driver)->Initialize(r.get(), VARIANT_TRUE, VARIANT_FALSE, options.get());
    if (FAILED(hr)) return hr;
    ComPtr<IVelmoraK40xxSystem> system;
    (*driver)->get_System(system.put());
    return system->put_TimeoutMilliseconds(kTimeoutMs);
  }

  // The call, what it returned, the error text it left and how long it took.
  static Outcome Timed(const std::function<HRESULT()>& call) {
    TakeError();
    const auto start = Clock::now();
    const HRESULT hr = call();
    const auto took = Clock::now() - start;
    return {hr, TakeError(), took};
  }

  Outcome GetEnabled() {
    ComPtr<IVelmoraK40xxOutputs> outputs;
    EXPECT_EQ(root->get_Outputs(outputs.put()), S_OK);
    return Timed([&] {
      VARIANT_BOOL on = VARIANT_FALSE;
      return outputs->get_Enabled(&on);
    });
  }
  Outcome GetLevel2(double* level = nullptr) {
    return Timed([&] {
      double v = 0;
      const HRESULT hr = output2->get_VoltageLevel(&v);
      if (level) *level = v;
      return hr;
    });
  }

  // Close works after the fault, and a new session on `resource` works once the fault is gone.
  void CloseThenNewSession(const std::string& resource) {
    output2.reset();
    EXPECT_EQ(root->Close(), S_OK) << TakeError();
    ComPtr<IVelmoraK40xx> fresh;
    ASSERT_EQ(Open(&fresh, resource), S_OK) << TakeError();
    ComPtr<IVelmoraK40xxOutputs> outputs;
    ASSERT_EQ(fresh->get_Outputs(outputs.put()), S_OK);
    Bstr name("Output2");
    ComPtr<IVelmoraK40xxOutput> out;
    ASSERT_EQ(outputs->get_Item(name.get(), out.put()), S_OK);
    EXPECT_EQ(out->put_VoltageLevel(2.5), S_OK) << TakeError();
    double level = 0;
    EXPECT_EQ(out->get_VoltageLevel(&level), S_OK) << TakeError();
    EXPECT_EQ(level, 2.5);
    EXPECT_EQ(fresh->Close(), S_OK) << TakeError();
  }
  void CloseThenNewSession() { CloseThenNewSession(sim->Resource()); }

  std::unique_ptr<Emulator> sim;
  ComPtr<IVelmoraK40xx> root;
  ComPtr<IVelmoraK40xxOutput> output2;
};

std::string Mode(const ::testing::TestParamInfo<bool>& info) {
  return info.param ? "Polling" : "NotPolling";
}

INSTANTIATE_TEST_SUITE_P(StatusPolling, Fault, ::testing::Bool(), Mode);

TEST_P(Fault, AStalledReplyCostsOneTimeOutForAGetAPutAMeasurementAndAMethod) {
  ASSERT_TRUE(sim->Send("SIM:FAUL:DEL 5000"));
  auto expectTimeout = [&](const Outcome& o, const char* what) {
    EXPECT_EQ(o.hr, E_VELMORAK40XX_IO_TIMEOUT) << what << ": " << o.text;
    EXPECT_EQ(o.text.rfind(kTimeoutText, 0), 0u) << what << ": " << o.text;
    EXPECT_GE(o.took, std::chrono::milliseconds(kTimeoutMs - 50)) << what;
    EXPECT_LT(o.took, kBound) << what;
  };
  expectTimeout(GetLevel2(), "get");

  const Outcome put = Timed([&] { return output2->put_VoltageLevel(1.0); });
  if (Polling()) {
    expectTimeout(put, "put");
  } else {
    // A command without a reply has nothing to wait for.
    EXPECT_EQ(put.hr, S_OK) << put.text;
    EXPECT_EQ(put.text, "");
    EXPECT_LT(put.took, std::chrono::milliseconds(500));
  }
  expectTimeout(Timed([&] {
                  double v = 0;
                  return output2->Measure(VelmoraK40xxMeasurementVoltage, &v);
                }),
                "measurement");
  // Three queries when nothing goes wrong: the condition, then the selection and the trip state.
  expectTimeout(Timed([&] {
                  VARIANT_BOOL tripped = VARIANT_FALSE;
                  return output2->QueryState(VelmoraK40xxOutputOverVoltage, &tripped);
                }),
                "method");
  ASSERT_TRUE(sim->Send("SIM:FAUL:DEL 0"));
  CloseThenNewSession();
}

TEST_P(Fault, ASlowReplyWithinTheTimeOutIsJustSlow) {
  ASSERT_TRUE(sim->Send("SIM:FAUL:DEL 200"));
  double level = -1;
  const Outcome o = GetLevel2(&level);
  EXPECT_EQ(o.hr, S_OK) << o.text;
  EXPECT_EQ(o.text, "");
  EXPECT_EQ(level, 0.0);
  EXPECT_GE(o.took, std::chrono::milliseconds(200));
  // With polling, the selection's and the query's status replies are held back too.
  EXPECT_LT(o.took, std::chrono::milliseconds(Polling() ? 3 * 200 + 300 : 200 + 300));
  ASSERT_TRUE(sim->Send("SIM:FAUL:DEL 0"));
  CloseThenNewSession();
}

TEST_P(Fault, GarbageIsAnUnexpectedResponse) {
  ASSERT_TRUE(sim->Send("SIM:FAUL:GARB"));
  const Outcome o = GetEnabled();
  EXPECT_EQ(o.hr, E_IVI_UNEXPECTED_RESPONSE) << o.text;
  EXPECT_EQ(o.text.rfind("VelmoraK40xx: Unexpected response from instrument.", 0), 0u) << o.text;
  EXPECT_NE(o.text.find("GARBAGE"), std::string::npos) << o.text;
  EXPECT_LT(o.took, kBound);
  CloseThenNewSession();
}

// Garbage in answer to the status poll after the selection says nothing of the status, which is
// no proof of a clean one; without polling the garbage is the query's reply, and a number query
// that gets no number gives the non-numeric value.
TEST_P(Fault, GarbageAfterTheSelectionIsNotTakenForACleanStatus) {
  ASSERT_TRUE(sim->Send("SIM:FAUL:GARB"));
  double level = 0;
  const Outcome o = GetLevel2(&level);
  if (Polling()) {
    EXPECT_EQ(o.hr, E_IVI_INSTRUMENT_STATUS) << o.text;
    EXPECT_EQ(o.text, kStatusText);
  } else {
    EXPECT_EQ(o.hr, S_OK) << o.text;
    EXPECT_EQ(o.text, "");
    EXPECT_TRUE(std::isnan(level));
  }
  EXPECT_LT(o.took, kBound);
  CloseThenNewSession();
}

TEST_P(Fault, AReplyWithoutItsTerminatorTimesOutOnceAndTheNextCallWorks) {
  ASSERT_TRUE(sim->Send("SIM:FAUL:DROP"));
  const Outcome o = GetEnabled();
  EXPECT_EQ(o.hr, E_VELMORAK40XX_IO_TIMEOUT) << o.text;
  EXPECT_EQ(o.text.rfind(kTimeoutText, 0), 0u) << o.text;
  EXPECT_LT(o.took, kBound);
  // The unterminated reply is not taken for a part of the next one.
  const Outcome next = GetEnabled();
  EXPECT_EQ(next.hr, S_OK) << next.text;
  EXPECT_EQ(next.text, "");
  CloseThenNewSession();
}

// With polling, the reply that loses its terminator is the status poll's after the selection.
TEST_P(Fault, AReplyWithoutItsTerminatorOnAnOutputTimesOutOnce) {
  ASSERT_TRUE(sim->Send("SIM:FAUL:DROP"));
  const Outcome o = GetLevel2();
  EXPECT_EQ(o.hr, E_VELMORAK40XX_IO_TIMEOUT) << o.text;
  EXPECT_EQ(o.text.rfind(kTimeoutText, 0), 0u) << o.text;
  EXPECT_LT(o.took, kBound);
  double level = -1;
  const Outcome next = GetLevel2(&level);
  EXPECT_EQ(next.hr, S_OK) << next.text;
  EXPECT_EQ(level, 0.0);
  CloseThenNewSession();
}

// An error an earlier program left in the event status is not this session's to fail on.
TEST_P(Fault, AnEventStatusLeftFromBeforeDoesNotFailInitializeWithIdQueryAndReset) {
  Emulator stale({"--model", "K4201A", "--esr", "16"});
  ComPtr<IVelmoraK40xx> driver = test::NewDriver();
  Bstr r(stale.Resource());
  Bstr options(Polling() ? "QueryInstrStatus=true" : "QueryInstrStatus=false");
  const Outcome o = Timed(
      [&] { return driver->Initialize(r.get(), VARIANT_TRUE, VARIANT_TRUE, options.get()); });
  EXPECT_EQ(o.hr, S_OK) << o.text;
  EXPECT_EQ(o.text, "");
  ComPtr<IIviDriverUtility> utility;
  ASSERT_EQ(driver->QueryInterface(IID_IIviDriverUtility, reinterpret_cast<void**>(utility.put())),
            S_OK);
  LONG code = -1;
  Bstr message;
  EXPECT_EQ(utility->ErrorQuery(&code, message.put()), S_OK) << TakeError();
  EXPECT_EQ(driver->Close(), S_OK);
  CloseThenNewSession();
}

TEST_P(Fault, EventStatusErrorBitsAreReportedWhenPolledWhicheverPollSeesThem) {
  for (const char* bits : {"32", "28"}) {
    ASSERT_TRUE(sim->Send(std::string("SIM:FAUL:ESR ") + bits));
    // On output 2 the poll that follows the selection is the one to read the register.
    const Outcome o = Timed([&] { return output2->put_VoltageLevel(1.5); });
    if (Polling()) {
      EXPECT_EQ(o.hr, E_IVI_INSTRUMENT_STATUS) << bits << ": " << o.text;
      EXPECT_EQ(o.text, kStatusText) << bits;
    } else {
      EXPECT_EQ(o.hr, S_OK) << bits << ": " << o.text;
      EXPECT_EQ(o.text, "") << bits;
      ComPtr<IVelmoraK40xxStatus> status;
      ASSERT_EQ(root->get_Status(status.put()), S_OK);
      LONG esr = 0;
      ASSERT_EQ(status->get_Register(VelmoraK40xxStatusRegisterStandardEvent,
                                     VelmoraK40xxStatusSubRegisterEvent, &esr),
                S_OK);
      EXPECT_EQ(esr & 0x3C, std::stol(bits)) << bits;
    }
    EXPECT_LT(o.took, kBound);
    // The command after the selection went out all the same.
    double level = 0;
    EXPECT_EQ(output2->get_VoltageLevel(&level), S_OK) << TakeError();
    EXPECT_EQ(level, 1.5);
  }
  CloseThenNewSession();
}

TEST_P(Fault, AHangUpMidReplyIsAnIoErrorAndLaterCallsFailAsFast) {
  ASSERT_TRUE(sim->Send("SIM:FAUL:DROP"));
  ASSERT_TRUE(sim->Send("SIM:FAUL:CLOS 1"));
  const Outcome o = GetEnabled();
  EXPECT_EQ(o.hr, E_VELMORAK40XX_IO_GENERAL) << o.text;
  EXPECT_EQ(o.text.rfind(kIoErrorText, 0), 0u) << o.text;
  EXPECT_LT(o.took, kBound);
  const Outcome again = GetLevel2();
  EXPECT_EQ(again.hr, E_VELMORAK40XX_IO_GENERAL) << again.text;
  EXPECT_EQ(again.text.rfind(kIoErrorText, 0), 0u) << again.text;
  EXPECT_LT(again.took, kBound);
  CloseThenNewSession();
}

TEST_P(Fault, AKilledEmulatorIsAnIoError) {
  const pid_t pid = sim->Pid();
  ASSERT_EQ(kill(pid, SIGKILL), 0);
  // Reaped here, so that the connection is surely gone before the call.
  ASSERT_EQ(waitpid(pid, nullptr, 0), pid);
  for (int i = 0; i < 2; ++i) {
    const Outcome o = GetLevel2();
    EXPECT_EQ(o.hr, E_VELMORAK40XX_IO_GENERAL) << o.text;
    EXPECT_EQ(o.text.rfind(kIoErrorText, 0), 0u) << o.text;
    EXPECT_LT(o.took, kBound);
  }
  sim = std::make_unique<Emulator>(std::vector<std::string>{"--model", "K4201A"});
  ASSERT_FALSE(sim->Resource().empty());
  CloseThenNewSession();
}

// The old session does not reach the new instrument: its connection was to the one that died.
TEST_P(Fault, AnEmulatorRestartedOnTheSamePortLeavesTheOldSessionFailingAsAnIoError) {
  const std::string resource = sim->Resource();
  const std::string head = "TCPIP0::127.0.0.1::", tail = "::SOCKET";
  const std::string port = resource.substr(head.size(), resource.size() - head.size() - tail.size());
  const pid_t pid = sim->Pid();
  ASSERT_EQ(kill(pid, SIGKILL), 0);
  ASSERT_EQ(waitpid(pid, nullptr, 0), pid);
  sim = std::make_unique<Emulator>(
      std::vector<std::string>{"--model", "K4201A", "--listen", "127.0.0.1:" + port});
  ASSERT_EQ(sim->Resource(), resource);
  const Outcome o = GetLevel2();
  EXPECT_EQ(o.hr, E_VELMORAK40XX_IO_GENERAL) << o.text;
  EXPECT_EQ(o.text.rfind(kIoErrorText, 0), 0u) << o.text;
  EXPECT_LT(o.took, kBound);
  CloseThenNewSession(resource);
}

}  // namespace
}  // namespace vmk
