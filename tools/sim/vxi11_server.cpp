// The emulator as a VXI-11 instrument: the core channel's procedures on its own TCP port, the
// abort channel's device_abort on the same port, and registration with the portmapper.
//
// A link is a client of the instrument like a TCP connection: what device_write gives it is cut
// into lines for the instrument, and the replies wait in the link's output until device_read
// takes them. A device_read with nothing to take waits, in the event loop, for a reply or its
// I/O time-out; later calls on the same connection wait behind it, as RPC over one stream does.
#include "vxi11.h"  // generated; first, as it brings the RPC headers in their order

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <rpc/pmap_clnt.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>

#include "rpc.hpp"
#include "server.hpp"
#include "server_conn.hpp"

namespace vmk40xx::sim {
namespace {

constexpr std::uint64_t kVxi11ListenTag = 3;  // as in server.cpp
constexpr std::uint32_t kCoreProgram = DEVICE_CORE;
constexpr std::uint32_t kAbortProgram = DEVICE_ASYNC;
constexpr std::size_t kMaxRecord = 2u << 20;
constexpr std::uint32_t kMaxRecvSize = 64u * 1024;
constexpr int kFlagEnd = 0x08;
constexpr int kFlagTermCharSet = 0x80;
constexpr int kReasonRequestCount = 0x01;
constexpr int kReasonCharacter = 0x02;
constexpr int kReasonEnd = 0x04;
constexpr unsigned kMessageAvailable = 0x10;

// VXI-11 error codes the emulator answers with.
constexpr int kErrNone = 0;
constexpr int kErrNotAccessible = 3;
constexpr int kErrInvalidLink = 4;
constexpr int kErrNotSupported = 8;
constexpr int kErrLocked = 11;
constexpr int kErrNoLock = 12;
constexpr int kErrTimeout = 15;
constexpr int kErrAbort = 23;

template <class T>
bool decode(const std::string& record, std::size_t offset, xdrproc_t proc, T& value) {
  XDR x;
  xdrmem_create(&x, const_cast<char*>(record.data() + offset),
                static_cast<u_int>(record.size() - offset), XDR_DECODE);
  const bool ok = proc(&x, &value);
  xdr_destroy(&x);
  return ok;
}

template <class T>
void encode(std::string& out, xdrproc_t proc, T& value) {
  const std::size_t at = out.size();
  const unsigned long size = xdr_sizeof(proc, &value);
  out.resize(at + size);
  XDR x;
  xdrmem_create(&x, out.data() + at, static_cast<u_int>(size), XDR_ENCODE);
  proc(&x, &value);
  xdr_destroy(&x);
}

// Decoded arguments freed with their own routine, whatever path the call takes.
template <class T>
struct Args {
  explicit Args(xdrproc_t p) : proc(p) {}
  ~Args() { xdr_free(proc, reinterpret_cast<char*>(&value)); }
  Args(const Args&) = delete;
  Args& operator=(const Args&) = delete;
  xdrproc_t proc;
  T value{};
};

// Replies go to the output of the client's connection.
template <class R>
void reply(std::string& out, std::uint32_t xid, xdrproc_t proc, R& result) {
  const std::size_t start = rpc::begin_reply(out, xid, rpc::Accept::Success);
  encode(out, proc, result);
  rpc::mark_record(out, start);
}

void reply_error(std::string& out, std::uint32_t xid, int error) {
  Device_Error result{error};
  reply(out, xid, reinterpret_cast<xdrproc_t>(xdr_Device_Error), result);
}

void refuse(std::string& out, std::uint32_t xid, rpc::Accept why) {
  const std::size_t start = rpc::begin_reply(out, xid, why);
  rpc::mark_record(out, start);
}

bool portmapper_running() {
  // rpcbind answers on port 111; a refusal comes at once when it is not there.
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(111);
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const bool up = ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
  ::close(fd);
  return up;
}

bool port_answers(std::uint16_t port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const bool up = ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
  ::close(fd);
  return up;
}

}  // namespace

bool Server::listen_vxi11(const std::string& host, std::uint16_t port, std::string& error) {
  addrinfo hints{};
  hints.ai_family = AF_INET;  // the portmapper of VXI-11 speaks IPv4
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
  addrinfo* res = nullptr;
  const std::string service = std::to_string(port);
  if (int rc = getaddrinfo(host.empty() ? nullptr : host.c_str(), service.c_str(), &hints, &res);
      rc != 0) {
    error = "cannot resolve " + host + " for VXI-11: " + gai_strerror(rc);
    return false;
  }
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  const int one = 1;
  if (fd >= 0) setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  const bool ok = fd >= 0 && bind(fd, res->ai_addr, res->ai_addrlen) == 0 && ::listen(fd, 16) == 0;
  freeaddrinfo(res);
  if (!ok) {
    error = std::string("cannot listen for VXI-11: ") + std::strerror(errno);
    if (fd >= 0) ::close(fd);
    return false;
  }
  sockaddr_in bound{};
  socklen_t len = sizeof bound;
  getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &len);
  vxi11_port_ = ntohs(bound.sin_port);
  vxi11_listen_fd_ = fd;
  epoll_event ev{};
  ev.events = EPOLLIN;
  ev.data.u64 = kVxi11ListenTag;
  epoll_ctl(epoll_fd_, EPOLL_CTL_ADD, fd, &ev);
  return true;
}

