// A "VOLT?" query through the I/O manager against an in-process responder, side by side with a
// raw C socket client doing the same exchange. The driver's round trip should stay within 1.10
// times the raw one; both figures and their ratio are printed at the end.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "io/driver_io_manager.h"
#include "io/visa_com_io_provider.h"
#include "services/errors.h"

namespace {

// Answers every "VOLT?" line, one thread per connection, as fast as it can.
class Responder {
 public:
  Responder() {
    listen_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(listen_, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::listen(listen_, 4);
    socklen_t len = sizeof a;
    ::getsockname(listen_, reinterpret_cast<sockaddr*>(&a), &len);
    port_ = ntohs(a.sin_port);
    thread_ = std::thread([this] { Serve(); });
  }
  ~Responder() {
    ::shutdown(listen_, SHUT_RDWR);
    ::close(listen_);
    thread_.join();
    // Each connection ends when its client closes.
    for (std::thread& t : connections_) t.join();
  }
  int port() const { return port_; }

 private:
  void Serve() {
    for (;;) {
      const int fd = ::accept(listen_, nullptr, nullptr);
      if (fd < 0) return;
      connections_.emplace_back([fd] { Answer(fd); });
    }
  }
  static void Answer(int fd) {
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    static constexpr char kReply[] = "+5.000000E+00\n";
    char buf[4096];
    std::string pending;
    for (;;) {
      const ssize_t n = ::read(fd, buf, sizeof buf);
      if (n <= 0) break;
      pending.append(buf, static_cast<size_t>(n));
      for (size_t nl; (nl = pending.find('\n')) != std::string::npos;) {
        pending.erase(0, nl + 1);
        if (::write(fd, kReply, sizeof kReply - 1) < 0) break;
      }
    }
    ::close(fd);
  }
  std::vector<std::thread> connections_;
  int listen_;
  int port_ = 0;
  std::thread thread_;
};

Responder& SharedResponder() {
  static Responder r;
  return r;
}

// The raw client: what a program without the driver would write.
class RawClient {
 public:
  RawClient() {
    fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<uint16_t>(SharedResponder().port()));
    ok_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    const int one = 1;
    ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  }
  ~RawClient() { ::close(fd_); }
  bool ok() const { return ok_; }
  bool Query(double* volts) {
    if (::send(fd_, "VOLT?\n", 6, 0) != 6) return false;
    size_t got = 0;
    do {
      const ssize_t n = ::recv(fd_, buf_ + got, sizeof buf_ - 1 - got, 0);
      if (n <= 0) return false;
      got += static_cast<size_t>(n);
    } while (buf_[got - 1] != '\n');
    buf_[got] = '\0';
    *volts = std::strtod(buf_, nullptr);
    return true;
  }

 private:
  int fd_ = -1;
  bool ok_ = false;
  char buf_[128];
};

struct NoStatus final : vmk::IoHost {
  bool QueryInstrumentStatus() const override { return false; }
};

// The same exchange through the driver's I/O manager, as a member of the driver makes it.
class DriverClient {
 public:
  DriverClient() : io_(&provider_, &errors_) {
    const std::string resource =
        "TCPIP0::127.0.0.1::" + std::to_string(SharedResponder().port()) + "::SOCKET";
    ok_ = SUCCEEDED(provider_.InitializeIO(&host_, &errors_, &host_, resource));
  }
  ~DriverClient() { provider_.CloseIO(); }
  bool ok() const { return ok_; }
  bool Query(double* volts) {
    return SUCCEEDED(io_.InstrQuery("VOLT?", vmk::kIoTimeoutKeep, volts));
  }

