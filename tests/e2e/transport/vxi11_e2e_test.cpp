// The VXI-11 client of the I/O library against the emulator's VXI-11 server, reached at its
// port (host,port) so that these tests need no portmapper and run beside others.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

#include "tests/e2e/emulator.h"
#include "tests/unit/platform_visa/visa_test_util.h"

namespace vmk {
namespace {

using test::Emulator;
using test::Link;
using test::OpenMessage;
using test::ReadText;
using test::TakeErrorDescription;
using test::WriteText;
using Clock = std::chrono::steady_clock;

std::string Query(IMessage* m, const std::string& command) {
  if (FAILED(WriteText(m, command + "\n"))) return "write failed: " + TakeErrorDescription();
  std::string reply;
  if (FAILED(ReadText(m, 4096, &reply))) return "read failed: " + TakeErrorDescription();
  return reply;
}

TEST(Vxi11, QueriesEndAtEndAndTheSessionIsALanInstrument) {
  Emulator sim({"--model", "K4201A", "--serial", "S17"}, Link::Vxi11Direct);
  ASSERT_FALSE(sim.Resource().empty());
  com::ComPtr<IMessage> m;
  ASSERT_EQ(OpenMessage(sim.Resource(), &m), S_OK) << TakeErrorDescription();
  SHORT type = 0;
  EXPECT_EQ(m->get_HardwareInterfaceType(&type), S_OK);
  EXPECT_EQ(type, INTF_TCPIP);
  com::Bstr sessionType;
  EXPECT_EQ(m->get_SessionType(sessionType.put()), S_OK);
  EXPECT_EQ(sessionType.utf8(), "INSTR");

  // No termination character: the reply ends where the server's END is, its LF kept.
  ASSERT_EQ(WriteText(m.get(), "*IDN?\n"), S_OK);
  std::string reply;
  EXPECT_EQ(ReadText(m.get(), 4096, &reply), S_OK);
  EXPECT_EQ(reply, "Velmora,K4201A,S17,1.2-5.0-1.0\n");
  // A count shorter than the reply: the rest comes with the next read.
  ASSERT_EQ(WriteText(m.get(), "VOLT?\n"), S_OK);
  EXPECT_EQ(ReadText(m.get(), 3, &reply), S_VISA_MAX_CNT);
  EXPECT_EQ(reply, "+0.");
  EXPECT_EQ(ReadText(m.get(), 4096, &reply), S_OK);
  EXPECT_EQ(reply, "00000000E+00\n");
  // With the termination character on, the server stops there.
  EXPECT_EQ(m->put_TerminationCharacterEnabled(VARIANT_TRUE), S_OK);
  ASSERT_EQ(WriteText(m.get(), "*OPC?\n"), S_OK);
  EXPECT_EQ(ReadText(m.get(), 4096, &reply), S_VISA_TERM_CHAR);
  EXPECT_EQ(reply, "1\n");
}

TEST(Vxi11, ReadStbIsASerialPollThatSeesTheUnreadReply) {
  Emulator sim({"--model", "K4102A", "--transcript", "/dev/null"}, Link::Vxi11Direct);
  com::ComPtr<IMessage> m;
  ASSERT_EQ(OpenMessage(sim.Resource(), &m), S_OK) << TakeErrorDescription();
  SHORT stb = -1;
  EXPECT_EQ(m->ReadSTB(&stb), S_OK) << TakeErrorDescription();
  EXPECT_EQ(stb, 0);
  // A reply waiting: MAV (16). A "*STB?" sent over the link would have been a query of its own.
  ASSERT_EQ(WriteText(m.get(), "*IDN?\n"), S_OK);
  EXPECT_EQ(m->ReadSTB(&stb), S_OK);
  EXPECT_EQ(stb, 0x10);
  std::string reply;
  EXPECT_EQ(ReadText(m.get(), 4096, &reply), S_OK);
  EXPECT_EQ(reply.rfind("Velmora,K4102A,", 0), 0u) << reply;
  // An error in the queue: bit 2.
  ASSERT_EQ(WriteText(m.get(), "NO:SUCH:HEADER\n"), S_OK);
  EXPECT_EQ(m->ReadSTB(&stb), S_OK);
  EXPECT_EQ(stb, 0x04);
}

TEST(Vxi11, ATimeOutThenDeviceClearAndTheNextQueryGetsItsOwnReply) {
  Emulator sim({"--model", "K4102A"}, Link::Vxi11Direct);
  com::ComPtr<IMessage> m;
  ASSERT_EQ(OpenMessage(sim.Resource(), &m), S_OK) << TakeErrorDescription();
  ASSERT_EQ(m->put_Timeout(500), S_OK);
  ASSERT_TRUE(sim.Send("SIM:FAUL:DEL 1000"));
  ASSERT_EQ(WriteText(m.get(), "VOLT 2.5;VOLT?\n"), S_OK);
  std::string reply;
  const auto start = Clock::now();
  EXPECT_EQ(ReadText(m.get(), 4096, &reply), E_VISA_TMO);
  const auto waited = Clock::now() - start;
  EXPECT_GE(waited, std::chrono::milliseconds(450));
  EXPECT_LT(waited, std::chrono::milliseconds(1000));
  EXPECT_NE(TakeErrorDescription().find("time-out"), std::string::npos);
  EXPECT_EQ(m->Clear(), S_OK) << TakeErrorDescription();
  ASSERT_TRUE(sim.Send("SIM:FAUL:DEL 0"));
  // The late reply to VOLT? would have come by now; the clear dropped it at the instrument.
  std::this_thread::sleep_for(std::chrono::milliseconds(700));
  EXPECT_EQ(Query(m.get(), "*OPC?"), "1\n");
  EXPECT_EQ(Query(m.get(), "VOLT?"), "+2.50000000E+00\n");
}

TEST(Vxi11, AWriteAfterATimedOutReadDropsTheLateReplyByItself) {
  Emulator sim({"--model", "K4102A"}, Link::Vxi11Direct);
  com::ComPtr<IMessage> m;
  ASSERT_EQ(OpenMessage(sim.Resource(), &m), S_OK) << TakeErrorDescription();
  ASSERT_EQ(m->put_Timeout(300), S_OK);
  ASSERT_TRUE(sim.Send("SIM:FAUL:DEL 600"));
  ASSERT_EQ(WriteText(m.get(), "*IDN?\n"), S_OK);
  std::string reply;
  EXPECT_EQ(ReadText(m.get(), 4096, &reply), E_VISA_TMO);
  TakeErrorDescription();
  ASSERT_TRUE(sim.Send("SIM:FAUL:DEL 0"));
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  ASSERT_EQ(m->put_Timeout(2000), S_OK);
  EXPECT_EQ(Query(m.get(), "*OPC?"), "1\n");
}

TEST(Vxi11, AServerThatStopsAnsweringCostsTheTimeOutAndASecond) {
  Emulator sim({"--model", "K4102A"}, Link::Vxi11Direct);
  com::ComPtr<IMessage> m;
  ASSERT_EQ(OpenMessage(sim.Resource(), &m), S_OK) << TakeErrorDescription();
  ASSERT_EQ(m->put_Timeout(500), S_OK);
  ASSERT_EQ(kill(sim.Pid(), SIGSTOP), 0);
  const auto start = Clock::now();
  const HRESULT hr = WriteText(m.get(), "*IDN?\n");
  const auto waited = Clock::now() - start;
  kill(sim.Pid(), SIGCONT);
  EXPECT_EQ(hr, E_VISA_TMO);
  EXPECT_NE(TakeErrorDescription().find("no answer from the VXI-11 server"), std::string::npos);
  EXPECT_GE(waited, std::chrono::milliseconds(1400));
  EXPECT_LT(waited, std::chrono::milliseconds(2500));
}

TEST(Vxi11, LongWritesGoInPiecesTheServerTakesAndArriveWhole) {
  Emulator sim({"--model", "K4102A"}, Link::Vxi11Direct);
  com::ComPtr<IMessage> m;
  ASSERT_EQ(OpenMessage(sim.Resource(), &m), S_OK) << TakeErrorDescription();
  // 150 kB, more than twice the 64 KiB the server takes per call.
  std::string line;
  for (int i = 0; i < 25000; ++i) line += "*CLS;";
  EXPECT_EQ(Query(m.get(), line + "*OPC?"), "1\n");
  EXPECT_EQ(Query(m.get(), "SYST:ERR?"), "+0,\"No error\"\n");
}

TEST(Vxi11, AGatewayDeviceNameReachesTheInstrumentBehindIt) {
  Emulator sim({"--model", "K4102A", "--gpib-address", "7"}, Link::Vxi11Direct);
  const std::string base = "TCPIP0::127.0.0.1," + std::to_string(sim.Vxi11Port());
  com::ComPtr<IMessage> m;
  ASSERT_EQ(OpenMessage(base + "::gpib0,7::INSTR", &m), S_OK) << TakeErrorDescription();
  EXPECT_EQ(Query(m.get(), "*OPC?"), "1\n");
  com::ComPtr<IMessage> other;
  EXPECT_EQ(OpenMessage(base + "::gpib0,5::INSTR", &other), E_VISA_RSRC_NFOUND);
  EXPECT_EQ(TakeErrorDescription(),
            "VXI-11 link refused by 127.0.0.1:" + std::to_string(sim.Vxi11Port()) +
                " for device \"gpib0,5\": device not accessible (VXI-11 error 3)");
}

TEST(Vxi11, ClosingDestroysTheLinkSoTheServerCanForgetIt) {
  const std::string transcript =
      ::testing::TempDir() + "vxi11-links-" + std::to_string(getpid()) + ".txt";
  std::remove(transcript.c_str());
  Emulator sim({"--model", "K4102A", "--transcript", transcript}, Link::Vxi11Direct);
  for (int i = 0; i < 3; ++i) {
    com::ComPtr<IMessage> m;
    ASSERT_EQ(OpenMessage(sim.Resource(), &m), S_OK) << TakeErrorDescription();
    EXPECT_EQ(Query(m.get(), "*OPC?"), "1\n");
    EXPECT_EQ(m->Close(), S_OK);
    // After Close the session refuses politely instead of using a destroyed link.
    std::string reply;
    EXPECT_EQ(ReadText(m.get(), 10, &reply), E_VISA_CONN_LOST);
    TakeErrorDescription();
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  std::string text;
  if (FILE* f = std::fopen(transcript.c_str(), "r")) {
    char buf[4096];
    for (size_t n; (n = std::fread(buf, 1, sizeof buf, f)) > 0;) text.append(buf, n);
    std::fclose(f);
  }
  size_t destroyed = 0;
  for (size_t at = 0; (at = text.find("link destroyed", at)) != std::string::npos; ++at) ++destroyed;
  EXPECT_EQ(destroyed, 3u) << text;
  std::remove(transcript.c_str());
}

}  // namespace
}  // namespace vmk
