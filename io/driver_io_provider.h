// The session's one connection to the instrument. CDriverIOProvider implements every I/O
// operation (per-call time-out, terminators, typed parsing, status poll, I/O error report) over a
// set of primitives that a concrete provider supplies; CVisaComIOProvider supplies them over the
// VISA layer.
#pragma once

#include <concepts>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>

#include "io/io_seams.h"
#include "vmk40xx/com.h"
#include "vmk40xx/errors.h"

namespace vmk {

class CErrorManager;

// The element types of the typed formatted operations, and their VARIANT type codes.
template <class T>
concept IoElement = std::same_as<T, int16_t> || std::same_as<T, int32_t> ||
    std::same_as<T, float> || std::same_as<T, double> || std::same_as<T, uint8_t>;
template <IoElement T>
constexpr VARTYPE kIoVt = std::same_as<T, int16_t>   ? VT_I2
                          : std::same_as<T, int32_t> ? VT_I4
                          : std::same_as<T, float>   ? VT_R4
                          : std::same_as<T, double>  ? VT_R8
                                                     : VT_UI1;

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

  void SetReadTerminator(std::string terminator);
  void SetWriteTerminator(std::string terminator);
  const std::string& ReadTerminator() const { return readTerminator_; }
  const std::string& WriteTerminator() const { return writeTerminator_; }

  virtual int32_t GetProviderKind() const = 0;
  virtual HRESULT GetVisaInterfaceType(int32_t* peIntfType) = 0;

  HRESULT PollInstrumentErrors();
  HRESULT DeviceClear();
  HRESULT ReadSTB(int16_t* pStb);
  HRESULT SetIOTimeout(int32_t lTimeout);
  HRESULT GetIOTimeout(int32_t* plTimeout);
  HRESULT IsTimeout(bool* pbTimeout);
  HRESULT SetSendEndEnabled(bool bEnable);
  HRESULT GetSendEndEnabled(bool* pbEnable);
  HRESULT SetTerminationCharacter(uint8_t character);
  HRESULT GetTerminationCharacter(uint8_t* pVal);
  HRESULT SetTerminationCharacterEnabled(bool bEnable);
  HRESULT GetTerminationCharacterEnabled(bool* pbEnable);
  HRESULT SetInstrumentBigEndian(bool bBigEndian);
  HRESULT GetInstrumentBigEndian(bool* pbBigEndian);

  // Queries: write the command (terminator appended), read the reply (terminator removed),
  // convert, poll. The integer form reports E_IVI_UNEXPECTED_RESPONSE for a reply that is no
  // number or does not fit 32 bits; the double form gives a quiet NaN for a reply that is no
  // number.
  HRESULT InstrQuery(std::string_view command, int32_t cchDesired, int32_t lTimeout,
                     std::string* result);
  HRESULT InstrQuery(std::string_view command, int32_t lTimeout, int32_t* result);
  HRESULT InstrQuery(std::string_view command, int32_t lTimeout, double* result);

  HRESULT InstrRead(int32_t cbDesired, SAFEARRAY** ppsa, int32_t lTimeout);
  HRESULT InstrRead(int32_t cchDesired, bool bRemoveTrailing, std::string* result,
                    int32_t lTimeout);
  HRESULT InstrRead(int32_t cbDesired, uint8_t* pBuf, int32_t* plActualLength, int32_t lTimeout);
  // The string forms append the write terminator; the byte forms send the bytes as they are.
  HRESULT InstrWrite(SAFEARRAY* data, int32_t cbDesired, int32_t lTimeout);
  HRESULT InstrWrite(std::string_view data, int32_t lTimeout);
  HRESULT InstrWrite(const uint8_t* pBuf, int32_t cbDesired, int32_t* pcbActual, int32_t lTimeout);
  HRESULT InstrWriteNoPoll(SAFEARRAY* data, int32_t cbDesired, int32_t lTimeout);
  HRESULT InstrWriteNoPoll(std::string_view data, int32_t lTimeout);
  HRESULT InstrWriteNoPoll(const uint8_t* pBuf, int32_t cbDesired, int32_t* pcbActual,
                           int32_t lTimeout);

