#include "dcpwr/calibrations.h"

#include <string>
#include <string_view>

#include "dcpwr/display.h"
#include "io/driver_io_manager.h"
#include "platform/com/com_ptr.h"
#include "platform/com/unicode.h"
#include "vmk40xx/errors.h"

namespace vmk {

namespace {

namespace calibrations {
constexpr Interface kItf{&IID_IVelmoraK40xxCalibrations, "IVelmoraK40xxCalibrations",
                         kPowerSupply};
constexpr Member DACError =
    kItf.Method("DACError", {}, {.command = "CAL:DAC:ERR", .models = kOcpModels});
// The code goes out bare: the instrument takes it as character data, not as a string.
constexpr Member SetState = kItf.Method("SetState", {In("Enabled", Bool), In("Password", String)},
                                        {.command = "CAL:SEC:STAT %s, %s"});
constexpr Property Count = kItf.Prop("Count", Long);
constexpr Property Item = kItf.Prop("Item", Object, {.index = {In("Name", String)}});
constexpr Property Name = kItf.Prop("Name", String, {.index = {In("Index", Long)}});
constexpr Property Enabled =
    kItf.Prop("Enabled", Bool, {.get = "CAL:SEC:STAT?", .sim = VARIANT_TRUE});
constexpr Property Password = kItf.Prop("Password", String, {.put = "CAL:SEC:CODE %s"});
// Not the setter's usual shape: the command carries the message with its quotes doubled, while
// the simulation keeps it as written.
constexpr Property Message = kItf.Prop(
    "String", String,
    {.get = "CAL:STR?", .put = "CAL:STR %q", .sim = u"FACTORY CAL 09/Aug/2002"});
constexpr Property Times = kItf.Prop("Times", Long, {.get = "CAL:COUN?", .sim = 1.0});

// The longest calibration message the driver reads back.
constexpr int32_t kStringChars = 128;
// The DAC error calibration runs through every DAC code before the instrument answers again.
constexpr int32_t kDacErrorTimeoutMs = 45000;
}  // namespace calibrations

// A code is sent bare, so anything but character data (letters, digits, underscores) would end
// it early: a comma or semicolon would turn the rest into further commands, a line feed would
// end the message there. Such a code is refused before anything is sent.
HRESULT CheckCode(CNode& node, const Member& m, const char* param, BSTR code) {
  const std::string text = com::BstrToUtf8(code);
  bool valid = !text.empty();
  for (char c : text)
    valid = valid && ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                      c == '_');
  if (valid) return S_OK;
  // The code is a secret, and a refused one may be the right code with a stray character.
  return node.Errors().ReportInvalidValue(m.Name(), param, std::string_view("not shown"));
}

}  // namespace

HRESULT WithMinimumTimeout(CNode& node, int32_t minimumMs, const std::function<HRESULT()>& send) {
  CDriverIOManager& io = node.IO();
  int32_t saved = 0;
  if (HRESULT hr = io.GetIOTimeout(&saved); FAILED(hr)) return hr;
  // A session that waits forever already waits long enough.
  const bool raise = saved != kIoTimeoutInfinite && saved < minimumMs;
  // Should raising fail, the step still runs, with the time-out the session has.
  const bool raised = raise && SUCCEEDED(io.SetIOTimeout(minimumMs));
  const HRESULT hr = send();
  if (raised) {
    // Putting the time-out back must not replace what the step reported.
    com::ComPtr<IErrorInfo> info;
    GetErrorInfo(0, info.put());
    io.SetIOTimeout(saved);
    SetErrorInfo(0, info.get());
  }
  return hr;
}

HRESULT CalibrationsFacet::DACError() {
  return owner_->Act(calibrations::DACError, With(), NoCheck, [&] {
    return WithMinimumTimeout(*owner_, calibrations::kDacErrorTimeoutMs,
                              [&] { return owner_->IO().InstrPrintCommand(); });
  });
}

HRESULT CalibrationsFacet::SetState(VARIANT_BOOL Enabled, BSTR Password) {
  const Member& m = calibrations::SetState;
  return owner_->ActOrSimulate(
      m, With(Enabled, Password), [&] { return CheckCode(*owner_, m, "Password", Password); },
      [&] { return owner_->StoreSimulated(calibrations::Enabled, Enabled); },
      [&] { return owner_->IO().InstrPrintCommand(); });
}

HRESULT CalibrationsFacet::get_Count(LONG* val) {
  return owner_->Frame(calibrations::Count.get, With(val),
                       [&] { return owner_->RepCapCount("VelmoraK40xxCalibration", val); });
}

HRESULT CalibrationsFacet::get_Item(BSTR Name, IVelmoraK40xxCalibration** val) {
  return owner_->Frame(calibrations::Item.get, With(Name, val), [&] {
    return owner_->RepCapItem("VelmoraK40xxCalibration", Name, IID_IVelmoraK40xxCalibration,
                              reinterpret_cast<void**>(val));
  });
}

HRESULT CalibrationsFacet::get_Name(LONG Index, BSTR* val) {
  return owner_->Frame(calibrations::Name.get, With(Index, val),
                       [&] { return owner_->RepCapName("VelmoraK40xxCalibration", Index, val); });
}

HRESULT CalibrationsFacet::get_Enabled(VARIANT_BOOL* val) {
  return owner_->Get(calibrations::Enabled, val,
                     [&] { return owner_->IO().InstrQueryCommandBool(val); });
}

HRESULT CalibrationsFacet::put_Password(BSTR val) {
  return owner_->Put(
      calibrations::Password, val,
      [&] { return CheckCode(*owner_, calibrations::Password.put, "val", val); },
      [&] { return owner_->IO().InstrPrintCommand(); });
}

HRESULT CalibrationsFacet::get_String(BSTR* val) {
  return owner_->Get(calibrations::Message, val, [&]() -> HRESULT {
    std::string reply;
    HRESULT hr = owner_->IO().InstrQueryCommand(calibrations::kStringChars, &reply);
    if (FAILED(hr)) return hr;
    BSTR text = com::Utf8ToBstr(UnquoteReply(reply));
    if (!text) return E_OUTOFMEMORY;
    *val = text;
    return hr;
  });
}

HRESULT CalibrationsFacet::put_String(BSTR val) {
  return owner_->Put(
      calibrations::Message, val,
      [&] { return CheckCommandText(*owner_, calibrations::Message.put.Name(), "val", val); },
      [&] { return owner_->IO().InstrPrintCommand(); });
}

HRESULT CalibrationsFacet::get_Times(LONG* val) {
  return owner_->Get(calibrations::Times, val,
                     [&] { return owner_->IO().InstrQueryCommand(val); });
}

}  // namespace vmk
