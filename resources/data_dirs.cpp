#include "resources/data_dirs.h"

#include <dlfcn.h>

#include <filesystem>
#include <system_error>

namespace vmk {

namespace {

// Whether the library's file lies in the directory the build writes it to. Comparing the
// directories themselves, not their spellings, keeps a symlinked checkout working.
bool RunningFromBuildTree() {
  Dl_info info{};
  if (!dladdr(reinterpret_cast<void*>(&RunningFromBuildTree), &info) || !info.dli_fname)
    return false;
  std::error_code ec;
  const auto here = std::filesystem::path(info.dli_fname).parent_path();
  return std::filesystem::equivalent(here, VMK_BUILD_LIBRARY_DIR, ec) && !ec;
}

}  // namespace

std::string DefaultIviRootDir() {
  static const std::string root =
      RunningFromBuildTree() ? VMK_BUILD_IVI_ROOT : VMK_INSTALLED_IVI_ROOT;
  return root;
}

}  // namespace vmk
