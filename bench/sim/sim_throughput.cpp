// Query throughput of vmk40xx-sim on loopback with many queries in flight, so that a driver
// benchmark can tell whether the emulator is what it measures.
//
//   bench_sim_throughput [--sim PATH | --connect HOST:PORT] [--queries N] [--window W]
//                        [--clients C] [--model NAME]
#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

extern char** environ;

namespace {

constexpr double kTargetQueriesPerSecond = 50000;

// A mix of what a driver asks most: settings, measurements, status and identity.
constexpr std::string_view kQueries[] = {"VOLT?\n", "MEAS:CURR?\n", "STAT:QUES:COND?\n",
                                         "*IDN?\n", "CURR?\n",      "OUTP?\n"};

struct Child {
  pid_t pid = -1;
  std::uint16_t port = 0;
};

bool start_sim(const std::string& path, const std::string& model, Child& child) {
  int out[2];
  if (pipe(out) != 0) return false;
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_adddup2(&fa, out[1], STDOUT_FILENO);
  posix_spawn_file_actions_addclose(&fa, out[0]);
  std::vector<std::string> args = {path, "--listen", "127.0.0.1:0", "--model", model};
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  const int rc = posix_spawn(&child.pid, path.c_str(), &fa, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&fa);
  close(out[1]);
  if (rc != 0) {
    close(out[0]);
    return false;
  }
  std::string line;
  char ch;
  while (read(out[0], &ch, 1) == 1 && ch != '\n') line.push_back(ch);
  close(out[0]);
  child.port = static_cast<std::uint16_t>(std::atoi(line.c_str()));
  return child.port != 0;
}

int connect_to(const std::string& host, std::uint16_t port) {
  addrinfo hints{};
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* res = nullptr;
  if (getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &res) != 0) return -1;
  int fd = socket(res->ai_family, res->ai_socktype, res->ai_protocol);
  if (fd >= 0 && connect(fd, res->ai_addr, res->ai_addrlen) != 0) {
    close(fd);
    fd = -1;
  }
  freeaddrinfo(res);
  if (fd >= 0) {
    const int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
  }
  return fd;
}

// Keeps `window` queries in flight until `total` replies came back. Returns false on an error.
bool run_client(int fd, long total, long window) {
  long sent = 0, received = 0;
  std::string out;
  std::size_t out_off = 0;
  char in[65536];
  while (received < total) {
    while (sent < total && sent - received < window) {
      out.append(kQueries[static_cast<std::size_t>(sent) % std::size(kQueries)]);
      ++sent;
    }
    pollfd p{fd, static_cast<short>(POLLIN | (out_off < out.size() ? POLLOUT : 0)), 0};
    if (poll(&p, 1, 5000) <= 0) return false;
    if ((p.revents & POLLOUT) && out_off < out.size()) {
      const ssize_t n = send(fd, out.data() + out_off, out.size() - out_off, MSG_NOSIGNAL);
      if (n < 0 && errno != EAGAIN) return false;
      if (n > 0) out_off += static_cast<std::size_t>(n);
      if (out_off == out.size()) out.clear(), out_off = 0;
    }
    if (p.revents & (POLLIN | POLLHUP | POLLERR)) {
      const ssize_t n = recv(fd, in, sizeof in, 0);
      if (n == 0 || (n < 0 && errno != EAGAIN)) return false;
      for (ssize_t i = 0; i < n; ++i) received += in[i] == '\n';
    }
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  std::string sim = VMK40XX_SIM_PATH, model = "K4102A", host = "127.0.0.1";
  std::uint16_t port = 0;
  long queries = 300000, window = 256, clients = 1;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string_view opt = argv[i];
    const char* v = argv[i + 1];
    if (opt == "--sim")
      sim = v;
    else if (opt == "--model")
      model = v;
    else if (opt == "--queries")
      queries = std::atol(v);
    else if (opt == "--window")
      window = std::atol(v);
    else if (opt == "--clients")
      clients = std::atol(v);
    else if (opt == "--connect") {
      const std::string_view hp = v;
      const auto colon = hp.rfind(':');
      host = std::string(hp.substr(0, colon));
      port = static_cast<std::uint16_t>(std::atoi(std::string(hp.substr(colon + 1)).c_str()));
    } else {
      std::fprintf(stderr, "unknown option %s\n", argv[i]);
      return 2;
    }
  }
  if (queries <= 0 || window <= 0 || clients <= 0) return 2;

  Child child;
  if (port == 0) {
    if (!start_sim(sim, model, child)) {
      std::fprintf(stderr, "cannot start %s\n", sim.c_str());
      return 1;
    }
    port = child.port;
  }
  std::vector<int> fds;
  for (long c = 0; c < clients; ++c) fds.push_back(connect_to(host, port));
  bool ok = true;
  for (int fd : fds) ok &= fd >= 0;
  // A short warm-up so that connection set-up is not in the figure.
  for (int fd : fds) ok = ok && run_client(fd, 1000, window);

  const auto t0 = std::chrono::steady_clock::now();
  std::vector<std::thread> threads;
  std::vector<char> results(fds.size(), 0);
  for (std::size_t c = 0; c < fds.size(); ++c)
    threads.emplace_back([&, c] { results[c] = run_client(fds[c], queries / clients, window); });
  for (auto& t : threads) t.join();
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  for (char r : results) ok &= r != 0;

  for (int fd : fds)
    if (fd >= 0) close(fd);
  if (child.pid > 0) {
    kill(child.pid, SIGTERM);
    waitpid(child.pid, nullptr, 0);
  }
  if (!ok) {
    std::fprintf(stderr, "the emulator stopped answering\n");
    return 1;
  }
  const long done = (queries / clients) * clients;
  const double rate = static_cast<double>(done) / seconds;
  std::printf(
      "vmk40xx-sim throughput: %ld queries, %ld client(s), %ld in flight each, %.3f s: %.0f "
      "queries/s (target %.0f)\n",
      done, clients, window, seconds, rate, kTargetQueriesPerSecond);
  return rate >= kTargetQueriesPerSecond ? 0 : 1;
}
