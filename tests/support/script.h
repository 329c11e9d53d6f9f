// A scripted instrument for tests: the test states the exact bytes the driver must write and what
// the instrument does in return (reply, time-out, failure, hang-up). It is reached by opening
// "SCRIPT::<name>::INSTR" after Script::Install(name), which registers the SCRIPT transport with
// the resource manager of the library linked beside it.
//
//   auto s = vmk::visa::Script::Install("psu");
//   s->Expect("VOLT?\n").Reply("+5.000E+00\n");
//   ... open "SCRIPT::psu::INSTR" and run the code under test ...
//   EXPECT_TRUE(s->Done()) << s->Report();
//
// Replies that follow a step are the input that has arrived by the time the driver reads; input
// the driver drops before a new command (or by a device clear) drops them.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "vmk40xx/visacom.h"

namespace vmk::visa {

class Script {
 public:
  static std::shared_ptr<Script> Install(const std::string& name);
  static void Uninstall(const std::string& name);
  static std::shared_ptr<Script> Find(std::string_view name);

  // The driver must write exactly these bytes next (in one write or several).
  Script& Expect(std::string_view bytes);
  // Input that arrives; `end` sets END with its last byte (as GPIB or USB would).
  Script& Reply(std::string_view bytes, bool end = false);
  // The next read times out (at once; real waiting is what the socket tests are for).
  Script& Timeout();
  // The next read or write fails with this status and COM error description.
  Script& Fail(HRESULT hr, std::string description);
  // The instrument hangs up: this read and every later operation fail as a lost connection.
  Script& HangUp();
  // A device clear is expected here.
  Script& ExpectClear();
  // The session reports this bus and session type (TCPIP/SOCKET by default).
  Script& Interface(SHORT type, std::string sessionType);
  // A native serial poll answering `stb`; without it ReadSTB asks "*STB?".
  Script& SerialPoll(SHORT stb);

  // Every step consumed and nothing unexpected happened.
  bool Done() const;
  // What went wrong, then the log of what the driver did.
  std::string Report() const;
  std::vector<std::string> Log() const;

  // Used by the transport.
  HRESULT OnWrite(const uint8_t* data, size_t size, std::string* error);
  HRESULT OnRead(uint8_t* buffer, size_t max, size_t* got, bool* end, std::string* error);
  void OnDiscard();
  void OnClear();
  HRESULT OnReadStb(SHORT* stb);
  SHORT InterfaceType() const;
  std::string SessionType() const;

 private:
  enum class Kind { Expect, Reply, Timeout, Fail, HangUp, Clear };
  struct Step {
    Kind kind;
    std::string bytes;  // Expect, Reply; Fail: description
    bool end = false;
    HRESULT hr = S_OK;
    size_t done = 0;  // bytes matched or delivered so far
  };
  void Mismatch(std::string what);
  void DropArrivedInput();
  static std::string Printable(std::string_view bytes);

  mutable std::mutex mutex_;
  std::vector<Step> steps_;
  size_t next_ = 0;
  bool hungUp_ = false;
  std::vector<std::string> mismatches_;
  std::vector<std::string> log_;
  SHORT interfaceType_ = INTF_TCPIP;
  std::string sessionType_ = "SOCKET";
  bool nativeStb_ = false;
  SHORT stb_ = 0;
};

}  // namespace vmk::visa
