#include <algorithm>
#include <charconv>

#include "platform/com/ascii.h"
#include "platform/com/com_ptr.h"
#include "platform/visa/transport.h"

namespace vmk::visa {
namespace {

std::string Upper(std::string_view s) {
  std::string u(s);
  for (char& c : u) c = ascii::Upper(c);
  return u;
}

std::string Trim(std::string_view s) {
  size_t b = 0, e = s.size();
  while (b < e && ascii::IsSpace(s[b])) ++b;
  while (e > b && ascii::IsSpace(s[e - 1])) --e;
  return std::string(s.substr(b, e - b));
}

bool IsClass(const std::string& upper) {
  static constexpr std::string_view kClasses[] = {"INSTR",     "SOCKET",  "INTFC", "RAW",
                                                  "BACKPLANE", "SERVANT", "MEMACC"};
  return std::find(std::begin(kClasses), std::end(kClasses), upper) != std::end(kClasses);
}

}  // namespace

HRESULT ParseResourceName(std::string_view text, ResourceName* out, std::string* why) {
  *out = ResourceName{};
  out->text = std::string(text);
  std::vector<std::string> parts;
  for (size_t at = 0;;) {
    const size_t sep = text.find("::", at);
    parts.push_back(Trim(text.substr(at, sep == std::string_view::npos ? sep : sep - at)));
    if (sep == std::string_view::npos) break;
    at = sep + 2;
  }
  // Longer keywords first, so that GPIB-VXI is not taken for GPIB.
  static constexpr std::string_view kKeywords[] = {"GPIB-VXI", "TCPIP", "GPIB",
                                                   "ASRL",     "USB",   "VXI"};
  const std::string head = Upper(parts[0]);
  for (std::string_view k : kKeywords) {
    if (head.compare(0, k.size(), k) == 0) {
      out->keyword = std::string(k);
      break;
    }
  }
  if (const std::string k = RegisteredKeywordOf(head); k.size() > out->keyword.size())
    out->keyword = k;
  if (out->keyword.empty()) {
    *why = "\"" + out->text +
           "\" is not a VISA resource name: it must start with TCPIP, ASRL, "
           "GPIB, USB or VXI";
    return E_VISA_INV_RSRC_NAME;
  }
  const std::string rest = parts[0].substr(out->keyword.size());
  if (out->keyword == "ASRL" && !rest.empty() && rest[0] == '/') {
    out->devicePath = rest;
  } else if (!rest.empty()) {
    const auto [p, ec] = std::from_chars(rest.data(), rest.data() + rest.size(), out->board);
    if (ec != std::errc() || p != rest.data() + rest.size() || out->board < 0) {
      *why = "\"" + out->text + "\": the board number \"" + rest + "\" is not a number";
      return E_VISA_INV_RSRC_NAME;
    }
  }
  parts.erase(parts.begin());
  if (!parts.empty() && IsClass(Upper(parts.back()))) {
    out->resourceClass = Upper(parts.back());
    parts.pop_back();
  } else {
    out->resourceClass = "INSTR";
  }
  for (const std::string& f : parts) {
    if (f.empty()) {
      *why = "\"" + out->text + "\" has an empty field";
      return E_VISA_INV_RSRC_NAME;
    }
  }
  out->fields = std::move(parts);
  return S_OK;
}

const std::string* OpenOptions::Find(std::string_view upperName) const {
  for (const auto& [name, value] : values)
    if (name == upperName) return &value;
  return nullptr;
}

HRESULT ParseOptionString(std::string_view text, OpenOptions* out, std::string* why) {
  size_t at = 0;
  while (at <= text.size()) {
    const size_t sep = std::min(text.find(';', at), text.size());
    const std::string item = Trim(text.substr(at, sep - at));
    at = sep + 1;
    if (item.empty()) continue;
    const size_t eq = item.find('=');
    if (eq == std::string::npos || Trim(item.substr(0, eq)).empty()) {
      *why = "the option \"" + item + "\" is not of the form Name = value";
      return E_INVALIDARG;
    }
    out->values.emplace_back(Upper(Trim(item.substr(0, eq))), Trim(item.substr(eq + 1)));
  }
  return S_OK;
}

HRESULT VisaError(HRESULT hr, const IID& iid, std::string_view description) {
  com::ComPtr<ICreateErrorInfo> create;
  if (SUCCEEDED(CreateErrorInfo(create.put()))) {
    create->SetGUID(iid);
    create->SetSource(u"VISA");
    create->SetDescription(com::Utf8ToUtf16(description).c_str());
    com::ComPtr<IErrorInfo> info;
    if (SUCCEEDED(create->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(info.put()))))
      SetErrorInfo(0, info.get());
  }
  return hr;
}

}  // namespace vmk::visa
