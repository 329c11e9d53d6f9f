// USB[board]::vendor::product::serial[::interface]::INSTR through the kernel's usbtmc driver:
// the identifiers are looked up in sysfs to find /dev/usbtmcN, and the driver's ioctls give
// the device clear, the serial poll, the time-out, the termination character and END (EOM).
//
// A device file that does not answer the driver's ioctls (a stand-in in a test) still reads and
// writes: its time-outs are kept by poll(), the session looks for the termination character, and
// the status byte is asked with "*STB?".
#include <fcntl.h>
#include <linux/usb/tmc.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "platform/visa/sysfs.h"
#include "platform/visa/transport.h"

namespace vmk::visa {
namespace {

// The driver refuses time-outs below 100 ms.
constexpr int32_t kShortestTimeoutMs = 100;

std::string Hex4(unsigned v) {
  static const char* digits = "0123456789ABCDEF";
  std::string s = "0x0000";
  for (int i = 5; i >= 2; --i, v >>= 4) s[static_cast<size_t>(i)] = digits[v & 0xF];
  return s;
}

bool ParseId(const std::string& text, unsigned* out) {
  char* end = nullptr;
  errno = 0;
  const unsigned long v = std::strtoul(text.c_str(), &end, 0);  // decimal or 0x hex
  if (errno || end == text.c_str() || *end || v > 0xFFFF) return false;
  *out = static_cast<unsigned>(v);
  return true;
}

class UsbtmcDevice final : public Transport {
 public:
  UsbtmcDevice(int fd, std::string path, bool driver) : fd_(fd), path_(std::move(path)), driver_(driver) {}
  ~UsbtmcDevice() override { ::close(fd_); }

  HRESULT Write(const uint8_t* data, size_t size, bool end, int32_t timeoutMs,
                std::string* error) override {
    SetTimeout(timeoutMs);
    if (driver_ && end != eom_) {
      uint8_t on = end ? 1 : 0;
      if (::ioctl(fd_, USBTMC_IOCTL_EOM_ENABLE, &on) == 0) eom_ = end;
    }
    size_t sent = 0;
    while (sent < size) {
      if (!driver_ && !Wait(POLLOUT, timeoutMs)) {
        *error = "time-out writing to " + path_;
        return E_VISA_TMO;
      }
      const ssize_t n = ::write(fd_, data + sent, size - sent);
      if (n > 0) {
        sent += static_cast<size_t>(n);
        continue;
      }
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK) && !driver_) continue;
      return Failed("writing to", error, sent, size);
    }
    return S_OK;
  }

  HRESULT Read(uint8_t* buffer, size_t max, size_t* got, bool* end, int32_t timeoutMs,
               std::string* error) override {
    *end = false;
    SetTimeout(timeoutMs);
    for (;;) {
      // The driver's read waits itself, up to its time-out; a stand-in is waited for here.
      if (!driver_ && !Wait(POLLIN, timeoutMs)) return E_VISA_TMO;
      const ssize_t n = ::read(fd_, buffer, max);
      if (n > 0) {
        *got = static_cast<size_t>(n);
        // One read is one transfer of the device; END is the EOM bit of its header.
        uint8_t attributes = 0;
        if (driver_ && ::ioctl(fd_, USBTMC_IOCTL_MSG_IN_ATTR, &attributes) == 0)
          *end = (attributes & 0x01) != 0;
        return S_OK;
      }
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && errno == ETIMEDOUT) return E_VISA_TMO;
      if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK) && !driver_) continue;
      if (n == 0 && !driver_) {
        *error = path_ + " hung up";
        return E_VISA_CONN_LOST;
      }
      if (n == 0) continue;  // a zero-length transfer, which some firmware sends
      return Failed("reading from", error, 0, 0);
    }
  }

  void DiscardInput() override {
    if (driver_) return;  // nothing waits in the driver: a read asks the device
    uint8_t sink[512];
    while (Wait(POLLIN, 0) && ::read(fd_, sink, sizeof sink) > 0) {
    }
  }

  HRESULT Clear(std::string* error) override {
    if (!driver_) {
      DiscardInput();
      return S_OK;
    }
    if (::ioctl(fd_, USBTMC_IOCTL_CLEAR) == 0) return S_OK;
    return Failed("device clear of", error, 0, 0);
  }

  HRESULT ReadStb(SHORT* stb, std::string* error) override {
    if (!driver_) return E_VISA_NSUP_OPER;
    uint8_t value = 0;
    if (::ioctl(fd_, USBTMC488_IOCTL_READ_STB, &value) == 0) {
      *stb = value;
      return S_OK;
    }
    // A device without the USB488 status request answers "*STB?" instead.
    if (errno == EINVAL || errno == EPIPE) return E_VISA_NSUP_OPER;
    return Failed("serial poll of", error, 0, 0);
  }

  void SetReadTermination(int stopByte) override {
    if (!driver_) return;
    usbtmc_termchar t{static_cast<__u8>(stopByte >= 0 ? stopByte : '\n'),
                      static_cast<__u8>(stopByte >= 0 ? 1 : 0)};
    // EINVAL: the device cannot stop at a character; the session looks for it instead.
    ::ioctl(fd_, USBTMC_IOCTL_CONFIG_TERMCHAR, &t);
  }

  SHORT InterfaceType() const override { return INTF_USB; }
  std::string SessionType() const override { return "INSTR"; }

 private:
  void SetTimeout(int32_t timeoutMs) {
    if (!driver_ || timeoutMs == timeoutMs_) return;
    __u32 ms = timeoutMs < 0 ? 0x7FFFFFFFu
                             : static_cast<__u32>(std::max(timeoutMs, kShortestTimeoutMs));
    if (::ioctl(fd_, USBTMC_IOCTL_SET_TIMEOUT, &ms) == 0) timeoutMs_ = timeoutMs;
  }

  bool Wait(short events, int32_t timeoutMs) {
    pollfd p{fd_, events, 0};
    int r;
    do {
      r = ::poll(&p, 1, timeoutMs);
    } while (r < 0 && errno == EINTR);
    return r > 0;
  }

  HRESULT Failed(const char* what, std::string* error, size_t sent, size_t size) {
    const int err = errno;
    *error = std::string(what) + " " + path_ + " failed: " + SystemErrorText(err);
    if (size) *error += " (" + std::to_string(sent) + " of " + std::to_string(size) + " bytes sent)";
    if (err == ETIMEDOUT) return E_VISA_TMO;
    // Unplugged: every call on the open file fails this way until it is closed.
    if (err == ENODEV || err == EIO || err == ESHUTDOWN) {
      *error = path_ + " is gone (the device was unplugged or reset): " + SystemErrorText(err);
      return E_VISA_CONN_LOST;
    }
    return E_VISA_IO;
  }

  int fd_;
  std::string path_;
  bool driver_;  // the usbtmc driver answers its ioctls
  bool eom_ = true;
  int32_t timeoutMs_ = 5000;  // the driver's own default
};

}  // namespace

