// GPIB[board]::primary[::secondary]::INSTR through linux-gpib's user library, loaded when the
// first GPIB resource is opened so that neither building nor running without GPIB needs it.
// Debian does not package linux-gpib; where it is installed, libgpib.so.0 is on the loader's path.
#include <dlfcn.h>

#include <charconv>
#include <mutex>

#include "platform/visa/transport.h"

namespace vmk::visa {
namespace {

// ibsta bits and the EOS mode bits of linux-gpib.
constexpr int kStatusError = 0x8000;
constexpr int kStatusTimeout = 0x4000;
constexpr int kStatusEnd = 0x2000;
constexpr int kEosRead = 0x400;  // REOS: a read stops at the EOS byte
// iberr codes worth a sentence.
constexpr struct {
  int code;
  const char* text;
} kIbErrors[] = {
    {0, "system error (EDVR)"},
    {1, "this board is not the controller in charge (ECIC)"},
    {2, "no listener on the bus: is the instrument switched on and at that address? (ENOL)"},
    {3, "the board is not addressed correctly (EADR)"},
    {4, "invalid argument (EARG)"},
    {5, "the board is not the system controller (ESAC)"},
    {6, "I/O aborted, usually by the time-out (EABO)"},
    {7, "no such GPIB board (ENEB)"},
    {14, "bus error (EBUS)"},
    {15, "serial poll status byte lost (ESTB)"},
    {20, "table problem (ETAB)"},
};

// VISA's time-out rounded up to linux-gpib's codes: 0 none, 1 10 us, ... 17 1000 s.
int TimeoutCode(int32_t ms) {
  if (ms < 0) return 0;  // TNONE: wait forever
  static constexpr double kCodes[] = {0.01, 0.03, 0.1,  0.3,   1,     3,     10,    30,
                                      100,  300,  1000, 3000,  10000, 30000, 100000, 300000,
                                      1000000};
  for (int i = 0; i < 17; ++i)
    if (ms <= kCodes[i]) return i + 1;
  return 17;
}

struct Library {
  int (*ibdev)(int, int, int, int, int, int) = nullptr;
  int (*ibwrt)(int, const void*, long) = nullptr;
  int (*ibrd)(int, void*, long) = nullptr;
  int (*ibclr)(int) = nullptr;
  int (*ibrsp)(int, char*) = nullptr;
  int (*ibtmo)(int, int) = nullptr;
  int (*ibeos)(int, int) = nullptr;
  int (*ibeot)(int, int) = nullptr;
  int (*ibonl)(int, int) = nullptr;
  int (*ThreadIberr)() = nullptr;
  long (*ThreadIbcntl)() = nullptr;
  std::string missing;  // why it cannot be used; empty when it can
};

// Loaded once and kept: linux-gpib keeps state per process.
const Library& Gpib() {
  static Library lib;
  static std::once_flag once;
  std::call_once(once, [] {
    void* handle = ::dlopen("libgpib.so.0", RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
      lib.missing = "no GPIB library on this machine";
      return;
    }
    auto bind = [&](auto& fn, const char* symbol) {
      fn = reinterpret_cast<std::remove_reference_t<decltype(fn)>>(::dlsym(handle, symbol));
      if (!fn && lib.missing.empty()) lib.missing = std::string("libgpib.so.0 lacks ") + symbol;
    };
    bind(lib.ibdev, "ibdev");
    bind(lib.ibwrt, "ibwrt");
    bind(lib.ibrd, "ibrd");
    bind(lib.ibclr, "ibclr");
    bind(lib.ibrsp, "ibrsp");
    bind(lib.ibtmo, "ibtmo");
    bind(lib.ibeos, "ibeos");
    bind(lib.ibeot, "ibeot");
    bind(lib.ibonl, "ibonl");
    bind(lib.ThreadIberr, "ThreadIberr");
    bind(lib.ThreadIbcntl, "ThreadIbcntl");
  });
  return lib;
}

std::string IbErrorText(int code) {
  for (const auto& e : kIbErrors)
    if (e.code == code) return e.text;
  return "GPIB error " + std::to_string(code);
}

class GpibDevice final : public Transport {
 public:
  GpibDevice(const Library& lib, int ud, std::string where)
      : lib_(lib), ud_(ud), where_(std::move(where)) {}
  ~GpibDevice() override { lib_.ibonl(ud_, 0); }

