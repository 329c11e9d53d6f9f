// The I/O vocabulary of one node of the object model. Every node has one; all of a session's
// managers forward to the root's provider, so they share one connection, one time-out and one
// termination setting. The manager adds the trace record of each operation, the current-command
// stack that command-template members send from, and the conversions of the typed queries.
#pragma once

#include <cstdarg>
#include <deque>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "io/driver_io_provider.h"
#include "io/io_seams.h"

namespace vmk {

class CErrorManager;

class CDriverIOManager {
 public:
  CDriverIOManager() = default;
  CDriverIOManager(CDriverIOProvider* provider, CErrorManager* errors)
      : provider_(provider), errors_(errors) {}

  // The root's provider; the node's error manager (for the unexpected-response reports).
  void SetProvider(CDriverIOProvider* provider) { provider_ = provider; }
  CDriverIOProvider* Provider() const { return provider_; }
  void SetErrorManager(CErrorManager* errors) { errors_ = errors; }
  // nullptr turns tracing off; no record is built then.
  void SetTraceSink(IoTraceSink* sink) { trace_ = sink; }

  // The command that InstrPrintCommand and InstrQueryCommand* send: the most recently pushed.
  void PushCommand(std::string command) { commands_.push_back(std::move(command)); }
  void PopCommand() {
    if (!commands_.empty()) commands_.pop_back();
  }
  const std::string& CurrentCommand() const;
  void PushModel(std::string model) { models_.push_back(std::move(model)); }
  void PopModel() {
    if (!models_.empty()) models_.pop_back();
  }
  const std::string& CurrentModel() const;

  HRESULT PollInstrumentErrors();
  HRESULT DeviceClear();
  HRESULT ReadSTB(int16_t* pStb);
  HRESULT SetIOTimeout(int32_t lTimeout);
  HRESULT GetIOTimeout(int32_t* plTimeout);
  HRESULT IsTimeout(bool* pbTimeout);
  HRESULT GetVisaInterfaceType(int32_t* peIntfType);
  HRESULT SetSendEndEnabled(bool bEnable);
  HRESULT GetSendEndEnabled(bool* pbEnable);
  HRESULT SetTerminationCharacter(uint8_t character);
  HRESULT GetTerminationCharacter(uint8_t* pVal);
  HRESULT SetTerminationCharacterEnabled(bool bEnable);
  HRESULT GetTerminationCharacterEnabled(bool* pbEnable);

  // printf-style commands. The format is always one of the driver's own constants; numbers are
  // formatted with a '.' radix point whatever the process locale.
  HRESULT InstrPrintf(const char* format, ...) __attribute__((format(printf, 2, 3)));
  HRESULT InstrPrintfNoPoll(const char* format, ...) __attribute__((format(printf, 2, 3)));
  HRESULT InstrQueryf(std::string* result, int32_t cchDesired, const char* format, ...)
      __attribute__((format(printf, 4, 5)));
  HRESULT InstrQueryf(bool* result, const char* format, ...) __attribute__((format(printf, 3, 4)));
  HRESULT InstrQueryf(int16_t* result, const char* format, ...)
      __attribute__((format(printf, 3, 4)));
  HRESULT InstrQueryf(int32_t* result, const char* format, ...)
      __attribute__((format(printf, 3, 4)));
  HRESULT InstrQueryf(float* result, const char* format, ...) __attribute__((format(printf, 3, 4)));
  HRESULT InstrQueryf(double* result, const char* format, ...)
      __attribute__((format(printf, 3, 4)));

  // Typed queries. Integer forms report E_IVI_UNEXPECTED_RESPONSE for a reply that is no number
  // or out of the type's range; the boolean form is true for any non-zero number.
  HRESULT InstrQuery(std::string_view command, int32_t cchDesired, int32_t lTimeout,
                     std::string* result);
  HRESULT InstrQuery(std::string_view command, int32_t lTimeout, bool* result);
  HRESULT InstrQuery(std::string_view command, int32_t lTimeout, int16_t* result);
  HRESULT InstrQuery(std::string_view command, int32_t lTimeout, int32_t* result);
  HRESULT InstrQuery(std::string_view command, int32_t lTimeout, float* result);
  HRESULT InstrQuery(std::string_view command, int32_t lTimeout, double* result);