HRESULT OpenUsbtmc(const ResourceName& name, const OpenOptions&, int32_t,
                   std::unique_ptr<Transport>* out, std::string* error) {
  unsigned vendor = 0, product = 0;
  if (name.fields.size() < 3 || name.fields.size() > 4 || !ParseId(name.fields[0], &vendor) ||
      !ParseId(name.fields[1], &product)) {
    *error = "\"" + name.text +
             "\": a USB instrument is USB[board]::vendor::product::serial[::interface]::INSTR, "
             "with the identifiers in decimal or 0x hex";
    return E_VISA_INV_RSRC_NAME;
  }
  const std::string& serial = name.fields[2];
  int interfaceNumber = -1;
  if (name.fields.size() == 4) {
    unsigned v = 0;
    if (!ParseId(name.fields[3], &v) || v > 255) {
      *error = "\"" + name.text + "\": \"" + name.fields[3] + "\" is not an interface number";
      return E_VISA_INV_RSRC_NAME;
    }
    interfaceNumber = static_cast<int>(v);
  }
  // The lowest matching interface, unless one is named.
  std::string node;
  for (const ClassDevice& d : ListUsbtmc()) {
    if (!d.usb.known || d.usb.vendor != vendor || d.usb.product != product ||
        d.usb.serial != serial)
      continue;
    if (interfaceNumber >= 0 && d.usb.interfaceNumber != interfaceNumber) continue;
    node = d.name;
    break;
  }
  const std::string wanted = Hex4(vendor) + "::" + Hex4(product) + "::" + serial;
  if (node.empty()) {
    *error = "no USB instrument " + wanted +
             (interfaceNumber >= 0 ? " with interface " + std::to_string(interfaceNumber) : "") +
             " is attached to the usbtmc driver (nothing matches in " + SysfsRoot() +
             "/class/usbmisc)";
    return E_VISA_RSRC_NFOUND;
  }
  const std::string path = DevRoot() + "/" + node;
  const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) {
    const int err = errno;
    *error = err == ENOENT ? "no such device file " + path + " (for USB instrument " + wanted + ")"
             : err == EACCES
                 ? "no permission to open " + path +
                       " (a udev rule such as KERNEL==\"usbtmc[0-9]*\", MODE=\"0660\", "
                       "GROUP=\"plugdev\" gives it to a group of users)"
             : err == EBUSY ? path + " is busy"
                            : "cannot open " + path + ": " + SystemErrorText(err);
    return err == EBUSY ? E_VISA_RSRC_BUSY : E_VISA_RSRC_NFOUND;
  }
  // The driver's own question: how long it waits. A file that cannot answer it is no usbtmc node.
  __u32 ms = 0;
  const bool driver = ::ioctl(fd, USBTMC_IOCTL_GET_TIMEOUT, &ms) == 0;
  if (!driver) ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
  *out = std::make_unique<UsbtmcDevice>(fd, path, driver);
  return S_OK;
}

}  // namespace vmk::visa