bool Server::register_portmap(std::string& error) {
  if (!portmapper_running()) {
    error =
        "cannot register the VXI-11 server: the portmapper (rpcbind) is not running, so clients "
        "cannot find it by host name alone (start rpcbind, or use --no-portmap and give clients "
        "host,port)";
    return false;
  }
  if (pmap_set(kCoreProgram, DEVICE_CORE_VERSION, IPPROTO_TCP, vxi11_port_)) {
    registered_ = true;
    return true;
  }
  // One registration per program and machine. Take it over only from a server that is gone.
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const std::uint16_t held = pmap_getport(&local, kCoreProgram, DEVICE_CORE_VERSION, IPPROTO_TCP);
  if (held != 0 && port_answers(held)) {
    error = "cannot register the VXI-11 server: another one is registered with the portmapper "
            "(port " + std::to_string(held) + "); only one per machine can be found through it";
    return false;
  }
  pmap_unset(kCoreProgram, DEVICE_CORE_VERSION);
  if (!pmap_set(kCoreProgram, DEVICE_CORE_VERSION, IPPROTO_TCP, vxi11_port_)) {
    error = "cannot register the VXI-11 server: the portmapper refused the registration";
    return false;
  }
  registered_ = true;
  return true;
}

void Server::unregister_portmap() {
  if (!registered_) return;
  // Withdraw only our own: a later emulator may have taken the registration over.
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (pmap_getport(&local, kCoreProgram, DEVICE_CORE_VERSION, IPPROTO_TCP) == vxi11_port_)
    pmap_unset(kCoreProgram, DEVICE_CORE_VERSION);
  registered_ = false;
}

void Server::accept_vxi11() {
  for (;;) {
    const int fd = accept4(vxi11_listen_fd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) return;
    const int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    auto c = std::make_unique<Conn>();
    c->fd = fd;
    c->rpc = true;
    c->name = "vxi11-" + std::to_string(next_id_++);
    if (transcript_) transcript_->write(c->name, '*', "connected");
    epoll_event ev{};
    ev.events = EPOLLIN;
    ev.data.ptr = c.get();
    epoll_ctl(epoll_fd_, EPOLL_CTL_ADD, fd, &ev);
    conns_.push_back(std::move(c));
  }
}

Server::Conn* Server::find_link(int lid) {
  for (auto& c : conns_)
    if (c->owner && !c->dead && c->lid == lid) return c.get();
  return nullptr;
}

void Server::drop_links(Conn& c) {
  for (auto& l : conns_) {
    if (l->owner != &c || l->dead) continue;
    if (lock_holder_ == l->lid) lock_holder_ = -1;
    l->dead = true;
  }
}

void Server::run_calls(Conn& c, std::int64_t now) {
  while (!c.dead && !c.parked.active) {
    bool too_big = false;
    if (!rpc::take_record(c.in, record_, kMaxRecord, too_big)) {
      if (too_big) close_conn(c, "closed (RPC record too large)");
      return;
    }
    if (!handle_call(c, record_, now)) return;
  }
}

