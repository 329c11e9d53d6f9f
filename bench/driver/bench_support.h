// What the driver benchmarks share: a driver created as a client creates it, BSTR arguments, and
// the emulator or an in-process responder as the instrument.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "vmk40xx/server.h"
#include "vmk40xx/vmk40xx.h"

namespace vmk::bench {

// A BSTR for the length of a call.
class Text {
 public:
  explicit Text(const std::string& s) {
    std::u16string wide(s.begin(), s.end());
    b_ = SysAllocString(wide.c_str());
  }
  ~Text() { SysFreeString(b_); }
  Text(const Text&) = delete;
  Text& operator=(const Text&) = delete;
  operator BSTR() const { return b_; }

 private:
  BSTR b_;
};

inline IVelmoraK40xx* NewDriver() {
  IClassFactory* factory = nullptr;
  IVelmoraK40xx* driver = nullptr;
  if (FAILED(DllGetClassObject(CLSID_VelmoraK40xx, IID_IClassFactory,
                               reinterpret_cast<void**>(&factory))))
    return nullptr;
  factory->CreateInstance(nullptr, IID_IVelmoraK40xx, reinterpret_cast<void**>(&driver));
  factory->Release();
  return driver;
}

[[noreturn]] inline void Fail(const char* what) {
  std::fprintf(stderr, "%s\n", what);
  std::exit(1);
}

// A session with `resource` and `options`, and the output `name` of it.
struct Session {
  Session(const std::string& resource, const std::string& options, const std::string& name) {
    driver = NewDriver();
    if (!driver) Fail("no driver object");
    if (FAILED(driver->Initialize(Text(resource), VARIANT_FALSE, VARIANT_FALSE, Text(options))))
      Fail("Initialize failed");
    IVelmoraK40xxOutputs* outputs = nullptr;
    if (FAILED(driver->get_Outputs(&outputs))) Fail("no outputs");
    if (FAILED(outputs->get_Item(Text(name), &output))) Fail("no such output");
    outputs->Release();
  }
  ~Session() {
    output->Release();
    driver->Close();
    driver->Release();
  }
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;
  IVelmoraK40xx* driver = nullptr;
  IVelmoraK40xxOutput* output = nullptr;
};

#ifdef VMK40XX_SIM_PATH
// The emulator as a child process on a free loopback port. Under valgrind the child runs
// natively: only the driver's process is counted.
class Emulator {
 public:
  explicit Emulator(const std::string& model) {
    int fds[2];
    if (pipe(fds) != 0) Fail("pipe");
    pid_ = fork();
    if (pid_ == 0) {
      dup2(fds[1], STDOUT_FILENO);
      close(fds[0]);
      close(fds[1]);
      execl(VMK40XX_SIM_PATH, VMK40XX_SIM_PATH, "--model", model.c_str(), "--listen",
            "127.0.0.1:0", static_cast<char*>(nullptr));
      _exit(127);
    }
    close(fds[1]);
    FILE* out = fdopen(fds[0], "r");
    char line[64] = {};
    if (!out || !std::fgets(line, sizeof line, out)) Fail("the emulator did not start");
    std::fclose(out);
    resource_ = "TCPIP0::127.0.0.1::" + std::to_string(std::atoi(line)) + "::SOCKET";
  }
  ~Emulator() {
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
  }
  Emulator(const Emulator&) = delete;
  Emulator& operator=(const Emulator&) = delete;
  const std::string& Resource() const { return resource_; }

 private:
  pid_t pid_ = -1;
  std::string resource_;
};
#endif

// An instrument that answers as fast as a thread can: "*IDN?" names `model`, every other query
// reads 5 V, and a line without a question mark gets no reply.
class Responder {
 public:
  explicit Responder(std::string model) : idn_("Velmora," + model + ",0,1.0\n") {
    listen_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(listen_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
        ::listen(listen_, 4) != 0)
      Fail("no listening socket");
    socklen_t len = sizeof a;
    ::getsockname(listen_, reinterpret_cast<sockaddr*>(&a), &len);
    port_ = ntohs(a.sin_port);
    resource_ = "TCPIP0::127.0.0.1::" + std::to_string(port_) + "::SOCKET";
    thread_ = std::thread([this] { Serve(); });
  }
  ~Responder() {
    ::shutdown(listen_, SHUT_RDWR);
    ::close(listen_);
    thread_.join();
    for (std::thread& t : connections_) t.join();
  }
  Responder(const Responder&) = delete;
  Responder& operator=(const Responder&) = delete;
  const std::string& Resource() const { return resource_; }
  int Port() const { return port_; }

 private:
  void Serve() {
    for (;;) {
      const int fd = ::accept(listen_, nullptr, nullptr);
      if (fd < 0) return;
      connections_.emplace_back([this, fd] { Answer(fd); });
    }
  }
  void Answer(int fd) const {
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    static constexpr char kVolts[] = "+5.000000E+00\n";
    char buf[4096];
    std::string pending;
    for (;;) {
      const ssize_t n = ::read(fd, buf, sizeof buf);
      if (n <= 0) break;
      pending.append(buf, static_cast<size_t>(n));
      for (size_t nl; (nl = pending.find('\n')) != std::string::npos;) {
        const std::string line = pending.substr(0, nl);
        pending.erase(0, nl + 1);
        if (line.empty() || line.back() != '?') continue;
        const bool ok = line == "*IDN?" ? ::write(fd, idn_.data(), idn_.size()) > 0
                                        : ::write(fd, kVolts, sizeof kVolts - 1) > 0;
        if (!ok) break;
      }
    }
    ::close(fd);
  }
  std::string idn_;
  std::string resource_;
  int port_ = 0;
  int listen_ = -1;
  std::thread thread_;
  std::vector<std::thread> connections_;
};

}  // namespace vmk::bench
