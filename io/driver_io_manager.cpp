#include "io/driver_io_manager.h"

#include <locale.h>

#include <cfloat>
#include <cmath>
#include <cstdio>

#include "platform/visa/number_text.h"
#include "services/errors.h"

namespace vmk {
namespace {

locale_t CLocale() {
  static const locale_t c = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
  return c;
}

// The locale of this thread switched to "C" for the life of the object.
class CLocaleScope {
 public:
  CLocaleScope() : old_(CLocale() ? uselocale(CLocale()) : static_cast<locale_t>(nullptr)) {}
  ~CLocaleScope() {
    if (old_) uselocale(old_);
  }
  CLocaleScope(const CLocaleScope&) = delete;
  CLocaleScope& operator=(const CLocaleScope&) = delete;

 private:
  locale_t old_;
};

std::string_view Trim(std::string_view s) {
  auto blank = [](char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
  };
  while (!s.empty() && blank(s.back())) s.remove_suffix(1);
  while (!s.empty() && blank(s.front())) s.remove_prefix(1);
  return s;
}

const std::string kEmpty;

}  // namespace

std::string IoFormatV(const char* format, va_list args) {
  CLocaleScope c;
  char small[256];
  va_list again;
  va_copy(again, args);
  const int n = std::vsnprintf(small, sizeof small, format, args);
  if (n < 0) {
    va_end(again);
    return {};
  }
  if (static_cast<size_t>(n) < sizeof small) {
    va_end(again);
    return std::string(small, static_cast<size_t>(n));
  }
  std::string text(static_cast<size_t>(n), '\0');
  std::vsnprintf(text.data(), text.size() + 1, format, again);
  va_end(again);
  return text;
}

const std::string& CDriverIOManager::CurrentCommand() const {
  return commands_.empty() ? kEmpty : commands_.back();
}

const std::string& CDriverIOManager::CurrentModel() const {
  return models_.empty() ? kEmpty : models_.back();
}

void CDriverIOManager::Trace(std::string_view operation,
                             std::initializer_list<IoTraceParam> params) {
  if (trace_)
    trace_->TraceIo("CDriverIOManager", operation, std::span(params.begin(), params.size()));
}

HRESULT CDriverIOManager::NoProvider() const {
  SetComErrorInfo(GUID_NULL, "VISA", "the instrument connection is not open");
  return errors_ ? errors_->ReportIoError() : E_VELMORAK40XX_IO_GENERAL;
}

HRESULT CDriverIOManager::Unexpected(std::string_view reply, std::string_view what) {
  std::string text = "\"";
  text.append(reply).append("\" ").append(what);
  return errors_ ? errors_->ReportErrorWithText(Msg::E_IVI_UNEXPECTED_RESPONSE, text)
                 : E_IVI_UNEXPECTED_RESPONSE;
}

std::string CDriverIOManager::ToText(double v) {
  return visa::FormatDouble(v);
}

#define VMK_NEED_PROVIDER() \
  if (!provider_) return NoProvider()

HRESULT CDriverIOManager::PollInstrumentErrors() {
  VMK_NEED_PROVIDER();
  Trace("PollInstrumentErrors", {});
  return provider_->PollInstrumentErrors();
}
HRESULT CDriverIOManager::DeviceClear() {
  VMK_NEED_PROVIDER();
  Trace("DeviceClear", {});
  return provider_->DeviceClear();
}
HRESULT CDriverIOManager::ReadSTB(int16_t* pStb) {
  if (!pStb) return E_POINTER;
  VMK_NEED_PROVIDER();
  Trace("ReadSTB", {});
  return provider_->ReadSTB(pStb);
}
HRESULT CDriverIOManager::SetIOTimeout(int32_t lTimeout) {
  VMK_NEED_PROVIDER();
  Trace("SetIOTimeout", {{"lTimeout", std::to_string(lTimeout)}});
  return provider_->SetIOTimeout(lTimeout);
}
HRESULT CDriverIOManager::GetIOTimeout(int32_t* plTimeout) {
  if (!plTimeout) return E_POINTER;
  VMK_NEED_PROVIDER();
  Trace("GetIOTimeout", {});
  return provider_->GetIOTimeout(plTimeout);
}
HRESULT CDriverIOManager::IsTimeout(bool* pbTimeout) {
  if (!pbTimeout) return E_POINTER;
  VMK_NEED_PROVIDER();
  Trace("IsTimeout", {});
  return provider_->IsTimeout(pbTimeout);
}
HRESULT CDriverIOManager::GetVisaInterfaceType(int32_t* peIntfType) {
  if (!peIntfType) return E_POINTER;
  VMK_NEED_PROVIDER();
  Trace("GetVisaInterfaceType", {});
  return provider_->GetVisaInterfaceType(peIntfType);
}
HRESULT CDriverIOManager::SetSendEndEnabled(bool bEnable) {
  VMK_NEED_PROVIDER();
  Trace("SetSendEndEnabled", {{"bEnable", bEnable ? "True" : "False"}});
  return provider_->SetSendEndEnabled(bEnable);
}
HRESULT CDriverIOManager::GetSendEndEnabled(bool* pbEnable) {
  if (!pbEnable) return E_POINTER;
  VMK_NEED_PROVIDER();
  Trace("GetSendEndEnabled", {});
  return provider_->GetSendEndEnabled(pbEnable);
}
HRESULT CDriverIOManager::SetTerminationCharacter(uint8_t character) {
  VMK_NEED_PROVIDER();
  Trace("SetTerminationCharacter", {{"character", std::to_string(character)}});
  return provider_->SetTerminationCharacter(character);
}
HRESULT CDriverIOManager::GetTerminationCharacter(uint8_t* pVal) {
  if (!pVal) return E_POINTER;
  VMK_NEED_PROVIDER();
  Trace("GetTerminationCharacter", {});
  return provider_->GetTerminationCharacter(pVal);
}
HRESULT CDriverIOManager::SetTerminationCharacterEnabled(bool bEnable) {
  VMK_NEED_PROVIDER();
  Trace("SetTerminationCharacterEnabled", {{"bEnable", bEnable ? "True" : "False"}});
  return provider_->SetTerminationCharacterEnabled(bEnable);
}
HRESULT CDriverIOManager::GetTerminationCharacterEnabled(bool* pbEnable) {
  if (!pbEnable) return E_POINTER;
  VMK_NEED_PROVIDER();
  Trace("GetTerminationCharacterEnabled", {});
  return provider_->GetTerminationCharacterEnabled(pbEnable);
}

HRESULT CDriverIOManager::InstrPrintf(const char* format, ...) {
  va_list args;
  va_start(args, format);
  const std::string command = IoFormatV(format, args);
  va_end(args);
  VMK_NEED_PROVIDER();
  Trace("InstrPrintf", {{"strCmd", command}});
  return provider_->InstrWrite(std::string_view(command), kIoTimeoutKeep);
}

HRESULT CDriverIOManager::InstrPrintfNoPoll(const char* format, ...) {
  va_list args;
  va_start(args, format);
  const std::string command = IoFormatV(format, args);
  va_end(args);
  VMK_NEED_PROVIDER();
  Trace("InstrPrintfNoPoll", {{"strCmd", command}});
  return provider_->InstrWriteNoPoll(std::string_view(command), kIoTimeoutKeep);
}

HRESULT CDriverIOManager::InstrQueryf(std::string* result, int32_t cchDesired, const char* format,
                                      ...) {
  if (!result) return E_POINTER;
  va_list args;
  va_start(args, format);
  const std::string command = IoFormatV(format, args);
  va_end(args);
  return InstrQuery(command, cchDesired, kIoTimeoutKeep, result);
}

template <class T>
HRESULT CDriverIOManager::QueryfTyped(T* result, const char* format, va_list args) {
  if (!result) return E_POINTER;
  return InstrQuery(IoFormatV(format, args), kIoTimeoutKeep, result);
}

#define VMK_QUERYF(Type)                                                         \
  HRESULT CDriverIOManager::InstrQueryf(Type* result, const char* format, ...) { \
    va_list args;                                                                \
    va_start(args, format);                                                      \
    const HRESULT hr = QueryfTyped(result, format, args);                        \
    va_end(args);                                                                \
    return hr;                                                                   \
  }
VMK_QUERYF(bool)
VMK_QUERYF(int16_t)
VMK_QUERYF(int32_t)
VMK_QUERYF(float)
VMK_QUERYF(double)
#undef VMK_QUERYF

HRESULT CDriverIOManager::InstrQuery(std::string_view command, int32_t cchDesired, int32_t lTimeout,
                                     std::string* result) {
  if (!result) return E_POINTER;
  VMK_NEED_PROVIDER();
  Trace("InstrPrintf", {{"strCommand", std::string(command)},
                        {"cchDesired", std::to_string(cchDesired)},
                        {"lTimeout", std::to_string(lTimeout)}});
  return provider_->InstrQuery(command, cchDesired, lTimeout, result);
}

HRESULT CDriverIOManager::QueryInt(std::string_view command, int32_t lTimeout, int32_t* result) {
  VMK_NEED_PROVIDER();
  Trace("InstrQuery",
        {{"strCommand", std::string(command)}, {"lTimeout", std::to_string(lTimeout)}});
  return provider_->InstrQuery(command, lTimeout, result);
}

HRESULT CDriverIOManager::QueryDouble(std::string_view command, int32_t lTimeout, double* result) {
  VMK_NEED_PROVIDER();
  Trace("InstrQuery",
        {{"strCommand", std::string(command)}, {"lTimeout", std::to_string(lTimeout)}});
  return provider_->InstrQuery(command, lTimeout, result);
}

HRESULT CDriverIOManager::InstrQuery(std::string_view command, int32_t lTimeout, bool* result) {
  if (!result) return E_POINTER;
  *result = false;
  int32_t value = 0;
  const HRESULT hr = QueryInt(command, lTimeout, &value);
  // Any non-zero number is true: 256 must not read as false for lack of a low byte.
  if (SUCCEEDED(hr)) *result = value != 0;
  return hr;
}

HRESULT CDriverIOManager::InstrQuery(std::string_view command, int32_t lTimeout, int16_t* result) {
  if (!result) return E_POINTER;
  *result = 0;
  int32_t value = 0;
  const HRESULT hr = QueryInt(command, lTimeout, &value);
  if (FAILED(hr)) return hr;
  if (value < INT16_MIN || value > INT16_MAX)
    return Unexpected(std::to_string(value), "is not a 16-bit integer");
  *result = static_cast<int16_t>(value);
  return hr;
}

HRESULT CDriverIOManager::InstrQuery(std::string_view command, int32_t lTimeout, int32_t* result) {
  if (!result) return E_POINTER;
  return QueryInt(command, lTimeout, result);
}

HRESULT CDriverIOManager::InstrQuery(std::string_view command, int32_t lTimeout, float* result) {
  if (!result) return E_POINTER;
  double value = 0;
  const HRESULT hr = QueryDouble(command, lTimeout, &value);
  // Beyond the range of a float the narrowing has no defined result; infinity is the honest one.
  if (std::isfinite(value) && std::fabs(value) > FLT_MAX)
    *result = value > 0 ? INFINITY : -INFINITY;
  else
    *result = static_cast<float>(value);
  return hr;
}

HRESULT CDriverIOManager::InstrQuery(std::string_view command, int32_t lTimeout, double* result) {
  if (!result) return E_POINTER;
  return QueryDouble(command, lTimeout, result);
}

HRESULT CDriverIOManager::InstrRead(int32_t cbDesired, SAFEARRAY** ppsa, int32_t lTimeout) {
  if (!ppsa) return E_POINTER;
  VMK_NEED_PROVIDER();
  Trace("InstrRead",
        {{"cbDesired", std::to_string(cbDesired)}, {"lTimeout", std::to_string(lTimeout)}});
  return provider_->InstrRead(cbDesired, ppsa, lTimeout);
}
HRESULT CDriverIOManager::InstrRead(int32_t cchDesired, bool bRemoveTrailing, std::string* result,
                                    int32_t lTimeout) {
  if (!result) return E_POINTER;
  VMK_NEED_PROVIDER();
  Trace("InstrRead", {{"cchDesired", std::to_string(cchDesired)},
                      {"bRemoveTrailing", bRemoveTrailing ? "True" : "False"},
                      {"lTimeout", std::to_string(lTimeout)}});
  return provider_->InstrRead(cchDesired, bRemoveTrailing, result, lTimeout);
}
HRESULT CDriverIOManager::InstrRead(int32_t cbDesired, uint8_t* pBuf, int32_t* plActualLength,
                                    int32_t lTimeout) {
  if (!pBuf || !plActualLength) return E_POINTER;
  VMK_NEED_PROVIDER();
  Trace("InstrRead",
        {{"cbDesired", std::to_string(cbDesired)}, {"lTimeout", std::to_string(lTimeout)}});
  return provider_->InstrRead(cbDesired, pBuf, plActualLength, lTimeout);
}
HRESULT CDriverIOManager::InstrWrite(SAFEARRAY* data, int32_t cbDesired, int32_t lTimeout) {
  if (!data) return E_POINTER;
  VMK_NEED_PROVIDER();
  Trace("InstrWrite",
        {{"cbDesired", std::to_string(cbDesired)}, {"lTimeout", std::to_string(lTimeout)}});
  return provider_->InstrWrite(data, cbDesired, lTimeout);
}
HRESULT CDriverIOManager::InstrWrite(std::string_view data, int32_t lTimeout) {
  VMK_NEED_PROVIDER();
  Trace("InstrWrite", {{"data", std::string(data)}, {"lTimeout", std::to_string(lTimeout)}});
  return provider_->InstrWrite(data, lTimeout);
}
HRESULT CDriverIOManager::InstrWrite(const uint8_t* pBuf, int32_t cbDesired, int32_t* pcbActual,
                                     int32_t lTimeout) {
  if (!pBuf || !pcbActual) return E_POINTER;
  VMK_NEED_PROVIDER();
  Trace("InstrWrite",
        {{"cbDesired", std::to_string(cbDesired)}, {"lTimeout", std::to_string(lTimeout)}});
  return provider_->InstrWrite(pBuf, cbDesired, pcbActual, lTimeout);
}
HRESULT CDriverIOManager::InstrWriteNoPoll(SAFEARRAY* data, int32_t cbDesired, int32_t lTimeout) {
  if (!data) return E_POINTER;
  VMK_NEED_PROVIDER();
  Trace("InstrWriteNoPoll",
        {{"cbDesired", std::to_string(cbDesired)}, {"lTimeout", std::to_string(lTimeout)}});
  return provider_->InstrWriteNoPoll(data, cbDesired, lTimeout);
}
HRESULT CDriverIOManager::InstrWriteNoPoll(std::string_view data, int32_t lTimeout) {
  VMK_NEED_PROVIDER();
  Trace("InstrWriteNoPoll", {{"data", std::string(data)}, {"lTimeout", std::to_string(lTimeout)}});
  return provider_->InstrWriteNoPoll(data, lTimeout);
}
HRESULT CDriverIOManager::InstrWriteNoPoll(const uint8_t* pBuf, int32_t cbDesired,
                                           int32_t* pcbActual, int32_t lTimeout) {
  if (!pBuf || !pcbActual) return E_POINTER;
  VMK_NEED_PROVIDER();
  Trace("InstrWriteNoPoll",
        {{"cbDesired", std::to_string(cbDesired)}, {"lTimeout", std::to_string(lTimeout)}});
  return provider_->InstrWriteNoPoll(pBuf, cbDesired, pcbActual, lTimeout);
}

HRESULT CDriverIOManager::FormattedWriteString(std::string_view data, bool bFlushAndEnd,
                                               int32_t lTimeout) {
  VMK_NEED_PROVIDER();
  Trace("FormattedWriteString", {{"strData", std::string(data)},
                                 {"bFlushAndEnd", bFlushAndEnd ? "True" : "False"},
                                 {"lTimeout", std::to_string(lTimeout)}});
  return provider_->FormattedWriteString(data, bFlushAndEnd, lTimeout);
}
HRESULT CDriverIOManager::FormattedWriteNumber(const VARIANT& data, int32_t type, bool bFlushAndEnd,
                                               int32_t lTimeout) {
  VMK_NEED_PROVIDER();
  Trace("FormattedWriteNumber", {{"type", std::to_string(type)},
                                 {"bFlushAndEnd", bFlushAndEnd ? "True" : "False"},
                                 {"lTimeout", std::to_string(lTimeout)}});
  return provider_->FormattedWriteNumber(data, type, bFlushAndEnd, lTimeout);
}
HRESULT CDriverIOManager::FormattedWriteList(const VARIANT& data, int32_t type,
                                             std::string_view separator, bool bFlushAndEnd,
                                             int32_t lTimeout) {
  VMK_NEED_PROVIDER();
  Trace("FormattedWriteList", {{"type", std::to_string(type)},
                               {"strListSeparator", std::string(separator)},
                               {"bFlushAndEnd", bFlushAndEnd ? "True" : "False"},
                               {"lTimeout", std::to_string(lTimeout)}});
  return provider_->FormattedWriteList(data, type, separator, bFlushAndEnd, lTimeout);
}
HRESULT CDriverIOManager::FormattedWriteIEEEBlock(std::string_view command, const VARIANT& data,
                                                  bool bFlushAndEnd, int32_t lTimeout) {
  VMK_NEED_PROVIDER();
  Trace("FormattedWriteIEEEBlock", {{"strCommand", std::string(command)},
                                    {"bFlushAndEnd", bFlushAndEnd ? "True" : "False"},
                                    {"lTimeout", std::to_string(lTimeout)}});
  return provider_->FormattedWriteIEEEBlock(command, data, bFlushAndEnd, lTimeout);
}
HRESULT CDriverIOManager::FormattedReadString(std::string* result, int32_t lTimeout) {
  if (!result) return E_POINTER;
  VMK_NEED_PROVIDER();
  Trace("FormattedReadString", {{"lTimeout", std::to_string(lTimeout)}});
  return provider_->FormattedReadString(result, lTimeout);
}
HRESULT CDriverIOManager::FormattedReadNumber(int32_t type, bool bFlushToEnd, VARIANT* pData,
                                              int32_t lTimeout) {
  if (!pData) return E_POINTER;
  VMK_NEED_PROVIDER();
  Trace("FormattedReadNumber", {{"type", std::to_string(type)},
                                {"bFlushToEnd", bFlushToEnd ? "True" : "False"},
                                {"lTimeout", std::to_string(lTimeout)}});
  return provider_->FormattedReadNumber(type, bFlushToEnd, pData, lTimeout);
}
HRESULT CDriverIOManager::FormattedReadList(int32_t type, std::string_view separator,
                                            VARIANT* pData, int32_t lTimeout) {
  if (!pData) return E_POINTER;
  VMK_NEED_PROVIDER();
  Trace("FormattedReadList", {{"type", std::to_string(type)},
                              {"strListSeparator", std::string(separator)},
                              {"lTimeout", std::to_string(lTimeout)}});
  return provider_->FormattedReadList(type, separator, pData, lTimeout);
}
HRESULT CDriverIOManager::FormattedReadIEEEBlock(int32_t type, bool bSeekToBlock, bool bFlushToEnd,
                                                 VARIANT* pData, int32_t lTimeout) {
  if (!pData) return E_POINTER;
  VMK_NEED_PROVIDER();
  Trace("FormattedReadIEEEBlock", {{"type", std::to_string(type)},
                                   {"bSeekToBlock", bSeekToBlock ? "True" : "False"},
                                   {"bFlushToEnd", bFlushToEnd ? "True" : "False"},
                                   {"lTimeout", std::to_string(lTimeout)}});
  return provider_->FormattedReadIEEEBlock(type, bSeekToBlock, bFlushToEnd, pData, lTimeout);
}
HRESULT CDriverIOManager::FormattedFlushWrite(bool bSendEnd, int32_t lTimeout) {
  VMK_NEED_PROVIDER();
  Trace("FormattedFlushWrite",
        {{"bSendEND", bSendEnd ? "True" : "False"}, {"lTimeout", std::to_string(lTimeout)}});
  return provider_->FormattedFlushWrite(bSendEnd, lTimeout);
}
HRESULT CDriverIOManager::FormattedFlushRead(int32_t lTimeout) {
  VMK_NEED_PROVIDER();
  Trace("FormattedFlushRead", {{"lTimeout", std::to_string(lTimeout)}});
  return provider_->FormattedFlushRead(lTimeout);
}
HRESULT CDriverIOManager::FormattedSetBufferSize(int32_t mask, int32_t lSize) {
  VMK_NEED_PROVIDER();
  Trace("FormattedSetBufferSize",
        {{"mask", std::to_string(mask)}, {"lSize", std::to_string(lSize)}});
  return provider_->FormattedSetBufferSize(mask, lSize);
}

#define VMK_REGISTER(Name, Args, Call)                                                    \
  HRESULT CDriverIOManager::Name Args {                                                   \
    VMK_NEED_PROVIDER();                                                                  \
    Trace(#Name, {{"space", std::to_string(space)}, {"offset", std::to_string(offset)}}); \
    return provider_->Call;                                                               \
  }
VMK_REGISTER(RegisterIn8, (int16_t space, int32_t offset, uint8_t* pVal),
             RegisterIn8(space, offset, pVal))
VMK_REGISTER(RegisterOut8, (int16_t space, int32_t offset, uint8_t val),
             RegisterOut8(space, offset, val))
VMK_REGISTER(RegisterIn16, (int16_t space, int32_t offset, int16_t* pVal),
             RegisterIn16(space, offset, pVal))
VMK_REGISTER(RegisterOut16, (int16_t space, int32_t offset, int16_t val),
             RegisterOut16(space, offset, val))
VMK_REGISTER(RegisterIn32, (int16_t space, int32_t offset, int32_t* pVal),
             RegisterIn32(space, offset, pVal))
VMK_REGISTER(RegisterOut32, (int16_t space, int32_t offset, int32_t val),
             RegisterOut32(space, offset, val))
VMK_REGISTER(RegisterMoveIn8, (int16_t space, int32_t offset, int32_t length, uint8_t* buf),
             RegisterMoveIn8(space, offset, length, buf))
VMK_REGISTER(RegisterMoveOut8, (int16_t space, int32_t offset, int32_t length, const uint8_t* buf),
             RegisterMoveOut8(space, offset, length, buf))
VMK_REGISTER(RegisterMoveIn16, (int16_t space, int32_t offset, int32_t length, int16_t* buf),
             RegisterMoveIn16(space, offset, length, buf))
VMK_REGISTER(RegisterMoveOut16, (int16_t space, int32_t offset, int32_t length, const int16_t* buf),
             RegisterMoveOut16(space, offset, length, buf))
VMK_REGISTER(RegisterMoveIn32, (int16_t space, int32_t offset, int32_t length, int32_t* buf),
             RegisterMoveIn32(space, offset, length, buf))
VMK_REGISTER(RegisterMoveOut32, (int16_t space, int32_t offset, int32_t length, const int32_t* buf),
             RegisterMoveOut32(space, offset, length, buf))
#undef VMK_REGISTER

HRESULT CDriverIOManager::InstrPrintCommand() {
  VMK_NEED_PROVIDER();
  Trace("InstrPrintCommand", {{"strCommand", CurrentCommand()}});
  return provider_->InstrWrite(std::string_view(CurrentCommand()), kIoTimeoutKeep);
}

HRESULT CDriverIOManager::InstrPrintCommandNoPoll() {
  VMK_NEED_PROVIDER();
  Trace("InstrPrintCommandNoPoll", {{"strCommand", CurrentCommand()}});
  return provider_->InstrWriteNoPoll(std::string_view(CurrentCommand()), kIoTimeoutKeep);
}

HRESULT CDriverIOManager::InstrQueryCommand(std::string* result, int32_t lTimeout) {
  return InstrQueryCommand(1024, result, lTimeout);
}

HRESULT CDriverIOManager::InstrQueryCommand(int32_t cchDesired, std::string* result,
                                            int32_t lTimeout) {
  if (!result) return E_POINTER;
  VMK_NEED_PROVIDER();
  Trace("InstrQueryCommand", {{"strCommand", CurrentCommand()},
                              {"cchDesired", std::to_string(cchDesired)},
                              {"lTimeout", std::to_string(lTimeout)}});
  return provider_->InstrQuery(CurrentCommand(), cchDesired, lTimeout, result);
}

HRESULT CDriverIOManager::InstrQueryCommand(bool* result, int32_t lTimeout) {
  return InstrQuery(CurrentCommand(), lTimeout, result);
}
HRESULT CDriverIOManager::InstrQueryCommand(int16_t* result, int32_t lTimeout) {
  return InstrQuery(CurrentCommand(), lTimeout, result);
}
HRESULT CDriverIOManager::InstrQueryCommand(int32_t* result, int32_t lTimeout) {
  return InstrQuery(CurrentCommand(), lTimeout, result);
}
HRESULT CDriverIOManager::InstrQueryCommand(float* result, int32_t lTimeout) {
  return InstrQuery(CurrentCommand(), lTimeout, result);
}
HRESULT CDriverIOManager::InstrQueryCommand(double* result, int32_t lTimeout) {
  return InstrQuery(CurrentCommand(), lTimeout, result);
}

HRESULT CDriverIOManager::QueryTrimmed(int32_t lTimeout, std::string* trimmed) {
  std::string reply;
  const HRESULT hr = provider_->InstrQuery(CurrentCommand(), 1024, lTimeout, &reply);
  if (FAILED(hr)) return hr;
  *trimmed = std::string(Trim(reply));
  return hr;
}

HRESULT CDriverIOManager::InstrQueryCommandBool(VARIANT_BOOL* plResult, int32_t lTimeout) {
  if (!plResult) return E_POINTER;
  *plResult = VARIANT_FALSE;
  VMK_NEED_PROVIDER();
  Trace("InstrQueryCommandBool",
        {{"strCommand", CurrentCommand()}, {"lTimeout", std::to_string(lTimeout)}});
  std::string reply;
  const HRESULT hr = QueryTrimmed(lTimeout, &reply);
  if (FAILED(hr)) return hr;
  if (reply == "1")
    *plResult = VARIANT_TRUE;
  else if (reply != "0")
    return Unexpected(reply, "is not a boolean (1 or 0)");
  return hr;
}

HRESULT CDriverIOManager::InstrQueryCommandEnum(const KeywordLookup& keywords, int32_t* peResult,
                                                int32_t lTimeout) {
  if (!peResult) return E_POINTER;
  VMK_NEED_PROVIDER();
  Trace("InstrQueryCommandEnum",
        {{"strCommand", CurrentCommand()}, {"lTimeout", std::to_string(lTimeout)}});
  std::string reply;
  const HRESULT hr = QueryTrimmed(lTimeout, &reply);
  if (FAILED(hr)) return hr;
  int32_t value = 0;
  if (!keywords.ValueOf(reply, &value))
    return Unexpected(reply, "is not one of the expected keywords");
  *peResult = value;
  return hr;
}

#undef VMK_NEED_PROVIDER

}  // namespace vmk
