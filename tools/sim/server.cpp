#include "server.hpp"
#include "server_conn.hpp"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>
#include <deque>
#include <limits>

namespace vmk40xx::sim {

std::int64_t steady_now_us() {
  using namespace std::chrono;
  return duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count();
}

namespace {

// Tags in epoll's user data for the two descriptors that are not connections.
constexpr std::uint64_t kListenTag = 1;
constexpr std::uint64_t kWakeTag = 2;
constexpr std::uint64_t kVxi11ListenTag = 3;
// A client that sends without reading must not make the emulator buffer without bound.
constexpr std::size_t kMaxPendingOut = 4u << 20;
constexpr std::size_t kMaxLine = 1u << 20;
// Nobody may have the terminal open; a serial line does not keep what nobody reads.
constexpr std::size_t kMaxPtyBacklog = 64u << 10;

bool set_nonblocking(int fd) {
  const int flags = fcntl(fd, F_GETFL, 0);
  return flags >= 0 && fcntl(fd, F_SETFL, flags | O_NONBLOCK) == 0;
}

std::string errno_text(const char* what) {
  return std::string(what) + ": " + std::strerror(errno);
}

}  // namespace

// ---------------------------------------------------------------------------------------------

Transcript::~Transcript() {
  if (file_) std::fclose(file_);
}

bool Transcript::open(const std::string& path) {
  file_ = std::fopen(path.c_str(), "a");
  return file_ != nullptr;
}

void Transcript::write(std::string_view who, char dir, std::string_view text, bool terminated) {
  if (!file_) return;
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  tm utc{};
  gmtime_r(&ts.tv_sec, &utc);
  char stamp[40];
  std::strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%S", &utc);
  std::fprintf(file_, "%s.%06ldZ %.*s %c ", stamp, ts.tv_nsec / 1000, static_cast<int>(who.size()),
               who.data(), dir);
  for (unsigned char ch : text) {
    if (ch >= 0x20 && ch < 0x7f && ch != '\\')
      std::fputc(ch, file_);
    else
      std::fprintf(file_, "\\x%02X", ch);
  }
  if (!terminated) std::fputs(" [no LF]", file_);
  std::fputc('\n', file_);
}

void Transcript::flush() {
  if (file_) std::fflush(file_);
}

// ---------------------------------------------------------------------------------------------

Server::Server(Instrument& instrument, Transcript* transcript)
    : inst_(instrument), transcript_(transcript), read_buf_(64 * 1024) {
  epoll_fd_ = epoll_create1(EPOLL_CLOEXEC);
  wake_fd_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  epoll_event ev{};
  ev.events = EPOLLIN;
  ev.data.u64 = kWakeTag;
  epoll_ctl(epoll_fd_, EPOLL_CTL_ADD, wake_fd_, &ev);
  reply_.reserve(4096);
}

Server::~Server() {
  for (auto& c : conns_)
    if (c->fd >= 0) ::close(c->fd);
  unregister_portmap();
  for (int fd : {listen_fd_, vxi11_listen_fd_, pty_slave_fd_, wake_fd_, epoll_fd_})
    if (fd >= 0) ::close(fd);
}

bool Server::listen_tcp(const std::string& host, std::uint16_t port, std::string& error) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
  addrinfo* res = nullptr;
  const std::string service = std::to_string(port);
  if (int rc = getaddrinfo(host.empty() ? nullptr : host.c_str(), service.c_str(), &hints, &res);
      rc != 0) {
    error = "cannot resolve " + host + ": " + gai_strerror(rc);
    return false;
  }
  int fd = -1;
  for (addrinfo* ai = res; ai; ai = ai->ai_next) {
    fd = socket(ai->ai_family, ai->ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK, ai->ai_protocol);
    if (fd < 0) continue;
    const int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    if (bind(fd, ai->ai_addr, ai->ai_addrlen) == 0 && ::listen(fd, 64) == 0) break;
    error = errno_text("cannot listen");
    ::close(fd);
    fd = -1;
  }
  freeaddrinfo(res);
  if (fd < 0) return false;
  sockaddr_storage bound{};
  socklen_t len = sizeof bound;
  getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &len);
  port_ = ntohs(bound.ss_family == AF_INET6 ? reinterpret_cast<sockaddr_in6*>(&bound)->sin6_port
                                            : reinterpret_cast<sockaddr_in*>(&bound)->sin_port);
  listen_fd_ = fd;
  epoll_event ev{};
  ev.events = EPOLLIN;
  ev.data.u64 = kListenTag;
  epoll_ctl(epoll_fd_, EPOLL_CTL_ADD, fd, &ev);
  return true;
}

