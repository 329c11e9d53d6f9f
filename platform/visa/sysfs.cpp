#include "platform/visa/sysfs.h"

#include <dirent.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>

namespace vmk::visa {
namespace {

std::string Root(const char* variable, const char* fallback) {
  const char* v = std::getenv(variable);
  return v && *v ? std::string(v) : std::string(fallback);
}

bool Exists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0;
}

std::string Parent(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  return slash == std::string::npos || slash == 0 ? std::string("/") : path.substr(0, slash);
}

unsigned Hex(const std::string& text) {
  return static_cast<unsigned>(std::strtoul(text.c_str(), nullptr, 16));
}

std::vector<std::string> Entries(const std::string& dir, const std::string& prefix) {
  std::vector<std::string> names;
  if (DIR* d = ::opendir(dir.c_str())) {
    while (const dirent* e = ::readdir(d)) {
      const std::string name = e->d_name;
      if (name != "." && name != ".." && name.rfind(prefix, 0) == 0) names.push_back(name);
    }
    ::closedir(d);
  }
  // usbtmc2 before usbtmc10
  std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
    return a.size() != b.size() ? a.size() < b.size() : a < b;
  });
  return names;
}

}  // namespace

std::string SysfsRoot() {
  return Root("VMK40XX_SYSFS", "/sys");
}

std::string DevRoot() {
  return Root("VMK40XX_DEVFS", "/dev");
}

std::string ReadAttribute(const std::string& path) {
  std::ifstream in(path);
  std::string line;
  if (!in || !std::getline(in, line)) return {};
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r' || line.back() == ' '))
    line.pop_back();
  return line;
}

UsbIdentity UsbIdentityOf(const std::string& classDevice) {
  UsbIdentity id;
  char resolved[PATH_MAX];
  if (!::realpath((classDevice + "/device").c_str(), resolved)) return id;
  // Up from the interface (or a port below it) to the device that carries the identifiers.
  std::string dir = resolved;
  for (int level = 0; level < 4 && dir != "/"; ++level, dir = Parent(dir)) {
    if (id.interfaceNumber < 0 && Exists(dir + "/bInterfaceNumber"))
      id.interfaceNumber = static_cast<int>(Hex(ReadAttribute(dir + "/bInterfaceNumber")));
    if (Exists(dir + "/idVendor")) {
      id.known = true;
      id.vendor = Hex(ReadAttribute(dir + "/idVendor"));
      id.product = Hex(ReadAttribute(dir + "/idProduct"));
      id.serial = ReadAttribute(dir + "/serial");
      id.manufacturer = ReadAttribute(dir + "/manufacturer");
      id.productName = ReadAttribute(dir + "/product");
      break;
    }
  }
  return id;
}

std::vector<ClassDevice> ListUsbtmc() {
  std::vector<ClassDevice> found;
  const std::string dir = SysfsRoot() + "/class/usbmisc";
  for (const std::string& name : Entries(dir, "usbtmc"))
    found.push_back({name, UsbIdentityOf(dir + "/" + name)});
  return found;
}

std::vector<ClassDevice> ListSerialPorts() {
  std::vector<ClassDevice> found;
  const std::string dir = SysfsRoot() + "/class/tty";
  for (const std::string& name : Entries(dir, "tty")) {
    const std::string entry = dir + "/" + name;
    // Virtual terminals and pseudo-terminals have no device behind them.
    if (!Exists(entry + "/device")) continue;
    // The 8250 driver lists every legacy slot; an empty one has UART type 0 ("unknown").
    if (ReadAttribute(entry + "/type") == "0") continue;
    found.push_back({name, UsbIdentityOf(entry)});
  }
  return found;
}

}  // namespace vmk::visa
