// ASRL[n]::INSTR and ASRL/dev/<device>::INSTR: a serial line through termios. ASRL1 is
// /dev/ttyS0, as VISA numbers serial ports on Linux; the path form reaches USB adapters and
// pseudo-terminals. Line settings: VISA's 9600 baud 8N1 without flow control, changed by the
// environment variable VMK40XX_ASRL_OPTIONS and then by the open option string.
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <cstring>

#include "platform/com/ascii.h"
#include "platform/visa/transport.h"

namespace vmk::visa {
namespace {

std::string ErrnoText(int err) {
  char buf[256];
  const char* text = strerror_r(err, buf, sizeof buf);
  return text;
}

struct LineSettings {
  long baud = 9600;
  int dataBits = 8;
  int parity = 0;     // NONE 0, ODD 1, EVEN 2, MARK 3, SPACE 4
  int stopBits = 10;  // ONE 10, ONE5 15, TWO 20
  int flow = 0;       // NONE 0, XON/XOFF 1, RTS/CTS 2 (DTR/DSR 4 has no termios form)
};

bool ToInt(const std::string& s, long* v) {
  const auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), *v);
  return ec == std::errc() && p == s.data() + s.size();
}

std::string Upper(std::string s) {
  for (char& c : s) c = ascii::Upper(c);
  return s;
}

// Accepts VISA's numbers and its names without the ASRL_ prefix.
bool ApplySetting(const std::string& name, const std::string& rawValue, LineSettings* s,
                  std::string* why) {
  std::string value = Upper(rawValue);
  if (value.rfind("ASRL_", 0) == 0) value = value.substr(5);
  long v = 0;
  const bool numeric = ToInt(value, &v);
  auto bad = [&] {
    *why = "serial setting " + name + " = \"" + rawValue + "\" is not valid";
    return false;
  };
  if (name == "BAUDRATE") {
    if (!numeric || v <= 0) return bad();
    s->baud = v;
  } else if (name == "DATABITS") {
    if (!numeric || v < 5 || v > 8) return bad();
    s->dataBits = static_cast<int>(v);
  } else if (name == "PARITY") {
    static constexpr std::string_view kNames[] = {"PAR_NONE", "PAR_ODD", "PAR_EVEN", "PAR_MARK",
                                                  "PAR_SPACE"};
    int found = -1;
    for (int i = 0; i < 5; ++i)
      if (value == kNames[i] || value == kNames[i].substr(4)) found = i;
    if (numeric && v >= 0 && v <= 4) found = static_cast<int>(v);
    if (found < 0) return bad();
    s->parity = found;
  } else if (name == "STOPBITS") {
    if (value == "1" || value == "10" || value == "STOP_ONE")
      s->stopBits = 10;
    else if (value == "1.5" || value == "15" || value == "STOP_ONE5")
      s->stopBits = 15;
    else if (value == "2" || value == "20" || value == "STOP_TWO")
      s->stopBits = 20;
    else
      return bad();
  } else if (name == "FLOWCONTROL") {
    if (value == "FLOW_NONE" || value == "NONE")
      v = 0;
    else if (value == "FLOW_XON_XOFF" || value == "XON_XOFF")
      v = 1;
    else if (value == "FLOW_RTS_CTS" || value == "RTS_CTS")
      v = 2;
    else if (!numeric)
      return bad();
    if (v != 0 && v != 1 && v != 2) {
      *why = "serial flow control " + rawValue + " is not available (NONE, XON_XOFF, RTS_CTS)";
      return false;
    }
    s->flow = static_cast<int>(v);
  }
  // Other names (Timeout, ...) are session settings, applied by the session.
  return true;
}

bool BaudConstant(long baud, speed_t* out) {
  static constexpr struct {
    long baud;
    speed_t code;
  } kRates[] = {{50, B50},         {75, B75},         {110, B110},       {134, B134},
                {150, B150},       {200, B200},       {300, B300},       {600, B600},
                {1200, B1200},     {1800, B1800},     {2400, B2400},     {4800, B4800},
                {9600, B9600},     {19200, B19200},   {38400, B38400},   {57600, B57600},
                {115200, B115200}, {230400, B230400}, {460800, B460800}, {921600, B921600}};
  for (const auto& r : kRates)
    if (r.baud == baud) {
      *out = r.code;
      return true;
    }
  return false;
}

class SerialPort final : public Transport {
 public:
  SerialPort(int fd, std::string path) : fd_(fd), path_(std::move(path)) {}
  ~SerialPort() override { ::close(fd_); }