  HRESULT InstrRead(int32_t cbDesired, SAFEARRAY** ppsa, int32_t lTimeout = kIoTimeoutKeep);
  HRESULT InstrRead(int32_t cchDesired, bool bRemoveTrailing, std::string* result,
                    int32_t lTimeout = kIoTimeoutKeep);
  HRESULT InstrRead(int32_t cbDesired, uint8_t* pBuf, int32_t* plActualLength,
                    int32_t lTimeout = kIoTimeoutKeep);
  HRESULT InstrWrite(SAFEARRAY* data, int32_t cbDesired, int32_t lTimeout = kIoTimeoutKeep);
  HRESULT InstrWrite(std::string_view data, int32_t lTimeout = kIoTimeoutKeep);
  HRESULT InstrWrite(const uint8_t* pBuf, int32_t cbDesired, int32_t* pcbActual,
                     int32_t lTimeout = kIoTimeoutKeep);
  HRESULT InstrWriteNoPoll(SAFEARRAY* data, int32_t cbDesired, int32_t lTimeout = kIoTimeoutKeep);
  HRESULT InstrWriteNoPoll(std::string_view data, int32_t lTimeout = kIoTimeoutKeep);
  HRESULT InstrWriteNoPoll(const uint8_t* pBuf, int32_t cbDesired, int32_t* pcbActual,
                           int32_t lTimeout = kIoTimeoutKeep);

  HRESULT FormattedWriteString(std::string_view data, bool bFlushAndEnd,
                               int32_t lTimeout = kIoTimeoutKeep);
  HRESULT FormattedWriteNumber(const VARIANT& data, int32_t type, bool bFlushAndEnd,
                               int32_t lTimeout = kIoTimeoutKeep);
  HRESULT FormattedWriteList(const VARIANT& data, int32_t type, std::string_view separator,
                             bool bFlushAndEnd, int32_t lTimeout = kIoTimeoutKeep);
  HRESULT FormattedWriteIEEEBlock(std::string_view command, const VARIANT& data, bool bFlushAndEnd,
                                  int32_t lTimeout = kIoTimeoutKeep);
  HRESULT FormattedReadString(std::string* result, int32_t lTimeout = kIoTimeoutKeep);
  HRESULT FormattedReadNumber(int32_t type, bool bFlushToEnd, VARIANT* pData,
                              int32_t lTimeout = kIoTimeoutKeep);
  HRESULT FormattedReadList(int32_t type, std::string_view separator, VARIANT* pData,
                            int32_t lTimeout = kIoTimeoutKeep);
  HRESULT FormattedReadIEEEBlock(int32_t type, bool bSeekToBlock, bool bFlushToEnd, VARIANT* pData,
                                 int32_t lTimeout = kIoTimeoutKeep);
  HRESULT FormattedFlushWrite(bool bSendEnd, int32_t lTimeout = kIoTimeoutKeep);
  HRESULT FormattedFlushRead(int32_t lTimeout = kIoTimeoutKeep);
  HRESULT FormattedSetBufferSize(int32_t mask, int32_t lSize);

  template <IoElement T>
  HRESULT FormattedWriteNumber(T value, bool bFlushAndEnd, int32_t lTimeout = kIoTimeoutKeep) {
    if (!provider_) return NoProvider();
    Trace("FormattedWriteNumber", {{"data", ToText(value)}});
    return provider_->FormattedWriteNumber(value, bFlushAndEnd, lTimeout);
  }
  template <IoElement T>
  HRESULT FormattedWriteList(const T* pValues, int32_t lLength, std::string_view separator,
                             bool bFlushAndEnd, int32_t lTimeout = kIoTimeoutKeep) {
    if (!provider_) return NoProvider();
    Trace("FormattedWriteList", {{"lLength", std::to_string(lLength)}});
    return provider_->FormattedWriteList(pValues, lLength, separator, bFlushAndEnd, lTimeout);
  }
  template <IoElement T>
  HRESULT FormattedWriteIEEEBlock(std::string_view command, const T* pValues, int32_t lLength,
                                  bool bFlushAndEnd, int32_t lTimeout = kIoTimeoutKeep) {
    if (!provider_) return NoProvider();
    Trace("FormattedWriteIEEEBlock",
          {{"strCommand", std::string(command)}, {"lLength", std::to_string(lLength)}});
    return provider_->FormattedWriteIEEEBlock(command, pValues, lLength, bFlushAndEnd, lTimeout);
  }
  template <IoElement T>
  HRESULT FormattedReadNumber(T* pValue, bool bFlushToEnd = true,
                              int32_t lTimeout = kIoTimeoutKeep) {
    if (!provider_) return NoProvider();
    Trace("FormattedReadNumber", {});
    return provider_->FormattedReadNumber(pValue, bFlushToEnd, lTimeout);
  }
  template <IoElement T>
  HRESULT FormattedReadList(T* pValues, int32_t lMaxLength, int32_t* plActualLength,
                            std::string_view separator = ",;", int32_t lTimeout = kIoTimeoutKeep) {
    if (!provider_) return NoProvider();
    Trace("FormattedReadList", {{"lMaxLength", std::to_string(lMaxLength)}});
    return provider_->FormattedReadList(pValues, lMaxLength, plActualLength, separator, lTimeout);
  }
  template <IoElement T>
  HRESULT FormattedReadIEEEBlock(T* pValues, int32_t lMaxLength, int32_t* plActualLength,
                                 bool bSeekToBlock, bool bFlushToEnd,
                                 int32_t lTimeout = kIoTimeoutKeep) {
    if (!provider_) return NoProvider();
    Trace("FormattedReadIEEEBlock", {{"lMaxLength", std::to_string(lMaxLength)}});
    return provider_->FormattedReadIEEEBlock(pValues, lMaxLength, plActualLength, bSeekToBlock,
                                             bFlushToEnd, lTimeout);
  }

