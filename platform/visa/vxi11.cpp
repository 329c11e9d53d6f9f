// TCPIP[board]::host[::device]::INSTR: a VXI-11 link on the instrument's core channel, through
// libtirpc and the stubs rpcgen makes from vxi11.x. The device name is "inst0" unless given;
// LAN-to-GPIB gateways take names such as "gpib0,5". "host,port" reaches a server at a known
// port without asking the host's portmapper.
//
// Every call carries the session's time-out to the instrument as its I/O time-out, and waits a
// second longer for the reply, so that the instrument's own time-out answer comes first and only
// a server that has stopped answering runs into the RPC time-out.
#include "vxi11.h"  // generated; first, as it brings the RPC headers in their order

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstring>
#include <random>

#include "platform/visa/portmap.h"
#include "platform/visa/transport.h"

namespace vmk::visa {
namespace {

constexpr int kFlagEnd = 0x08;
constexpr int kFlagTermCharSet = 0x80;
constexpr int kReasonCharacter = 0x02;
constexpr int kReasonEnd = 0x04;
constexpr int32_t kReplyMarginMs = 1000;
// A device that reports no limit, or an absurd one, still gets writes in pieces of this size.
constexpr uint32_t kDefaultMaxRecv = 4096;
constexpr uint32_t kLargestWrite = 1u << 20;

// The protocol's error codes: what each means, and the VISA status it becomes.
struct ErrorRow {
  int code;
  HRESULT status;
  const char* text;
};
constexpr ErrorRow kErrors[] = {
    {1, E_VISA_IO, "syntax error"},
    {3, E_VISA_RSRC_NFOUND, "device not accessible"},
    {4, E_VISA_CONN_LOST, "invalid link identifier (the server no longer knows the link)"},
    {5, E_VISA_IO, "parameter error"},
    {6, E_VISA_IO, "channel not established"},
    {8, E_VISA_NSUP_OPER, "operation not supported"},
    {9, E_VISA_ALLOC, "out of resources (too many links open on the instrument?)"},
    {11, E_VISA_RSRC_LOCKED, "device locked by another link"},
    {12, E_VISA_SESN_NLOCKED, "no lock held by this link"},
    {15, E_VISA_TMO, "I/O time-out"},
    {17, E_VISA_IO, "I/O error"},
    {21, E_VISA_INV_RSRC_NAME, "invalid address"},
    {23, E_VISA_ABORT, "aborted"},
    {29, E_VISA_IO, "channel already established"},
};

const ErrorRow* FindError(int code) {
  for (const ErrorRow& row : kErrors)
    if (row.code == code) return &row;
  return nullptr;
}

std::string ErrorText(int code) {
  const ErrorRow* row = FindError(code);
  return std::string(row ? row->text : "unknown error") + " (VXI-11 error " +
         std::to_string(code) + ")";
}

timeval ReplyWait(int32_t ioTimeoutMs) {
  // Long enough for "forever", short enough for libtirpc's millisecond arithmetic.
  const int64_t ms = ioTimeoutMs < 0 ? int64_t{2'000'000'000} : int64_t{ioTimeoutMs} + kReplyMarginMs;
  return timeval{static_cast<time_t>(ms / 1000), static_cast<suseconds_t>((ms % 1000) * 1000)};
}

// The instrument's I/O time-out: VISA's infinite is the protocol's largest value; 0 ("only what
// has arrived") becomes a short wait, as a time-out of 0 is refused by some servers.
u_int IoTimeout(int32_t ms) {
  return ms < 0 ? 0xFFFFFFFFu : static_cast<u_int>(std::max(ms, 10));
}

class Vxi11Link final : public Transport {
 public:
  Vxi11Link(CLIENT* client, Device_Link link, uint32_t maxRecv, std::string peer)
      : client_(client), link_(link), maxRecv_(maxRecv), peer_(std::move(peer)) {}

  ~Vxi11Link() override {
    // An instrument keeps a link whose socket just went away, and has few of them.
    Device_Link link = link_;
    Device_Error result{};
    timeval wait{1, 0};
    clnt_control(client_, CLSET_TIMEOUT, reinterpret_cast<char*>(&wait));
    destroy_link_1(&link, &result, client_);
    clnt_destroy(client_);
  }

  HRESULT Write(const uint8_t* data, size_t size, bool end, int32_t timeoutMs,
                std::string* error) override {
    timeoutMs_ = timeoutMs;
    const auto deadline = Deadline(timeoutMs);
    size_t sent = 0;
    do {
      const size_t piece = std::min<size_t>(size - sent, maxRecv_);
      const bool last = sent + piece == size;
      Device_WriteParms args{};
      args.lid = link_;
      args.io_timeout = IoTimeout(Left(deadline, timeoutMs));
      args.lock_timeout = 0;
      args.flags = last && end ? kFlagEnd : 0;
      args.data.data_len = static_cast<u_int>(piece);
      args.data.data_val = const_cast<char*>(reinterpret_cast<const char*>(data + sent));
      Device_WriteResp result{};
      const HRESULT hr =
          Call(device_write_1(&args, &result, Wait(args.io_timeout, timeoutMs)), "write", error);
      if (FAILED(hr)) return hr;
      if (result.error != 0)
        return Refused(result.error, "write to", sent, size, error);
      if (result.size != piece) {
        *error = peer_ + " took " + std::to_string(sent + result.size) + " of " +
                 std::to_string(size) + " bytes written";
        return E_VISA_IO;
      }
      sent += piece;
    } while (sent < size);
    return S_OK;
  }

  HRESULT Read(uint8_t* buffer, size_t max, size_t* got, bool* end, int32_t timeoutMs,
               std::string* error) override {
    timeoutMs_ = timeoutMs;
    *end = false;
    *got = 0;
    // A server may send more than was asked for: the surplus is the start of the next read.
    if (!surplus_.empty()) {
      *got = std::min(max, surplus_.size());
      std::memcpy(buffer, surplus_.data(), *got);
      surplus_.erase(0, *got);
      *end = surplus_.empty() && surplusEnd_;
      return S_OK;
    }
    const auto deadline = Deadline(timeoutMs);
    for (;;) {
      Device_ReadParms args{};
      args.lid = link_;
      args.requestSize = static_cast<u_int>(std::min<size_t>(max, 0x7FFFFFFF));
      args.io_timeout = IoTimeout(Left(deadline, timeoutMs));
      args.lock_timeout = 0;
      args.flags = stopByte_ >= 0 ? kFlagTermCharSet : 0;
      args.termChar = static_cast<char>(stopByte_ >= 0 ? stopByte_ : 0);
      Device_ReadResp result{};
      const HRESULT hr =
          Call(device_read_1(&args, &result, Wait(args.io_timeout, timeoutMs)), "read", error);
      if (FAILED(hr)) return hr;
      const int code = result.error;
      const size_t n = result.data.data_len;
      const bool complete = (result.reason & (kReasonEnd | kReasonCharacter)) != 0;
      *end = (result.reason & kReasonEnd) != 0;
      if (code == 0 && n > 0) {
        *got = std::min(n, max);
        std::memcpy(buffer, result.data.data_val, *got);
        surplus_.assign(result.data.data_val + *got, n - *got);
        surplusEnd_ = *end;
        if (!surplus_.empty()) *end = false;
      }
      xdr_free(reinterpret_cast<xdrproc_t>(xdr_Device_ReadResp), reinterpret_cast<char*>(&result));
      if (code != 0) {
        // The reply is still to come from the instrument: the next write must not find it.
        unfinished_ = true;
        if (code == 15) return E_VISA_TMO;
        return Refused(code, "read from", 0, 0, error);
      }
      unfinished_ = !complete;
      // An empty message carries nothing to give back; the one after it does.
      if (*got > 0) return S_OK;
      if (Left(deadline, timeoutMs) == 0) return E_VISA_TMO;
    }
  }

  // What the instrument still holds of an unfinished reply can only be dropped there.
  void DiscardInput() override {
    surplus_.clear();
    if (!unfinished_) return;
    std::string ignored;
    Clear(&ignored);
  }

  HRESULT Clear(std::string* error) override {
    surplus_.clear();
    unfinished_ = false;
    Device_GenericParms args = Generic();
    Device_Error result{};
    const HRESULT hr =
        Call(device_clear_1(&args, &result, Wait(args.io_timeout, timeoutMs_)), "clear", error);
    if (FAILED(hr)) return hr;
    return result.error ? Refused(result.error, "device clear of", 0, 0, error) : S_OK;
  }

  HRESULT ReadStb(SHORT* stb, std::string* error) override {
    Device_GenericParms args = Generic();
    Device_ReadStbResp result{};
    const HRESULT hr = Call(device_readstb_1(&args, &result, Wait(args.io_timeout, timeoutMs_)),
                            "serial poll", error);
    if (FAILED(hr)) return hr;
    if (result.error) return Refused(result.error, "serial poll of", 0, 0, error);
    *stb = static_cast<SHORT>(result.stb);
    return S_OK;
  }

  void SetReadTermination(int stopByte) override { stopByte_ = stopByte; }
  SHORT InterfaceType() const override { return INTF_TCPIP; }
  std::string SessionType() const override { return "INSTR"; }

 private:
  using Clock = std::chrono::steady_clock;

  static Clock::time_point Deadline(int32_t timeoutMs) {
    return Clock::now() + std::chrono::milliseconds(std::max(timeoutMs, 0));
  }
  // What is left of the time-out, for the pieces of one write or read.
  static int32_t Left(Clock::time_point deadline, int32_t timeoutMs) {
    if (timeoutMs < 0) return -1;
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return static_cast<int32_t>(std::clamp<int64_t>(left, 0, timeoutMs));
  }

  CLIENT* Wait(u_int ioTimeout, int32_t timeoutMs) {
    timeval wait = ReplyWait(timeoutMs < 0 ? -1 : static_cast<int32_t>(ioTimeout));
    clnt_control(client_, CLSET_TIMEOUT, reinterpret_cast<char*>(&wait));
    return client_;
  }

  Device_GenericParms Generic() const {
    Device_GenericParms args{};
    args.lid = link_;
    args.flags = 0;
    args.lock_timeout = 0;
    args.io_timeout = IoTimeout(timeoutMs_);
    return args;
  }

  HRESULT Call(clnt_stat status, const char* what, std::string* error) {
    if (status == RPC_SUCCESS) return S_OK;
    if (status == RPC_TIMEDOUT) {
      *error = "no answer from the VXI-11 server " + peer_ + " to a " + what + " within " +
               (timeoutMs_ < 0 ? std::string("its time") : std::to_string(timeoutMs_ + kReplyMarginMs) + " ms");
      return E_VISA_TMO;
    }
    *error = std::string("VXI-11 ") + what + " on " + peer_ + " failed: " + clnt_sperrno(status);
    return status == RPC_CANTRECV || status == RPC_CANTSEND ? E_VISA_CONN_LOST : E_VISA_IO;
  }

  HRESULT Refused(int code, const char* what, size_t sent, size_t size, std::string* error) {
    *error = std::string(what) + " " + peer_ + " failed: " + ErrorText(code);
    if (size) *error += " after " + std::to_string(sent) + " of " + std::to_string(size) + " bytes";
    const ErrorRow* row = FindError(code);
    // At open, "not accessible" means no such device; later it means the device went away.
    if (code == 3) return E_VISA_CONN_LOST;
    return row ? row->status : E_VISA_IO;
  }

  CLIENT* client_;
  Device_Link link_;
  uint32_t maxRecv_;
  std::string peer_;
  int32_t timeoutMs_ = 2000;  // the session's, as last seen on a read or write
  int stopByte_ = -1;
  bool unfinished_ = false;
  std::string surplus_;
  bool surplusEnd_ = false;
};

bool ParsePort(std::string_view text, uint16_t* port) {
  unsigned v = 0;
  const auto [p, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
  if (ec != std::errc() || p != text.data() + text.size() || v == 0 || v > 65535) return false;
  *port = static_cast<uint16_t>(v);
  return true;
}

}  // namespace

HRESULT OpenVxi11(const ResourceName& name, const OpenOptions&, int32_t openTimeoutMs,
                  std::unique_ptr<Transport>* out, std::string* error) {
  if (name.fields.empty() || name.fields.size() > 2) {
    *error = "\"" + name.text + "\": a LAN instrument is TCPIP[board]::host[::device]::INSTR";
    return E_VISA_INV_RSRC_NAME;
  }
  std::string host = name.fields[0];
  const std::string device = name.fields.size() == 2 ? name.fields[1] : "inst0";
  if (device.rfind("hislip", 0) == 0 || device.rfind("HISLIP", 0) == 0) {
    *error = "\"" + name.text + "\": HiSLIP is not available in this I/O library (VXI-11 is)";
    return E_VISA_NSUP_OPER;
  }
  uint16_t port = 0;
  if (const size_t comma = host.find(','); comma != std::string::npos) {
    if (!ParsePort(std::string_view(host).substr(comma + 1), &port)) {
      *error = "\"" + name.text + "\": \"" + host.substr(comma + 1) + "\" is not a TCP port number";
      return E_VISA_INV_RSRC_NAME;
    }
    host.resize(comma);
  }
  using Clock = std::chrono::steady_clock;
  const auto start = Clock::now();
  auto left = [&]() -> int32_t {
    if (openTimeoutMs < 0) return -1;
    const auto used =
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
    return static_cast<int32_t>(std::max<int64_t>(1, openTimeoutMs - used));
  };

  // The portmapper speaks IPv4 only (version 2, which every instrument has).
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* list = nullptr;
  if (const int gai = ::getaddrinfo(host.c_str(), nullptr, &hints, &list); gai != 0) {
    *error = "host \"" + host + "\" not found: " + ::gai_strerror(gai);
    return E_VISA_RSRC_NFOUND;
  }
  sockaddr_in address = *reinterpret_cast<const sockaddr_in*>(list->ai_addr);
  ::freeaddrinfo(list);
  if (port == 0) {
    std::string why;
    if (!PortmapGetPort(address.sin_addr, kVxi11CoreProgram, kVxi11CoreVersion, left(), &port,
                        &why)) {
      *error = "cannot find the VXI-11 server of " + host + ": " + why;
      return E_VISA_RSRC_NFOUND;
    }
    if (port == 0) {
      *error = host + " has no VXI-11 server: its portmapper knows none";
      return E_VISA_RSRC_NFOUND;
    }
  }
  address.sin_port = htons(port);
  const std::string peer = host + ":" + std::to_string(port);
  int err = 0;
  int fd = ConnectTcp(reinterpret_cast<const sockaddr*>(&address), sizeof address, left(), &err);
  if (fd < 0) {
    *error = err == ECONNREFUSED ? "connection to the VXI-11 server " + peer + " refused"
             : err == ETIMEDOUT  ? "no answer from the VXI-11 server " + peer + " within " +
                                      std::to_string(openTimeoutMs) + " ms"
                                 : "cannot connect to the VXI-11 server " + peer + ": " +
                                      SystemErrorText(err);
    return E_VISA_RSRC_NFOUND;
  }
  const int one = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  netbuf remote{sizeof address, sizeof address, &address};
  CLIENT* client = clnt_vc_create(fd, &remote, kVxi11CoreProgram, kVxi11CoreVersion, 0, 0);
  if (!client) {
    ::close(fd);
    *error = "cannot set up an RPC client for " + peer + ": " + clnt_spcreateerror("");
    return E_VISA_IO;
  }
  clnt_control(client, CLSET_FD_CLOSE, nullptr);

  static thread_local std::mt19937 rng{std::random_device{}()};
  Create_LinkParms args{};
  args.clientId = static_cast<int>(rng() & 0x7FFFFFFF);
  args.lockDevice = FALSE;
  args.lock_timeout = static_cast<u_int>(std::max(openTimeoutMs, 0));
  args.device = const_cast<char*>(device.c_str());
  Create_LinkResp result{};
  const int32_t wait = left();
  timeval tv = wait < 0 ? ReplyWait(-1) : timeval{wait / 1000, (wait % 1000) * 1000};
  clnt_control(client, CLSET_TIMEOUT, reinterpret_cast<char*>(&tv));
  const clnt_stat status = create_link_1(&args, &result, client);
  if (status != RPC_SUCCESS || result.error != 0) {
    clnt_destroy(client);
    if (status == RPC_TIMEDOUT) {
      *error = "no answer from the VXI-11 server " + peer + " within " +
               std::to_string(openTimeoutMs) + " ms";
      return E_VISA_RSRC_NFOUND;
    }
    if (status != RPC_SUCCESS) {
      *error = "VXI-11 link to " + peer + " failed: " + clnt_sperrno(status);
      return E_VISA_RSRC_NFOUND;
    }
    *error = "VXI-11 link refused by " + peer + " for device \"" + device + "\": " +
             ErrorText(result.error);
    return result.error == 11 ? E_VISA_RSRC_LOCKED : E_VISA_RSRC_NFOUND;
  }
  uint32_t maxRecv = result.maxRecvSize;
  if (maxRecv == 0) maxRecv = kDefaultMaxRecv;
  maxRecv = std::min(maxRecv, kLargestWrite);
  *out = std::make_unique<Vxi11Link>(client, result.lid, maxRecv, peer);
  return S_OK;
}

}  // namespace vmk::visa
