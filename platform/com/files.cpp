#include "platform/com/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

namespace vmk::com {

namespace {

std::string Reason(const std::string& what, const std::string& path) {
  return what + " " + path + ": " + std::strerror(errno);
}

std::string ParentOf(const std::string& path) {
  size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

ReadResult ReadWholeFile(const std::string& path, std::string* content, std::string* error) {
  content->clear();
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    if (errno == ENOENT || errno == ENOTDIR) return ReadResult::Missing;
    *error = Reason("cannot open", path);
    return ReadResult::Unreadable;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    *error = "cannot read " + path + ": not a regular file";
    ::close(fd);
    return ReadResult::Unreadable;
  }
  char buffer[65536];
  for (;;) {
    ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n == 0) break;
    if (n < 0) {
      if (errno == EINTR) continue;
      *error = Reason("cannot read", path);
      ::close(fd);
      content->clear();
      return ReadResult::Unreadable;
    }
    content->append(buffer, static_cast<size_t>(n));
  }
  ::close(fd);
  return ReadResult::Ok;
}

bool MakeDirectories(const std::string& dir, std::string* error) {
  if (dir.empty() || dir == "/" || dir == ".") return true;
  struct stat st {};
  if (::stat(dir.c_str(), &st) == 0) {
    if (S_ISDIR(st.st_mode)) return true;
    *error = "cannot create directory " + dir + ": a file of that name exists";
    return false;
  }
  if (!MakeDirectories(ParentOf(dir), error)) return false;
  if (::mkdir(dir.c_str(), 0755) != 0 && errno != EEXIST) {
    *error = Reason("cannot create directory", dir);
    return false;
  }
  return true;
}

bool WriteFileAtomically(const std::string& path, std::string_view content, std::string* error) {
  const std::string dir = ParentOf(path);
  if (!MakeDirectories(dir, error)) return false;
  std::string temp = path + ".XXXXXX";
  int fd = ::mkstemp(temp.data());
  if (fd < 0) {
    *error = Reason("cannot create a file beside", path);
    return false;
  }
  // mkstemp makes the file private; the replacement keeps the mode of the file it replaces, and a
  // new registry or store is readable by everyone, as the ones it stands in for are.
  struct stat old {};
  ::fchmod(fd, ::stat(path.c_str(), &old) == 0 ? (old.st_mode & 07777) : 0644);
  auto fail = [&](const char* what) {
    *error = Reason(what, temp);
    ::close(fd);
    ::unlink(temp.c_str());
    return false;
  };
  const char* p = content.data();
  size_t left = content.size();
  while (left > 0) {
    ssize_t n = ::write(fd, p, left);
    if (n < 0) {
      if (errno == EINTR) continue;
      return fail("cannot write");
    }
    p += n;
    left -= static_cast<size_t>(n);
  }
  // The data must be on disk before the rename makes it the file, or a crash could leave an
  // empty file under the old name.
  if (::fsync(fd) != 0) return fail("cannot flush");
  if (::close(fd) != 0) {
    *error = Reason("cannot close", temp);
    ::unlink(temp.c_str());
    return false;
  }
  if (::rename(temp.c_str(), path.c_str()) != 0) {
    *error = Reason("cannot replace", path);
    ::unlink(temp.c_str());
    return false;
  }
  int dfd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dfd >= 0) {
    ::fsync(dfd);
    ::close(dfd);
  }
  return true;
}

}  // namespace vmk::com
