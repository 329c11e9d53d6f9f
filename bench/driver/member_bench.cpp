// Instruction counts of single members through the method entry frame.
//
//   member_bench sim-put-get   a simulated put_VoltageLevel + get_VoltageLevel pair
//   member_bench floor         get_Simulate on the root: the frame and nothing else
//   member_bench tcp-get       get_VoltageLevel of a single-output model over TCP, with the
//                              emulator as the instrument
#include <cstring>
#include <string>

#include "bench/callgrind_case.h"
#include "bench/driver/bench_support.h"

using namespace vmk::bench;

int main(int argc, char** argv) {
  const std::string which = argc > 1 ? argv[1] : "";
  if (which == "sim-put-get") {
    Session s("", "Simulate=true, DriverSetup=Model=K4201A", "Output1");
    double v = 0;
    return MeasureInstructions(20000, [&] {
      s.output->put_VoltageLevel(5.25);
      s.output->get_VoltageLevel(&v);
    });
  }
  if (which == "floor") {
    Session s("", "Simulate=true, DriverSetup=Model=K4201A", "Output1");
    IIviDriverOperation* operation = nullptr;
    s.driver->QueryInterface(IID_IIviDriverOperation, reinterpret_cast<void**>(&operation));
    VARIANT_BOOL on = VARIANT_FALSE;
    const int rc = MeasureInstructions(50000, [&] { operation->get_Simulate(&on); });
    operation->Release();
    return rc;
  }
  if (which == "tcp-get") {
    Emulator emulator("K4102A");
    Session s(emulator.Resource(), "", "Output1");
    double v = 0;
    return MeasureInstructions(2000, [&] {
      if (FAILED(s.output->get_VoltageLevel(&v))) Fail("get_VoltageLevel failed");
    });
  }
  std::fprintf(stderr, "usage: member_bench sim-put-get|floor|tcp-get\n");
  return 2;
}
