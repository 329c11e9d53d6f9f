// The emulator served on a real loopback socket and a real pseudo-terminal.
#include "server.hpp"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

namespace vmk40xx::sim {
namespace {

class Served {
 public:
  explicit Served(bool with_pty = false, Transcript* transcript = nullptr)
      : server_(inst_, transcript) {
    std::string err;
    EXPECT_TRUE(server_.listen_tcp("127.0.0.1", 0, err)) << err;
    if (with_pty) {
      EXPECT_TRUE(server_.open_pty(err)) << err;
    }
    thread_ = std::thread([this] { server_.run(); });
  }
  ~Served() {
    server_.stop();
    thread_.join();
  }
  std::uint16_t port() const { return server_.tcp_port(); }
  const std::string& pty() const { return server_.pty_path(); }

 private:
  Instrument inst_;
  Server server_;
  std::thread thread_;
};

// A blocking client on one descriptor (socket or terminal) with a read deadline.
class Peer {
 public:
  explicit Peer(int fd) : fd_(fd) {}
  static Peer tcp(std::uint16_t port) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    EXPECT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    return Peer(fd);
  }
  Peer(Peer&& o) noexcept : fd_(o.fd_), buf_(std::move(o.buf_)) { o.fd_ = -1; }
  ~Peer() {
    if (fd_ >= 0) ::close(fd_);
  }
  void send(std::string_view s) {
    while (!s.empty()) {
      const ssize_t n = ::write(fd_, s.data(), s.size());
      ASSERT_GT(n, 0);
      s.remove_prefix(static_cast<std::size_t>(n));
    }
  }
  void shut_write() { shutdown(fd_, SHUT_WR); }
  // One reply without its LF; "<timeout>" or "<eof>" when none comes.
  std::string line(int timeout_ms = 3000) {
    for (;;) {
      if (auto nl = buf_.find('\n'); nl != std::string::npos) {
        std::string l = buf_.substr(0, nl);
        buf_.erase(0, nl + 1);
        return l;
      }
      pollfd p{fd_, POLLIN, 0};
      if (poll(&p, 1, timeout_ms) <= 0) return "<timeout>";
      char chunk[4096];
      const ssize_t n = ::read(fd_, chunk, sizeof chunk);
      if (n <= 0) return "<eof>";
      buf_.append(chunk, static_cast<std::size_t>(n));
    }
  }
  std::string ask(std::string_view q) {
    send(std::string(q) + "\n");
    return line();
  }

 private:
  int fd_;
  std::string buf_;
};

TEST(SimTcp, ClientsShareOneInstrument) {
  Served s;
  Peer a = Peer::tcp(s.port());
  Peer b = Peer::tcp(s.port());
  a.send("VOLT 3.25\n");
  EXPECT_EQ(a.ask("*OPC?"), "1");
  EXPECT_EQ(b.ask("VOLT?"), "+3.25000000E+00");
  EXPECT_EQ(b.ask("*IDN?"), "Velmora,K4102A,0,1.2-5.0-1.0");
}

TEST(SimTcp, PipelinedLinesAnswerInOrderAndCrLfIsAccepted) {
  Served s;
  Peer p = Peer::tcp(s.port());
  std::string batch;
  constexpr int kLines = 3000;
  // Appended, not "VOLT " + to_string(...): GCC 12 at -O3 warns falsely (-Wrestrict) on a
  // literal put before a temporary string.
  for (int i = 0; i < kLines; ++i)
    batch.append("VOLT ").append(std::to_string(i % 8)).append(";VOLT?\r\n");
  p.send(batch);
  for (int i = 0; i < kLines; ++i) {
    const std::string want = std::string("+").append(std::to_string(i % 8)).append(".00000000E+00");
    ASSERT_EQ(p.line(), want) << "line " << i;
  }
}

TEST(SimTcp, PeerThatStopsSendingStillGetsItsReplies) {
  Served s;
  Peer p = Peer::tcp(s.port());
  p.send("SIM:FAUL:DEL 50\n*OPC?\n*IDN?");  // the last line ends with the input
  p.shut_write();
  EXPECT_EQ(p.line(), "1");
  EXPECT_EQ(p.line(), "Velmora,K4102A,0,1.2-5.0-1.0");
  EXPECT_EQ(p.line(), "<eof>");
}

TEST(SimTcp, DelayedRepliesKeepTheirOrder) {
  Served s;
  Peer p = Peer::tcp(s.port());
  p.send("SIM:FAUL:DEL 150\n");
  const auto t0 = std::chrono::steady_clock::now();
  p.send("*OPC?\nVOLT?\n*OPC?\n");
  EXPECT_EQ(p.line(), "1");
  EXPECT_GE(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(150));
  EXPECT_EQ(p.line(), "+0.00000000E+00");
  EXPECT_EQ(p.line(), "1");
}

TEST(SimTcp, CloseAfterLinesAndDroppedLineFeed) {
  Served s;
  Peer p = Peer::tcp(s.port());
  p.send("SIM:FAUL:DROP\n*OPC?\n*IDN?\n");
  EXPECT_EQ(p.line().substr(0, 9), "1Velmora,");
  p.send("SIM:FAUL:CLOS 2\n");
  EXPECT_EQ(p.ask("*OPC?"), "1");
  EXPECT_EQ(p.ask("*OPC?"), "1");
  EXPECT_EQ(p.ask("*OPC?"), "<eof>");
  // The fault was one-shot: the next connection is served normally.
  Peer q = Peer::tcp(s.port());
  EXPECT_EQ(q.ask("*OPC?"), "1");
}

TEST(SimTcp, TranscriptRecordsBothDirections) {
  const std::string path = ::testing::TempDir() + "sim_transcript.txt";
  std::remove(path.c_str());
  {
    Transcript t;
    ASSERT_TRUE(t.open(path));
    Served s(false, &t);
    Peer p = Peer::tcp(s.port());
    p.send("SIM:FAUL:DROP\n*OPC?\n");
    p.send("*OPC?\n");
    EXPECT_EQ(p.line(), "11");
  }
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  const std::string log = text.str();
  EXPECT_NE(log.find("tcp1 * connected from 127.0.0.1:"), std::string::npos) << log;
  EXPECT_NE(log.find("tcp1 < *OPC?"), std::string::npos) << log;
  EXPECT_NE(log.find("tcp1 > 1 [no LF]"), std::string::npos) << log;
  EXPECT_NE(log.find("Z tcp1 > 1\n"), std::string::npos) << log;
}

TEST(SimPty, BehavesAsASerialPortAcrossReopens) {
  Served s(true);
  ASSERT_FALSE(s.pty().empty());
  for (int round = 0; round < 2; ++round) {
    const int fd = ::open(s.pty().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    Peer p(fd);
    // Raw line: the reply has no CR and nothing of the command is echoed back.
    EXPECT_EQ(p.ask("*IDN?"), "Velmora,K4102A,0,1.2-5.0-1.0");
    EXPECT_EQ(p.ask("VOLT 2;VOLT?"), "+2.00000000E+00");
  }
  // Serial and TCP clients see the same instrument.
  Peer t = Peer::tcp(s.port());
  EXPECT_EQ(t.ask("VOLT?"), "+2.00000000E+00");
}

}  // namespace
}  // namespace vmk40xx::sim