  HRESULT Write(const uint8_t* data, size_t size, bool end, int32_t timeoutMs,
                std::string* error) override {
    SetTimeout(timeoutMs);
    if (end != eot_) {
      lib_.ibeot(ud_, end ? 1 : 0);
      eot_ = end;
    }
    const int status = lib_.ibwrt(ud_, data, static_cast<long>(size));
    if (status & kStatusError) return Failed(status, "writing to", error);
    return S_OK;
  }

  HRESULT Read(uint8_t* buffer, size_t max, size_t* got, bool* end, int32_t timeoutMs,
               std::string* error) override {
    SetTimeout(timeoutMs);
    const int status = lib_.ibrd(ud_, buffer, static_cast<long>(max));
    if (status & kStatusError) return Failed(status, "reading from", error);
    *got = static_cast<size_t>(lib_.ThreadIbcntl());
    // END: EOI came with the last byte, or the EOS byte was read.
    *end = (status & kStatusEnd) != 0;
    return S_OK;
  }

  // Nothing waits on the bus: the device talks only when addressed.
  void DiscardInput() override {}

  HRESULT Clear(std::string* error) override {
    const int status = lib_.ibclr(ud_);
    return status & kStatusError ? Failed(status, "device clear of", error) : S_OK;
  }

  HRESULT ReadStb(SHORT* stb, std::string* error) override {
    char value = 0;
    const int status = lib_.ibrsp(ud_, &value);
    if (status & kStatusError) return Failed(status, "serial poll of", error);
    *stb = static_cast<SHORT>(static_cast<unsigned char>(value));
    return S_OK;
  }

  void SetReadTermination(int stopByte) override {
    lib_.ibeos(ud_, stopByte >= 0 ? kEosRead | stopByte : 0);
  }

  SHORT InterfaceType() const override { return INTF_GPIB; }
  std::string SessionType() const override { return "INSTR"; }

 private:
  void SetTimeout(int32_t timeoutMs) {
    const int code = TimeoutCode(timeoutMs);
    if (code == timeoutCode_) return;
    lib_.ibtmo(ud_, code);
    timeoutCode_ = code;
  }

  HRESULT Failed(int status, const char* what, std::string* error) {
    if (status & kStatusTimeout) return E_VISA_TMO;
    *error = std::string(what) + " " + where_ + " failed: " + IbErrorText(lib_.ThreadIberr());
    return E_VISA_IO;
  }

  const Library& lib_;
  int ud_;
  std::string where_;
  bool eot_ = true;
  int timeoutCode_ = -1;
};

bool Address(const std::string& text, int lowest, int highest, int* out) {
  const auto [p, ec] = std::from_chars(text.data(), text.data() + text.size(), *out);
  return ec == std::errc() && p == text.data() + text.size() && *out >= lowest && *out <= highest;
}

}  // namespace

HRESULT OpenGpib(const ResourceName& name, const OpenOptions&, int32_t openTimeoutMs,
                 std::unique_ptr<Transport>* out, std::string* error) {
  int primary = 0, secondary = -1;
  if (name.fields.empty() || name.fields.size() > 2 || !Address(name.fields[0], 0, 30, &primary) ||
      (name.fields.size() == 2 && !Address(name.fields[1], 0, 30, &secondary))) {
    *error = "\"" + name.text +
             "\": a GPIB instrument is GPIB[board]::primary[::secondary]::INSTR, with addresses "
             "0 to 30";
    return E_VISA_INV_RSRC_NAME;
  }
  const Library& lib = Gpib();
  if (!lib.missing.empty()) {
    *error = "GPIB is not available: " + lib.missing;
    return E_VISA_LIBRARY_NFOUND;
  }
  // linux-gpib takes a secondary address n as n + 96, and 0 for none.
  const int ud = lib.ibdev(name.board, primary, secondary >= 0 ? secondary + 96 : 0,
                           TimeoutCode(openTimeoutMs < 0 ? 2000 : openTimeoutMs), 1, 0);
  std::string where = "GPIB" + std::to_string(name.board) + " address " + std::to_string(primary);
  // Appended, not "." + to_string(...): GCC 12 at -O3 warns falsely (-Wrestrict) on a literal
  // put before a temporary string.
  if (secondary >= 0) where.append(".").append(std::to_string(secondary));
  if (ud < 0) {
    *error = "cannot open " + where + ": " + IbErrorText(lib.ThreadIberr());
    return E_VISA_RSRC_NFOUND;
  }
  *out = std::make_unique<GpibDevice>(lib, ud, where);
  return S_OK;
}

}  // namespace vmk::visa