bool Server::open_pty(std::string& error) {
  const int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
    error = errno_text("cannot create a pseudo-terminal");
    if (master >= 0) ::close(master);
    return false;
  }
  char name[128];
  if (ptsname_r(master, name, sizeof name) != 0) {
    error = errno_text("ptsname");
    ::close(master);
    return false;
  }
  // Holding the slave open keeps the master usable while clients come and go; without it the
  // master reports a hang-up after the first client closes.
  pty_slave_fd_ = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (pty_slave_fd_ < 0) {
    error = errno_text("cannot open the pseudo-terminal");
    ::close(master);
    return false;
  }
  // A serial port passes bytes untouched: no echo, no line editing, no LF to CR LF.
  termios tio{};
  tcgetattr(pty_slave_fd_, &tio);
  cfmakeraw(&tio);
  tcsetattr(pty_slave_fd_, TCSANOW, &tio);
  set_nonblocking(master);
  pty_path_ = name;
  auto c = std::make_unique<Conn>();
  c->fd = master;
  c->pty = true;
  c->name = "pty";
  epoll_event ev{};
  ev.events = EPOLLIN;
  ev.data.ptr = c.get();
  epoll_ctl(epoll_fd_, EPOLL_CTL_ADD, master, &ev);
  conns_.push_back(std::move(c));
  return true;
}

void Server::stop() {
  stopping_.store(true);
  const std::uint64_t one = 1;
  [[maybe_unused]] ssize_t n = ::write(wake_fd_, &one, sizeof one);
}

void Server::accept_clients() {
  for (;;) {
    sockaddr_storage peer{};
    socklen_t len = sizeof peer;
    const int fd =
        accept4(listen_fd_, reinterpret_cast<sockaddr*>(&peer), &len, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) return;
    // Replies are small and a client usually waits for each one.
    const int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    auto c = std::make_unique<Conn>();
    c->fd = fd;
    c->name = "tcp" + std::to_string(next_id_++);
    char host[INET6_ADDRSTRLEN + 8] = "?";
    char serv[16] = "?";
    getnameinfo(reinterpret_cast<sockaddr*>(&peer), len, host, sizeof host, serv, sizeof serv,
                NI_NUMERICHOST | NI_NUMERICSERV);
    if (transcript_)
      transcript_->write(c->name, '*', std::string("connected from ") + host + ":" + serv);
    epoll_event ev{};
    ev.events = EPOLLIN;
    ev.data.ptr = c.get();
    epoll_ctl(epoll_fd_, EPOLL_CTL_ADD, fd, &ev);
    conns_.push_back(std::move(c));
  }
}

void Server::update_interest(Conn& c) {
  if (c.fd < 0) return;  // a VXI-11 link: its connection does the I/O
  const bool want_out = c.out_off < c.out.size();
  const bool want_in = !c.closing && (c.pty || c.out.size() < kMaxPendingOut);
  if (want_out == c.watching_out && want_in == c.watching_in) return;
  epoll_event ev{};
  ev.events = (want_in ? EPOLLIN : 0u) | (want_out ? EPOLLOUT : 0u);
  ev.data.ptr = &c;
  epoll_ctl(epoll_fd_, EPOLL_CTL_MOD, c.fd, &ev);
  c.watching_out = want_out;
  c.watching_in = want_in;
}

