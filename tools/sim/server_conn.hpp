// One client of the emulator as the server keeps it: a TCP connection, the pseudo-terminal, a
// VXI-11 client's connection, or one of the links such a client opened on it.
#pragma once

#include <cstdint>
#include <deque>
#include <string>

#include "server.hpp"

namespace vmk40xx::sim {

struct Server::Conn {
  int fd = -1;
  bool pty = false;
  std::string name;
  std::string in;
  std::string out;
  std::size_t out_off = 0;
  struct Delayed {
    std::int64_t due_us;
    std::string data;
  };
  std::deque<Delayed> delayed;
  bool closing = false;    // close once everything queued has gone out
  bool peer_done = false;  // the peer shut down its sending side
  bool dead = false;
  bool watching_out = false;
  bool watching_in = true;
  std::int64_t silent_until_us = 0;

  // A VXI-11 client's connection carries RPC records; `in` holds what is not yet a record.
  bool rpc = false;
  // A link of such a client (no descriptor of its own): `in` holds what device_write gave that
  // is not yet a line, `out` the replies that device_read has not taken.
  Conn* owner = nullptr;
  int lid = -1;
  // The device_read a connection waits on until its link has a reply or the time runs out.
  struct ParkedRead {
    bool active = false;
    std::uint32_t xid = 0;
    int lid = -1;
    std::uint32_t request = 0;
    int term_char = -1;
    std::int64_t due_us = 0;
  } parked;
};

}  // namespace vmk40xx::sim