  HRESULT RegisterIn8(int16_t space, int32_t offset, uint8_t* pVal);
  HRESULT RegisterOut8(int16_t space, int32_t offset, uint8_t val);
  HRESULT RegisterIn16(int16_t space, int32_t offset, int16_t* pVal);
  HRESULT RegisterOut16(int16_t space, int32_t offset, int16_t val);
  HRESULT RegisterIn32(int16_t space, int32_t offset, int32_t* pVal);
  HRESULT RegisterOut32(int16_t space, int32_t offset, int32_t val);
  HRESULT RegisterMoveIn8(int16_t space, int32_t offset, int32_t length, uint8_t* buf);
  HRESULT RegisterMoveOut8(int16_t space, int32_t offset, int32_t length, const uint8_t* buf);
  HRESULT RegisterMoveIn16(int16_t space, int32_t offset, int32_t length, int16_t* buf);
  HRESULT RegisterMoveOut16(int16_t space, int32_t offset, int32_t length, const int16_t* buf);
  HRESULT RegisterMoveIn32(int16_t space, int32_t offset, int32_t length, int32_t* buf);
  HRESULT RegisterMoveOut32(int16_t space, int32_t offset, int32_t length, const int32_t* buf);

  // The current command: sent, or sent as a query.
  HRESULT InstrPrintCommand();
  HRESULT InstrPrintCommandNoPoll();
  HRESULT InstrQueryCommand(std::string* result, int32_t lTimeout = kIoTimeoutKeep);
  HRESULT InstrQueryCommand(int32_t cchDesired, std::string* result,
                            int32_t lTimeout = kIoTimeoutKeep);
  HRESULT InstrQueryCommand(bool* result, int32_t lTimeout = kIoTimeoutKeep);
  HRESULT InstrQueryCommand(int16_t* result, int32_t lTimeout = kIoTimeoutKeep);
  HRESULT InstrQueryCommand(int32_t* result, int32_t lTimeout = kIoTimeoutKeep);
  HRESULT InstrQueryCommand(float* result, int32_t lTimeout = kIoTimeoutKeep);
  HRESULT InstrQueryCommand(double* result, int32_t lTimeout = kIoTimeoutKeep);
  // Exactly "1" or "0" after trimming blanks; anything else is E_IVI_UNEXPECTED_RESPONSE.
  HRESULT InstrQueryCommandBool(VARIANT_BOOL* plResult, int32_t lTimeout = kIoTimeoutKeep);
  // The trimmed reply looked up among the enumeration's instrument keywords.
  HRESULT InstrQueryCommandEnum(const KeywordLookup& keywords, int32_t* peResult,
                                int32_t lTimeout = kIoTimeoutKeep);
  template <class E>
  requires std::is_enum_v<E> HRESULT InstrQueryCommandEnum(const KeywordLookup& keywords,
                                                           E* peResult,
                                                           int32_t lTimeout = kIoTimeoutKeep) {
    if (!peResult) return E_POINTER;
    int32_t value = 0;
    const HRESULT hr = InstrQueryCommandEnum(keywords, &value, lTimeout);
    if (SUCCEEDED(hr)) *peResult = static_cast<E>(value);
    return hr;
  }

 private:
  void Trace(std::string_view operation, std::initializer_list<IoTraceParam> params);
  HRESULT NoProvider() const;
  HRESULT Unexpected(std::string_view reply, std::string_view what);
  HRESULT QueryInt(std::string_view command, int32_t lTimeout, int32_t* result);
  HRESULT QueryDouble(std::string_view command, int32_t lTimeout, double* result);
  HRESULT QueryTrimmed(int32_t lTimeout, std::string* trimmed);
  template <class T>
  HRESULT QueryfTyped(T* result, const char* format, va_list args);
  static std::string ToText(double v);
  static std::string ToText(float v) { return ToText(static_cast<double>(v)); }
  static std::string ToText(int32_t v) { return std::to_string(v); }
  static std::string ToText(int16_t v) { return std::to_string(v); }
  static std::string ToText(uint8_t v) { return std::to_string(v); }

  CDriverIOProvider* provider_ = nullptr;
  CErrorManager* errors_ = nullptr;
  IoTraceSink* trace_ = nullptr;
  std::deque<std::string> commands_;
  std::vector<std::string> models_;
};

// Formats with printf semantics in the "C" locale, so the radix point is always '.'.
std::string IoFormatV(const char* format, va_list args);

}  // namespace vmk
