#include "dcpwr/display.h"

#include "dcpwr/channel.h"
#include "dcpwr/keyword_tables.h"
#include "io/driver_io_manager.h"
#include "platform/com/com_ptr.h"
#include "vmk40xx/errors.h"

namespace vmk {

namespace {

namespace display {
constexpr Interface kItf{&IID_IVelmoraK40xxDisplay, "IVelmoraK40xxDisplay", kPowerSupply};
constexpr Member Clear = kItf.Method("Clear", {}, {.command = "DISP:TEXT:CLE"});
constexpr Property Enabled =
    kItf.Prop("Enabled", Bool, {.get = "DISP:STAT?", .put = "DISP:STAT %s", .sim = VARIANT_TRUE});
constexpr Property Mode = kItf.Prop("Mode", Enum,
                                    {.get = "DISP:MODE?",
                                     .put = "DISP:MODE %s",
                                     .sim = VelmoraK40xxDisplayModeVoltCurrent,
                                     .models = kDualOutput,
                                     .keyword = &EnumKeyword<KeywordEnum::DisplayMode>});
// Too long a text is the instrument's to refuse; the status poll reports it.
constexpr Property Text =
    kItf.Prop("Text", String, {.get = "DISP:TEXT?", .put = "DISP:TEXT %q", .sim = u""});
}  // namespace display

// The longest text reply the display and memory-name queries take.
constexpr int32_t kTextReplyMax = 128;

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

}  // namespace

std::string UnquoteReply(std::string_view reply) {
  while (!reply.empty() && IsBlank(reply.back())) reply.remove_suffix(1);
  while (!reply.empty() && IsBlank(reply.front())) reply.remove_prefix(1);
  std::string out;
  out.reserve(reply.size());
  if (reply.size() >= 2 && reply.front() == '"' && reply.back() == '"') {
    reply = reply.substr(1, reply.size() - 2);
    for (size_t i = 0; i < reply.size(); ++i) {
      out.push_back(reply[i]);
      if (reply[i] == '"' && i + 1 < reply.size() && reply[i + 1] == '"') ++i;
    }
    return out;
  }
  for (char c : reply)
    if (c != '"') out.push_back(c);
  return out;
}

std::string ShownInError(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    if (c == '\0')
      out += "\\0";
    else
      out.push_back(c);
  }
  return out;
}

HRESULT CheckCommandText(CNode& node, std::string_view method, std::string_view param,
                         const OLECHAR* text) {
  const std::string narrow = com::BstrToUtf8(text);
  if (narrow.find_first_of(std::string_view("\n\r\0", 3)) == std::string::npos) return S_OK;
  return node.Errors().ReportInvalidValue(method, param, std::string_view(ShownInError(narrow)));
}

HRESULT DisplayFacet::Clear() {
  return owner_->ActOrSimulate(
      display::Clear, With(), NoCheck,
      [&] {
        com::Bstr empty{std::string_view{}};
        return owner_->StoreSimulated(display::Text, empty.get());
      },
      [&] { return owner_->IO().InstrPrintCommand(); });
}

HRESULT DisplayFacet::get_Enabled(VARIANT_BOOL* val) {
  return owner_->Get(display::Enabled, val,
                     [&] { return owner_->IO().InstrQueryCommandBool(val); });
}

HRESULT DisplayFacet::put_Enabled(VARIANT_BOOL val) {
  return owner_->Put(display::Enabled, val, NoCheck,
                     [&] { return owner_->IO().InstrPrintCommand(); });
}

HRESULT DisplayFacet::get_Mode(VelmoraK40xxDisplayModeEnum* val) {
  return owner_->Get(display::Mode, val, [&] {
    CModelKeywordLookup keywords(KeywordTable(KeywordEnum::DisplayMode), owner_->GetModel());
    return owner_->IO().InstrQueryCommandEnum(keywords, val);
  });
}

HRESULT DisplayFacet::put_Mode(VelmoraK40xxDisplayModeEnum val) {
  return owner_->Put(
      display::Mode, val,
      [&] {
        return CheckEnumValue(*owner_, display::Mode.put, val, VelmoraK40xxDisplayModeVoltCurrent,
                              VelmoraK40xxDisplayModeCurrentCurrent);
      },
      [&] { return owner_->IO().InstrPrintCommand(); });
}

HRESULT DisplayFacet::get_Text(BSTR* val) {
  return owner_->Get(display::Text, val, [&] {
    std::string reply;
    const HRESULT hr = owner_->IO().InstrQueryCommand(kTextReplyMax, &reply);
    if (FAILED(hr)) return hr;
    *val = com::Utf8ToBstr(UnquoteReply(reply));
    return *val ? hr : E_OUTOFMEMORY;
  });
}

HRESULT DisplayFacet::put_Text(BSTR val) {
  return owner_->Put(
      display::Text, val,
      [&] { return CheckCommandText(*owner_, display::Text.put.Name(), "val", val); },
      [&] { return owner_->IO().InstrPrintCommand(); });
}

}  // namespace vmk
