// Instruction counts of traced calls: a simulated put_VoltageLevel + get_VoltageLevel pair with
// the trace running, and the same pair with the trace switched off at run time.
//
//   trace_bench traced   the pair, both calls recorded (the trace is saved only at Close, after
//                        the measurement: the save interval and the size limit are set out of
//                        reach, so the figure is the cost of building the records)
//   trace_bench paused   the pair after TraceEnabled = false, the trace document still open
//
// The pair with no trace at all is member_bench sim-put-get.
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "bench/callgrind_case.h"
#include "bench/driver/bench_support.h"

using namespace vmk::bench;

int main(int argc, char** argv) {
  const std::string which = argc > 1 ? argv[1] : "";
  if (which != "traced" && which != "paused") {
    std::fprintf(stderr, "usage: trace_bench traced|paused\n");
    return 2;
  }
  char pattern[] = "/tmp/vmk40xx-trace-bench-XXXXXX";
  if (!mkdtemp(pattern)) Fail("no temporary directory");
  const std::string dir = pattern;
  int rc = 0;
  {
    Session s("",
              "Simulate=true, DriverSetup=Model=K4201A, Trace=true, TraceName=" + dir +
                  "/bench, TraceSizeMax=2147483647, TraceSaveInterval=2147483647",
              "Output1");
    if (which == "paused") {
      IVelmoraK40xxSystem* system = nullptr;
      if (FAILED(s.driver->get_System(&system)) ||
          FAILED(system->put_TraceEnabled(VARIANT_FALSE)))
        Fail("TraceEnabled could not be switched off");
      system->Release();
    }
    double v = 0;
    rc = MeasureInstructions(which == "traced" ? 5000 : 20000, [&] {
      s.output->put_VoltageLevel(5.25);
      s.output->get_VoltageLevel(&v);
    });
  }
  std::error_code ignored;
  std::filesystem::remove_all(dir, ignored);
  return rc;
}
