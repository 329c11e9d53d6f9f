// The server's lock count: live objects and LockServer calls keep the library in use.
#pragma once

#include <string>

namespace vmk::com {

void ModuleLock();
void ModuleUnlock();
long ModuleLockCount();

// The absolute path of the library this code is linked into, as the dynamic loader opened it;
// empty when it cannot be told.
std::string ThisLibraryPath();

}  // namespace vmk::com
