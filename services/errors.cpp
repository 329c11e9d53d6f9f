#include "services/errors.h"

#include <cmath>
#include <cstdio>
#include <string>
#include <unordered_map>

#include "platform/com/com_ptr.h"
#include "platform/com/creation.h"
#include "platform/visa/number_text.h"
#include "resources/messages.h"
#include "vmk40xx/errors.h"
#include "vmk40xx/vmk40xx.h"

namespace vmk {

namespace {

const std::unordered_map<int32_t, const MessageEntry*>& ErrorMap() {
  static const auto* map = [] {
    auto* m = new std::unordered_map<int32_t, const MessageEntry*>();
    for (const MessageEntry& e : MessageTable()) m->emplace(e.id, &e);
    return m;
  }();
  return *map;
}

bool IsSpace(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

std::string Trim(std::string s) {
  size_t end = s.size();
  while (end > 0 && IsSpace(s[end - 1])) --end;
  size_t begin = 0;
  while (begin < end && IsSpace(s[begin])) ++begin;
  return s.substr(begin, end - begin);
}

// Inserts are taken as plain strings: "%n" names the n-th insert; a missing insert reads as
// empty, and a '%' not followed by a digit stays as it is.
std::string Substitute(const char* text, std::initializer_list<std::string_view> inserts) {
  std::string out;
  for (const char* p = text; *p; ++p) {
    if (*p == '%' && p[1] >= '1' && p[1] <= '9') {
      size_t n = static_cast<size_t>(p[1] - '1');
      if (n < inserts.size()) out.append(*(inserts.begin() + n));
      ++p;
    } else {
      out.push_back(*p);
    }
  }
  return out;
}

std::string FormatDouble(double v) {
  return visa::FormatG(v);
}

}  // namespace

int32_t TranslateFrameworkId(int32_t frameworkId) {
  switch (frameworkId) {
    case 40013:
      return 4;
    case 40014:
      return 5;
    case 40015:
      return 6;
    case 40017:
      return 7;
    default:
      return 0;
  }
}

bool ComposeMessage(int32_t id, std::initializer_list<std::string_view> inserts, std::string* out) {
  auto it = ErrorMap().find(id);
  if (it == ErrorMap().end()) return false;
  *out = Trim(Substitute(it->second->text, inserts));
  return true;
}

std::string ErrorSource() {
  std::optional<std::string> progId = com::RegisteredProgId(CLSID_VelmoraK40xx);
  return progId && !progId->empty() ? *progId : "VelmoraK40xx.VelmoraK40xx.1";
}

void SetComErrorInfo(const IID& iid, std::string_view source, std::string_view description) {
  com::ComPtr<ICreateErrorInfo> create;
  if (FAILED(CreateErrorInfo(create.put()))) return;
  create->SetGUID(iid);
  create->SetSource(com::Utf8ToUtf16(source).c_str());
  create->SetDescription(com::Utf8ToUtf16(description).c_str());
  com::ComPtr<IErrorInfo> info;
  if (SUCCEEDED(create->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(info.put()))))
    SetErrorInfo(0, info.get());
}

HRESULT CErrorManager::Raise(int32_t id, const std::string& text) {
  auto it = ErrorMap().find(id);
  HRESULT hr = it == ErrorMap().end() ? E_FAIL : it->second->hr;
  SetComErrorInfo(*iid_, ErrorSource(), text);
  return hr == S_OK ? DISP_E_EXCEPTION : hr;
}

HRESULT CErrorManager::ReportErrorById(int32_t id,
                                       std::initializer_list<std::string_view> inserts) {
  std::string text;
  if (!ComposeMessage(id, inserts, &text)) {
    char buf[256];
    std::snprintf(buf, sizeof buf,
                  "Internal Error: Unable to retrieve and format error message from message "
                  "table.\nResource ID = %d\nLanguage ID = %d\nReason = '%s'",
                  static_cast<int>(id), 0, "The message id is not in the message table.");
    SetComErrorInfo(GUID_NULL, ErrorSource(), buf);
    return DISP_E_EXCEPTION;
  }
  return Raise(id, text);
}

HRESULT CErrorManager::ReportError(Msg id, std::initializer_list<std::string_view> inserts) {
  return ReportErrorById(static_cast<int32_t>(id), inserts);
}

HRESULT CErrorManager::ReportErrorWithText(Msg id, std::string_view text,
                                           std::initializer_list<std::string_view> inserts) {
  std::string composed;
  if (!ComposeMessage(static_cast<int32_t>(id), inserts, &composed))
    return ReportErrorById(static_cast<int32_t>(id), inserts);
  composed.append("\r\n").append(text);
  return Raise(static_cast<int32_t>(id), composed);
}

HRESULT CErrorManager::ReportInvalidValue(std::string_view method, std::string_view param,
                                          uint8_t value) {
  return ReportInvalidValue(method, param, static_cast<int32_t>(value));
}
HRESULT CErrorManager::ReportInvalidValue(std::string_view method, std::string_view param,
                                          int16_t value) {
  return ReportInvalidValue(method, param, static_cast<int32_t>(value));
}
HRESULT CErrorManager::ReportInvalidValue(std::string_view method, std::string_view param,
                                          int32_t value) {
  return ReportError(Msg::E_IVI_INVALID_VALUE, {std::to_string(value), method, param});
}
HRESULT CErrorManager::ReportInvalidValue(std::string_view method, std::string_view param,
                                          float value) {
  return ReportInvalidValue(method, param, static_cast<double>(value));
}
HRESULT CErrorManager::ReportInvalidValue(std::string_view method, std::string_view param,
                                          double value) {
  return ReportError(Msg::E_IVI_INVALID_VALUE, {FormatDouble(value), method, param});
}
HRESULT CErrorManager::ReportInvalidValue(std::string_view method, std::string_view param,
                                          std::string_view value) {
  return ReportError(Msg::E_IVI_INVALID_VALUE, {value, method, param});
}
HRESULT CErrorManager::ReportInvalidValue(std::string_view method, std::string_view param,
                                          const OLECHAR* value) {
  return ReportInvalidValue(method, param, std::string_view(com::BstrToUtf8(value)));
}

namespace {
// The description of the error information the I/O layer left on this thread, taken off it.
std::string TakePendingDescription() {
  com::ComPtr<IErrorInfo> info;
  if (GetErrorInfo(0, info.put()) != S_OK || !info) return {};
  com::Bstr description;
  if (FAILED(info->GetDescription(description.put()))) return {};
  return description.utf8();
}
}  // namespace

HRESULT CErrorManager::ReportIoError() {
  return ReportError(Msg::E_VELMORAK40XX_IO_GENERAL, {TakePendingDescription()});
}

HRESULT CErrorManager::ReportIoTimeout() {
  return ReportError(Msg::E_VELMORAK40XX_IO_TIMEOUT, {TakePendingDescription()});
}

}  // namespace vmk
