// TCPIP[board]::host::port::SOCKET: a plain TCP connection. A socket has no END and no serial
// poll: reads end on the termination character, a count or the time-out.
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstring>

#include "platform/visa/transport.h"

namespace vmk::visa {
namespace {

std::string ErrnoText(int err) {
  char buf[256];
  // The GNU strerror_r returns its text, which may or may not be `buf`.
  const char* text = strerror_r(err, buf, sizeof buf);
  return text;
}

class TcpSocket final : public Transport {
 public:
  TcpSocket(int fd, std::string peer) : fd_(fd), peer_(std::move(peer)) {}
  ~TcpSocket() override { ::close(fd_); }

  HRESULT Write(const uint8_t* data, size_t size, bool, int32_t timeoutMs,
                std::string* error) override {
    SetTimeout(SO_SNDTIMEO, &sendTimeout_, timeoutMs);
    size_t sent = 0;
    while (sent < size) {
      const ssize_t n =
          ::send(fd_, data + sent, size - sent, MSG_NOSIGNAL | (timeoutMs == 0 ? MSG_DONTWAIT : 0));
      if (n >= 0) {
        sent += static_cast<size_t>(n);
        continue;
      }
      if (errno == EINTR) continue;
      if (errno == EAGAIN || errno == EWOULDBLOCK) {
        *error = "time-out sending to " + peer_ + " (" + std::to_string(sent) + " of " +
                 std::to_string(size) + " bytes sent)";
        return E_VISA_TMO;
      }
      const int err = errno;
      *error = "sending to " + peer_ + " failed: " + ErrnoText(err);
      return err == EPIPE || err == ECONNRESET ? E_VISA_CONN_LOST : E_VISA_IO;
    }
    return S_OK;
  }

  HRESULT Read(uint8_t* buffer, size_t max, size_t* got, bool* end, int32_t timeoutMs,
               std::string* error) override {
    *end = false;
    SetTimeout(SO_RCVTIMEO, &recvTimeout_, timeoutMs);
    for (;;) {
      const ssize_t n = ::recv(fd_, buffer, max, timeoutMs == 0 ? MSG_DONTWAIT : 0);
      if (n > 0) {
        *got = static_cast<size_t>(n);
        return S_OK;
      }
      if (n == 0) {
        *error = peer_ + " closed the connection";
        return E_VISA_CONN_LOST;
      }
      if (errno == EINTR) continue;
      if (errno == EAGAIN || errno == EWOULDBLOCK) return E_VISA_TMO;
      const int err = errno;
      *error = "receiving from " + peer_ + " failed: " + ErrnoText(err);
      return err == ECONNRESET ? E_VISA_CONN_LOST : E_VISA_IO;
    }
  }

  void DiscardInput() override {
    uint8_t sink[4096];
    while (::recv(fd_, sink, sizeof sink, MSG_DONTWAIT) > 0) {
    }
  }

  // No device clear exists on a raw socket: what a clear can do is forget the unread reply.
  HRESULT Clear(std::string*) override {
    DiscardInput();
    return S_OK;
  }

  SHORT InterfaceType() const override { return INTF_TCPIP; }
  std::string SessionType() const override { return "SOCKET"; }

 private:
  // The kernel's own time-out spares a poll() per read; it is only touched when it changes.
  void SetTimeout(int option, int32_t* current, int32_t timeoutMs) {
    if (timeoutMs == *current || timeoutMs == 0) return;
    timeval tv{};
    if (timeoutMs > 0) {
      tv.tv_sec = timeoutMs / 1000;
      tv.tv_usec = (timeoutMs % 1000) * 1000;
    }
    if (::setsockopt(fd_, SOL_SOCKET, option, &tv, sizeof tv) == 0) *current = timeoutMs;
  }