// Gives the parked read of `c` what `link` has; false while it has nothing.
bool Server::try_read(Conn& c, Conn& link) {
  Conn::ParkedRead& p = c.parked;
  const std::size_t available = link.out.size() - link.out_off;
  if (available == 0) return false;
  std::size_t take = std::min<std::size_t>(available, p.request);
  int reason = 0;
  if (p.term_char >= 0) {
    const void* hit = std::memchr(link.out.data() + link.out_off, p.term_char, take);
    if (hit) {
      take = static_cast<std::size_t>(static_cast<const char*>(hit) -
                                      (link.out.data() + link.out_off)) + 1;
      reason |= kReasonCharacter;
    }
  }
  // Each reply is one message: END goes with its last byte, which is where the output runs out.
  if (take == available) reason |= kReasonEnd;
  if (take == p.request) reason |= kReasonRequestCount;
  Device_ReadResp result{};
  result.error = kErrNone;
  result.reason = reason;
  result.data.data_len = static_cast<u_int>(take);
  result.data.data_val = link.out.data() + link.out_off;
  reply(c.out, p.xid, reinterpret_cast<xdrproc_t>(xdr_Device_ReadResp), result);
  link.out_off += take;
  if (link.out_off == link.out.size()) {
    link.out.clear();
    link.out_off = 0;
  }
  p.active = false;
  return true;
}

void Server::link_output_changed(Conn& link) {
  Conn* c = link.owner;
  if (!c || c->dead) return;
  if (c->parked.active && c->parked.lid == link.lid && try_read(*c, link)) {
    flush(*c);
    run_calls(*c, steady_now_us());
  }
  // The close fault: the connection goes once the reply that armed it has been read.
  if (link.closing && link.out.empty() && link.delayed.empty() && !c->dead)
    close_conn(*c, "closed by fault injection");
  if (!c->dead) flush(*c);
}

void Server::expire_reads(std::int64_t now) {
  for (std::size_t i = 0; i < conns_.size(); ++i) {
    Conn& c = *conns_[i];
    if (c.dead || !c.parked.active || c.parked.due_us > now) continue;
    c.parked.active = false;
    Device_ReadResp result{};
    result.error = kErrTimeout;
    reply(c.out, c.parked.xid, reinterpret_cast<xdrproc_t>(xdr_Device_ReadResp), result);
    if (transcript_) transcript_->write(c.name, '*', "device_read timed out");
    run_calls(c, now);
    flush(c);
  }
}