  // Formatted I/O. `type` is a VARIANT type code: 2, 3, 4, 5, 8, 12, 17 (others become 2; for
  // blocks 2, 3, 4, 5, 17).
  HRESULT FormattedWriteString(std::string_view data, bool bFlushAndEnd, int32_t lTimeout);
  HRESULT FormattedWriteNumber(const VARIANT& data, int32_t type, bool bFlushAndEnd,
                               int32_t lTimeout);
  HRESULT FormattedWriteList(const VARIANT& data, int32_t type, std::string_view separator,
                             bool bFlushAndEnd, int32_t lTimeout);
  HRESULT FormattedWriteIEEEBlock(std::string_view command, const VARIANT& data, bool bFlushAndEnd,
                                  int32_t lTimeout);
  HRESULT FormattedReadString(std::string* result, int32_t lTimeout);
  HRESULT FormattedReadNumber(int32_t type, bool bFlushToEnd, VARIANT* pData, int32_t lTimeout);
  HRESULT FormattedReadList(int32_t type, std::string_view separator, VARIANT* pData,
                            int32_t lTimeout);
  HRESULT FormattedReadIEEEBlock(int32_t type, bool bSeekToBlock, bool bFlushToEnd, VARIANT* pData,
                                 int32_t lTimeout);
  HRESULT FormattedFlushWrite(bool bSendEnd, int32_t lTimeout);
  HRESULT FormattedFlushRead(int32_t lTimeout);
  HRESULT FormattedSetBufferSize(int32_t mask, int32_t lSize);

  // Typed forms over the VARIANT ones.
  template <IoElement T>
  HRESULT FormattedWriteNumber(T value, bool bFlushAndEnd, int32_t lTimeout);
  template <IoElement T>
  HRESULT FormattedWriteList(const T* pValues, int32_t lLength, std::string_view separator,
                             bool bFlushAndEnd, int32_t lTimeout);
  template <IoElement T>
  HRESULT FormattedWriteIEEEBlock(std::string_view command, const T* pValues, int32_t lLength,
                                  bool bFlushAndEnd, int32_t lTimeout);
  template <IoElement T>
  HRESULT FormattedReadNumber(T* pValue, bool bFlushToEnd, int32_t lTimeout);
  template <IoElement T>
  HRESULT FormattedReadList(T* pValues, int32_t lMaxLength, int32_t* plActualLength,
                            std::string_view separator, int32_t lTimeout);
  template <IoElement T>
  HRESULT FormattedReadIEEEBlock(T* pValues, int32_t lMaxLength, int32_t* plActualLength,
                                 bool bSeekToBlock, bool bFlushToEnd, int32_t lTimeout);

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

