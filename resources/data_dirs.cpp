#include "resources/data_dirs.h"

#include <dlfcn.h>

#include <filesystem>
#include <system_error>

namespace vmk {

namespace {

// Whether the file this code is in lies where the build writes it: the library's directory, or
// the programs' for a test that links the layers itself. Comparing the directories themselves,
// not their spellings, keeps a symlinked checkout working.
bool RunningFromBuildTree() {
  Dl_info info{};
  if (!dladdr(reinterpret_cast<void*>(&RunningFromBuildTree), &info) || !info.dli_fname)
    return false;
  const auto here = std::filesystem::path(info.dli_fname).parent_path();
  for (const char* built : {VMK_BUILD_LIBRARY_DIR, VMK_BUILD_RUNTIME_DIR}) {
    std::error_code ec;
    if (std::filesystem::equivalent(here, built, ec) && !ec) return true;
  }
  return false;
}

}  // namespace

std::string DefaultIviRootDir() {
  static const std::string root =
      RunningFromBuildTree() ? VMK_BUILD_IVI_ROOT : VMK_INSTALLED_IVI_ROOT;
  return root;
}

}  // namespace vmk