// One call; false when it waits (a device_read with nothing to read yet).
bool Server::handle_call(Conn& c, const std::string& record, std::int64_t now) {
  rpc::Call call;
  if (!rpc::parse_call(record, call)) {
    close_conn(c, "closed (not an RPC call)");
    return false;
  }
  const std::size_t at = call.args_offset;
  auto garbage = [&] {
    refuse(c.out, call.xid, rpc::Accept::GarbageArguments);
    return true;
  };
  if (call.program == kAbortProgram) {
    if (call.version != DEVICE_ASYNC_VERSION) {
      refuse(c.out, call.xid, rpc::Accept::ProgramMismatch);
      return true;
    }
    if (call.procedure != 1) {
      refuse(c.out, call.xid, rpc::Accept::ProcedureUnavailable);
      return true;
    }
    Device_Link lid = 0;
    if (!decode(record, at, reinterpret_cast<xdrproc_t>(xdr_Device_Link), lid)) return garbage();
    Conn* link = find_link(lid);
    if (!link) {
      reply_error(c.out, call.xid, kErrInvalidLink);
      return true;
    }
    // The read waiting on the link's own connection ends with "aborted".
    Conn& owner = *link->owner;
    if (owner.parked.active && owner.parked.lid == lid) {
      owner.parked.active = false;
      Device_ReadResp aborted{};
      aborted.error = kErrAbort;
      reply(owner.out, owner.parked.xid, reinterpret_cast<xdrproc_t>(xdr_Device_ReadResp), aborted);
      flush(owner);
    }
    reply_error(c.out, call.xid, kErrNone);
    if (&owner != &c) run_calls(owner, now);
    return true;
  }
  if (call.program != kCoreProgram) {
    refuse(c.out, call.xid, rpc::Accept::ProgramUnavailable);
    return true;
  }
  if (call.version != DEVICE_CORE_VERSION) {
    refuse(c.out, call.xid, rpc::Accept::ProgramMismatch);
    return true;
  }

  // The calls on a link: the link, or the error its id deserves.
  auto link_of = [&](int lid) -> Conn* {
    Conn* link = find_link(lid);
    return link && link->owner == &c ? link : nullptr;
  };
  auto locked_out = [&](int lid) { return lock_holder_ >= 0 && lock_holder_ != lid; };

  switch (call.procedure) {
    case create_link: {
      Args<Create_LinkParms> args(reinterpret_cast<xdrproc_t>(xdr_Create_LinkParms));
      if (!decode(record, at, args.proc, args.value)) return garbage();
      std::string device = args.value.device ? args.value.device : "";
      std::transform(device.begin(), device.end(), device.begin(),
                     [](unsigned char ch) { return static_cast<char>(std::tolower(ch)); });
      Create_LinkResp result{};
      const std::string gateway = "gpib0," + std::to_string(gpib_address_);
      if (device != "inst0" && device != gateway) {
        result.error = kErrNotAccessible;
        if (transcript_)
          transcript_->write(c.name, '*', "create_link refused for device " + device);
        reply(c.out, call.xid, reinterpret_cast<xdrproc_t>(xdr_Create_LinkResp), result);
        return true;
      }
      if (args.value.lockDevice && lock_holder_ >= 0) {
        result.error = kErrLocked;
        reply(c.out, call.xid, reinterpret_cast<xdrproc_t>(xdr_Create_LinkResp), result);
        return true;
      }
      auto link = std::make_unique<Conn>();
      link->owner = &c;
      link->lid = next_lid_++;
      link->name = c.name + "/" + device;
      if (args.value.lockDevice) lock_holder_ = link->lid;
      result.error = kErrNone;
      result.lid = link->lid;
      result.abortPort = vxi11_port_;
      result.maxRecvSize = kMaxRecvSize;
      if (transcript_) transcript_->write(link->name, '*', "link " + std::to_string(link->lid));
      conns_.push_back(std::move(link));
      reply(c.out, call.xid, reinterpret_cast<xdrproc_t>(xdr_Create_LinkResp), result);
      return true;
    }
    case device_write: {
      Args<Device_WriteParms> args(reinterpret_cast<xdrproc_t>(xdr_Device_WriteParms));
      if (!decode(record, at, args.proc, args.value)) return garbage();
      Device_WriteResp result{};
      Conn* link = link_of(args.value.lid);
      if (!link || locked_out(args.value.lid)) {
        result.error = link ? kErrLocked : kErrInvalidLink;
        reply(c.out, call.xid, reinterpret_cast<xdrproc_t>(xdr_Device_WriteResp), result);
        return true;
      }
      link->in.append(args.value.data.data_val, args.value.data.data_len);
      // END ends the message, and so the line, with or without a line feed.
      if ((args.value.flags & kFlagEnd) && !link->in.empty() && link->in.back() != '\n')
        link->in.push_back('\n');
      std::size_t start = 0;
      for (std::size_t nl; !link->closing && (nl = link->in.find('\n', start)) != std::string::npos;
           start = nl + 1)
        handle_line(*link, std::string_view(link->in).substr(start, nl - start), now);
      link->in.erase(0, link->closing ? link->in.size() : start);
      result.error = kErrNone;
      result.size = args.value.data.data_len;
      reply(c.out, call.xid, reinterpret_cast<xdrproc_t>(xdr_Device_WriteResp), result);
      return true;
    }
    case device_read: {
      Device_ReadParms args{};
      if (!decode(record, at, reinterpret_cast<xdrproc_t>(xdr_Device_ReadParms), args))
        return garbage();
      Conn* link = link_of(args.lid);
      if (!link || locked_out(args.lid) || args.requestSize == 0) {
        Device_ReadResp result{};
        result.error = !link ? kErrInvalidLink : args.requestSize == 0 ? 5 : kErrLocked;
        reply(c.out, call.xid, reinterpret_cast<xdrproc_t>(xdr_Device_ReadResp), result);
        return true;
      }
      Conn::ParkedRead& p = c.parked;
      p.active = true;
      p.xid = call.xid;
      p.lid = args.lid;
      p.request = args.requestSize;
      p.term_char = (args.flags & kFlagTermCharSet) ? static_cast<unsigned char>(args.termChar) : -1;
      // The protocol's largest time-out is "forever"; the event loop's clock holds the rest.
      const std::int64_t wait_ms = std::min<std::int64_t>(args.io_timeout, 10LL * 24 * 3600 * 1000);
      p.due_us = now + wait_ms * 1000;
      if (try_read(c, *link)) {
        // A reply that completes the close fault's line: the connection goes after it.
        if (link->closing && link->out.empty() && link->delayed.empty()) {
          flush(c);
          close_conn(c, "closed by fault injection");
          return false;
        }
        return true;
      }
      return false;
    }
    case device_readstb: {
      Device_GenericParms args{};
      if (!decode(record, at, reinterpret_cast<xdrproc_t>(xdr_Device_GenericParms), args))
        return garbage();
      Device_ReadStbResp result{};
      Conn* link = link_of(args.lid);
      if (!link) {
        result.error = kErrInvalidLink;
      } else {
        const bool mav = link->out.size() > link->out_off || !link->delayed.empty();
        result.stb = static_cast<u_char>(inst_.status_byte() | (mav ? kMessageAvailable : 0));
      }
      reply(c.out, call.xid, reinterpret_cast<xdrproc_t>(xdr_Device_ReadStbResp), result);
      return true;
    }
    case device_clear:
    case device_trigger:
    case device_remote:
    case device_local: {
      Device_GenericParms args{};
      if (!decode(record, at, reinterpret_cast<xdrproc_t>(xdr_Device_GenericParms), args))
        return garbage();
      Conn* link = link_of(args.lid);
      if (!link || locked_out(args.lid)) {
        reply_error(c.out, call.xid, link ? kErrLocked : kErrInvalidLink);
        return true;
      }
      if (call.procedure == device_clear) {
        // Device clear: unparsed input and unread replies are gone, the settings stay.
        link->in.clear();
        link->out.clear();
        link->out_off = 0;
        link->delayed.clear();
        if (transcript_) transcript_->write(link->name, '*', "device clear");
      } else if (call.procedure == device_trigger) {
        handle_line(*link, "*TRG", now);
      } else if (call.procedure == device_remote) {
        handle_line(*link, "SYST:REM", now);
      } else {
        handle_line(*link, "SYST:LOC", now);
      }
      reply_error(c.out, call.xid, kErrNone);
      return true;
    }
    case device_lock: {
      Device_LockParms args{};
      if (!decode(record, at, reinterpret_cast<xdrproc_t>(xdr_Device_LockParms), args))
        return garbage();
      Conn* link = link_of(args.lid);
      int error = kErrNone;
      if (!link)
        error = kErrInvalidLink;
      else if (locked_out(args.lid))
        error = kErrLocked;  // the lock is not waited for: the emulator has one client at a time
      else
        lock_holder_ = args.lid;
      reply_error(c.out, call.xid, error);
      return true;
    }
    case device_unlock:
    case destroy_link: {
      Device_Link lid = 0;
      if (!decode(record, at, reinterpret_cast<xdrproc_t>(xdr_Device_Link), lid)) return garbage();
      Conn* link = link_of(lid);
      int error = link ? kErrNone : kErrInvalidLink;
      if (call.procedure == device_unlock) {
        if (link && lock_holder_ != lid) error = kErrNoLock;
        if (error == kErrNone) lock_holder_ = -1;
      } else if (link) {
        if (lock_holder_ == lid) lock_holder_ = -1;
        if (transcript_) transcript_->write(link->name, '*', "link destroyed");
        link->dead = true;
      }
      reply_error(c.out, call.xid, error);
      return true;
    }
    case device_enable_srq:
    case create_intr_chan:
    case destroy_intr_chan:
      // Service requests need the client's interrupt channel, which the emulator does not call.
      reply_error(c.out, call.xid, kErrNotSupported);
      return true;
    case device_docmd: {
      Device_DocmdResp result{};
      result.error = kErrNotSupported;
      reply(c.out, call.xid, reinterpret_cast<xdrproc_t>(xdr_Device_DocmdResp), result);
      return true;
    }
    default:
      refuse(c.out, call.xid, rpc::Accept::ProcedureUnavailable);
      return true;
  }
}

}  // namespace vmk40xx::sim
