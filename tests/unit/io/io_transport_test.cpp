// The I/O manager over real connections: the time-out rule and a peer that hangs up.
#include <chrono>
#include <thread>

#include "tests/unit/io/io_test_util.h"
#include "tests/unit/platform_visa/test_peer.h"

namespace vmk {
namespace {

using Clock = std::chrono::steady_clock;
using test::PeerAction;

PeerAction Instrument(const std::string& line, const std::function<void(std::string_view)>& send) {
  if (line == "VOLT?")
    send("+5.000000E+00\n");
  else if (line == "*IDN?")
    send("VELMORA,K4102A,0,1.0\n");
  else if (line == "SLOW?") {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    send("+9.9\n");
  } else if (line == "HALF?") {
    send("+1.2");
    return PeerAction::Close;
  }
  return PeerAction::Keep;  // everything else is a command, or a query left unanswered
}

class RealIo : public ::testing::TestWithParam<bool> {
 protected:
  void Open(const std::string& resource) {
    ASSERT_EQ(provider_.InitializeIO(&host_, &errors_, this, resource), S_OK)
        << test::TakeErrorDescription();
    io_.SetProvider(&provider_);
    io_.SetErrorManager(&errors_);
  }
  void TearDown() override { provider_.CloseIO(); }

  test::TestHost host_;
  CErrorManager errors_;
  CVisaComIOProvider provider_;
  CDriverIOManager io_;
};

TEST_P(RealIo, ATimeOutIsReportedInTimeAndLeavesTheSessionAsItWas) {
  const bool serial = GetParam();
  test::TcpPeer tcp(Instrument);
  std::unique_ptr<test::PtyPeer> pty;
  if (serial) pty = std::make_unique<test::PtyPeer>(Instrument);
  Open(serial ? pty->Resource() : tcp.Resource());

  int32_t kind = 0;
  ASSERT_EQ(provider_.GetVisaInterfaceType(&kind), S_OK);
  EXPECT_EQ(kind, serial ? 4 : 7);
  int32_t before = 0;
  ASSERT_EQ(io_.GetIOTimeout(&before), S_OK);
  EXPECT_EQ(before, 2000);

  double d = 0;
  const auto start = Clock::now();
  EXPECT_EQ(io_.InstrQuery("SILENT?", 300, &d), E_VELMORAK40XX_IO_TIMEOUT);
  const auto took = Clock::now() - start;
  EXPECT_GE(took, std::chrono::milliseconds(290));
  EXPECT_LT(took, std::chrono::milliseconds(300 + 250));
  EXPECT_NE(test::TakeErrorDescription().find("time-out after 300 ms"), std::string::npos);

  int32_t after = 0;
  ASSERT_EQ(io_.GetIOTimeout(&after), S_OK);
  EXPECT_EQ(after, before);
  EXPECT_EQ(io_.InstrQuery("VOLT?", kIoTimeoutKeep, &d), S_OK);
  EXPECT_EQ(d, 5.0);
  std::string id;
  EXPECT_EQ(io_.InstrQuery("*IDN?", 1024, kIoTimeoutKeep, &id), S_OK);
  EXPECT_EQ(id, "VELMORA,K4102A,0,1.0");
}

TEST_P(RealIo, AReplyThatComesAfterItsTimeOutIsNotTheAnswerToTheNextQuery) {
  const bool serial = GetParam();
  test::TcpPeer tcp(Instrument);
  std::unique_ptr<test::PtyPeer> pty;
  if (serial) pty = std::make_unique<test::PtyPeer>(Instrument);
  Open(serial ? pty->Resource() : tcp.Resource());
  double d = 0;
  EXPECT_EQ(io_.InstrQuery("SLOW?", 100, &d), E_VELMORAK40XX_IO_TIMEOUT);
  // The late reply arrives after the device clear of the error report.
  std::this_thread::sleep_for(std::chrono::milliseconds(400));
  EXPECT_EQ(io_.InstrQuery("VOLT?", kIoTimeoutKeep, &d), S_OK);
  EXPECT_EQ(d, 5.0);
}

TEST_P(RealIo, APeerThatHangsUpMidReplyIsAnIoErrorNotAHang) {
  const bool serial = GetParam();
  test::TcpPeer tcp(Instrument);
  std::unique_ptr<test::PtyPeer> pty;
  if (serial) pty = std::make_unique<test::PtyPeer>(Instrument);
  Open(serial ? pty->Resource() : tcp.Resource());
  double d = 0;
  const auto start = Clock::now();
  EXPECT_EQ(io_.InstrQuery("HALF?", kIoTimeoutKeep, &d), E_VELMORAK40XX_IO_GENERAL);
  EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(1500));
  const std::string why = test::TakeErrorDescription();
  EXPECT_FALSE(why.empty());
  EXPECT_TRUE(why.find("closed") != std::string::npos || why.find("hung up") != std::string::npos)
      << why;
  EXPECT_EQ(io_.InstrQuery("VOLT?", kIoTimeoutKeep, &d), E_VELMORAK40XX_IO_GENERAL);
}

INSTANTIATE_TEST_SUITE_P(Transports, RealIo, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Serial" : "TcpSocket"; });

}  // namespace
}  // namespace vmk
