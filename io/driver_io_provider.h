// The session's one connection to the instrument. CDriverIOProvider implements the I/O
// operations the driver makes (per-call time-out, terminators, typed parsing, status poll, I/O
// error report) over a few primitives that a concrete provider supplies; CVisaComIOProvider
// supplies them over the VISA layer.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>

#include "io/io_seams.h"
#include "vmk40xx/com.h"
#include "vmk40xx/errors.h"

namespace vmk {

class CErrorManager;

class CDriverIOProvider {
 public:
  CDriverIOProvider() = default;
  CDriverIOProvider(const CDriverIOProvider&) = delete;
  CDriverIOProvider& operator=(const CDriverIOProvider&) = delete;
  // Does not close: the driver's Close calls CloseIO.
  virtual ~CDriverIOProvider() = default;

  // Stores the references; all must be present. `owner` is kept for the caller and not used.
  virtual HRESULT InitializeIO(const IoHost* host, CErrorManager* errors, const void* owner,
                               std::string_view resource);
  virtual HRESULT CloseIO();
  bool IsInitialized() const { return initialized_; }
  // The error manager that reports I/O failures; InitializeIO sets it too, and it serves the
  // reports of a provider that was never opened.
  void SetErrorManager(CErrorManager* errors) { errors_ = errors; }

  virtual HRESULT GetVisaInterfaceType(int32_t* peIntfType) = 0;

  HRESULT ReadSTB(int16_t* pStb);
  HRESULT SetIOTimeout(int32_t lTimeout);
  HRESULT GetIOTimeout(int32_t* plTimeout);
  HRESULT IsTimeout(bool* pbTimeout);

  // Messages end in a line feed both ways: one is appended to a command that lacks it and one is
  // removed from a reply.

  // Queries: write the command, read the reply, convert, poll. The integer form reports
  // E_IVI_UNEXPECTED_RESPONSE for a reply that is no number or does not fit 32 bits; the double
  // form gives a quiet NaN for a reply that is no number.
  HRESULT InstrQuery(std::string_view command, int32_t cchDesired, int32_t lTimeout,
                     std::string* result);
  HRESULT InstrQuery(std::string_view command, int32_t lTimeout, int32_t* result);
  HRESULT InstrQuery(std::string_view command, int32_t lTimeout, double* result);
  HRESULT InstrWrite(std::string_view command, int32_t lTimeout);
  HRESULT InstrWriteNoPoll(std::string_view command, int32_t lTimeout);
  // A command that needs no reply and prepares the next one. Without a status poll it waits,
  // to go out in one send with the next command; with one it is written and polled at once.
  HRESULT InstrWriteAhead(std::string_view command);
  // Sends a command left waiting by InstrWriteAhead, when no other followed it. Its failure is
  // reported like any I/O failure.
  HRESULT FlushAhead();
  bool HasAhead() const { return !ahead_.empty(); }
  HRESULT FormattedReadNumber(int32_t* pValue, bool bFlushToEnd, int32_t lTimeout);

 protected:
  // The primitives. Time-outs come back as E_VMK_IO_TIMEOUT_STATUS; failures leave COM error
  // information with a description.
  virtual HRESULT PrimReadString(int32_t count, std::string* text) = 0;
  virtual HRESULT PrimWriteString(std::string_view text, int32_t* written) = 0;
  virtual HRESULT PrimClear() = 0;
  virtual HRESULT PrimReadSTB(int16_t* stb) = 0;
  virtual HRESULT PrimPutTimeout(int32_t ms) = 0;
  virtual HRESULT PrimGetTimeout(int32_t* ms) = 0;
  virtual HRESULT PrimFormattedReadNumber(bool flushToEnd, int32_t* value) = 0;

  std::recursive_mutex& Lock() const { return mutex_; }

 private:
  class TimeoutScope;
  enum class Poll { After, Never };
  // The one way every operation reaches the instrument: the lock, the call's time-out, the
  // timeout flag cleared, what InstrWriteAhead left waiting sent first (an operation that writes
  // carries it in its own send instead), `io`, then the I/O error report when that failed, or
  // else `convert` of what came back and, when `poll` asks, the status poll.
  template <class Io, class Convert>
  HRESULT Transfer(int32_t lTimeout, Poll poll, Io&& io, Convert&& convert);
  template <class Io>
  HRESULT Transfer(int32_t lTimeout, Poll poll, Io&& io);
  // The command with its terminator, behind anything InstrWriteAhead left waiting, in one send.
  HRESULT RawWriteString(std::string_view command);
  HRESULT RawReadString(int32_t count, std::string* text);
  // Sends what waits, for an operation that reads without writing first.
  HRESULT SendAhead();
  // Sends out_ whole: a short write is a failure.
  HRESULT SendOut();
  // Device clear, IO error or IO timeout report, optional status exchange; returns the report.
  HRESULT HandleIOError(HRESULT failure);
  // The "*ESR?" exchange: S_OK, S_FALSE when an error bit is set, or the failure (after a
  // device clear).
  HRESULT CheckEventStatus();
  HRESULT PollStatus();
  bool Polling() const { return host_ && host_->QueryInstrumentStatus(); }

  mutable std::recursive_mutex mutex_;
  bool initialized_ = false;
  const IoHost* host_ = nullptr;
  CErrorManager* errors_ = nullptr;
  bool timeoutFlag_ = false;
  // Commands waiting for the next one, terminators included.
  std::string ahead_;
  // What one send carries; kept from send to send, so a send allocates nothing once the
  // longest command has passed.
  std::string out_;
};

}  // namespace vmk
