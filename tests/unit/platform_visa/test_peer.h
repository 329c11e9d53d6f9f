// Small instrument stand-ins for the transport tests: a TCP server and a pseudo-terminal, each
// served by a thread that answers every received line through a handler.
#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>

namespace vmk::test {

enum class PeerAction { Keep, Close };

// Handler: the received line without its line feed, and a way to send bytes back.
using LineHandler = std::function<PeerAction(const std::string& line,
                                             const std::function<void(std::string_view)>& send)>;

inline bool WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n <= 0) return false;
    bytes.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

// Reads lines from `fd` until it closes, `stop` is set, or the handler closes.
inline void ServeLines(int fd, const LineHandler& handler, const std::atomic<bool>& stop) {
  std::string pending;
  char buf[4096];
  auto send = [fd](std::string_view bytes) { WriteAll(fd, bytes); };
  while (!stop) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, 50) <= 0) continue;
    const ssize_t n = ::read(fd, buf, sizeof buf);
    if (n <= 0) return;
    pending.append(buf, static_cast<size_t>(n));
    for (size_t nl; (nl = pending.find('\n')) != std::string::npos;) {
      const std::string line = pending.substr(0, nl);
      pending.erase(0, nl + 1);
      if (handler(line, send) == PeerAction::Close) return;
    }
  }
}

class TcpPeer {
 public:
  explicit TcpPeer(LineHandler handler) : handler_(std::move(handler)) {
    listen_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(listen_, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::listen(listen_, 4);
    socklen_t len = sizeof a;
    ::getsockname(listen_, reinterpret_cast<sockaddr*>(&a), &len);
    port_ = ntohs(a.sin_port);
    thread_ = std::thread([this] {
      while (!stop_) {
        pollfd p{listen_, POLLIN, 0};
        if (::poll(&p, 1, 50) <= 0) continue;
        const int fd = ::accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) continue;
        ServeLines(fd, handler_, stop_);
        ::close(fd);
      }
    });
  }
  ~TcpPeer() {
    stop_ = true;
    thread_.join();
    ::close(listen_);
  }
  int port() const { return port_; }
  std::string Resource() const {
    return "TCPIP0::127.0.0.1::" + std::to_string(port_) + "::SOCKET";
  }

 private:
  LineHandler handler_;
  int listen_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

// The test holds the master side; the code under test opens Path() as its serial port.
class PtyPeer {
 public:
  explicit PtyPeer(LineHandler handler) : handler_(std::move(handler)) {
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    ::grantpt(master_);
    ::unlockpt(master_);
    path_ = ::ptsname(master_);
    thread_ = std::thread([this] {
      ServeLines(master_, handler_, stop_);
      // The handler ended the conversation: the line hangs up under the reader.
      if (!stop_) {
        ::close(master_);
        closed_ = true;
      }
    });
  }
  ~PtyPeer() {
    stop_ = true;
    thread_.join();
    if (!closed_) ::close(master_);
  }
  const std::string& Path() const { return path_; }
  std::string Resource() const { return "ASRL" + path_ + "::INSTR"; }

 private:
  LineHandler handler_;
  int master_ = -1;
  std::string path_;
  std::atomic<bool> stop_{false};
  std::atomic<bool> closed_{false};
  std::thread thread_;
};

}  // namespace vmk::test