  HRESULT Write(const uint8_t* data, size_t size, bool, int32_t timeoutMs,
                std::string* error) override {
    size_t sent = 0;
    while (sent < size) {
      const ssize_t n = ::write(fd_, data + sent, size - sent);
      if (n > 0) {
        sent += static_cast<size_t>(n);
        continue;
      }
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
        pollfd p{fd_, POLLOUT, 0};
        const int r = ::poll(&p, 1, timeoutMs);
        if (r > 0 || (r < 0 && errno == EINTR)) continue;
        *error = "time-out writing to " + path_ + " (" + std::to_string(sent) + " of " +
                 std::to_string(size) + " bytes sent)";
        return E_VISA_TMO;
      }
      const int err = n < 0 ? errno : EIO;
      *error = "writing to " + path_ + " failed: " + ErrnoText(err);
      return err == EIO ? E_VISA_CONN_LOST : E_VISA_IO;
    }
    return S_OK;
  }

  HRESULT Read(uint8_t* buffer, size_t max, size_t* got, bool* end, int32_t timeoutMs,
               std::string* error) override {
    *end = false;
    for (;;) {
      const ssize_t n = ::read(fd_, buffer, max);
      if (n > 0) {
        *got = static_cast<size_t>(n);
        return S_OK;
      }
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
        pollfd p{fd_, POLLIN, 0};
        const int r = ::poll(&p, 1, timeoutMs);
        if (r < 0 && errno == EINTR) continue;
        if (r == 0) return E_VISA_TMO;
        if (r > 0 && !(p.revents & POLLIN) && (p.revents & (POLLHUP | POLLERR))) {
          *error = path_ + " hung up";
          return E_VISA_CONN_LOST;
        }
        continue;
      }
      // A pseudo-terminal whose other side closed reads as end of file or EIO.
      const int err = n < 0 ? errno : 0;
      *error = err == 0 || err == EIO ? path_ + " hung up (the other side closed the line)"
                                      : "reading from " + path_ + " failed: " + ErrnoText(err);
      return err == 0 || err == EIO ? E_VISA_CONN_LOST : E_VISA_IO;
    }
  }

  void DiscardInput() override { ::tcflush(fd_, TCIFLUSH); }

  HRESULT Clear(std::string*) override {
    ::tcflush(fd_, TCIOFLUSH);
    return S_OK;
  }

  SHORT InterfaceType() const override { return INTF_ASRL; }
  std::string SessionType() const override { return "INSTR"; }

 private:
  int fd_;
  std::string path_;
};

}  // namespace

HRESULT OpenSerial(const ResourceName& name, const OpenOptions& options, int32_t,
                   std::unique_ptr<Transport>* out, std::string* error) {
  std::string path = name.devicePath;
  if (path.empty()) {
    if (name.board < 1) {
      *error = "\"" + name.text + "\": serial ports are numbered from 1 (ASRL1 is /dev/ttyS0)";
      return E_VISA_INV_RSRC_NAME;
    }
    path = "/dev/ttyS" + std::to_string(name.board - 1);
  }
  if (!name.fields.empty()) {
    *error =
        "\"" + name.text + "\": a serial resource is ASRL<n>::INSTR or ASRL/dev/<device>::INSTR";
    return E_VISA_INV_RSRC_NAME;
  }
  LineSettings line;
  OpenOptions fromEnv;
  if (const char* env = std::getenv("VMK40XX_ASRL_OPTIONS")) {
    std::string why;
    if (FAILED(ParseOptionString(env, &fromEnv, &why))) {
      *error = "VMK40XX_ASRL_OPTIONS: " + why;
      return E_VISA_INV_SETUP;
    }
  }
  for (const auto& [key, value] : fromEnv.values) {
    if (!ApplySetting(key, value, &line, error)) {
      *error = "VMK40XX_ASRL_OPTIONS: " + *error;
      return E_VISA_INV_SETUP;
    }
  }
  for (const auto& [key, value] : options.values)
    if (!ApplySetting(key, value, &line, error)) return E_VISA_INV_SETUP;
  speed_t speed;
  if (!BaudConstant(line.baud, &speed)) {
    *error = "serial baud rate " + std::to_string(line.baud) + " is not supported";
    return E_VISA_INV_SETUP;
  }

  const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    const int err = errno;
    *error = err == ENOENT  ? "serial port " + path + " does not exist"
             : err == EBUSY ? "serial port " + path + " is busy"
             : err == EACCES
                 ? "no permission to open " + path + " (is the user in the dialout group?)"
                 : "cannot open " + path + ": " + ErrnoText(err);
    return err == EBUSY ? E_VISA_RSRC_BUSY : E_VISA_RSRC_NFOUND;
  }
  // Two programs on one line would steal each other's replies.
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    ::close(fd);
    *error = "serial port " + path + " is busy: another program has it open";
    return E_VISA_RSRC_BUSY;
  }
  termios tio{};
  if (::tcgetattr(fd, &tio) != 0) {
    const int err = errno;
    ::close(fd);
    *error = path + " is not a serial line: " + ErrnoText(err);
    return E_VISA_RSRC_NFOUND;
  }
  ::cfmakeraw(&tio);
  ::cfsetispeed(&tio, speed);
  ::cfsetospeed(&tio, speed);
  tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
  tio.c_cflag |= CLOCAL | CREAD;
  tio.c_cflag |= line.dataBits == 5   ? CS5
                 : line.dataBits == 6 ? CS6
                 : line.dataBits == 7 ? CS7
                                      : CS8;
  if (line.parity != 0) tio.c_cflag |= PARENB;
  if (line.parity == 1 || line.parity == 3) tio.c_cflag |= PARODD;
  if (line.parity >= 3) tio.c_cflag |= CMSPAR;
  // termios has no 1.5 stop bits; CSTOPB gives 1.5 at 5 data bits, as the UARTs do.
  if (line.stopBits != 10) tio.c_cflag |= CSTOPB;
  tio.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
  if (line.flow == 1) tio.c_iflag |= IXON | IXOFF;
  if (line.flow == 2) tio.c_cflag |= CRTSCTS;
  // With VMIN 0 an empty non-blocking read returns 0, which would look like a hang-up.
  tio.c_cc[VMIN] = 1;
  tio.c_cc[VTIME] = 0;
  if (::tcsetattr(fd, TCSANOW, &tio) != 0) {
    const int err = errno;
    ::close(fd);
    *error = "cannot apply the line settings to " + path + ": " + ErrnoText(err);
    return E_VISA_INV_SETUP;
  }
  *out = std::make_unique<SerialPort>(fd, path);
  return S_OK;
}

}  // namespace vmk::visa
