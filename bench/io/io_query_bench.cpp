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
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <thread>

#include "io/driver_io_manager.h"
#include "io/visa_com_io_provider.h"
#include "services/errors.h"

namespace {

// Answers every "VOLT?" line of one connection at a time, as fast as it can.
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
  }
  int port() const { return port_; }

 private:
  void Serve() {
    for (;;) {
      const int fd = ::accept(listen_, nullptr, nullptr);
      if (fd < 0) return;
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
  }
  int listen_;
  int port_ = 0;
  std::thread thread_;
};

Responder& SharedResponder() {
  static Responder r;
  return r;
}

void BM_RawSocketQuery(benchmark::State& state) {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(static_cast<uint16_t>(SharedResponder().port()));
  if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    state.SkipWithError("cannot connect to the responder");
    return;
  }
  const int one = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  char buf[128];
  for (auto _ : state) {
    if (::send(fd, "VOLT?\n", 6, 0) != 6) break;
    size_t got = 0;
    do {
      const ssize_t n = ::recv(fd, buf + got, sizeof buf - 1 - got, 0);
      if (n <= 0) break;
      got += static_cast<size_t>(n);
    } while (buf[got - 1] != '\n');
    buf[got] = '\0';
    benchmark::DoNotOptimize(std::strtod(buf, nullptr));
  }
  ::close(fd);
}

struct NoStatus final : vmk::IoHost {
  bool QueryInstrumentStatus() const override { return false; }
};

void BM_DriverQuery(benchmark::State& state) {
  NoStatus host;
  vmk::CErrorManager errors;
  vmk::CVisaComIOProvider provider;
  const std::string resource =
      "TCPIP0::127.0.0.1::" + std::to_string(SharedResponder().port()) + "::SOCKET";
  if (FAILED(provider.InitializeIO(&host, &errors, &host, resource))) {
    state.SkipWithError("cannot open the responder");
    return;
  }
  vmk::CDriverIOManager io(&provider, &errors);
  double volts = 0;
  for (auto _ : state) {
    if (FAILED(io.InstrQuery("VOLT?", vmk::kIoTimeoutKeep, &volts))) {
      state.SkipWithError("query failed");
      break;
    }
    benchmark::DoNotOptimize(volts);
  }
  provider.CloseIO();
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
    const double ratio = driverMedian / rawMedian;
    std::printf(
        "\nVOLT? round trip over loopback TCP, %zu interleaved runs each:\n"
        "  raw C socket client  median %.2f us  best %.2f us\n"
        "  CDriverIOManager     median %.2f us  best %.2f us\n"
        "  driver / raw         median %.3f     best %.3f   (target <= 1.10): %s\n",
        raw.size(), rawMedian / 1000, rawBest / 1000, driverMedian / 1000, driverBest / 1000, ratio,
        driverBest / rawBest, ratio <= 1.10 ? "met" : "NOT met");
  }
  benchmark::Shutdown();
  return 0;
}