 protected:
  // The primitives. Time-outs come back as E_VMK_IO_TIMEOUT_STATUS; failures leave COM error
  // information with a description.
  virtual HRESULT PrimRead(int32_t count, SAFEARRAY** ppsa) = 0;
  virtual HRESULT PrimReadString(int32_t count, std::string* text) = 0;
  virtual HRESULT PrimWrite(const uint8_t* data, int32_t count, int32_t* written) = 0;
  virtual HRESULT PrimWriteString(std::string_view text, int32_t* written) = 0;
  virtual HRESULT PrimClear() = 0;
  virtual HRESULT PrimReadSTB(int16_t* stb) = 0;
  virtual HRESULT PrimPutSendEndEnabled(bool on) = 0;
  virtual HRESULT PrimGetSendEndEnabled(bool* on) = 0;
  virtual HRESULT PrimPutTerminationCharacter(uint8_t c) = 0;
  virtual HRESULT PrimGetTerminationCharacter(uint8_t* c) = 0;
  virtual HRESULT PrimPutTerminationCharacterEnabled(bool on) = 0;
  virtual HRESULT PrimGetTerminationCharacterEnabled(bool* on) = 0;
  virtual HRESULT PrimPutTimeout(int32_t ms) = 0;
  virtual HRESULT PrimGetTimeout(int32_t* ms) = 0;
  virtual HRESULT PrimPutInstrumentBigEndian(bool on) = 0;
  virtual HRESULT PrimGetInstrumentBigEndian(bool* on) = 0;
  virtual HRESULT PrimFormattedWriteString(std::string_view data, bool flush) = 0;
  virtual HRESULT PrimFormattedWriteNumber(const VARIANT& data, int32_t type, bool flush) = 0;
  virtual HRESULT PrimFormattedWriteList(const VARIANT& data, int32_t type,
                                         std::string_view separator, bool flush) = 0;
  virtual HRESULT PrimFormattedWriteIEEEBlock(std::string_view command, const VARIANT& data,
                                              bool flush) = 0;
  virtual HRESULT PrimFormattedReadString(std::string* text) = 0;
  virtual HRESULT PrimFormattedReadNumber(int32_t type, bool flushToEnd, VARIANT* data) = 0;
  virtual HRESULT PrimFormattedReadList(int32_t type, std::string_view separator,
                                        VARIANT* data) = 0;
  virtual HRESULT PrimFormattedReadIEEEBlock(int32_t type, bool seek, bool flushToEnd,
                                             VARIANT* data) = 0;
  virtual HRESULT PrimFormattedFlushWrite(bool sendEnd) = 0;
  virtual HRESULT PrimFormattedFlushRead() = 0;
  virtual HRESULT PrimFormattedSetBufferSize(int32_t mask, int32_t size) = 0;
  virtual HRESULT PrimIn8(int16_t space, int32_t offset, uint8_t* v) = 0;
  virtual HRESULT PrimOut8(int16_t space, int32_t offset, uint8_t v) = 0;
  virtual HRESULT PrimIn16(int16_t space, int32_t offset, int16_t* v) = 0;
  virtual HRESULT PrimOut16(int16_t space, int32_t offset, int16_t v) = 0;
  virtual HRESULT PrimIn32(int16_t space, int32_t offset, int32_t* v) = 0;
  virtual HRESULT PrimOut32(int16_t space, int32_t offset, int32_t v) = 0;
  virtual HRESULT PrimMoveIn8(int16_t space, int32_t offset, int32_t n, uint8_t* b) = 0;
  virtual HRESULT PrimMoveOut8(int16_t space, int32_t offset, int32_t n, const uint8_t* b) = 0;
  virtual HRESULT PrimMoveIn16(int16_t space, int32_t offset, int32_t n, int16_t* b) = 0;
  virtual HRESULT PrimMoveOut16(int16_t space, int32_t offset, int32_t n, const int16_t* b) = 0;
  virtual HRESULT PrimMoveIn32(int16_t space, int32_t offset, int32_t n, int32_t* b) = 0;
  virtual HRESULT PrimMoveOut32(int16_t space, int32_t offset, int32_t n, const int32_t* b) = 0;

  // The transfer steps: terminator appended on write, removed on read, short write refused.
  HRESULT RawWriteString(std::string_view command);
  HRESULT RawReadString(int32_t count, bool removeTrailing, std::string* text);
  HRESULT RawWriteBytes(const uint8_t* data, int32_t count);
  // Device clear, IO error or IO timeout report, optional status exchange; returns the report.
  HRESULT HandleIOError(HRESULT failure);
  // The "*ESR?" exchange: S_OK, S_FALSE when an error bit is set, or the failure (after a
  // device clear).
  HRESULT CheckEventStatus();

  std::recursive_mutex& Lock() const { return mutex_; }

 private:
  class TimeoutScope;
  HRESULT Poll();
  HRESULT WriteCommon(const uint8_t* data, int32_t count, bool asText, int32_t lTimeout, bool poll);
  HRESULT ReadVariantArray(const VARIANT& v, VARTYPE vt, void* out, size_t elementSize,
                           int32_t maxLength, int32_t* actual);
  HRESULT FinishFormatted(HRESULT hr, bool poll, VARIANT* clearOnPollFailure);

  mutable std::recursive_mutex mutex_;
  bool initialized_ = false;
  const IoHost* host_ = nullptr;
  CErrorManager* errors_ = nullptr;
  const void* owner_ = nullptr;
  std::string readTerminator_ = "\n";
  std::string writeTerminator_ = "\n";
  bool timeoutFlag_ = false;
};

// Helpers for the typed formatted forms.
HRESULT IoMakeArray(VARTYPE vt, const void* values, size_t elementSize, int32_t length,
                    VARIANT* out);

