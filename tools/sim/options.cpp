#include "options.hpp"

#include <charconv>
#include <cmath>
#include <string_view>

namespace vmk40xx::sim {
namespace {

template <typename T>
bool to_number(std::string_view s, T& v) {
  auto r = std::from_chars(s.data(), s.data() + s.size(), v);
  return r.ec == std::errc() && r.ptr == s.data() + s.size();
}

bool parse_ohms(std::string_view s, double& v) {
  if (s == "open" || s == "OPEN" || s == "inf") return v = kOpenCircuit, true;
  return to_number(s, v) && v >= 0;
}

// "10" for every output, "2=4.7" for one of them.
bool parse_load(std::string_view s, std::array<double, 3>& loads) {
  const auto eq = s.find('=');
  double ohms = 0;
  if (eq == std::string_view::npos) {
    if (!parse_ohms(s, ohms)) return false;
    loads.fill(ohms);
    return true;
  }
  int output = 0;
  if (!to_number(s.substr(0, eq), output) || output < 1 || output > 3) return false;
  if (!parse_ohms(s.substr(eq + 1), ohms)) return false;
  loads[static_cast<std::size_t>(output - 1)] = ohms;
  return true;
}

bool parse_address(std::string_view s, std::string& host_out, std::uint16_t& port) {
  const auto colon = s.rfind(':');
  if (colon == std::string_view::npos) return false;
  std::string_view host = s.substr(0, colon);
  if (host.size() >= 2 && host.front() == '[' && host.back() == ']')
    host = host.substr(1, host.size() - 2);
  host_out = std::string(host);
  return to_number(s.substr(colon + 1), port);
}

}  // namespace

bool parse_options(int argc, const char* const* argv, Options& o, std::string& error) {
  for (int i = 1; i < argc; ++i) {
    std::string_view arg = argv[i];
    std::string_view value;
    bool has_value = false;
    if (auto eq = arg.find('='); arg.starts_with("--") && eq != std::string_view::npos) {
      value = arg.substr(eq + 1);
      arg = arg.substr(0, eq);
      has_value = true;
    }
    auto need = [&]() -> bool {
      if (has_value) return true;
      if (i + 1 >= argc) {
        error = std::string(arg) + " needs a value";
        return false;
      }
      value = argv[++i];
      return true;
    };
    auto bad = [&](const char* what) {
      error =
          "invalid " + std::string(what) + " for " + std::string(arg) + ": " + std::string(value);
      return false;
    };
    Faults& f = o.instrument.faults;
    if (arg == "--help" || arg == "-h") {
      o.help = true;
    } else if (arg == "--pty") {
      o.pty = true;
    } else if (arg == "--listen") {
      if (!need()) return false;
      if (!parse_address(value, o.listen_host, o.listen_port)) return bad("address");
      o.listen = true;
    } else if (arg == "--vxi11") {
      // The address is optional, so it only comes as --vxi11=HOST:PORT.
      if (has_value && !parse_address(value, o.vxi11_host, o.vxi11_port)) return bad("address");
      o.vxi11 = true;
    } else if (arg == "--no-portmap") {
      o.portmap = false;
    } else if (arg == "--gpib-address") {
      if (!need()) return false;
      if (!to_number(value, o.gpib_address) || o.gpib_address < 0 || o.gpib_address > 30)
        return bad("address");
    } else if (arg == "--model") {
      if (!need()) return false;
      o.instrument.model = find_model(value);
      if (!o.instrument.model) return bad("model");
    } else if (arg == "--load") {
      if (!need()) return false;
      if (!parse_load(value, o.instrument.loads)) return bad("load");
    } else if (arg == "--noise") {
      if (!need()) return false;
      if (!to_number(value, o.instrument.noise) ||
          !(o.instrument.noise >= 0 && o.instrument.noise <= 0.5))
        return bad("noise");
    } else if (arg == "--seed") {
      if (!need()) return false;
      if (!to_number(value, o.instrument.seed)) return bad("seed");
    } else if (arg == "--serial") {
      if (!need()) return false;
      o.instrument.serial = std::string(value);
    } else if (arg == "--cal-code") {
      if (!need()) return false;
      if (value.empty() || value.size() > 12) return bad("code");
      o.instrument.cal_code = std::string(value);
    } else if (arg == "--delay") {
      if (!need()) return false;
      if (!to_number(value, f.delay_ms) || f.delay_ms < 0) return bad("delay");
    } else if (arg == "--close-after") {
      if (!need()) return false;
      if (!to_number(value, f.close_after) || f.close_after < 0) return bad("count");
    } else if (arg == "--garbage") {
      f.garbage_next = true;
    } else if (arg == "--drop-lf") {
      f.drop_lf_next = true;
    } else if (arg == "--esr") {
      if (!need()) return false;
      unsigned bits = 0;
      if (!to_number(value, bits) || bits > 255) return bad("bits");
      o.instrument.initial_esr = bits;
    } else if (arg == "--transcript") {
      if (!need()) return false;
      o.transcript = std::string(value);
    } else {
      error = "unknown option " + std::string(arg);
      return false;
    }
  }
  if (!o.listen && !o.pty && !o.vxi11) o.listen = true;  // the instrument's usual socket port
  return true;
}

std::string help_text() {
  std::string models;
  int n = 0;
  for (const ModelInfo* m = models_begin(); m != models_end(); ++m, ++n) {
    if (n) models += n % 7 == 0 ? ",\n                       " : ", ";
    models += m->name;
  }
  return R"(Usage: vmk40xx-sim [options]

Emulates a Velmora K40xx programmable DC power supply that speaks SCPI over TCP and/or a
pseudo-terminal. One instrument state is shared by every client. Input lines end with LF
(CR LF is accepted); every reply ends with LF.

Transports (without any, --listen 127.0.0.1:5025):
  --listen HOST:PORT   accept TCP clients; port 0 picks a free port. The port number is
                       printed alone on the first line of standard output.
  --pty                create a pseudo-terminal that behaves as the instrument's serial port;
                       its device path is printed on a line of standard output (after the
                       port line when --listen is given too).
  --vxi11[=HOST:PORT]  serve VXI-11 (default 127.0.0.1, a free port) and register it with
                       the portmapper, so that clients reach TCPIP::HOST::inst0::INSTR; the
                       port is printed on a line of its own, after the lines above. Without
                       rpcbind running this fails and says so. The instrument also answers
                       to the gateway device name gpib0,N (see --gpib-address).
  --no-portmap         serve VXI-11 without registering: clients must know the port
                       (TCPIP::HOST,PORT::inst0::INSTR)
  --gpib-address N     its address behind the emulated LAN/GPIB gateway (default 5)

Instrument:
  --model NAME         one of: )" +
         models + R"( (default K4102A)
  --serial TEXT        serial number field of *IDN? (default 0)
  --cal-code CODE      calibration security code (default VMK40XX); calibration starts
                       secured: CAL:SEC:STAT 0,VMK40XX unsecures it
  --load OHMS          resistive load on every output (default 10; "open" for none)
  --load N=OHMS        load on output N (1 to 3)
  --noise FRACTION     relative noise on MEAS? readings, 0 to 0.5 (default 0)
  --seed N             seed of the noise generator (default 1)

Fault injection (each can also be set at run time, see below):
  --delay MS           hold every reply back MS milliseconds
  --close-after N      close the connection after N more lines (on the pseudo-terminal:
                       go silent for one second instead)
  --garbage            answer the first query with garbage
  --drop-lf            send the first reply without its LF
  --esr BITS           set these standard event status bits at start (e.g. 32)

Other:
  --transcript FILE    append every line received and sent, with a UTC timestamp
  --help               this text

Emulator-only commands (not instrument commands; *RST leaves them alone):
  SIMulation:LOAD[n][:RESistance] OHMS|OPEN   load on output n (default: the selected one)
  SIMulation:LOAD[n]?                         load in ohms (9.9E+37 when open)
  SIMulation:FAULt:DELay MS                   hold every reply back MS ms (0 = off); ? reads
  SIMulation:FAULt:CLOSe N                    close the connection that sends the Nth next
                                              line after answering it (0 = off); ? reads
  SIMulation:FAULt:GARBage                    answer the next query with garbage
  SIMulation:FAULt:DROP                       send the next reply without its LF
  SIMulation:FAULt:ESR BITS                   set standard event status bits (0-255)
  SIMulation:FAULt:CLEar                      switch every fault off
  SIMulation:NOISe FRACTION                   relative measurement noise; ? reads
Faults belong to the instrument, so one client can arm them for another.
)";
}

}  // namespace vmk40xx::sim
