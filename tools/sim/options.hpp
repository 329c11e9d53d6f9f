// Command line of vmk40xx-sim.
#pragma once

#include <cstdint>
#include <string>

#include "instrument.hpp"

namespace vmk40xx::sim {

struct Options {
  bool listen = false;
  std::string listen_host = "127.0.0.1";
  std::uint16_t listen_port = 5025;
  bool pty = false;
  bool vxi11 = false;
  std::string vxi11_host = "127.0.0.1";
  std::uint16_t vxi11_port = 0;
  bool portmap = true;
  int gpib_address = 5;
  std::string transcript;
  bool help = false;
  InstrumentOptions instrument;
};

// Returns false with a message for the user when the command line is wrong.
bool parse_options(int argc, const char* const* argv, Options& out, std::string& error);
std::string help_text();

}  // namespace vmk40xx::sim