template <IoElement T>
HRESULT CDriverIOProvider::FormattedWriteNumber(T value, bool bFlushAndEnd, int32_t lTimeout) {
  VARIANT v;
  VariantInit(&v);
  v.vt = kIoVt<T>;
  if constexpr (std::same_as<T, int16_t>)
    v.iVal = value;
  else if constexpr (std::same_as<T, int32_t>)
    v.lVal = value;
  else if constexpr (std::same_as<T, float>)
    v.fltVal = value;
  else if constexpr (std::same_as<T, double>)
    v.dblVal = value;
  else
    v.bVal = value;
  return FormattedWriteNumber(v, kIoVt<T>, bFlushAndEnd, lTimeout);
}

template <IoElement T>
HRESULT CDriverIOProvider::FormattedWriteList(const T* pValues, int32_t lLength,
                                              std::string_view separator, bool bFlushAndEnd,
                                              int32_t lTimeout) {
  if (!pValues && lLength > 0) return E_POINTER;
  VARIANT v;
  HRESULT hr = IoMakeArray(kIoVt<T>, pValues, sizeof(T), lLength, &v);
  if (FAILED(hr)) return hr;
  hr = FormattedWriteList(v, kIoVt<T>, separator, bFlushAndEnd, lTimeout);
  VariantClear(&v);
  return hr;
}

template <IoElement T>
HRESULT CDriverIOProvider::FormattedWriteIEEEBlock(std::string_view command, const T* pValues,
                                                   int32_t lLength, bool bFlushAndEnd,
                                                   int32_t lTimeout) {
  if (!pValues && lLength > 0) return E_POINTER;
  VARIANT v;
  HRESULT hr = IoMakeArray(kIoVt<T>, pValues, sizeof(T), lLength, &v);
  if (FAILED(hr)) return hr;
  hr = FormattedWriteIEEEBlock(command, v, bFlushAndEnd, lTimeout);
  VariantClear(&v);
  return hr;
}

template <IoElement T>
HRESULT CDriverIOProvider::FormattedReadNumber(T* pValue, bool bFlushToEnd, int32_t lTimeout) {
  if (!pValue) return E_POINTER;
  VARIANT v;
  VariantInit(&v);
  const HRESULT hr = FormattedReadNumber(kIoVt<T>, bFlushToEnd, &v, lTimeout);
  if (SUCCEEDED(hr)) {
    if constexpr (std::same_as<T, int16_t>)
      *pValue = v.iVal;
    else if constexpr (std::same_as<T, int32_t>)
      *pValue = v.lVal;
    else if constexpr (std::same_as<T, float>)
      *pValue = v.fltVal;
    else if constexpr (std::same_as<T, double>)
      *pValue = v.dblVal;
    else
      *pValue = v.bVal;
  }
  VariantClear(&v);
  return hr;
}

template <IoElement T>
HRESULT CDriverIOProvider::FormattedReadList(T* pValues, int32_t lMaxLength,
                                             int32_t* plActualLength, std::string_view separator,
                                             int32_t lTimeout) {
  if (!plActualLength || (!pValues && lMaxLength > 0)) return E_POINTER;
  if (lMaxLength < 0) return E_INVALIDARG;
  VARIANT v;
  VariantInit(&v);
  HRESULT hr = FormattedReadList(kIoVt<T>, separator, &v, lTimeout);
  if (SUCCEEDED(hr)) {
    const HRESULT copied =
        ReadVariantArray(v, kIoVt<T>, pValues, sizeof(T), lMaxLength, plActualLength);
    if (FAILED(copied)) hr = copied;
  }
  VariantClear(&v);
  return hr;
}

template <IoElement T>
HRESULT CDriverIOProvider::FormattedReadIEEEBlock(T* pValues, int32_t lMaxLength,
                                                  int32_t* plActualLength, bool bSeekToBlock,
                                                  bool bFlushToEnd, int32_t lTimeout) {
  if (!plActualLength || (!pValues && lMaxLength > 0)) return E_POINTER;
  if (lMaxLength < 0) return E_INVALIDARG;
  VARIANT v;
  VariantInit(&v);
  HRESULT hr = FormattedReadIEEEBlock(kIoVt<T>, bSeekToBlock, bFlushToEnd, &v, lTimeout);
  if (SUCCEEDED(hr)) {
    const HRESULT copied =
        ReadVariantArray(v, kIoVt<T>, pValues, sizeof(T), lMaxLength, plActualLength);
    if (FAILED(copied)) hr = copied;
  }
  VariantClear(&v);
  return hr;
}

}  // namespace vmk
