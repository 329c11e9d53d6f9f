// vmk40xx-sim: a K40xx power supply on a TCP port, a pseudo-terminal or VXI-11.
#include <csignal>
#include <cstdio>
#include <string>

#include "options.hpp"
#include "server.hpp"

namespace {

vmk40xx::sim::Server* g_server = nullptr;

extern "C" void on_signal(int) {
  if (g_server) g_server->stop();
}

}  // namespace

int main(int argc, char** argv) {
  using namespace vmk40xx::sim;
  Options opts;
  std::string error;
  if (!parse_options(argc, argv, opts, error)) {
    std::fprintf(stderr, "vmk40xx-sim: %s (see --help)\n", error.c_str());
    return 2;
  }
  if (opts.help) {
    std::fputs(help_text().c_str(), stdout);
    return 0;
  }
  Transcript transcript;
  if (!opts.transcript.empty() && !transcript.open(opts.transcript)) {
    std::fprintf(stderr, "vmk40xx-sim: cannot open transcript %s\n", opts.transcript.c_str());
    return 1;
  }
  Instrument instrument(opts.instrument);
  Server server(instrument, opts.transcript.empty() ? nullptr : &transcript);
  if (opts.listen && !server.listen_tcp(opts.listen_host, opts.listen_port, error)) {
    std::fprintf(stderr, "vmk40xx-sim: %s\n", error.c_str());
    return 1;
  }
  if (opts.pty && !server.open_pty(error)) {
    std::fprintf(stderr, "vmk40xx-sim: %s\n", error.c_str());
    return 1;
  }
  if (opts.vxi11) {
    server.set_gpib_address(opts.gpib_address);
    if (!server.listen_vxi11(opts.vxi11_host, opts.vxi11_port, error) ||
        (opts.portmap && !server.register_portmap(error))) {
      std::fprintf(stderr, "vmk40xx-sim: %s\n", error.c_str());
      return 1;
    }
  }
  // Whoever started us reads these lines to find us, so they go out at once.
  if (opts.listen) std::printf("%u\n", static_cast<unsigned>(server.tcp_port()));
  if (opts.pty) std::printf("%s\n", server.pty_path().c_str());
  if (opts.vxi11) std::printf("%u\n", static_cast<unsigned>(server.vxi11_port()));
  std::fflush(stdout);

  g_server = &server;
  struct sigaction sa {};
  sa.sa_handler = on_signal;
  sigemptyset(&sa.sa_mask);
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);
  std::signal(SIGPIPE, SIG_IGN);
  server.run();
  g_server = nullptr;
  return 0;
}
