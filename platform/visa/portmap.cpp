#include "platform/visa/portmap.h"

#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <random>

namespace vmk::visa {
namespace {

constexpr uint32_t kPortmapProgram = 100000;
constexpr uint32_t kPortmapVersion = 2;
constexpr uint32_t kGetPort = 3;
constexpr uint32_t kProtocolTcp = 6;
constexpr uint16_t kPortmapPort = 111;

void Put(std::string* out, uint32_t v) {
  const uint32_t be = htonl(v);
  out->append(reinterpret_cast<const char*>(&be), 4);
}

uint32_t Get(const uint8_t* p) {
  uint32_t be;
  std::memcpy(&be, p, 4);
  return ntohl(be);
}

uint32_t NewXid() {
  static thread_local std::mt19937 rng{std::random_device{}()};
  return rng();
}

using Clock = std::chrono::steady_clock;

int LeftMs(Clock::time_point deadline) {
  const auto left =
      std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left > 0 ? static_cast<int>(left) : 0;
}

}  // namespace

std::string EncodeGetPort(uint32_t xid, uint32_t program, uint32_t version) {
  std::string call;
  // xid, CALL, RPC version 2, program, version, procedure, no credentials, no verifier
  for (uint32_t v : {xid, 0u, 2u, kPortmapProgram, kPortmapVersion, kGetPort, 0u, 0u, 0u, 0u})
    Put(&call, v);
  for (uint32_t v : {program, version, kProtocolTcp, 0u}) Put(&call, v);
  return call;
}

bool DecodeGetPortReply(const uint8_t* data, size_t size, uint32_t xid, uint16_t* port) {
  // xid, REPLY, MSG_ACCEPTED, verifier (flavour, length, body), SUCCESS, port
  if (size < 24 || Get(data) != xid || Get(data + 4) != 1 || Get(data + 8) != 0) return false;
  const uint32_t verifierLength = Get(data + 16);
  if (verifierLength > 400) return false;
  const size_t at = 20 + ((verifierLength + 3) & ~3u);
  if (size < at + 8 || Get(data + at) != 0) return false;
  const uint32_t p = Get(data + at + 4);
  if (p > 65535) return false;
  *port = static_cast<uint16_t>(p);
  return true;
}

bool PortmapGetPort(const in_addr& host, uint32_t program, uint32_t version, int32_t timeoutMs,
                    uint16_t* port, std::string* why) {
  const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    *why = std::string("cannot create a UDP socket: ") + std::strerror(errno);
    return false;
  }
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(kPortmapPort);
  to.sin_addr = host;
  // A connected socket hears the ICMP refusal of a host without a portmapper.
  if (::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) {
    *why = std::string("cannot reach its portmapper: ") + std::strerror(errno);
    ::close(fd);
    return false;
  }
  const uint32_t xid = NewXid();
  const std::string call = EncodeGetPort(xid, program, version);
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 25000 : timeoutMs);
  // UDP may lose the call or the answer: ask again every quarter second until the deadline.
  bool answered = false;
  while (!answered) {
    if (::send(fd, call.data(), call.size(), 0) < 0 && errno == ECONNREFUSED) {
      *why = "no portmapper (rpcbind) answers on port 111 (connection refused)";
      break;
    }
    const auto resend = std::min(deadline, Clock::now() + std::chrono::milliseconds(250));
    for (;;) {
      pollfd p{fd, POLLIN, 0};
      const int r = ::poll(&p, 1, LeftMs(resend));
      if (r < 0 && errno == EINTR) continue;
      if (r <= 0) break;
      uint8_t reply[512];
      const ssize_t n = ::recv(fd, reply, sizeof reply, 0);
      if (n < 0 && errno == ECONNREFUSED) {
        *why = "no portmapper (rpcbind) answers on port 111 (connection refused)";
        ::close(fd);
        return false;
      }
      if (n > 0 && DecodeGetPortReply(reply, static_cast<size_t>(n), xid, port)) {
        answered = true;
        break;
      }
    }
    if (!answered && LeftMs(deadline) == 0) {
      *why = "its portmapper did not answer within " + std::to_string(timeoutMs) + " ms";
      break;
    }
  }
  ::close(fd);
  return answered;
}

std::vector<PortmapAnswer> PortmapSurvey(const std::vector<in_addr>& targets, uint32_t program,
                                         uint32_t version, int32_t timeoutMs) {
  std::vector<PortmapAnswer> found;
  const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return found;
  const int one = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &one, sizeof one);
  const uint32_t xid = NewXid();
  const std::string call = EncodeGetPort(xid, program, version);
  auto sendAll = [&] {
    for (const in_addr& a : targets) {
      sockaddr_in to{};
      to.sin_family = AF_INET;
      to.sin_port = htons(kPortmapPort);
      to.sin_addr = a;
      ::sendto(fd, call.data(), call.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
    }
  };
  sendAll();
  const auto start = Clock::now();
  const auto deadline = start + std::chrono::milliseconds(timeoutMs);
  bool resent = false;
  for (;;) {
    // Once more halfway, for a call that UDP lost.
    if (!resent && Clock::now() - start >= std::chrono::milliseconds(timeoutMs / 2)) {
      sendAll();
      resent = true;
    }
    const int wait = resent ? LeftMs(deadline) : std::max(1, timeoutMs / 2);
    if (wait == 0) break;
    pollfd p{fd, POLLIN, 0};
    const int r = ::poll(&p, 1, std::min(wait, LeftMs(deadline)));
    if (r < 0 && errno == EINTR) continue;
    if (r < 0) break;
    if (r == 0) {
      if (LeftMs(deadline) == 0) break;
      continue;
    }
    uint8_t reply[512];
    sockaddr_in from{};
    socklen_t len = sizeof from;
    const ssize_t n =
        ::recvfrom(fd, reply, sizeof reply, 0, reinterpret_cast<sockaddr*>(&from), &len);
    uint16_t port = 0;
    if (n <= 0 || !DecodeGetPortReply(reply, static_cast<size_t>(n), xid, &port) || port == 0)
      continue;
    bool known = false;
    for (const PortmapAnswer& a : found) known |= a.from.s_addr == from.sin_addr.s_addr;
    if (!known) found.push_back({from.sin_addr, port});
  }
  ::close(fd);
  return found;
}

}  // namespace vmk::visa
