// One instruction-count case for bench/callgrind.py: runs `op` once to warm up (first-use tables,
// lazily built state), then `iterations` times with callgrind's instrumentation on, and prints
// the iteration count so that the runner can give instructions per operation. Outside valgrind
// the client requests do nothing and the case is an ordinary program.
#pragma once

#include <valgrind/callgrind.h>

#include <cstdio>

namespace vmk::bench {

template <class Op>
int MeasureInstructions(int iterations, Op&& op) {
  op();
  CALLGRIND_START_INSTRUMENTATION;
  for (int i = 0; i < iterations; ++i) op();
  CALLGRIND_STOP_INSTRUMENTATION;
  std::printf("iterations %d\n", iterations);
  return 0;
}

}  // namespace vmk::bench
