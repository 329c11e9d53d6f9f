// The few primitives every transport offers. Everything above them (termination, END, buffers,
// formatted I/O, error texts a caller sees) is written once in the message session.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "vmk40xx/visacom.h"

namespace vmk::visa {

// A resource string taken apart. Keywords are matched without regard to case; the other fields
// keep the caller's spelling (device paths and USB serial numbers are case-sensitive).
struct ResourceName {
  std::string text;     // as given
  std::string keyword;  // upper case: TCPIP, ASRL, GPIB, USB, VXI, GPIB-VXI, or a registered one
  int board = 0;
  std::string devicePath;           // ASRL/dev/ttyUSB0 form: "/dev/ttyUSB0"
  std::vector<std::string> fields;  // between the board and the class
  std::string resourceClass;        // upper case: INSTR, SOCKET, ...
};

// Fills `out`, or returns E_VISA_INV_RSRC_NAME with the reason in `why`.
HRESULT ParseResourceName(std::string_view text, ResourceName* out, std::string* why);

// Session settings given to Open ("Name = value ; ..."), over the defaults of each transport.
struct OpenOptions {
  std::vector<std::pair<std::string, std::string>> values;  // names upper-cased
  const std::string* Find(std::string_view upperName) const;
};
HRESULT ParseOptionString(std::string_view text, OpenOptions* out, std::string* why);

class Transport {
 public:
  virtual ~Transport() = default;
  // Sends all bytes or fails; `end` asks for END with the last byte where the bus has one.
  // `timeoutMs` -1 waits forever.
  virtual HRESULT Write(const uint8_t* data, size_t size, bool end, int32_t timeoutMs,
                        std::string* error) = 0;
  // Waits at most `timeoutMs` (-1 forever, 0 only what has arrived) and returns at least one
  // byte, or E_VISA_TMO, or the failure. `end` tells that END came with the last byte.
  virtual HRESULT Read(uint8_t* buffer, size_t max, size_t* got, bool* end, int32_t timeoutMs,
                       std::string* error) = 0;
  // Drops whatever input has arrived, without waiting.
  virtual void DiscardInput() = 0;
  // Device clear as far as the transport has one.
  virtual HRESULT Clear(std::string* error) = 0;
  // A serial poll where the bus has one; E_VISA_NSUP_OPER makes the session ask "*STB?".
  virtual HRESULT ReadStb(SHORT* /*stb*/, std::string* /*error*/) { return E_VISA_NSUP_OPER; }
  // The byte a read stops at (-1: none), for a bus whose device can end a read there itself
  // (VXI-11, USBTMC, GPIB); the session still looks for it in what arrives.
  virtual void SetReadTermination(int /*stopByte*/) {}
  virtual SHORT InterfaceType() const = 0;
  virtual std::string SessionType() const = 0;
};

using TransportOpener = HRESULT (*)(const ResourceName&, const OpenOptions&, int32_t openTimeoutMs,
                                    std::unique_ptr<Transport>*, std::string* error);

// Openers of the transport table.
HRESULT OpenTcpSocket(const ResourceName&, const OpenOptions&, int32_t, std::unique_ptr<Transport>*,
                      std::string*);
HRESULT OpenSerial(const ResourceName&, const OpenOptions&, int32_t, std::unique_ptr<Transport>*,
                   std::string*);
HRESULT OpenVxi11(const ResourceName&, const OpenOptions&, int32_t, std::unique_ptr<Transport>*,
                  std::string*);
HRESULT OpenUsbtmc(const ResourceName&, const OpenOptions&, int32_t, std::unique_ptr<Transport>*,
                   std::string*);
HRESULT OpenGpib(const ResourceName&, const OpenOptions&, int32_t, std::unique_ptr<Transport>*,
                 std::string*);

// A transport this library does not ship, added by the program that links it: the tests' scripted
// instrument. Its keyword is then a resource name's keyword too, and its (keyword, class) pair
// is looked up after the shipped ones, which it cannot replace. Safe from any thread.
void RegisterTransport(std::string_view keyword, std::string_view resourceClass,
                       TransportOpener open);
// The opener registered for the pair, or null.
TransportOpener RegisteredTransport(std::string_view keyword, std::string_view resourceClass);
// The registered keyword that `head` (upper case) starts with, longest first; empty when none.
std::string RegisteredKeywordOf(std::string_view head);

// A TCP connection to `address` within `timeoutMs` (-1: the system's own wait): the descriptor,
// or -1 with the errno in `err` (ETIMEDOUT when the time ran out).
int ConnectTcp(const struct sockaddr* address, unsigned addressLength, int32_t timeoutMs, int* err);
// strerror's text, thread-safe.
std::string SystemErrorText(int err);

// Installs COM error information for a failure of this layer and returns `hr`.
HRESULT VisaError(HRESULT hr, const IID& iid, std::string_view description);

}  // namespace vmk::visa