 private:
  NoStatus host_;
  vmk::CErrorManager errors_;
  vmk::CVisaComIOProvider provider_;
  vmk::CDriverIOManager io_;
  bool ok_ = false;
};

template <class Client>
void RunQueries(benchmark::State& state) {
  Client client;
  if (!client.ok()) {
    state.SkipWithError("cannot reach the responder");
    return;
  }
  double volts = 0;
  for (auto _ : state) {
    if (!client.Query(&volts)) {
      state.SkipWithError("query failed");
      break;
    }
    benchmark::DoNotOptimize(volts);
  }
}

void BM_RawSocketQuery(benchmark::State& state) {
  RunQueries<RawClient>(state);
}
void BM_DriverQuery(benchmark::State& state) {
  RunQueries<DriverClient>(state);
}

// Blocks of the two clients in alternation, each block's time against its neighbour's: load from
// elsewhere on a shared machine changes over seconds, not over a few milliseconds.
double PairedRatio(int rounds, int block) {
  RawClient raw;
  DriverClient driver;
  if (!raw.ok() || !driver.ok()) return 0;
  using Clock = std::chrono::steady_clock;
  std::vector<double> ratios;
  double volts = 0;
  for (int r = 0; r < rounds; ++r) {
    Clock::duration times[2] = {};
    for (int k = 0; k < 2; ++k) {
      const int which = (r + k) % 2;  // alternate which goes first
      const auto t0 = Clock::now();
      for (int i = 0; i < block; ++i) {
        if (which ? !driver.Query(&volts) : !raw.Query(&volts)) return 0;
      }
      times[which] = Clock::now() - t0;
    }
    ratios.push_back(std::chrono::duration<double>(times[1]).count() /
                     std::chrono::duration<double>(times[0]).count());
  }
  std::sort(ratios.begin(), ratios.end());
  return ratios[ratios.size() / 2];
}

// Repetitions of the two run interleaved in random order (see main), so that load from elsewhere
// on the machine falls on both alike.
constexpr int kRepetitions = 12;
BENCHMARK(BM_RawSocketQuery)->Repetitions(kRepetitions)->MinTime(0.15)->UseRealTime();
BENCHMARK(BM_DriverQuery)->Repetitions(kRepetitions)->MinTime(0.15)->UseRealTime();

class Recorder : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& r : runs)
      if (r.run_type == Run::RT_Iteration)
        times[r.run_name.function_name].push_back(r.GetAdjustedRealTime());
    ConsoleReporter::ReportRuns(runs);
  }
  std::map<std::string, std::vector<double>> times;
};

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<char*> args(argv, argv + argc);
  char interleave[] = "--benchmark_enable_random_interleaving=true";
  args.insert(args.begin() + 1, interleave);
  int count = static_cast<int>(args.size());
  benchmark::Initialize(&count, args.data());
  Recorder reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  const auto& raw = reporter.times["BM_RawSocketQuery"];
  const auto& driver = reporter.times["BM_DriverQuery"];
  if (!raw.empty() && !driver.empty()) {
    const double rawMedian = Median(raw), driverMedian = Median(driver);
    const double rawBest = *std::min_element(raw.begin(), raw.end());
    const double driverBest = *std::min_element(driver.begin(), driver.end());
    std::printf(
        "\nVOLT? round trip over loopback TCP, %zu interleaved runs each:\n"
        "  raw C socket client  median %.2f us  best %.2f us\n"
        "  CDriverIOManager     median %.2f us  best %.2f us\n"
        "  driver / raw         median %.3f     best %.3f\n",
        raw.size(), rawMedian / 1000, rawBest / 1000, driverMedian / 1000, driverBest / 1000,
        driverMedian / rawMedian, driverBest / rawBest);
  }
  // The verdict goes by the paired blocks, the figure that load from elsewhere disturbs least.
  const double paired = PairedRatio(60, 200);
  std::printf(
      "  paired blocks (60 x 200 queries each, median of block ratios): driver / raw %.3f\n"
      "  target driver / raw <= 1.10: %s\n",
      paired, paired > 0 && paired <= 1.10 ? "met" : "NOT met");
  benchmark::Shutdown();
  return 0;
}
