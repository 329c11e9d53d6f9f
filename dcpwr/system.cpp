#include "dcpwr/system.h"

#include <algorithm>
#include <string>
#include <string_view>
#include <utility>

#include "dcpwr/channel.h"
#include "dcpwr/display.h"
#include "dcpwr/keyword_tables.h"
#include "io/driver_io_manager.h"
#include "io/visa_com_io_provider.h"
#include "platform/com/com_ptr.h"
#include "platform/com/unicode.h"
#include "vmk40xx/errors.h"

namespace vmk {

namespace {

namespace sys {
constexpr Interface kItf{&IID_IVelmoraK40xxSystem, "IVelmoraK40xxSystem", kPowerSupply};
constexpr Member WaitForOperationComplete =
    kItf.Method("WaitForOperationComplete", {In("MaxTimeMilliseconds", Long)});
constexpr Member SaveState =
    kItf.Method("SaveState", {In("Identifier", String)}, {.command = "*SAV %s"});
constexpr Member RecallState =
    kItf.Method("RecallState", {In("Identifier", String)}, {.command = "*RCL %s"});
constexpr Member EnableLocalControls = kItf.Method("EnableLocalControls");
constexpr Member DisableLocalControls = kItf.Method("DisableLocalControls");
constexpr Member Beep = kItf.Method("Beep", {}, {.command = "SYST:BEEP"});
constexpr Property AsyncEventsEnabled = kItf.Prop("AsyncEventsEnabled", Bool);
constexpr Property IO = kItf.Prop("IO", Object, {.getWhileClosed = true});
// One simulated name serves all five memories.
constexpr Property MemoryName = kItf.Prop("MemoryName", String,
                                          {.get = "MEM:STAT:NAME? %d",
                                           .put = "MEM:STAT:NAME %d, %q",
                                           .sim = u"1",
                                           .models = kMemoryModels,
                                           .index = {In("Index", Long)}});
constexpr Property Model = kItf.Prop("Model", Enum);
constexpr Property TimeoutMilliseconds =
    kItf.Prop("TimeoutMilliseconds", Long, {.sim = 2000.0});
constexpr Property TraceEnabled = kItf.Prop("TraceEnabled", Bool);
}  // namespace sys

constexpr int32_t kMemoryNameReplyMax = 128;
// Shorter time-outs than this fail before a working instrument can answer at all.
constexpr LONG kTimeoutMin = 100;

// The instrument has five state memories. Both accessors name the property, not themselves.
HRESULT CheckMemoryIndex(CNode& node, LONG index) {
  if (index >= 1 && index <= 5) return S_OK;
  return node.Errors().ReportInvalidValue("MemoryName", "Index, Range 1-5", index);
}

// Puts the session's status-polling setting back however the wait ends.
class PollingOff {
 public:
  explicit PollingOff(OptionFlags& flags)
      : flags_(flags), saved_(std::exchange(flags.queryInstrumentStatus, false)) {}
  ~PollingOff() { flags_.queryInstrumentStatus = saved_; }
  PollingOff(const PollingOff&) = delete;
  PollingOff& operator=(const PollingOff&) = delete;

 private:
  OptionFlags& flags_;
  bool saved_;
};

bool IsLetter(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}
bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

// A letter, then letters, digits and underscores.
bool IsCharacterData(std::string_view s) {
  if (s.empty() || !IsLetter(s[0])) return false;
  for (char c : s)
    if (!IsLetter(c) && !IsDigit(c) && c != '_') return false;
  return true;
}

// An optional sign, a mantissa with at least one digit and at most one point, and an optional
// exponent with at least one digit.
bool IsDecimalNumber(std::string_view s) {
  size_t i = 0;
  auto digits = [&] {
    const size_t start = i;
    while (i < s.size() && IsDigit(s[i])) ++i;
    return i - start;
  };
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
  size_t mantissa = digits();
  if (i < s.size() && s[i] == '.') {
    ++i;
    mantissa += digits();
  }
  if (mantissa == 0) return false;
  if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
    ++i;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
    if (digits() == 0) return false;
  }
  return i == s.size();
}

}  // namespace

