// The emulator's transports: TCP clients and a pseudo-terminal standing in for the serial
// port, served by one epoll loop that feeds whole lines to the shared instrument.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "instrument.hpp"

namespace vmk40xx::sim {

// Every line received and sent, with a UTC timestamp, for reading a session afterwards.
class Transcript {
 public:
  Transcript() = default;
  ~Transcript();
  Transcript(const Transcript&) = delete;
  Transcript& operator=(const Transcript&) = delete;
  bool open(const std::string& path);
  // dir: '<' received, '>' sent, '*' an event of the connection
  void write(std::string_view who, char dir, std::string_view text, bool terminated = true);
  void flush();

 private:
  std::FILE* file_ = nullptr;
};

class Server {
 public:
  explicit Server(Instrument& instrument, Transcript* transcript = nullptr);
  ~Server();
  Server(const Server&) = delete;
  Server& operator=(const Server&) = delete;

  // Port 0 picks a free port; tcp_port() tells which.
  bool listen_tcp(const std::string& host, std::uint16_t port, std::string& error);
  std::uint16_t tcp_port() const { return port_; }
  bool open_pty(std::string& error);
  const std::string& pty_path() const { return pty_path_; }
  // VXI-11 (core and abort channels) on a TCP port of its own; port 0 picks a free one.
  bool listen_vxi11(const std::string& host, std::uint16_t port, std::string& error);
  std::uint16_t vxi11_port() const { return vxi11_port_; }
  // Registers the VXI-11 server with the portmapper (rpcbind), so that clients find it by the
  // host alone; the destructor withdraws it. False with the reason when rpcbind is not running
  // or another live server holds the registration.
  bool register_portmap(std::string& error);
  // Besides "inst0", a link may name the instrument as a LAN-to-GPIB gateway would:
  // "gpib0,<address>".
  void set_gpib_address(int address) { gpib_address_ = address; }

  // Serves until stop(). stop() may be called from another thread or a signal handler.
  void run();
  void stop();

  // How long the pseudo-terminal stays silent when the connection-close fault hits it: a
  // serial line cannot be closed, so the emulator drops off the line for a while instead.
  static constexpr std::int64_t kPtyDropUs = 1'000'000;

 private:
  struct Conn;
  void accept_clients();
  void on_readable(Conn& c);
  void handle_line(Conn& c, std::string_view line, std::int64_t now);
  void queue_reply(Conn& c, std::int64_t now);
  void flush(Conn& c);
  void release_delayed(std::int64_t now);
  void update_interest(Conn& c);
  void close_conn(Conn& c, std::string_view why);
  int timeout_ms(std::int64_t now) const;
  // VXI-11, in vxi11_server.cpp
  void accept_vxi11();
  void run_calls(Conn& c, std::int64_t now);
  bool handle_call(Conn& c, const std::string& record, std::int64_t now);
  bool try_read(Conn& c, Conn& link);
  void link_output_changed(Conn& link);
  void expire_reads(std::int64_t now);
  void drop_links(Conn& c);
  void unregister_portmap();
  Conn* find_link(int lid);

  Instrument& inst_;
  Transcript* transcript_;
  int epoll_fd_ = -1;
  int wake_fd_ = -1;
  int listen_fd_ = -1;
  int pty_slave_fd_ = -1;
  std::uint16_t port_ = 0;
  int vxi11_listen_fd_ = -1;
  std::uint16_t vxi11_port_ = 0;
  bool registered_ = false;
  int gpib_address_ = 5;
  int next_lid_ = 0;
  int lock_holder_ = -1;  // the link that holds the device lock
  std::string record_;
  std::string pty_path_;
  std::vector<std::unique_ptr<Conn>> conns_;
  std::atomic<bool> stopping_{false};
  std::uint64_t next_id_ = 1;
  std::string reply_;
  std::vector<char> read_buf_;
};

std::int64_t steady_now_us();

}  // namespace vmk40xx::sim
