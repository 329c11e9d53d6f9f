// A query on a dual-output model, the driver side by side with a raw C client, in one run.
//
// The driver reads get_VoltageLevel of Output2 of a K4201A: the output selection and the query.
// The raw client sends the same two lines in one write and reads the reply. Both talk to the
// same in-process responder over loopback TCP. Blocks of the two alternate, and the figure is
// the median of the block-by-block time ratios, which load from elsewhere on a shared machine
// disturbs least.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

#include "bench/driver/bench_support.h"

using namespace vmk::bench;

namespace {

class RawClient {
 public:
  explicit RawClient(int port) {
    fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<uint16_t>(port));
    if (::connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) Fail("connect");
    const int one = 1;
    ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  }
  ~RawClient() { ::close(fd_); }
  double Query() {
    static constexpr char kLines[] = "INST:NSEL 2\nVOLT?\n";
    if (::send(fd_, kLines, sizeof kLines - 1, 0) != sizeof kLines - 1) Fail("send");
    size_t got = 0;
    do {
      const ssize_t n = ::recv(fd_, buf_ + got, sizeof buf_ - 1 - got, 0);
      if (n <= 0) Fail("recv");
      got += static_cast<size_t>(n);
    } while (buf_[got - 1] != '\n');
    buf_[got] = '\0';
    return std::strtod(buf_, nullptr);
  }

 private:
  int fd_ = -1;
  char buf_[128];
};

}  // namespace

int main() {
  Responder responder("K4201A");
  RawClient raw(responder.Port());
  Session s(responder.Resource(), "", "Output2");
  using Clock = std::chrono::steady_clock;
  constexpr int kRounds = 60, kBlock = 200;
  std::vector<double> ratios;
  double volts = 0;
  for (int r = 0; r < kRounds; ++r) {
    Clock::duration times[2] = {};
    for (int k = 0; k < 2; ++k) {
      const int which = (r + k) % 2;  // which side goes first alternates
      const auto t0 = Clock::now();
      for (int i = 0; i < kBlock; ++i) {
        if (which) {
          if (FAILED(s.output->get_VoltageLevel(&volts))) Fail("get_VoltageLevel failed");
        } else {
          volts = raw.Query();
        }
      }
      times[which] = Clock::now() - t0;
    }
    ratios.push_back(std::chrono::duration<double>(times[1]).count() /
                     std::chrono::duration<double>(times[0]).count());
  }
  std::sort(ratios.begin(), ratios.end());
  std::printf("driver / raw client, median of %d blocks of %d queries: %.3f (range %.3f to %.3f)\n",
              kRounds, kBlock, ratios[ratios.size() / 2], ratios.front(), ratios.back());
  std::printf("figure %.3f\n", ratios[ratios.size() / 2]);
  return volts == 5.0 ? 0 : 1;
}