HRESULT SetLocalControlsOverBus(CErrorManager& errors, IVisaSession* session, IMessage* message,
                                bool enable, std::string_view member) {
  if (!session) return errors.ReportError(Msg::E_IVI_NOT_INITIALIZED);
  com::ComPtr<IGpib> gpib;
  if (FAILED(session->QueryInterface(IID_IGpib, reinterpret_cast<void**>(gpib.put()))) || !gpib)
    return errors.ReportError(Msg::E_IVI_METHOD_NOT_SUPPORTED, {member});
  // A bus that cannot drive the remote line leaves nothing to do.
  auto accepted = [](HRESULT hr) { return SUCCEEDED(hr) || hr == E_VISA_NSUP_OPER; };
  if (enable) {
    // Going to local may fail on an instrument that is local already; asserting the line again
    // is what counts.
    gpib->ControlREN(GPIB_REN_GTL_AND_DEASSERT);
    if (!accepted(gpib->ControlREN(GPIB_REN_ASSERT)))
      return errors.ReportError(Msg::E_IVI_UNEXPECTED_RESPONSE);
    return S_OK;
  }
  if (!accepted(gpib->ControlREN(GPIB_REN_LLO)))
    return errors.ReportError(Msg::E_IVI_UNEXPECTED_RESPONSE);
  // The lockout takes hold when the instrument is next addressed to listen.
  if (message) {
    com::Bstr lf(std::string_view("\n"));
    LONG written = 0;
    if (FAILED(message->WriteString(lf.get(), &written)))
      return errors.ReportError(Msg::E_IVI_UNEXPECTED_RESPONSE);
  }
  return S_OK;
}

HRESULT SystemFacet::WaitForOperationComplete(LONG MaxTimeMilliseconds) {
  const Member& m = sys::WaitForOperationComplete;
  return owner_->Act(m, With(MaxTimeMilliseconds), NoCheck, [&]() -> HRESULT {
    // No status poll around the wait: it would read, and so clear, the event register that
    // holds the operation-complete bit, and after a time-out it would wait on a busy instrument
    // a second time.
    PollingOff off(owner_->MutableFlags());
    LONG done = 0;
    CDriverIOManager& io = owner_->IO();
    const HRESULT hr = io.InstrQuery("*OPC?", std::max(MaxTimeMilliseconds, kTimeoutMin), &done);
    bool timedOut = false;
    if (FAILED(hr) && SUCCEEDED(io.IsTimeout(&timedOut)) && timedOut)
      return owner_->Errors().ReportError(Msg::E_VELMORAK40XX_MAX_TIME_EXCEEDED, {m.Name()});
    return hr;
  });
}

HRESULT SystemFacet::SaveState(BSTR Identifier) {
  return SendState(sys::SaveState, Identifier);
}

HRESULT SystemFacet::RecallState(BSTR Identifier) {
  return SendState(sys::RecallState, Identifier);
}

// The identifier goes to the instrument as given: which memories exist is the model's to say.
// It goes out bare, though, so it must be one item of character data (a name) or of decimal
// numeric data: anything else, a semicolon or comma above all, would make the rest of it a
// command of its own.
HRESULT SystemFacet::SendState(const Member& m, BSTR identifier) {
  return owner_->Act(
      m, With(identifier),
      [&]() -> HRESULT {
        const std::string text = com::BstrToUtf8(identifier);
        if (IsCharacterData(text) || IsDecimalNumber(text)) return S_OK;
        return owner_->Errors().ReportInvalidValue(m.Name(), "Identifier",
                                                   std::string_view(ShownInError(text)));
      },
      [&] { return owner_->IO().InstrPrintCommand(); });
}

HRESULT SystemFacet::EnableLocalControls() {
  return LocalControls(true);
}

HRESULT SystemFacet::DisableLocalControls() {
  return LocalControls(false);
}

// A serial line has no remote-enable line: the instrument is told in words, and the "*OPC?"
// keeps the next command from arriving before it has switched.
HRESULT SystemFacet::LocalControls(bool enable) {
  const Member& m = enable ? sys::EnableLocalControls : sys::DisableLocalControls;
  return owner_->Act(m, With(), NoCheck, [&]() -> HRESULT {
    CDriverIOManager& io = owner_->IO();
    if (owner_->ResourceDescriptor().find("ASRL") != std::string::npos) {
      HRESULT hr =
          enable ? io.InstrPrintfNoPoll("SYST:LOC;*OPC?") : io.InstrPrintfNoPoll("SYST:REM;*OPC?");
      if (FAILED(hr)) return hr;
      LONG done = 0;
      return io.FormattedReadNumber(&done, true, 5000);
    }
    com::ComPtr<IVisaSession> session;
    com::ComPtr<IMessage> message;
    owner_->Provider().ioprvGetIVisaSessionPointer(session.put());
    owner_->Provider().ioprvGetIMessagePointer(message.put());
    return SetLocalControlsOverBus(owner_->Errors(), session.get(), message.get(), enable,
                                   m.Name());
  });
}

HRESULT SystemFacet::Beep() {
  return owner_->Act(sys::Beep, With(), NoCheck, [&] { return owner_->IO().InstrPrintCommand(); });
}

// The driver raises no events.
HRESULT SystemFacet::get_AsyncEventsEnabled(VARIANT_BOOL* val) {
  return owner_->Frame(sys::AsyncEventsEnabled.get, With(val), [&] {
    *val = VARIANT_FALSE;
    return owner_->Errors().ReportError(Msg::E_IVI_PROPERTY_NOT_SUPPORTED, {"AsyncEventsEnabled"});
  });
}

