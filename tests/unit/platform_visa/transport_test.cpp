// Real connections: a TCP socket and a pseudo-terminal pair, against a peer in the test.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>

#include "tests/unit/platform_visa/test_peer.h"
#include "tests/unit/platform_visa/visa_test_util.h"

namespace vmk::visa {
namespace {

using com::ComPtr;
using test::PeerAction;
using Clock = std::chrono::steady_clock;

PeerAction Echo(const std::string& line, const std::function<void(std::string_view)>& send) {
  if (line == "SILENT?") return PeerAction::Keep;
  if (line == "HALF?") {
    send("+1.23");
    return PeerAction::Close;
  }
  send("echo " + line + "\n");
  return PeerAction::Keep;
}

void TermCharOn(IMessage* m) {
  ASSERT_EQ(m->put_TerminationCharacterEnabled(VARIANT_TRUE), S_OK);
}

TEST(TcpSocket, QueriesRoundTripAndReportTheSocketSessionType) {
  test::TcpPeer peer(Echo);
  ComPtr<IMessage> m;
  ASSERT_EQ(test::OpenMessage(peer.Resource(), &m), S_OK) << test::TakeErrorDescription();
  TermCharOn(m.get());
  SHORT type = 0;
  ASSERT_EQ(m->get_HardwareInterfaceType(&type), S_OK);
  EXPECT_EQ(type, INTF_TCPIP);
  com::Bstr sessionType;
  ASSERT_EQ(m->get_SessionType(sessionType.put()), S_OK);
  EXPECT_EQ(sessionType.utf8(), "SOCKET");
  SHORT board = -1;
  ASSERT_EQ(m->get_HardwareInterfaceNumber(&board), S_OK);
  EXPECT_EQ(board, 0);
  for (int i = 0; i < 3; ++i) {
    ASSERT_EQ(test::WriteText(m.get(), "VOLT?\n"), S_OK);
    std::string reply;
    ASSERT_TRUE(SUCCEEDED(test::ReadText(m.get(), 100, &reply)));
    EXPECT_EQ(reply, "echo VOLT?\n");
  }
}

TEST(TcpSocket, ATimeOutComesWithinItsTimeAndTheNextQueryGetsItsOwnAnswer) {
  test::TcpPeer peer(Echo);
  ComPtr<IMessage> m;
  ASSERT_EQ(test::OpenMessage(peer.Resource(), &m, "Timeout = 300"), S_OK);
  TermCharOn(m.get());
  LONG timeout = 0;
  ASSERT_EQ(m->get_Timeout(&timeout), S_OK);
  EXPECT_EQ(timeout, 300);
  ASSERT_EQ(test::WriteText(m.get(), "SILENT?\n"), S_OK);
  std::string reply;
  const auto start = Clock::now();
  EXPECT_EQ(test::ReadText(m.get(), 100, &reply), E_VISA_TMO);
  const auto took = Clock::now() - start;
  EXPECT_GE(took, std::chrono::milliseconds(290));
  EXPECT_LT(took, std::chrono::milliseconds(300 + 250));
  EXPECT_NE(test::TakeErrorDescription().find("time-out after 300 ms"), std::string::npos);
  ASSERT_EQ(test::WriteText(m.get(), "NEXT?\n"), S_OK);
  ASSERT_TRUE(SUCCEEDED(test::ReadText(m.get(), 100, &reply)));
  EXPECT_EQ(reply, "echo NEXT?\n");
}

TEST(TcpSocket, AnImmediateTimeOutDoesNotWait) {
  test::TcpPeer peer(Echo);
  ComPtr<IMessage> m;
  ASSERT_EQ(test::OpenMessage(peer.Resource(), &m), S_OK);
  ASSERT_EQ(m->put_Timeout(0), S_OK);
  std::string reply;
  const auto start = Clock::now();
  EXPECT_EQ(test::ReadText(m.get(), 100, &reply), E_VISA_TMO);
  EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(100));
}

TEST(TcpSocket, APeerClosingMidReplyIsALostConnectionWithADescription) {
  test::TcpPeer peer(Echo);
  ComPtr<IMessage> m;
  ASSERT_EQ(test::OpenMessage(peer.Resource(), &m), S_OK);
  TermCharOn(m.get());
  ASSERT_EQ(test::WriteText(m.get(), "HALF?\n"), S_OK);
  std::string reply;
  EXPECT_EQ(test::ReadText(m.get(), 100, &reply), E_VISA_CONN_LOST);
  const std::string why = test::TakeErrorDescription();
  EXPECT_NE(why.find("closed the connection in the middle of a reply"), std::string::npos) << why;
  EXPECT_TRUE(reply.empty());
  // Later operations fail the same way instead of hanging.
  EXPECT_TRUE(FAILED(test::ReadText(m.get(), 100, &reply)));
}

TEST(Serial, APseudoTerminalIsASerialLine) {
  test::PtyPeer peer(Echo);
  ComPtr<IMessage> m;
  ASSERT_EQ(test::OpenMessage(peer.Resource(), &m), S_OK) << test::TakeErrorDescription();
  TermCharOn(m.get());
  SHORT type = 0;
  ASSERT_EQ(m->get_HardwareInterfaceType(&type), S_OK);
  EXPECT_EQ(type, INTF_ASRL);
  ASSERT_EQ(test::WriteText(m.get(), "SYST:REM;*OPC?\n"), S_OK);
  std::string reply;
  ASSERT_TRUE(SUCCEEDED(test::ReadText(m.get(), 100, &reply))) << test::TakeErrorDescription();
  EXPECT_EQ(reply, "echo SYST:REM;*OPC?\n");

  // A second program on the same line would steal replies: it is refused as busy.
  ComPtr<IMessage> second;
  EXPECT_EQ(test::OpenMessage(peer.Resource(), &second), E_VISA_RSRC_BUSY);
  EXPECT_NE(test::TakeErrorDescription().find("busy"), std::string::npos);
}

TEST(Serial, LineSettingsComeFromTheEnvironmentAndTheOptionString) {
  test::PtyPeer peer(Echo);
  ComPtr<IMessage> m;
  EXPECT_EQ(test::OpenMessage(peer.Resource(), &m, "BaudRate = 12345"), E_VISA_INV_SETUP);
  EXPECT_NE(test::TakeErrorDescription().find("12345"), std::string::npos);
  ::setenv("VMK40XX_ASRL_OPTIONS", "Parity = sideways", 1);
  EXPECT_EQ(test::OpenMessage(peer.Resource(), &m), E_VISA_INV_SETUP);
  EXPECT_NE(test::TakeErrorDescription().find("VMK40XX_ASRL_OPTIONS"), std::string::npos);
  ::setenv("VMK40XX_ASRL_OPTIONS", "BaudRate=19200; Parity=EVEN; StopBits=2; FlowControl=NONE", 1);
  EXPECT_EQ(test::OpenMessage(peer.Resource(), &m), S_OK) << test::TakeErrorDescription();
  ::unsetenv("VMK40XX_ASRL_OPTIONS");
}

TEST(Serial, AHangUpMidReplyIsALostConnection) {
  test::PtyPeer peer(Echo);
  ComPtr<IMessage> m;
  ASSERT_EQ(test::OpenMessage(peer.Resource(), &m), S_OK);
  TermCharOn(m.get());
  ASSERT_EQ(test::WriteText(m.get(), "HALF?\n"), S_OK);
  std::string reply;
  const auto start = Clock::now();
  const HRESULT hr = test::ReadText(m.get(), 100, &reply);
  EXPECT_EQ(hr, E_VISA_CONN_LOST) << test::TakeErrorDescription();
  EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(1500));
}

}  // namespace
}  // namespace vmk::visa
