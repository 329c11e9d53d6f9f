// The emulator's ONC RPC framing, and its VXI-11 server spoken to in bytes written out here.
#include "rpc.hpp"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <thread>

#include "server.hpp"

namespace vmk40xx::sim {
namespace {

std::string Words(std::initializer_list<std::uint32_t> words) {
  std::string s;
  for (std::uint32_t w : words) {
    const std::uint32_t be = htonl(w);
    s.append(reinterpret_cast<const char*>(&be), 4);
  }
  return s;
}

TEST(Rpc, RecordsAreTakenWholeAcrossFragments) {
  std::string stream = Words({3}) + "abc" + Words({0x80000002}) + "de" + Words({0x80000001});
  std::string record;
  bool too_big = false;
  ASSERT_TRUE(rpc::take_record(stream, record, 100, too_big));
  EXPECT_EQ(record, "abcde");
  // The next record's mark has come, its byte not yet.
  EXPECT_FALSE(rpc::take_record(stream, record, 100, too_big));
  EXPECT_FALSE(too_big);
  stream += "f";
  ASSERT_TRUE(rpc::take_record(stream, record, 100, too_big));
  EXPECT_EQ(record, "f");
  EXPECT_TRUE(stream.empty());
  stream = Words({0x80100000});
  EXPECT_FALSE(rpc::take_record(stream, record, 4096, too_big));
  EXPECT_TRUE(too_big);
}

TEST(Rpc, CallsSkipTheirCredentialsAndRepliesAreMarked) {
  // AUTH_UNIX credentials of 5 bytes (padded to 8), then an empty verifier.
  const std::string call =
      Words({9, 0, 2, 0x0607AF, 1, 15, 1, 5}) + std::string("abcde\0\0\0", 8) + Words({0, 0, 42});
  rpc::Call c;
  ASSERT_TRUE(rpc::parse_call(call, c));
  EXPECT_EQ(c.xid, 9u);
  EXPECT_EQ(c.program, 0x0607AFu);
  EXPECT_EQ(c.procedure, 15u);
  EXPECT_EQ(call.substr(c.args_offset), Words({42}));
  EXPECT_FALSE(rpc::parse_call(Words({9, 1, 2, 0, 0, 0, 0, 0, 0, 0}), c));  // a reply

  std::string out = "x";
  const std::size_t start = rpc::begin_reply(out, 9, rpc::Accept::ProgramMismatch);
  rpc::mark_record(out, start);
  // Appended, not "x" + Words(...): GCC 12 at -O3 warns falsely (-Wrestrict) on that.
  EXPECT_EQ(out, std::string("x").append(Words({0x80000020, 9, 1, 0, 0, 0, 2, 1, 1})));
}

// The server on a thread of its own, and a raw TCP client of its VXI-11 port.
class Vxi11Served : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string err;
    ASSERT_TRUE(server_.listen_vxi11("127.0.0.1", 0, err)) << err;
    thread_ = std::thread([this] { server_.run(); });
    fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(server_.vxi11_port());
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
  }
  void TearDown() override {
    ::close(fd_);
    server_.stop();
    thread_.join();
  }
  // Sends one record and returns the reply record's bytes, its mark included.
  std::string Call(const std::string& body) {
    const std::string record = Words({0x80000000u | static_cast<std::uint32_t>(body.size())}) + body;
    EXPECT_EQ(::write(fd_, record.data(), record.size()), static_cast<ssize_t>(record.size()));
    std::string in;
    char buf[4096];
    while (in.size() < 4 || in.size() < 4 + (ntohl(*reinterpret_cast<const std::uint32_t*>(in.data())) & 0x7FFFFFFF)) {
      pollfd p{fd_, POLLIN, 0};
      if (::poll(&p, 1, 2000) <= 0) break;
      const ssize_t n = ::read(fd_, buf, sizeof buf);
      if (n <= 0) break;
      in.append(buf, static_cast<std::size_t>(n));
    }
    return in;
  }
  static std::string Header(std::uint32_t xid, std::uint32_t program, std::uint32_t procedure) {
    return Words({xid, 0, 2, program, 1, procedure, 0, 0, 0, 0});
  }

