#include "dcpwr/system.h"

#include <algorithm>
#include <string>
#include <utility>

#include "dcpwr/channel.h"
#include "dcpwr/display.h"
#include "dcpwr/keyword_tables.h"
#include "io/driver_io_manager.h"
#include "io/visa_com_io_provider.h"
#include "platform/com/com_ptr.h"
#include "vmk40xx/errors.h"

namespace vmk {

namespace {

namespace sys {
constexpr InterfaceInfo kItf{&IID_IVelmoraK40xxSystem, "IVelmoraK40xxSystem", true};
// One simulated name serves all five memories.
constexpr const char* kMemoryNameKey = "IVelmoraK40xxSystem.MemoryName";
constexpr const char* kTimeoutKey = "IVelmoraK40xxSystem.TimeoutMilliseconds";
constexpr const char* kTraceKey = "IVelmoraK40xxSystem.TraceEnabled";
constexpr Member WaitForOperationComplete = kItf.Method("WaitForOperationComplete");
constexpr Member SaveState = kItf.Command("SaveState", "*SAV %s");
constexpr Member RecallState = kItf.Command("RecallState", "*RCL %s");
constexpr Member EnableLocalControls = kItf.Method("EnableLocalControls");
constexpr Member DisableLocalControls = kItf.Method("DisableLocalControls");
constexpr Member Beep = kItf.Command("Beep", "SYST:BEEP");
constexpr Member get_AsyncEventsEnabled = kItf.Get("get_AsyncEventsEnabled");
constexpr Member put_AsyncEventsEnabled = kItf.Put("put_AsyncEventsEnabled");
constexpr Member get_IO = Unchecked(kItf.Get("get_IO"));
constexpr Member get_MemoryName = kItf.Get("get_MemoryName", kMemoryNameKey, "MEM:STAT:NAME? %d");
constexpr Member put_MemoryName =
    kItf.Put("put_MemoryName", kMemoryNameKey, "MEM:STAT:NAME %d, \"%s\"");
constexpr Member get_Model = kItf.Get("get_Model");
constexpr Member put_Model = kItf.Put("put_Model");
constexpr Member get_TimeoutMilliseconds = kItf.Get("get_TimeoutMilliseconds", kTimeoutKey);
constexpr Member put_TimeoutMilliseconds = kItf.Put("put_TimeoutMilliseconds", kTimeoutKey);
constexpr Member get_TraceEnabled = kItf.Get("get_TraceEnabled", kTraceKey);
constexpr Member put_TraceEnabled = kItf.Put("put_TraceEnabled", kTraceKey);
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
  return owner_->Act(m, {}, [&]() -> HRESULT {
    // No status poll around the wait: it would read, and so clear, the event register that
    // holds the operation-complete bit, and after a time-out it would wait on a busy instrument
    // a second time.
    PollingOff off(owner_->MutableFlags());
    LONG done = 0;
    CDriverIOManager& io = owner_->IO();
    const HRESULT hr = io.InstrQuery("*OPC?", std::max(MaxTimeMilliseconds, kTimeoutMin), &done);
    bool timedOut = false;
    if (FAILED(hr) && SUCCEEDED(io.IsTimeout(&timedOut)) && timedOut)
      return owner_->Errors().ReportError(Msg::E_VELMORAK40XX_MAX_TIME_EXCEEDED, {m.name});
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
HRESULT SystemFacet::SendState(const Member& m, BSTR identifier) {
  auto check = [&] { return CheckCommandText(*owner_, m.name, "Identifier", identifier); };
  return owner_->ActOrSimulate(m, {}, check,
                               [&] {
                                 if (HRESULT hr = check(); FAILED(hr)) return hr;
                                 return owner_->IO().InstrPrintCommand();
                               },
                               {com::BstrToUtf8(identifier)});
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
  return owner_->Act(m, {}, [&]() -> HRESULT {
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
    return SetLocalControlsOverBus(owner_->Errors(), session.get(), message.get(), enable, m.name);
  });
}

HRESULT SystemFacet::Beep() {
  return owner_->Act(sys::Beep, {}, [&] { return owner_->IO().InstrPrintCommand(); });
}

// The driver raises no events.
HRESULT SystemFacet::get_AsyncEventsEnabled(VARIANT_BOOL* val) {
  return owner_->Frame(sys::get_AsyncEventsEnabled, {val}, [&] {
    *val = VARIANT_FALSE;
    return owner_->Errors().ReportError(Msg::E_IVI_PROPERTY_NOT_SUPPORTED, {"AsyncEventsEnabled"});
  });
}

HRESULT SystemFacet::put_AsyncEventsEnabled(VARIANT_BOOL val) {
  (void)val;
  return owner_->Frame(sys::put_AsyncEventsEnabled, {}, [&] {
    return owner_->Errors().ReportError(Msg::E_IVI_PROPERTY_NOT_SUPPORTED, {"AsyncEventsEnabled"});
  });
}

// Direct I/O shares the session's connection: what a caller sends through it bypasses the
// driver's checks and status polling.
HRESULT SystemFacet::get_IO(IFormattedIO488** val) {
  return owner_->Frame(sys::get_IO, {val}, [&]() -> HRESULT {
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
  return owner_->Get(sys::get_MemoryName, val,
                     [&] {
                       if (HRESULT hr = CheckMemoryIndex(*owner_, Index); FAILED(hr)) return hr;
                       std::string reply;
                       const HRESULT hr =
                           owner_->IO().InstrQueryCommand(kMemoryNameReplyMax, &reply);
                       if (FAILED(hr)) return hr;
                       *val = com::Utf8ToBstr(UnquoteReply(reply));
                       return *val ? hr : E_OUTOFMEMORY;
                     },
                     {static_cast<long long>(Index)});
}

HRESULT SystemFacet::put_MemoryName(LONG Index, BSTR val) {
  const Member& m = sys::put_MemoryName;
  auto check = [&] { return CheckCommandText(*owner_, m.name, "val", val); };
  return owner_->ActOrSimulate(
      m, {},
      [&] {
        if (HRESULT hr = check(); FAILED(hr)) return hr;
        return owner_->StoreSimulated(sys::kMemoryNameKey, val);
      },
      [&] {
        if (HRESULT hr = CheckMemoryIndex(*owner_, Index); FAILED(hr)) return hr;
        if (HRESULT hr = check(); FAILED(hr)) return hr;
        return owner_->IO().InstrPrintCommand();
      },
      {static_cast<long long>(Index), EscapeQuotes(com::BstrToUtf8(val))});
}

// The session's model, whether identified or simulated; a model the table does not know reads
// as no supported model.
HRESULT SystemFacet::get_Model(VelmoraK40xxModelEnum* val) {
  return owner_->Frame(sys::get_Model, {val}, [&] {
    const std::string model = owner_->GetModel();
    int32_t value = VelmoraK40xxModelNoneSupport;
    if (!KeywordTable(KeywordEnum::Model).KeywordToEnum(model, model, &value))
      value = VelmoraK40xxModelNoneSupport;
    *val = static_cast<VelmoraK40xxModelEnum>(value);
    return S_OK;
  });
}

HRESULT SystemFacet::put_Model(VelmoraK40xxModelEnum val) {
  (void)val;
  return owner_->Frame(sys::put_Model, {}, [&] {
    return owner_->Errors().ReportError(Msg::E_IVI_PROPERTY_NOT_SUPPORTED,
                                        {"put_Model - for simulation use Initialize() option"});
  });
}

HRESULT SystemFacet::get_TimeoutMilliseconds(LONG* val) {
  return owner_->Get(sys::get_TimeoutMilliseconds, val, [&] {
    const HRESULT hr = owner_->IO().GetIOTimeout(val);
    return FAILED(hr) ? owner_->Errors().ReportIoError() : hr;
  });
}

HRESULT SystemFacet::put_TimeoutMilliseconds(LONG val) {
  return owner_->Put(sys::put_TimeoutMilliseconds, val, NoCheck, [&] {
    const HRESULT hr = owner_->IO().SetIOTimeout(std::max(val, kTimeoutMin));
    return FAILED(hr) ? owner_->Errors().ReportIoError() : hr;
  });
}

// Until the session has a tracer, the switch is its trace setting, which a tracer starts from.
HRESULT SystemFacet::get_TraceEnabled(VARIANT_BOOL* val) {
  return owner_->Get(sys::get_TraceEnabled, val, [&] {
    *val = owner_->Trace().enabled ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
  });
}

HRESULT SystemFacet::put_TraceEnabled(VARIANT_BOOL val) {
  return owner_->Put(sys::put_TraceEnabled, val, NoCheck, [&] {
    owner_->SetTraceEnabled(val != VARIANT_FALSE);
    return S_OK;
  });
}

}  // namespace vmk
