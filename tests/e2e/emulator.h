// The emulator as a child process of a test: started on a free loopback port (or a
// pseudo-terminal), stopped when the object goes.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace vmk::test {

// How the test reaches the emulator. Every form but Pty also listens on TCP, for Send().
enum class Link {
  Socket,      // TCPIP0::127.0.0.1::<port>::SOCKET
  Pty,         // ASRL/dev/pts/<n>::INSTR
  Vxi11,       // TCPIP0::127.0.0.1::inst0::INSTR, found through the portmapper
  Vxi11Direct  // TCPIP0::127.0.0.1,<port>::inst0::INSTR, without the portmapper
};

class Emulator {
 public:
  // `args` are the emulator's options besides the transport; `pty` asks for a serial port.
  explicit Emulator(std::vector<std::string> args, bool pty = false)
      : Emulator(std::move(args), pty ? Link::Pty : Link::Socket) {}

  Emulator(std::vector<std::string> args, Link link) {
    const bool pty = link == Link::Pty;
    const bool vxi11 = link == Link::Vxi11 || link == Link::Vxi11Direct;
    if (vxi11) args.insert(args.begin(), "--vxi11");
    if (link == Link::Vxi11Direct) args.insert(args.begin(), "--no-portmap");
    args.insert(args.begin(), pty ? std::string("--pty") : std::string("--listen"));
    if (!pty) args.insert(args.begin() + 1, "127.0.0.1:0");
    int fds[2];
    if (pipe(fds) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      dup2(fds[1], STDOUT_FILENO);
      close(fds[0]);
      close(fds[1]);
      std::vector<char*> argv{const_cast<char*>(VMK40XX_SIM_PATH)};
      for (std::string& a : args) argv.push_back(a.data());
      argv.push_back(nullptr);
      execv(VMK40XX_SIM_PATH, argv.data());
      _exit(127);
    }
    close(fds[1]);
    out_ = fdopen(fds[0], "r");
    char line[512] = {};
    if (out_ && std::fgets(line, sizeof line, out_)) {
      std::string first(line);
      while (!first.empty() && (first.back() == '\n' || first.back() == '\r')) first.pop_back();
      resource_ = pty ? "ASRL" + first + "::INSTR" : "TCPIP0::127.0.0.1::" + first + "::SOCKET";
      if (!pty) port_ = std::stoi(first);
    }
    if (vxi11 && !resource_.empty()) {
      resource_.clear();
      if (out_ && std::fgets(line, sizeof line, out_)) {
        vxi11Port_ = std::atoi(line);
        resource_ = link == Link::Vxi11 ? "TCPIP0::127.0.0.1::inst0::INSTR"
                                        : "TCPIP0::127.0.0.1," + std::to_string(vxi11Port_) +
                                              "::inst0::INSTR";
      }
    }
  }
  ~Emulator() {
    if (pid_ > 0) {
      // A test may have stopped it. Continued first: a SIGCONT that came during its exit would
      // break the leak checker's stop of the process (under ASan) and hang it.
      kill(pid_, SIGCONT);
      kill(pid_, SIGTERM);
      waitpid(pid_, nullptr, 0);
    }
    if (out_) std::fclose(out_);
  }
  Emulator(const Emulator&) = delete;
  Emulator& operator=(const Emulator&) = delete;

  // The VISA resource that reaches it; empty when it did not start.
  const std::string& Resource() const { return resource_; }
  int Vxi11Port() const { return vxi11Port_; }
  pid_t Pid() const { return pid_; }

  // Sends one line on a connection of its own (emulator-only SIMulation: commands, say) and
  // gives the emulator time to take it. Faults that act on "the next reply" would hit a query
  // sent here to wait for it, so none is sent.
  bool Send(const std::string& line) const {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0) return false;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port_));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bool ok = connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    std::string text = line + "\n";
    ok = ok && write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    shutdown(fd, SHUT_WR);
    char reply[64];
    while (ok && read(fd, reply, sizeof reply) > 0) {
    }
    close(fd);
    return ok;
  }

 private:
  pid_t pid_ = -1;
  int port_ = 0;
  int vxi11Port_ = 0;
  FILE* out_ = nullptr;
  std::string resource_;
};

}  // namespace vmk::test