  Instrument inst_;
  Server server_{inst_};
  std::thread thread_;
  int fd_ = -1;
};

TEST_F(Vxi11Served, ALinkWriteReadAndSerialPollInBytes) {
  const std::uint32_t port = server_.vxi11_port();
  // create_link(clientId 7, no lock, lock time-out 0, "inst0")
  EXPECT_EQ(Call(Header(1, 0x0607AF, 10) + Words({7, 0, 0, 5}) + std::string("inst0\0\0\0", 8)),
            Words({0x80000028, 1, 1, 0, 0, 0, 0, 0, 0, port, 65536}));
  // device_write(link 0, io 1000, lock 0, END, "*IDN?")
  EXPECT_EQ(Call(Header(2, 0x0607AF, 11) + Words({0, 1000, 0, 8, 5}) +
                 std::string("*IDN?\0\0\0", 8)),
            Words({0x80000020, 2, 1, 0, 0, 0, 0, 0, 5}));
  // device_readstb: a message is available (MAV, 16)
  EXPECT_EQ(Call(Header(3, 0x0607AF, 13) + Words({0, 0, 0, 1000})),
            Words({0x80000020, 3, 1, 0, 0, 0, 0, 0, 0x10}));
  // device_read(link 0, request 10, io 1000, lock 0, no flags, termChar 0): ten bytes, REQCNT
  EXPECT_EQ(Call(Header(4, 0x0607AF, 12) + Words({0, 10, 1000, 0, 0, 0})),
            Words({0x80000030, 4, 1, 0, 0, 0, 0, 0, 1, 10}) + std::string("Velmora,K4\0\0", 12));
  // with termChar ',' set: up to the comma, CHR
  EXPECT_EQ(Call(Header(5, 0x0607AF, 12) + Words({0, 100, 1000, 0, 0x80, ','})),
            Words({0x8000002C, 5, 1, 0, 0, 0, 0, 0, 2, 5}) + std::string("102A,\0\0\0", 8));
  // the rest ends the message: END
  const std::string rest = "0,1.2-5.0-1.0\n";
  EXPECT_EQ(Call(Header(6, 0x0607AF, 12) + Words({0, 100, 1000, 0, 0, 0})),
            Words({0x80000034, 6, 1, 0, 0, 0, 0, 0, 4, 14}) + rest + std::string(2, '\0'));
  // nothing more to read: the I/O time-out (error 15) after the 50 ms asked for
  EXPECT_EQ(Call(Header(7, 0x0607AF, 12) + Words({0, 100, 50, 0, 0, 0})),
            Words({0x80000024, 7, 1, 0, 0, 0, 0, 15, 0, 0}));
  // destroy_link, then the link is unknown (error 4)
  EXPECT_EQ(Call(Header(8, 0x0607AF, 23) + Words({0})), Words({0x8000001C, 8, 1, 0, 0, 0, 0, 0}));
  EXPECT_EQ(Call(Header(9, 0x0607AF, 15) + Words({0, 0, 0, 1000})),
            Words({0x8000001C, 9, 1, 0, 0, 0, 0, 4}));
}

TEST_F(Vxi11Served, UnknownProgramsProceduresAndDevicesAreRefused) {
  EXPECT_EQ(Call(Header(1, 100003, 0)), Words({0x80000018, 1, 1, 0, 0, 0, 1}));  // PROG_UNAVAIL
  EXPECT_EQ(Call(Header(2, 0x0607AF, 99)), Words({0x80000018, 2, 1, 0, 0, 0, 3}));  // PROC_UNAVAIL
  EXPECT_EQ(Call(Header(3, 0x0607AF, 10) + Words({7})), Words({0x80000018, 3, 1, 0, 0, 0, 4}));
  // create_link for a device the instrument is not: error 3
  EXPECT_EQ(Call(Header(4, 0x0607AF, 10) + Words({7, 0, 0, 5}) + std::string("inst1\0\0\0", 8)),
            Words({0x80000028, 4, 1, 0, 0, 0, 0, 3, 0, 0, 0}));
}

}  // namespace
}  // namespace vmk40xx::sim
