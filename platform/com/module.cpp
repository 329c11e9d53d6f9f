#include "platform/com/module.h"

#include <atomic>

namespace vmk::com {

namespace {
std::atomic<long> gLocks{0};
}

void ModuleLock() {
  ++gLocks;
}
void ModuleUnlock() {
  --gLocks;
}
long ModuleLockCount() {
  return gLocks.load();
}

}  // namespace vmk::com
