#include <dlfcn.h>
#include <limits.h>
#include <unistd.h>

#include "platform/com/module.h"

namespace vmk::com {

std::string ThisLibraryPath() {
  Dl_info info{};
  if (!::dladdr(reinterpret_cast<void*>(&ThisLibraryPath), &info) || !info.dli_fname ||
      !*info.dli_fname)
    return {};
  std::string path = info.dli_fname;
  // Symbolic links are kept: a library loaded by its soname link stays registered under that
  // name, which outlives an update that replaces the versioned file behind it.
  if (path.front() != '/') {
    char cwd[PATH_MAX];
    if (!::getcwd(cwd, sizeof cwd)) return {};
    path = std::string(cwd) + "/" + path;
  }
  return path;
}

}  // namespace vmk::com
