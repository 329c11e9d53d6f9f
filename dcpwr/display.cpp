#include "dcpwr/display.h"

#include "dcpwr/channel.h"
#include "dcpwr/keyword_tables.h"
#include "io/driver_io_manager.h"
#include "platform/com/com_ptr.h"
#include "vmk40xx/errors.h"

namespace vmk {

namespace {

namespace display {
constexpr InterfaceInfo kItf{&IID_IVelmoraK40xxDisplay, "IVelmoraK40xxDisplay", true};
constexpr const char* kEnabledKey = "IVelmoraK40xxDisplay.Enabled";
constexpr const char* kModeKey = "IVelmoraK40xxDisplay.Mode";
constexpr const char* kTextKey = "IVelmoraK40xxDisplay.Text";
constexpr Member Clear = kItf.Command("Clear", "DISP:TEXT:CLE");
constexpr Member get_Enabled = kItf.Get("get_Enabled", kEnabledKey, "DISP:STAT?");
constexpr Member put_Enabled = kItf.Put("put_Enabled", kEnabledKey, "DISP:STAT %s");
constexpr Member get_Mode = kItf.Get("get_Mode", kModeKey, "DISP:MODE?");
constexpr Member put_Mode = WithKeywords(kItf.Put("put_Mode", kModeKey, "DISP:MODE %s"),
                                         &EnumKeyword<KeywordEnum::DisplayMode>);
constexpr Member get_Text = kItf.Get("get_Text", kTextKey, "DISP:TEXT?");
constexpr Member put_Text = kItf.Put("put_Text", kTextKey, "DISP:TEXT \"%s\"");
}  // namespace display

// The longest text reply the display and memory-name queries take.
constexpr int32_t kTextReplyMax = 128;

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

}  // namespace

std::string EscapeQuotes(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    out.push_back(c);
    if (c == '"') out.push_back('"');
  }
  return out;
}

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

HRESULT CheckCommandText(CNode& node, std::string_view method, std::string_view param,
                         const OLECHAR* text) {
  const std::string narrow = com::BstrToUtf8(text);
  if (narrow.find('\n') == std::string::npos) return S_OK;
  return node.Errors().ReportInvalidValue(method, param, std::string_view(narrow));
}

HRESULT DisplayFacet::Clear() {
  return owner_->ActOrSimulate(
      display::Clear, {},
      [&] {
        com::Bstr empty{std::string_view{}};
        return owner_->StoreSimulated(display::kTextKey, empty.get());
      },
      [&] { return owner_->IO().InstrPrintCommand(); });
}

HRESULT DisplayFacet::get_Enabled(VARIANT_BOOL* val) {
  return owner_->Get(display::get_Enabled, val,
                     [&] { return owner_->IO().InstrQueryCommandBool(val); });
}

HRESULT DisplayFacet::put_Enabled(VARIANT_BOOL val) {
  return owner_->Put(display::put_Enabled, val, NoCheck,
                     [&] { return owner_->IO().InstrPrintCommand(); });
}

HRESULT DisplayFacet::get_Mode(VelmoraK40xxDisplayModeEnum* val) {
  return owner_->Get(display::get_Mode, val, [&] {
    CModelKeywordLookup keywords(KeywordTable(KeywordEnum::DisplayMode), owner_->GetModel());
    return owner_->IO().InstrQueryCommandEnum(keywords, val);
  });
}

HRESULT DisplayFacet::put_Mode(VelmoraK40xxDisplayModeEnum val) {
  const Member& m = display::put_Mode;
  return owner_->Put(
      m, val,
      [&] {
        return CheckEnumValue(*owner_, m, val, VelmoraK40xxDisplayModeVoltCurrent,
                              VelmoraK40xxDisplayModeCurrentCurrent);
      },
      [&] { return owner_->IO().InstrPrintCommand(); });
}

HRESULT DisplayFacet::get_Text(BSTR* val) {
  return owner_->Get(display::get_Text, val, [&] {
    std::string reply;
    const HRESULT hr = owner_->IO().InstrQueryCommand(kTextReplyMax, &reply);
    if (FAILED(hr)) return hr;
    *val = com::Utf8ToBstr(UnquoteReply(reply));
    return *val ? hr : E_OUTOFMEMORY;
  });
}

// Too long a text is the instrument's to refuse; the status poll reports it.
HRESULT DisplayFacet::put_Text(BSTR val) {
  const Member& m = display::put_Text;
  auto check = [&] { return CheckCommandText(*owner_, m.name, "val", val); };
  return owner_->ActOrSimulate(
      m, {},
      [&] {
        if (HRESULT hr = check(); FAILED(hr)) return hr;
        return owner_->StoreSimulated(display::kTextKey, val);
      },
      [&] {
        if (HRESULT hr = check(); FAILED(hr)) return hr;
        return owner_->IO().InstrPrintCommand();
      },
      {EscapeQuotes(com::BstrToUtf8(val))});
}

}  // namespace vmk