HRESULT SystemFacet::put_AsyncEventsEnabled(VARIANT_BOOL val) {
  return owner_->Frame(sys::AsyncEventsEnabled.put, With(val), [&] {
    return owner_->Errors().ReportError(Msg::E_IVI_PROPERTY_NOT_SUPPORTED, {"AsyncEventsEnabled"});
  });
}

// Direct I/O shares the session's connection: what a caller sends through it bypasses the
// driver's checks and status polling.
HRESULT SystemFacet::get_IO(IFormattedIO488** val) {
  return owner_->Frame(sys::IO.get, With(val), [&]() -> HRESULT {
    *val = nullptr;
    if (owner_->Simulating())
      return owner_->Errors().ReportError(Msg::E_VELMORAK40XX_IO_GENERAL,
                                          {"Direct I/O not available while Simulating"});
    HRESULT hr = owner_->Provider().ioprvGetIFormattedIO488Pointer(val);
    if (FAILED(hr)) return hr;
    // Without a connection there is no object to hand out, and success with a null pointer
    // would only move the failure into the caller.
    if (!*val) return owner_->Errors().ReportError(Msg::E_IVI_NOT_INITIALIZED);
    return S_OK;
  });
}

HRESULT SystemFacet::get_MemoryName(LONG Index, BSTR* val) {
  return owner_->Get(sys::MemoryName, With(Index), val, [&] {
    if (HRESULT hr = CheckMemoryIndex(*owner_, Index); FAILED(hr)) return hr;
    std::string reply;
    const HRESULT hr = owner_->IO().InstrQueryCommand(kMemoryNameReplyMax, &reply);
    if (FAILED(hr)) return hr;
    *val = com::Utf8ToBstr(UnquoteReply(reply));
    return *val ? hr : E_OUTOFMEMORY;
  });
}

// A simulated session takes any index: its one name serves all five memories.
HRESULT SystemFacet::put_MemoryName(LONG Index, BSTR val) {
  const Member& m = sys::MemoryName.put;
  return owner_->Put(
      sys::MemoryName, With(Index), val,
      [&] {
        if (!owner_->Simulating())
          if (HRESULT hr = CheckMemoryIndex(*owner_, Index); FAILED(hr)) return hr;
        return CheckCommandText(*owner_, m.Name(), "val", val);
      },
      [&] { return owner_->IO().InstrPrintCommand(); });
}

// The session's model, whether identified or simulated; a model the table does not know reads
// as no supported model.
HRESULT SystemFacet::get_Model(VelmoraK40xxModelEnum* val) {
  return owner_->Frame(sys::Model.get, With(val), [&] {
    const std::string_view model = owner_->GetModel();
    int32_t value = VelmoraK40xxModelNoneSupport;
    if (!KeywordTable(KeywordEnum::Model).KeywordToEnum(model, model, &value))
      value = VelmoraK40xxModelNoneSupport;
    *val = static_cast<VelmoraK40xxModelEnum>(value);
    return S_OK;
  });
}

HRESULT SystemFacet::put_Model(VelmoraK40xxModelEnum val) {
  return owner_->Frame(sys::Model.put, With(val), [&] {
    return owner_->Errors().ReportError(Msg::E_IVI_PROPERTY_NOT_SUPPORTED,
                                        {"put_Model - for simulation use Initialize() option"});
  });
}

HRESULT SystemFacet::get_TimeoutMilliseconds(LONG* val) {
  return owner_->Get(sys::TimeoutMilliseconds, val, [&] {
    const HRESULT hr = owner_->IO().GetIOTimeout(val);
    return FAILED(hr) ? owner_->Errors().ReportIoError() : hr;
  });
}

HRESULT SystemFacet::put_TimeoutMilliseconds(LONG val) {
  return owner_->Put(sys::TimeoutMilliseconds, val, NoCheck, [&] {
    const HRESULT hr = owner_->IO().SetIOTimeout(std::max(val, kTimeoutMin));
    return FAILED(hr) ? owner_->Errors().ReportIoError() : hr;
  });
}

// The trace is the driver's, not the instrument's: simulated sessions switch and read it too,
// so that the switch never answers for a trace other than the one that runs.
HRESULT SystemFacet::get_TraceEnabled(VARIANT_BOOL* val) {
  return owner_->Frame(sys::TraceEnabled.get, With(val), [&] {
    *val = owner_->TraceRunning() ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
  });
}

HRESULT SystemFacet::put_TraceEnabled(VARIANT_BOOL val) {
  return owner_->Frame(sys::TraceEnabled.put, With(val),
                       [&] { return owner_->SwitchTrace(val != VARIANT_FALSE); });
}

}  // namespace vmk
