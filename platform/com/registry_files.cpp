// The files the registry lives in: where they are, cached reads, and locked, atomic updates.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <unordered_map>

#include "platform/com/files.h"
#include "platform/com/registry.h"

namespace vmk::com {

namespace {

std::string Env(const char* name) {
  const char* v = std::getenv(name);
  return v ? std::string(v) : std::string();
}

// A parsed file, kept while the file is the same. A file changed within the last two seconds is
// not trusted to the cache: its time stamp may not yet tell it from the next version.
struct Cached {
  dev_t dev = 0;
  ino_t ino = 0;
  off_t size = 0;
  timespec mtime{};
  std::shared_ptr<const RegistryTree> tree;
};

std::shared_ptr<const RegistryTree> LoadFile(const std::string& path) {
  static std::mutex mutex;
  static auto* cache = new std::unordered_map<std::string, Cached>();
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return nullptr;
  const auto now = std::chrono::system_clock::now().time_since_epoch();
  const bool settled = std::chrono::seconds(st.st_mtim.tv_sec) + std::chrono::seconds(2) < now;
  {
    std::lock_guard lock(mutex);
    auto it = cache->find(path);
    if (it != cache->end() && settled && it->second.dev == st.st_dev &&
        it->second.ino == st.st_ino && it->second.size == st.st_size &&
        it->second.mtime.tv_sec == st.st_mtim.tv_sec &&
        it->second.mtime.tv_nsec == st.st_mtim.tv_nsec)
      return it->second.tree;
  }
  std::string text, error;
  if (ReadWholeFile(path, &text, &error) != ReadResult::Ok) return nullptr;
  std::optional<RegistryTree> tree = ParseRegistry(text, &error);
  if (!tree) return nullptr;
  auto shared = std::make_shared<const RegistryTree>(std::move(*tree));
  if (settled) {
    std::lock_guard lock(mutex);
    (*cache)[path] = Cached{st.st_dev, st.st_ino, st.st_size, st.st_mtim, shared};
  }
  return shared;
}

}  // namespace

RegistryFiles LocateRegistry() {
  if (std::string file = Env("VMK40XX_REGISTRY"); !file.empty()) return {file, {}};
  std::string config = Env("XDG_CONFIG_HOME");
  if (config.empty()) config = Env("HOME") + "/.config";
  return {config + "/vmk40xx/registry.reg", {kSystemRegistryFile}};
}

std::optional<std::string> ReadRegistryValue(std::string_view key, std::string_view name) {
  RegistryFiles files = LocateRegistry();
  if (auto tree = LoadFile(files.writable))
    if (auto v = tree->Value(key, name)) return v;
  for (const std::string& file : files.readOnly)
    if (auto tree = LoadFile(file))
      if (auto v = tree->Value(key, name)) return v;
  return std::nullopt;
}

HRESULT UpdateRegistry(const std::function<void(RegistryTree&)>& change, std::string* error) {
  const std::string path = LocateRegistry().writable;
  const size_t slash = path.find_last_of('/');
  if (slash != std::string::npos && slash > 0 && !MakeDirectories(path.substr(0, slash), error))
    return REGDB_E_WRITEREGDB;
  // The lock is on a file of its own: the registry file itself is replaced by each update, and a
  // lock on the replaced file would guard nothing.
  const std::string lockPath = path + ".lock";
  int lockFd = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (lockFd < 0) {
    *error = "cannot open the lock file " + lockPath + ": " + std::strerror(errno);
    return REGDB_E_WRITEREGDB;
  }
  while (::flock(lockFd, LOCK_EX) != 0) {
    if (errno == EINTR) continue;
    *error = "cannot lock " + lockPath + ": " + std::strerror(errno);
    ::close(lockFd);
    return REGDB_E_WRITEREGDB;
  }
  struct Unlock {
    int fd;
    ~Unlock() { ::close(fd); }  // closing drops the lock
  } unlock{lockFd};

  std::string text, why;
  RegistryTree tree;
  switch (ReadWholeFile(path, &text, &why)) {
    case ReadResult::Missing:
      break;
    case ReadResult::Unreadable:
      *error = "the registry " + why;
      return REGDB_E_READREGDB;
    case ReadResult::Ok: {
      std::optional<RegistryTree> parsed = ParseRegistry(text, &why);
      if (!parsed) {
        *error = "the registry file " + path + " is damaged (" + why +
                 "); it was left as it is: repair or remove it, then register again";
        return REGDB_E_READREGDB;
      }
      tree = std::move(*parsed);
    }
  }
  change(tree);
  if (!WriteFileAtomically(path, FormatRegistry(tree), &why)) {
    *error = "the registry was not changed: " + why;
    return REGDB_E_WRITEREGDB;
  }
  return S_OK;
}

}  // namespace vmk::com
