// A "VOLT?" query over VXI-11 against the emulator, through the driver's I/O manager and through
// PyVISA with pyvisa-py, side by side in one run. What is compared is the client's own CPU time
// per query (user + system, of the querying process only), as a ratio; the emulator's CPU is
// the same for both and is not counted. Target: driver <= 0.6 x pyvisa-py.
//
//   bench_vxi11_cpu [--queries N] [--rounds R] [--python /usr/bin/python3]
//
// Needs rpcbind running (tools/scripts/start-rpcbind.sh): both clients find the server through
// the portmapper, as TCPIP0::127.0.0.1::inst0::INSTR.
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "io/driver_io_manager.h"
#include "io/visa_com_io_provider.h"
#include "services/errors.h"

namespace {

constexpr const char* kResource = "TCPIP0::127.0.0.1::inst0::INSTR";

double CpuSeconds() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

struct NoStatus final : vmk::IoHost {
  bool QueryInstrumentStatus() const override { return false; }
};

// CPU microseconds per query through the driver's I/O manager, after a warm-up.
double DriverCpuPerQuery(int queries) {
  NoStatus host;
  vmk::CErrorManager errors;
  vmk::CVisaComIOProvider provider;
  vmk::CDriverIOManager io(&provider, &errors);
  if (FAILED(provider.InitializeIO(&host, &errors, &host, kResource))) return -1;
  double volts = 0;
  for (int i = 0; i < 200; ++i) io.InstrQuery("VOLT?", vmk::kIoTimeoutKeep, &volts);
  const double start = CpuSeconds();
  for (int i = 0; i < queries; ++i)
    if (FAILED(io.InstrQuery("VOLT?", vmk::kIoTimeoutKeep, &volts))) return -1;
  const double used = CpuSeconds() - start;
  provider.CloseIO();
  return used * 1e6 / queries;
}

// The same through pyvisa-py, measured by the Python process itself (time.process_time, which
// is its user + system time) over the query loop only, after the same warm-up.
double PyvisaCpuPerQuery(const std::string& python, int queries) {
  const std::string script =
      "import sys, time, pyvisa\n"
      "rm = pyvisa.ResourceManager('@py')\n"
      "inst = rm.open_resource('" + std::string(kResource) + "', timeout=5000)\n"
      "n = int(sys.argv[1])\n"
      "for _ in range(200): float(inst.query('VOLT?'))\n"
      "t = time.process_time()\n"
      "for _ in range(n): float(inst.query('VOLT?'))\n"
      "print((time.process_time() - t) * 1e6 / n)\n"
      "inst.close(); rm.close()\n";
  const std::string command =
      python + " -c \"$VMK_BENCH_SCRIPT\" " + std::to_string(queries) + " 2>/dev/null";
  setenv("VMK_BENCH_SCRIPT", script.c_str(), 1);
  FILE* p = popen(command.c_str(), "r");
  if (!p) return -1;
  char line[128] = {};
  const bool got = std::fgets(line, sizeof line, p) != nullptr;
  const int status = pclose(p);
  return got && status == 0 ? std::atof(line) : -1;
}

pid_t StartEmulator(const char* path) {
  int fds[2];
  if (pipe(fds) != 0) return -1;
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(fds[1], STDOUT_FILENO);
    close(fds[0]);
    close(fds[1]);
    execl(path, path, "--vxi11", "--model", "K4102A", static_cast<char*>(nullptr));
    _exit(127);
  }
  close(fds[1]);
  char line[32] = {};
  const ssize_t n = read(fds[0], line, sizeof line - 1);  // the port: it serves from now on
  close(fds[0]);
  if (n <= 0) {
    waitpid(pid, nullptr, 0);
    return -1;
  }
  return pid;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

}  // namespace

int main(int argc, char** argv) {
  int queries = 3000, rounds = 5;
  std::string python = "/usr/bin/python3";
  for (int i = 1; i + 1 < argc; i += 2) {
    if (!std::strcmp(argv[i], "--queries")) queries = std::max(100, std::atoi(argv[i + 1]));
    else if (!std::strcmp(argv[i], "--rounds")) rounds = std::max(1, std::atoi(argv[i + 1]));
    else if (!std::strcmp(argv[i], "--python")) python = argv[i + 1];
  }
  const pid_t sim = StartEmulator(VMK40XX_SIM_PATH);
  if (sim < 0) {
    std::fprintf(stderr, "bench_vxi11_cpu: the emulator did not start (is rpcbind running?)\n");
    return 1;
  }
  std::vector<double> driver, pyvisa, ratios;
  for (int r = 0; r < rounds; ++r) {
    // Alternate which goes first, so that a change of load falls on both alike.
    double d = 0, p = 0;
    if (r % 2 == 0) {
      d = DriverCpuPerQuery(queries);
      p = PyvisaCpuPerQuery(python, queries);
    } else {
      p = PyvisaCpuPerQuery(python, queries);
      d = DriverCpuPerQuery(queries);
    }
    if (d <= 0 || p <= 0) {
      std::fprintf(stderr, "bench_vxi11_cpu: a client failed (driver %.2f, pyvisa-py %.2f)\n", d,
                   p);
      kill(sim, SIGTERM);
      waitpid(sim, nullptr, 0);
      return 1;
    }
    driver.push_back(d);
    pyvisa.push_back(p);
    ratios.push_back(d / p);
    std::printf("round %d: driver %.2f us CPU/query, pyvisa-py %.2f us, ratio %.3f\n", r + 1, d, p,
                d / p);
  }
  kill(sim, SIGTERM);
  waitpid(sim, nullptr, 0);
  const double ratio = Median(ratios);
  std::printf(
      "\nVOLT? over VXI-11 (%s), client CPU per query, %d rounds of %d queries:\n"
      "  CDriverIOManager  median %.2f us\n"
      "  pyvisa-py         median %.2f us\n"
      "  driver / pyvisa-py, median of the rounds' ratios: %.3f\n"
      "  target <= 0.6: %s\n",
      kResource, rounds, queries, Median(driver), Median(pyvisa), ratio,
      ratio <= 0.6 ? "met" : "NOT met");
  return 0;
}