  int fd_;
  std::string peer_;
  int32_t sendTimeout_ = -1;  // a new socket waits forever
  int32_t recvTimeout_ = -1;
};

}  // namespace

// Connects within the open time-out, so that a silent host cannot hold Open for minutes.
int ConnectTcp(const sockaddr* address, unsigned addressLength, int32_t timeoutMs, int* err) {
  const int fd = ::socket(address->sa_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    *err = errno;
    return -1;
  }
  const int flags = ::fcntl(fd, F_GETFL);
  ::fcntl(fd, F_SETFL, flags | O_NONBLOCK);
  if (::connect(fd, address, addressLength) != 0) {
    if (errno != EINPROGRESS) {
      *err = errno;
      ::close(fd);
      return -1;
    }
    pollfd p{fd, POLLOUT, 0};
    int r;
    do {
      r = ::poll(&p, 1, timeoutMs < 0 ? -1 : timeoutMs);
    } while (r < 0 && errno == EINTR);
    if (r == 0) {
      *err = ETIMEDOUT;
      ::close(fd);
      return -1;
    }
    int soerr = 0;
    socklen_t len = sizeof soerr;
    ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &soerr, &len);
    if (r < 0 || soerr != 0) {
      *err = r < 0 ? errno : soerr;
      ::close(fd);
      return -1;
    }
  }
  ::fcntl(fd, F_SETFL, flags);
  return fd;
}

std::string SystemErrorText(int err) {
  return ErrnoText(err);
}

HRESULT OpenTcpSocket(const ResourceName& name, const OpenOptions&, int32_t openTimeoutMs,
                      std::unique_ptr<Transport>* out, std::string* error) {
  if (name.fields.size() != 2) {
    *error = "\"" + name.text + "\": a socket resource is TCPIP[board]::host::port::SOCKET";
    return E_VISA_INV_RSRC_NAME;
  }
  const std::string& host = name.fields[0];
  const std::string& port = name.fields[1];
  int portNumber = 0;
  const auto [p, ec] = std::from_chars(port.data(), port.data() + port.size(), portNumber);
  if (ec != std::errc() || p != port.data() + port.size() || portNumber <= 0 ||
      portNumber > 65535) {
    *error = "\"" + name.text + "\": \"" + port + "\" is not a TCP port number";
    return E_VISA_INV_RSRC_NAME;
  }
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* list = nullptr;
  const int gai = ::getaddrinfo(host.c_str(), port.c_str(), &hints, &list);
  if (gai != 0) {
    *error = "host \"" + host + "\" not found: " + ::gai_strerror(gai);
    return E_VISA_RSRC_NFOUND;
  }
  const std::string peer = host + ":" + port;
  int err = 0;
  int fd = -1;
  const auto start = std::chrono::steady_clock::now();
  for (const addrinfo* ai = list; ai && fd < 0; ai = ai->ai_next) {
    int32_t left = openTimeoutMs;
    if (openTimeoutMs > 0) {
      const auto used = std::chrono::duration_cast<std::chrono::milliseconds>(
                            std::chrono::steady_clock::now() - start)
                            .count();
      left = static_cast<int32_t>(std::max<int64_t>(1, openTimeoutMs - used));
    }
    fd = ConnectTcp(ai->ai_addr, ai->ai_addrlen, left, &err);
  }
  ::freeaddrinfo(list);
  if (fd < 0) {
    if (err == ECONNREFUSED) {
      *error = "connection to " + peer + " refused (nothing listens on that port)";
    } else if (err == ETIMEDOUT) {
      *error = "no answer from " + peer + " within " + std::to_string(openTimeoutMs) + " ms";
    } else {
      *error = "cannot connect to " + peer + ": " + ErrnoText(err);
    }
    return E_VISA_RSRC_NFOUND;
  }
  // Commands are short and each waits for its reply: Nagle's delay would cost every query.
  const int one = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  *out = std::make_unique<TcpSocket>(fd, peer);
  return S_OK;
}

}  // namespace vmk::visa
