// Heap held by one open simulated K4201A session (the root, two outputs, two triggers, two
// calibrations), and whether a thousand open-close cycles leave anything behind.
//
//   session_heap_bench per-session   bytes in use while one session is open
//   session_heap_bench growth        bytes still in use after 1,000 more sessions than after one
//
// Every allocation of the process passes the counting allocator below; a block counts with the
// size the allocator gives it (malloc_usable_size), so the figure is what the heap really holds.
#include <malloc.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <string>

#include "bench/driver/bench_support.h"

extern "C" {
void* __libc_malloc(size_t);
void* __libc_calloc(size_t, size_t);
void* __libc_realloc(void*, size_t);
void* __libc_memalign(size_t, size_t);
void __libc_free(void*);
}

namespace {

std::atomic<long long> gLive{0};

void* Counted(void* p) {
  if (p) gLive += static_cast<long long>(malloc_usable_size(p));
  return p;
}

}  // namespace

extern "C" {
void* malloc(size_t n) {
  return Counted(__libc_malloc(n));
}
void* calloc(size_t n, size_t size) {
  return Counted(__libc_calloc(n, size));
}
void free(void* p) {
  if (p) gLive -= static_cast<long long>(malloc_usable_size(p));
  __libc_free(p);
}
void* realloc(void* p, size_t n) {
  if (p) gLive -= static_cast<long long>(malloc_usable_size(p));
  return Counted(__libc_realloc(p, n));
}
void* memalign(size_t alignment, size_t n) {
  return Counted(__libc_memalign(alignment, n));
}
void* aligned_alloc(size_t alignment, size_t n) {
  return Counted(__libc_memalign(alignment, n));
}
int posix_memalign(void** out, size_t alignment, size_t n) {
  void* p = __libc_memalign(alignment, n);
  if (!p) return 12;  // ENOMEM
  *out = Counted(p);
  return 0;
}
}

using vmk::bench::Fail;
using vmk::bench::NewDriver;
using vmk::bench::Text;

namespace {

IVelmoraK40xx* Open() {
  IVelmoraK40xx* driver = NewDriver();
  if (!driver) Fail("no driver object");
  if (FAILED(driver->Initialize(Text(""), VARIANT_FALSE, VARIANT_FALSE,
                                Text("Simulate=true, DriverSetup=Model=K4201A"))))
    Fail("Initialize failed");
  return driver;
}

void Close(IVelmoraK40xx* driver) {
  driver->Close();
  driver->Release();
}

}  // namespace

int main(int argc, char** argv) {
  const std::string which = argc > 1 ? argv[1] : "";
  // The first session builds the process-wide tables that live until the library unloads.
  Close(Open());
  const long long idle = gLive;
  if (which == "per-session") {
    IVelmoraK40xx* driver = Open();
    const long long open = gLive - idle;
    Close(driver);
    std::printf("figure %lld\n", open);
    return 0;
  }
  if (which == "growth") {
    for (int i = 0; i < 1000; ++i) Close(Open());
    std::printf("figure %lld\n", gLive - idle);
    return 0;
  }
  std::fprintf(stderr, "usage: session_heap_bench per-session|growth\n");
  return 2;
}
