// The server's lock count: live objects and LockServer calls keep the library in use.
#pragma once

namespace vmk::com {

void ModuleLock();
void ModuleUnlock();
long ModuleLockCount();

}  // namespace vmk::com
