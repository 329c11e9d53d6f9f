// The abstract provider's own rules, over primitives that a test controls completely: what the
// transfer steps check, and when the time-out is applied and put back.
#include <gtest/gtest.h>

#include <deque>

#include "io/driver_io_provider.h"
#include "services/errors.h"
#include "tests/unit/platform_visa/visa_test_util.h"

namespace vmk {
namespace {

class FakeProvider final : public CDriverIOProvider {
 public:
  HRESULT GetVisaInterfaceType(int32_t* p) override {
    *p = 7;
    return S_OK;
  }

  std::vector<std::string> written;
  std::deque<std::string> replies;
  std::vector<int32_t> timeoutsPut;
  int32_t timeout = 1000;
  bool getTimeoutFails = false;
  bool shortWrites = false;
  HRESULT readFailure = S_OK;
  HRESULT stbFailure = S_OK;
  int clears = 0;

 protected:
  HRESULT PrimReadString(int32_t count, std::string* text) override {
    if (FAILED(readFailure)) {
      SetComErrorInfo(GUID_NULL, "VISA", "scripted read failure");
      return readFailure;
    }
    if (replies.empty()) return E_VMK_IO_TIMEOUT_STATUS;
    *text = replies.front().substr(0, static_cast<size_t>(count));
    replies.pop_front();
    return S_OK;
  }
  HRESULT PrimWriteString(std::string_view text, int32_t* n) override {
    written.emplace_back(text);
    *n = static_cast<int32_t>(text.size()) - (shortWrites ? 4 : 0);
    return S_OK;
  }
  HRESULT PrimClear() override {
    ++clears;
    return S_OK;
  }
  HRESULT PrimPutTimeout(int32_t ms) override {
    timeoutsPut.push_back(ms);
    timeout = ms;
    return S_OK;
  }
  HRESULT PrimGetTimeout(int32_t* ms) override {
    if (getTimeoutFails) return E_FAIL;
    *ms = timeout;
    return S_OK;
  }
  // What these tests do not reach.
  HRESULT PrimReadSTB(int16_t* stb) override {
    if (FAILED(stbFailure)) return stbFailure;
    *stb = 0x44;
    return S_OK;
  }
  HRESULT PrimFormattedReadNumber(bool, int32_t*) override { return E_NOTIMPL; }
};

struct Host final : IoHost {
  bool QueryInstrumentStatus() const override { return false; }
};

class Provider : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(p_.InitializeIO(&host_, &errors_, &host_, "fake"), S_OK); }
  Host host_;
  CErrorManager errors_;
  FakeProvider p_;
};

TEST_F(Provider, AShortWriteIsAnIoErrorThatSaysSo) {
  p_.shortWrites = true;
  EXPECT_EQ(p_.InstrWrite("VOLT 5", kIoTimeoutKeep), E_VELMORAK40XX_IO_GENERAL);
  EXPECT_NE(test::TakeErrorDescription().find("only 3 of 7 bytes"), std::string::npos);
  EXPECT_EQ(p_.clears, 1);
}

TEST_F(Provider, APerCallTimeOutIsPutBackAfterSuccessAndFailure) {
  p_.replies = {"1\n"};
  double d = 0;
  EXPECT_EQ(p_.InstrQuery("A?", 5000, &d), S_OK);
  EXPECT_EQ(p_.timeoutsPut, (std::vector<int32_t>{5000, 1000}));
  p_.timeoutsPut.clear();
  EXPECT_EQ(p_.InstrQuery("B?", -1, &d), E_VELMORAK40XX_IO_TIMEOUT);  // no reply left
  EXPECT_EQ(p_.timeoutsPut, (std::vector<int32_t>{-1, 1000}));
  bool flag = false;
  EXPECT_EQ(p_.IsTimeout(&flag), S_OK);
  EXPECT_TRUE(flag);
  // Putting the time-out back must not wipe the description of the failure.
  p_.readFailure = E_VMK_IO_TIMEOUT_STATUS;
  test::TakeErrorDescription();
  EXPECT_EQ(p_.InstrQuery("C?", 0, &d), E_VELMORAK40XX_IO_TIMEOUT);
  EXPECT_NE(test::TakeErrorDescription().find("scripted read failure"), std::string::npos);
}

TEST_F(Provider, TheSessionTimeOutIsLeftAloneWhenKeptOrUnreadable) {
  p_.replies = {"1\n", "2\n", "3\n"};
  double d = 0;
  EXPECT_EQ(p_.InstrQuery("A?", kIoTimeoutKeep, &d), S_OK);
  EXPECT_EQ(p_.InstrQuery("A?", -7, &d), S_OK);
  p_.getTimeoutFails = true;
  EXPECT_EQ(p_.InstrQuery("A?", 5000, &d), S_OK);
  EXPECT_TRUE(p_.timeoutsPut.empty());
}

