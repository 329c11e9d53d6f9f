// vmk40xx-regsvr: registers or unregisters the COM server in a library, as regsvr32 does on
// Windows: loads the library and calls its DllRegisterServer or DllUnregisterServer.
#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "vmk40xx/com.h"

namespace {

constexpr const char* kSystemRegistry = "/etc/vmk40xx/registry.reg";

void Usage(FILE* out) {
  std::fprintf(out,
               "Usage: vmk40xx-regsvr [-u] [--system] LIBRARY\n"
               "\n"
               "Registers the COM server in LIBRARY (for example /usr/local/lib/libvmk40xx.so.1),\n"
               "so that programs can create its classes by ProgID, or removes its registration.\n"
               "The library is registered under the path given, made absolute.\n"
               "\n"
               "  -u, --unregister  remove the server's registration\n"
               "  -s, --system      change the system-wide registry %s\n"
               "                    (needs write access to it) instead of the user's\n"
               "  -h, --help        show this text\n"
               "\n"
               "The registry changed is the file VMK40XX_REGISTRY names, else\n"
               "$XDG_CONFIG_HOME/vmk40xx/registry.reg (~/.config/vmk40xx/registry.reg).\n"
               "Exit status: 0 done, 1 failed (the reason is printed), 2 bad arguments.\n",
               kSystemRegistry);
}

// The file the library changes, by the rule the usage text gives.
std::string RegistryFile() {
  if (const char* file = std::getenv("VMK40XX_REGISTRY"); file && *file) return file;
  const char* config = std::getenv("XDG_CONFIG_HOME");
  if (config && *config) return std::string(config) + "/vmk40xx/registry.reg";
  const char* home = std::getenv("HOME");
  return std::string(home ? home : "") + "/.config/vmk40xx/registry.reg";
}

// The reason the library left as error information, read through the library's own functions.
std::string ErrorText(void* lib) {
  using GetErrorInfoFn = HRESULT (*)(ULONG, IErrorInfo**);
  using SysFreeStringFn = void (*)(BSTR);
  auto getErrorInfo = reinterpret_cast<GetErrorInfoFn>(::dlsym(lib, "GetErrorInfo"));
  auto sysFreeString = reinterpret_cast<SysFreeStringFn>(::dlsym(lib, "SysFreeString"));
  if (!getErrorInfo || !sysFreeString) return {};
  IErrorInfo* info = nullptr;
  if (getErrorInfo(0, &info) != S_OK || !info) return {};
  BSTR description = nullptr;
  std::string text;
  if (SUCCEEDED(info->GetDescription(&description)) && description)
    for (const OLECHAR* p = description; *p; ++p)
      text.push_back(*p < 0x80 ? static_cast<char>(*p) : '?');
  sysFreeString(description);
  info->Release();
  return text;
}

}  // namespace

int main(int argc, char** argv) {
  bool unregister = false, system = false;
  const char* library = nullptr;
  for (int i = 1; i < argc; ++i) {
    const char* a = argv[i];
    if (!std::strcmp(a, "-u") || !std::strcmp(a, "--unregister")) {
      unregister = true;
    } else if (!std::strcmp(a, "-s") || !std::strcmp(a, "--system")) {
      system = true;
    } else if (!std::strcmp(a, "-h") || !std::strcmp(a, "--help")) {
      Usage(stdout);
      return 0;
    } else if (a[0] == '-' || library) {
      std::fprintf(stderr, "vmk40xx-regsvr: unexpected argument '%s'\n\n", a);
      Usage(stderr);
      return 2;
    } else {
      library = a;
    }
  }
  if (!library) {
    Usage(stderr);
    return 2;
  }
  if (system) ::setenv("VMK40XX_REGISTRY", kSystemRegistry, 1);

  // A bare name would be looked up on the library path; the registration names the file given.
  std::string path = library;
  if (path.find('/') == std::string::npos) path = "./" + path;
  void* lib = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!lib) {
    std::fprintf(stderr, "vmk40xx-regsvr: cannot load %s: %s\n", library, ::dlerror());
    return 1;
  }
  const char* entry = unregister ? "DllUnregisterServer" : "DllRegisterServer";
  auto call = reinterpret_cast<HRESULT (*)()>(::dlsym(lib, entry));
  if (!call) {
    std::fprintf(stderr, "vmk40xx-regsvr: %s is not a COM server: it has no %s\n", library, entry);
    return 1;
  }
  HRESULT hr = call();
  if (FAILED(hr)) {
    std::string why = ErrorText(lib);
    std::fprintf(stderr, "vmk40xx-regsvr: %s failed (0x%08X)%s%s\n", entry,
                 static_cast<unsigned>(hr), why.empty() ? "" : ": ", why.c_str());
    return 1;
  }
  std::printf("%s %s in %s\n", unregister ? "unregistered" : "registered", library,
              RegistryFile().c_str());
  return 0;
}