void Server::close_conn(Conn& c, std::string_view why) {
  if (c.dead) return;
  if (c.pty) {
    // The terminal stays: a real serial port has no connection to lose.
    c.closing = false;
    c.silent_until_us = steady_now_us() + kPtyDropUs;
    c.out.clear();
    c.out_off = 0;
    c.delayed.clear();
    if (transcript_) transcript_->write(c.name, '*', "line dropped for a while");
    update_interest(c);
    return;
  }
  if (transcript_) transcript_->write(c.name, '*', why);
  if (c.owner) {
    c.dead = true;
    return;
  }
  if (c.rpc) drop_links(c);
  epoll_ctl(epoll_fd_, EPOLL_CTL_DEL, c.fd, nullptr);
  ::close(c.fd);
  c.fd = -1;
  c.dead = true;
}

void Server::flush(Conn& c) {
  if (c.owner) return link_output_changed(c);
  while (c.out_off < c.out.size()) {
    const char* p = c.out.data() + c.out_off;
    const std::size_t len = c.out.size() - c.out_off;
    const ssize_t n = c.pty ? ::write(c.fd, p, len) : ::send(c.fd, p, len, MSG_NOSIGNAL);
    if (n > 0) {
      c.out_off += static_cast<std::size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
    return close_conn(c, "closed (write failed)");
  }
  if (c.out_off == c.out.size()) {
    c.out.clear();
    c.out_off = 0;
    if (c.closing && c.delayed.empty())
      return close_conn(c, c.peer_done ? "closed by peer" : "closed by fault injection");
  }
  update_interest(c);
}

void Server::queue_reply(Conn& c, std::int64_t now) {
  const int delay = inst_.faults().delay_ms;
  const std::int64_t hold = inst_.hold_reply_until_us();
  if (delay > 0 || hold > now || !c.delayed.empty()) {
    std::int64_t due = std::max(now + static_cast<std::int64_t>(delay) * 1000, hold);
    // Replies leave in the order their lines came, even when the delay was shortened meanwhile.
    if (!c.delayed.empty()) due = std::max(due, c.delayed.back().due_us);
    c.delayed.push_back({due, reply_});
  } else if (c.pty && c.out.size() - c.out_off > kMaxPtyBacklog) {
    if (transcript_) transcript_->write(c.name, '*', "reply dropped: nobody reads the terminal");
  } else {
    c.out.append(reply_);
  }
}

void Server::handle_line(Conn& c, std::string_view line, std::int64_t now) {
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  if (c.closing || now < c.silent_until_us) return;
  if (transcript_) transcript_->write(c.name, '<', line);
  // The line that arms the close fault does not count towards it.
  Faults& f = inst_.faults();
  const bool last = f.close_after > 0 && --f.close_after == 0;
  reply_.clear();
  if (inst_.execute(line, reply_)) {
    bool terminated = true;
    if (f.drop_lf_next) {
      f.drop_lf_next = false;
      terminated = false;
    }
    if (transcript_) transcript_->write(c.name, '>', reply_, terminated);
    if (terminated) reply_.push_back('\n');
    queue_reply(c, now);
  }
  if (last) c.closing = true;
}

void Server::on_readable(Conn& c) {
  if (c.rpc) {
    for (;;) {
      const ssize_t n = ::read(c.fd, read_buf_.data(), read_buf_.size());
      if (n > 0) {
        c.in.append(read_buf_.data(), static_cast<std::size_t>(n));
        continue;
      }
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
      return close_conn(c, n == 0 ? "closed by peer" : "closed (read failed)");
    }
    run_calls(c, steady_now_us());
    return flush(c);
  }
  bool peer_done = false;
  for (;;) {
    const ssize_t n = ::read(c.fd, read_buf_.data(), read_buf_.size());
    if (n > 0) {
      c.in.append(read_buf_.data(), static_cast<std::size_t>(n));
      if (static_cast<std::size_t>(n) < read_buf_.size()) break;
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
    if (c.pty) break;  // EIO while nobody has the terminal open: wait for the next one
    if (n < 0) return close_conn(c, "closed (read failed)");
    // The peer has finished sending but may still read: answer what came, then close. A
    // last line cut short by the end of input counts as complete, as with END on a bus.
    peer_done = true;
    if (!c.in.empty() && c.in.back() != '\n') c.in.push_back('\n');
    break;
  }
  const std::int64_t now = steady_now_us();
  std::size_t start = 0;
  for (;;) {
    const std::size_t nl = c.in.find('\n', start);
    if (nl == std::string::npos) break;
    handle_line(c, std::string_view(c.in).substr(start, nl - start), now);
    start = nl + 1;
    if (c.closing) {
      start = c.in.size();
      break;
    }
  }
  c.in.erase(0, start);
  if (peer_done) {
    c.peer_done = c.closing = true;
    c.in.clear();
  }
  if (c.in.size() > kMaxLine) {
    if (transcript_) transcript_->write(c.name, '*', "discarded an over-long line");
    c.in.clear();
  }
  flush(c);
}

void Server::release_delayed(std::int64_t now) {
  // By index: a VXI-11 link's reply may let its connection run calls that add links.
  for (std::size_t i = 0; i < conns_.size(); ++i) {
    Conn& c = *conns_[i];
    if (c.dead || c.delayed.empty()) continue;
    bool moved = false;
    while (!c.delayed.empty() && c.delayed.front().due_us <= now) {
      c.out.append(c.delayed.front().data);
      c.delayed.pop_front();
      moved = true;
    }
    if (moved || (c.closing && c.delayed.empty())) flush(c);
  }
}

int Server::timeout_ms(std::int64_t now) const {
  std::int64_t next = inst_.next_deadline_us();
  for (const auto& c : conns_) {
    if (!c->delayed.empty()) next = std::min(next, c->delayed.front().due_us);
    if (c->parked.active) next = std::min(next, c->parked.due_us);
  }
  if (next == std::numeric_limits<std::int64_t>::max()) return -1;
  if (next <= now) return 0;
  return static_cast<int>(std::min<std::int64_t>((next - now + 999) / 1000, 60'000));
}

void Server::run() {
  epoll_event events[64];
  while (!stopping_.load()) {
    const int n = epoll_wait(epoll_fd_, events, 64, timeout_ms(steady_now_us()));
    if (n < 0 && errno != EINTR) break;
    for (int i = 0; i < n; ++i) {
      const epoll_event& ev = events[i];
      if (ev.data.u64 == kListenTag) {
        accept_clients();
        continue;
      }
      if (ev.data.u64 == kVxi11ListenTag) {
        accept_vxi11();
        continue;
      }
      if (ev.data.u64 == kWakeTag) {
        std::uint64_t v;
        [[maybe_unused]] ssize_t r = ::read(wake_fd_, &v, sizeof v);
        continue;
      }
      Conn& c = *static_cast<Conn*>(ev.data.ptr);
      if (c.dead) continue;
      // Fully gone after saying it was done: nobody is left to take the delayed replies.
      if (!c.pty && c.peer_done && (ev.events & (EPOLLHUP | EPOLLERR))) {
        close_conn(c, "closed by peer");
        continue;
      }
      if (ev.events & (EPOLLIN | EPOLLHUP | EPOLLERR)) on_readable(c);
      if (!c.dead && (ev.events & EPOLLOUT)) flush(c);
    }
    const std::int64_t now = steady_now_us();
    inst_.advance(now);
    release_delayed(now);
    expire_reads(now);
    std::erase_if(conns_, [](const auto& c) { return c->dead; });
    if (transcript_) transcript_->flush();
  }
}

}  // namespace vmk40xx::sim