TEST_F(Provider, OneLineFeedEndsACommandAndIsTakenOffAReply) {
  p_.replies = {"5.5\r\n", "x\n\n", "7"};
  std::string s;
  EXPECT_EQ(p_.InstrQuery("VOLT?", 100, kIoTimeoutKeep, &s), S_OK);
  EXPECT_EQ(s, "5.5\r");  // the carriage return is the reply's own
  EXPECT_EQ(p_.InstrQuery("ID?\n", 100, kIoTimeoutKeep, &s), S_OK);
  EXPECT_EQ(s, "x\n");
  EXPECT_EQ(p_.InstrQuery("CURR?\r\n", 100, kIoTimeoutKeep, &s), S_OK);
  EXPECT_EQ(s, "7");
  EXPECT_EQ(p_.written, (std::vector<std::string>{"VOLT?\n", "ID?\n", "CURR?\r\n"}));
}

TEST_F(Provider, ACommandAheadGoesOutInFrontOfTheNextInOneWrite) {
  p_.replies = {"1\n"};
  EXPECT_EQ(p_.InstrWriteAhead("INST:NSEL 2"), S_OK);
  EXPECT_TRUE(p_.written.empty());
  double d = 0;
  EXPECT_EQ(p_.InstrQuery("VOLT?", kIoTimeoutKeep, &d), S_OK);
  EXPECT_EQ(p_.written, (std::vector<std::string>{"INST:NSEL 2\nVOLT?\n"}));
  // Nothing is read before what waits has gone out.
  EXPECT_EQ(p_.InstrWriteAhead("INST:NSEL 1\n"), S_OK);
  int16_t stb = 0;
  EXPECT_EQ(p_.ReadSTB(&stb), S_OK);
  EXPECT_EQ(stb, 0x44);
  EXPECT_EQ(p_.written.back(), "INST:NSEL 1\n");
  EXPECT_FALSE(p_.HasAhead());
  // A short write of the joined text is the whole command's failure.
  p_.shortWrites = true;
  EXPECT_EQ(p_.InstrWriteAhead("INST:NSEL 2"), S_OK);
  EXPECT_EQ(p_.InstrWrite("VOLT 5", kIoTimeoutKeep), E_VELMORAK40XX_IO_GENERAL);
  EXPECT_NE(test::TakeErrorDescription().find("only 15 of 19 bytes"), std::string::npos);
  // What waits does not outlive the connection.
  p_.shortWrites = false;
  EXPECT_EQ(p_.InstrWriteAhead("INST:NSEL 2"), S_OK);
  EXPECT_EQ(p_.CloseIO(), S_OK);
  EXPECT_FALSE(p_.HasAhead());
}

// A serial poll is an operation like the others: its failure is the driver's I/O report, never
// the transport's own status, and a time-out is one the session remembers.
TEST_F(Provider, AFailedSerialPollIsReportedAsAnIoFailure) {
  p_.stbFailure = E_VMK_IO_TIMEOUT_STATUS;
  int16_t stb = 0;
  EXPECT_EQ(p_.ReadSTB(&stb), E_VELMORAK40XX_IO_TIMEOUT);
  bool flag = false;
  EXPECT_EQ(p_.IsTimeout(&flag), S_OK);
  EXPECT_TRUE(flag);
  EXPECT_EQ(p_.clears, 1);
  p_.stbFailure = E_VISA_CONN_LOST;
  EXPECT_EQ(p_.ReadSTB(&stb), E_VELMORAK40XX_IO_GENERAL);
  EXPECT_EQ(p_.IsTimeout(&flag), S_OK);
  EXPECT_FALSE(flag);
}

TEST_F(Provider, AFailedReadIsReportedWithItsDescriptionAfterAClear) {
  p_.readFailure = E_VISA_CONN_LOST;
  std::string s;
  EXPECT_EQ(p_.InstrQuery("A?", 100, kIoTimeoutKeep, &s), E_VELMORAK40XX_IO_GENERAL);
  EXPECT_NE(test::TakeErrorDescription().find("scripted read failure"), std::string::npos);
  EXPECT_EQ(p_.clears, 1);
  bool flag = true;
  EXPECT_EQ(p_.IsTimeout(&flag), S_OK);
  EXPECT_FALSE(flag);
}

}  // namespace
}  // namespace vmk
