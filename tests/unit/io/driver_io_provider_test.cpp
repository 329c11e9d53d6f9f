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
  int32_t GetProviderKind() const override { return 99; }
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
  HRESULT PrimRead(int32_t, SAFEARRAY**) override { return E_NOTIMPL; }
  HRESULT PrimWrite(const uint8_t*, int32_t, int32_t*) override { return E_NOTIMPL; }
  HRESULT PrimReadSTB(int16_t*) override { return E_NOTIMPL; }
  HRESULT PrimPutSendEndEnabled(bool) override { return E_NOTIMPL; }
  HRESULT PrimGetSendEndEnabled(bool*) override { return E_NOTIMPL; }
  HRESULT PrimPutTerminationCharacter(uint8_t) override { return E_NOTIMPL; }
  HRESULT PrimGetTerminationCharacter(uint8_t*) override { return E_NOTIMPL; }
  HRESULT PrimPutTerminationCharacterEnabled(bool) override { return E_NOTIMPL; }
  HRESULT PrimGetTerminationCharacterEnabled(bool*) override { return E_NOTIMPL; }
  HRESULT PrimPutInstrumentBigEndian(bool) override { return E_NOTIMPL; }
  HRESULT PrimGetInstrumentBigEndian(bool*) override { return E_NOTIMPL; }
  HRESULT PrimFormattedWriteString(std::string_view, bool) override { return E_NOTIMPL; }
  HRESULT PrimFormattedWriteNumber(const VARIANT&, int32_t, bool) override { return E_NOTIMPL; }
  HRESULT PrimFormattedWriteList(const VARIANT&, int32_t, std::string_view, bool) override {
    return E_NOTIMPL;
  }
  HRESULT PrimFormattedWriteIEEEBlock(std::string_view, const VARIANT&, bool) override {
    return E_NOTIMPL;
  }
  HRESULT PrimFormattedReadString(std::string*) override { return E_NOTIMPL; }
  HRESULT PrimFormattedReadNumber(int32_t, bool, VARIANT*) override { return E_NOTIMPL; }
  HRESULT PrimFormattedReadList(int32_t, std::string_view, VARIANT*) override { return E_NOTIMPL; }
  HRESULT PrimFormattedReadIEEEBlock(int32_t, bool, bool, VARIANT*) override { return E_NOTIMPL; }
  HRESULT PrimFormattedFlushWrite(bool) override { return E_NOTIMPL; }
  HRESULT PrimFormattedFlushRead() override { return E_NOTIMPL; }
  HRESULT PrimFormattedSetBufferSize(int32_t, int32_t) override { return E_NOTIMPL; }
  HRESULT PrimIn8(int16_t, int32_t, uint8_t*) override { return E_NOTIMPL; }
  HRESULT PrimOut8(int16_t, int32_t, uint8_t) override { return E_NOTIMPL; }
  HRESULT PrimIn16(int16_t, int32_t, int16_t*) override { return E_NOTIMPL; }
  HRESULT PrimOut16(int16_t, int32_t, int16_t) override { return E_NOTIMPL; }
  HRESULT PrimIn32(int16_t, int32_t, int32_t*) override { return E_NOTIMPL; }
  HRESULT PrimOut32(int16_t, int32_t, int32_t) override { return E_NOTIMPL; }
  HRESULT PrimMoveIn8(int16_t, int32_t, int32_t, uint8_t*) override { return E_NOTIMPL; }
  HRESULT PrimMoveOut8(int16_t, int32_t, int32_t, const uint8_t*) override { return E_NOTIMPL; }
  HRESULT PrimMoveIn16(int16_t, int32_t, int32_t, int16_t*) override { return E_NOTIMPL; }
  HRESULT PrimMoveOut16(int16_t, int32_t, int32_t, const int16_t*) override { return E_NOTIMPL; }
  HRESULT PrimMoveIn32(int16_t, int32_t, int32_t, int32_t*) override { return E_NOTIMPL; }
  HRESULT PrimMoveOut32(int16_t, int32_t, int32_t, const int32_t*) override { return E_NOTIMPL; }
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

TEST_F(Provider, TerminatorsCanBeChanged) {
  p_.SetWriteTerminator("\r\n");
  p_.SetReadTerminator("\r\n");
  p_.replies = {"5.5\r\n", "x\n"};
  std::string s;
  EXPECT_EQ(p_.InstrQuery("VOLT?\r\n", 100, kIoTimeoutKeep, &s), S_OK);
  EXPECT_EQ(s, "5.5");
  EXPECT_EQ(p_.InstrQuery("ID?\n", 100, kIoTimeoutKeep, &s), S_OK);
  EXPECT_EQ(s, "x\n");  // a lone line feed is not this terminator
  EXPECT_EQ(p_.written, (std::vector<std::string>{"VOLT?\r\n", "ID?\n\r\n"}));
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
