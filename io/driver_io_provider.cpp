#include "io/driver_io_provider.h"

#include <cmath>
#include <cstring>
#include <limits>

#include "platform/com/com_ptr.h"
#include "platform/visa/number_text.h"
#include "services/errors.h"

namespace vmk {

// Applies a per-call time-out for the life of an operation and puts the session's back after it,
// on every path out.
class CDriverIOProvider::TimeoutScope {
 public:
  TimeoutScope(CDriverIOProvider& p, int32_t lTimeout) : p_(p) {
    if (lTimeout < -1) return;
    if (FAILED(p_.PrimGetTimeout(&saved_))) return;
    // A failure to apply leaves the session's time-out; the transfer still runs.
    if (SUCCEEDED(p_.PrimPutTimeout(lTimeout))) restore_ = true;
  }
  ~TimeoutScope() {
    if (!restore_) return;
    // Putting the time-out back must not replace the error information of the operation.
    com::ComPtr<IErrorInfo> info;
    GetErrorInfo(0, info.put());
    p_.PrimPutTimeout(saved_);
    SetErrorInfo(0, info.get());
  }
  TimeoutScope(const TimeoutScope&) = delete;
  TimeoutScope& operator=(const TimeoutScope&) = delete;

 private:
  CDriverIOProvider& p_;
  int32_t saved_ = 0;
  bool restore_ = false;
};

namespace {

bool EndsWith(std::string_view s, std::string_view tail) {
  return s.size() >= tail.size() && s.substr(s.size() - tail.size()) == tail;
}

const IID kIoIid = GUID_NULL;

}  // namespace

HRESULT IoMakeArray(VARTYPE vt, const void* values, size_t elementSize, int32_t length,
                    VARIANT* out) {
  VariantInit(out);
  if (length < 0) return E_INVALIDARG;
  SAFEARRAY* psa = SafeArrayCreateVector(vt, 0, static_cast<ULONG>(length));
  if (!psa) return E_OUTOFMEMORY;
  if (length) std::memcpy(psa->pvData, values, elementSize * static_cast<size_t>(length));
  out->vt = VT_ARRAY | vt;
  out->parray = psa;
  return S_OK;
}

HRESULT CDriverIOProvider::InitializeIO(const IoHost* host, CErrorManager* errors,
                                        const void* owner, std::string_view resource) {
  if (!host || !errors || !owner || resource.empty()) return E_INVALIDARG;
  std::lock_guard lock(mutex_);
  host_ = host;
  errors_ = errors;
  owner_ = owner;
  initialized_ = true;
  timeoutFlag_ = false;
  return S_OK;
}

HRESULT CDriverIOProvider::CloseIO() {
  std::lock_guard lock(mutex_);
  initialized_ = false;
  timeoutFlag_ = false;
  return S_OK;
}

void CDriverIOProvider::SetReadTerminator(std::string terminator) {
  std::lock_guard lock(mutex_);
  readTerminator_ = std::move(terminator);
}

void CDriverIOProvider::SetWriteTerminator(std::string terminator) {
  std::lock_guard lock(mutex_);
  writeTerminator_ = std::move(terminator);
}

HRESULT CDriverIOProvider::RawWriteString(std::string_view command) {
  std::string text(command);
  if (!EndsWith(text, writeTerminator_)) text += writeTerminator_;
  int32_t written = 0;
  const HRESULT hr = PrimWriteString(text, &written);
  if (FAILED(hr)) return hr;
  if (written < static_cast<int32_t>(text.size())) {
    SetComErrorInfo(kIoIid, "VISA",
                    "only " + std::to_string(written) + " of " + std::to_string(text.size()) +
                        " bytes of the command were sent");
    return E_FAIL;
  }
  return S_OK;
}

HRESULT CDriverIOProvider::RawWriteBytes(const uint8_t* data, int32_t count) {
  int32_t written = 0;
  const HRESULT hr = PrimWrite(data, count, &written);
  if (FAILED(hr)) return hr;
  if (written < count) {
    SetComErrorInfo(
        kIoIid, "VISA",
        "only " + std::to_string(written) + " of " + std::to_string(count) + " bytes were sent");
    return E_FAIL;
  }
  return S_OK;
}

HRESULT CDriverIOProvider::RawReadString(int32_t count, bool removeTrailing, std::string* text) {
  const HRESULT hr = PrimReadString(count, text);
  if (FAILED(hr)) return hr;
  // One terminator only: a carriage return before it belongs to the reply.
  if (removeTrailing && !readTerminator_.empty() && EndsWith(*text, readTerminator_))
    text->resize(text->size() - readTerminator_.size());
  return S_OK;
}

HRESULT CDriverIOProvider::CheckEventStatus() {
  int32_t written = 0;
  std::string reply;
  HRESULT hr = PrimWriteString("*ESR?" + writeTerminator_, &written);
  if (SUCCEEDED(hr)) hr = PrimReadString(100, &reply);
  double value = 0;
  // A reply without a number means the exchange is out of step, which is no proof of a clean
  // status.
  if (SUCCEEDED(hr) && visa::ParseNumber(reply, &value) == 0) hr = E_FAIL;
  if (FAILED(hr)) {
    PrimClear();
    return hr;
  }
  const int64_t esr =
      std::isfinite(value) && std::fabs(value) < 1e9 ? static_cast<int64_t>(value) : 0xFF;
  return (esr & 0x3C) ? S_FALSE : S_OK;
}

HRESULT CDriverIOProvider::Poll() {
  if (!host_ || !host_->QueryInstrumentStatus()) return S_OK;
  if (CheckEventStatus() == S_OK) return S_OK;
  if (!errors_) return E_IVI_INSTRUMENT_STATUS;
  return errors_->ReportError(Msg::E_IVI_INSTRUMENT_STATUS);
}

HRESULT CDriverIOProvider::PollInstrumentErrors() {
  std::lock_guard lock(mutex_);
  return Poll();
}

HRESULT CDriverIOProvider::HandleIOError(HRESULT failure) {
  // The clear must not replace the description of the failure it follows.
  com::ComPtr<IErrorInfo> info;
  GetErrorInfo(0, info.put());
  PrimClear();
  SetErrorInfo(0, info.get());
  HRESULT reported;
  if (failure == E_VMK_IO_TIMEOUT_STATUS) {
    timeoutFlag_ = true;
    reported = errors_ ? errors_->ReportIoTimeout() : E_VELMORAK40XX_IO_TIMEOUT;
  } else {
    reported = errors_ ? errors_->ReportIoError() : E_VELMORAK40XX_IO_GENERAL;
  }
  if (host_ && host_->QueryInstrumentStatus()) {
    com::ComPtr<IErrorInfo> report;
    GetErrorInfo(0, report.put());
    CheckEventStatus();
    SetErrorInfo(0, report.get());
  }
  return reported;
}

HRESULT CDriverIOProvider::DeviceClear() {
  std::lock_guard lock(mutex_);
  return PrimClear();
}

HRESULT CDriverIOProvider::ReadSTB(int16_t* pStb) {
  if (!pStb) return E_POINTER;
  std::lock_guard lock(mutex_);
  return PrimReadSTB(pStb);
}

HRESULT CDriverIOProvider::SetIOTimeout(int32_t lTimeout) {
  std::lock_guard lock(mutex_);
  return PrimPutTimeout(lTimeout);
}

HRESULT CDriverIOProvider::GetIOTimeout(int32_t* plTimeout) {
  if (!plTimeout) return E_POINTER;
  std::lock_guard lock(mutex_);
  return PrimGetTimeout(plTimeout);
}

HRESULT CDriverIOProvider::IsTimeout(bool* pbTimeout) {
  if (!pbTimeout) return E_POINTER;
  std::lock_guard lock(mutex_);
  *pbTimeout = timeoutFlag_;
  return S_OK;
}

HRESULT CDriverIOProvider::SetSendEndEnabled(bool bEnable) {
  std::lock_guard lock(mutex_);
  return PrimPutSendEndEnabled(bEnable);
}
HRESULT CDriverIOProvider::GetSendEndEnabled(bool* pbEnable) {
  if (!pbEnable) return E_POINTER;
  std::lock_guard lock(mutex_);
  return PrimGetSendEndEnabled(pbEnable);
}
HRESULT CDriverIOProvider::SetTerminationCharacter(uint8_t character) {
  std::lock_guard lock(mutex_);
  return PrimPutTerminationCharacter(character);
}
HRESULT CDriverIOProvider::GetTerminationCharacter(uint8_t* pVal) {
  if (!pVal) return E_POINTER;
  std::lock_guard lock(mutex_);
  return PrimGetTerminationCharacter(pVal);
}
HRESULT CDriverIOProvider::SetTerminationCharacterEnabled(bool bEnable) {
  std::lock_guard lock(mutex_);
  return PrimPutTerminationCharacterEnabled(bEnable);
}
HRESULT CDriverIOProvider::GetTerminationCharacterEnabled(bool* pbEnable) {
  if (!pbEnable) return E_POINTER;
  std::lock_guard lock(mutex_);
  return PrimGetTerminationCharacterEnabled(pbEnable);
}
HRESULT CDriverIOProvider::SetInstrumentBigEndian(bool bBigEndian) {
  std::lock_guard lock(mutex_);
  return PrimPutInstrumentBigEndian(bBigEndian);
}
HRESULT CDriverIOProvider::GetInstrumentBigEndian(bool* pbBigEndian) {
  if (!pbBigEndian) return E_POINTER;
  std::lock_guard lock(mutex_);
  return PrimGetInstrumentBigEndian(pbBigEndian);
}

HRESULT CDriverIOProvider::InstrQuery(std::string_view command, int32_t cchDesired,
                                      int32_t lTimeout, std::string* result) {
  if (!result) return E_POINTER;
  if (cchDesired < 0) return E_INVALIDARG;
  std::lock_guard lock(mutex_);
  TimeoutScope scope(*this, lTimeout);
  timeoutFlag_ = false;
  HRESULT hr = RawWriteString(command);
  if (SUCCEEDED(hr)) hr = RawReadString(cchDesired, true, result);
  if (FAILED(hr)) {
    result->clear();
    return HandleIOError(hr);
  }
  return Poll();
}

HRESULT CDriverIOProvider::InstrQuery(std::string_view command, int32_t lTimeout, double* result) {
  if (!result) return E_POINTER;
  std::lock_guard lock(mutex_);
  TimeoutScope scope(*this, lTimeout);
  timeoutFlag_ = false;
  std::string reply;
  HRESULT hr = RawWriteString(command);
  if (SUCCEEDED(hr)) hr = RawReadString(100, true, &reply);
  if (FAILED(hr)) return HandleIOError(hr);
  if (visa::ParseNumber(reply, result) == 0) *result = std::numeric_limits<double>::quiet_NaN();
  return Poll();
}

HRESULT CDriverIOProvider::InstrQuery(std::string_view command, int32_t lTimeout, int32_t* result) {
  if (!result) return E_POINTER;
  *result = 0;
  std::lock_guard lock(mutex_);
  TimeoutScope scope(*this, lTimeout);
  timeoutFlag_ = false;
  std::string reply;
  HRESULT hr = RawWriteString(command);
  if (SUCCEEDED(hr)) hr = RawReadString(100, true, &reply);
  if (FAILED(hr)) return HandleIOError(hr);
  double value = 0;
  // Converting a NaN or a value beyond 32 bits to an integer has no defined result; such a
  // reply is reported rather than turned into an arbitrary number.
  if (visa::ParseNumber(reply, &value) == 0 || !(value > -2147483649.0 && value < 2147483648.0)) {
    const std::string text = "\"" + reply + "\" is not a 32-bit integer";
    return errors_ ? errors_->ReportErrorWithText(Msg::E_IVI_UNEXPECTED_RESPONSE, text)
                   : E_IVI_UNEXPECTED_RESPONSE;
  }
  *result = static_cast<int32_t>(std::trunc(value));
  return Poll();
}

HRESULT CDriverIOProvider::InstrRead(int32_t cbDesired, SAFEARRAY** ppsa, int32_t lTimeout) {
  if (!ppsa) return E_POINTER;
  *ppsa = nullptr;
  if (cbDesired < 0) return E_INVALIDARG;
  std::lock_guard lock(mutex_);
  TimeoutScope scope(*this, lTimeout);
  timeoutFlag_ = false;
  const HRESULT hr = PrimRead(cbDesired, ppsa);
  if (FAILED(hr)) return HandleIOError(hr);
  return Poll();
}

HRESULT CDriverIOProvider::InstrRead(int32_t cchDesired, bool bRemoveTrailing, std::string* result,
                                     int32_t lTimeout) {
  if (!result) return E_POINTER;
  if (cchDesired < 0) return E_INVALIDARG;
  std::lock_guard lock(mutex_);
  TimeoutScope scope(*this, lTimeout);
  timeoutFlag_ = false;
  const HRESULT hr = RawReadString(cchDesired, bRemoveTrailing, result);
  if (FAILED(hr)) return HandleIOError(hr);
  return Poll();
}

HRESULT CDriverIOProvider::InstrRead(int32_t cbDesired, uint8_t* pBuf, int32_t* plActualLength,
                                     int32_t lTimeout) {
  if (!pBuf || !plActualLength) return E_POINTER;
  *plActualLength = 0;
  if (cbDesired < 0) return E_INVALIDARG;
  std::lock_guard lock(mutex_);
  TimeoutScope scope(*this, lTimeout);
  timeoutFlag_ = false;
  SAFEARRAY* psa = nullptr;
  HRESULT hr = PrimRead(cbDesired, &psa);
  if (FAILED(hr)) return HandleIOError(hr);
  const LONG count = psa ? static_cast<LONG>(psa->rgsabound[0].cElements) : 0;
  if (count > cbDesired) {
    SafeArrayDestroy(psa);
    return E_FAIL;
  }
  if (count) std::memcpy(pBuf, psa->pvData, static_cast<size_t>(count));
  SafeArrayDestroy(psa);
  *plActualLength = count;
  return Poll();
}

HRESULT CDriverIOProvider::WriteCommon(const uint8_t* data, int32_t count, bool asText,
                                       int32_t lTimeout, bool poll) {
  std::lock_guard lock(mutex_);
  TimeoutScope scope(*this, lTimeout);
  timeoutFlag_ = false;
  const HRESULT hr = asText ? RawWriteString(std::string_view(reinterpret_cast<const char*>(data),
                                                              static_cast<size_t>(count)))
                            : RawWriteBytes(data, count);
  if (FAILED(hr)) return HandleIOError(hr);
  return poll ? Poll() : S_OK;
}

HRESULT CDriverIOProvider::InstrWrite(SAFEARRAY* data, int32_t cbDesired, int32_t lTimeout) {
  if (!data) return E_POINTER;
  if (cbDesired < 0) return E_INVALIDARG;
  if (static_cast<ULONG>(cbDesired) > data->rgsabound[0].cElements || data->cbElements != 1)
    return E_INVALIDARG;
  return WriteCommon(static_cast<const uint8_t*>(data->pvData), cbDesired, false, lTimeout, true);
}
HRESULT CDriverIOProvider::InstrWrite(std::string_view data, int32_t lTimeout) {
  return WriteCommon(reinterpret_cast<const uint8_t*>(data.data()),
                     static_cast<int32_t>(data.size()), true, lTimeout, true);
}
HRESULT CDriverIOProvider::InstrWrite(const uint8_t* pBuf, int32_t cbDesired, int32_t* pcbActual,
                                      int32_t lTimeout) {
  if (!pBuf || !pcbActual) return E_POINTER;
  if (cbDesired < 0) return E_INVALIDARG;
  *pcbActual = 0;
  const HRESULT hr = WriteCommon(pBuf, cbDesired, false, lTimeout, true);
  // The bytes went out even when the poll that followed reports the instrument's status.
  if (SUCCEEDED(hr) || hr == E_IVI_INSTRUMENT_STATUS) *pcbActual = cbDesired;
  return hr;
}
HRESULT CDriverIOProvider::InstrWriteNoPoll(SAFEARRAY* data, int32_t cbDesired, int32_t lTimeout) {
  if (!data) return E_POINTER;
  if (cbDesired < 0) return E_INVALIDARG;
  if (static_cast<ULONG>(cbDesired) > data->rgsabound[0].cElements || data->cbElements != 1)
    return E_INVALIDARG;
  return WriteCommon(static_cast<const uint8_t*>(data->pvData), cbDesired, false, lTimeout, false);
}
HRESULT CDriverIOProvider::InstrWriteNoPoll(std::string_view data, int32_t lTimeout) {
  return WriteCommon(reinterpret_cast<const uint8_t*>(data.data()),
                     static_cast<int32_t>(data.size()), true, lTimeout, false);
}
HRESULT CDriverIOProvider::InstrWriteNoPoll(const uint8_t* pBuf, int32_t cbDesired,
                                            int32_t* pcbActual, int32_t lTimeout) {
  if (!pBuf || !pcbActual) return E_POINTER;
  if (cbDesired < 0) return E_INVALIDARG;
  *pcbActual = 0;
  const HRESULT hr = WriteCommon(pBuf, cbDesired, false, lTimeout, false);
  if (SUCCEEDED(hr)) *pcbActual = cbDesired;
  return hr;
}

HRESULT CDriverIOProvider::FinishFormatted(HRESULT hr, bool poll, VARIANT* clearOnPollFailure) {
  if (FAILED(hr)) {
    if (clearOnPollFailure) VariantClear(clearOnPollFailure);
    return HandleIOError(hr);
  }
  if (!poll) return S_OK;
  hr = Poll();
  if (FAILED(hr) && clearOnPollFailure) VariantClear(clearOnPollFailure);
  return hr;
}

#define VMK_FORMATTED_OP(lTimeout, poll, clearVariant, call) \
  std::lock_guard lock(mutex_);                              \
  TimeoutScope scope(*this, lTimeout);                       \
  timeoutFlag_ = false;                                      \
  return FinishFormatted(call, poll, clearVariant)

HRESULT CDriverIOProvider::FormattedWriteString(std::string_view data, bool bFlushAndEnd,
                                                int32_t lTimeout) {
  VMK_FORMATTED_OP(lTimeout, bFlushAndEnd, nullptr, PrimFormattedWriteString(data, bFlushAndEnd));
}
HRESULT CDriverIOProvider::FormattedWriteNumber(const VARIANT& data, int32_t type,
                                                bool bFlushAndEnd, int32_t lTimeout) {
  VMK_FORMATTED_OP(lTimeout, bFlushAndEnd, nullptr,
                   PrimFormattedWriteNumber(data, type, bFlushAndEnd));
}
HRESULT CDriverIOProvider::FormattedWriteList(const VARIANT& data, int32_t type,
                                              std::string_view separator, bool bFlushAndEnd,
                                              int32_t lTimeout) {
  VMK_FORMATTED_OP(lTimeout, bFlushAndEnd, nullptr,
                   PrimFormattedWriteList(data, type, separator, bFlushAndEnd));
}
HRESULT CDriverIOProvider::FormattedWriteIEEEBlock(std::string_view command, const VARIANT& data,
                                                   bool bFlushAndEnd, int32_t lTimeout) {
  VMK_FORMATTED_OP(lTimeout, bFlushAndEnd, nullptr,
                   PrimFormattedWriteIEEEBlock(command, data, bFlushAndEnd));
}
HRESULT CDriverIOProvider::FormattedReadString(std::string* result, int32_t lTimeout) {
  if (!result) return E_POINTER;
  VMK_FORMATTED_OP(lTimeout, true, nullptr, PrimFormattedReadString(result));
}
HRESULT CDriverIOProvider::FormattedReadNumber(int32_t type, bool bFlushToEnd, VARIANT* pData,
                                               int32_t lTimeout) {
  if (!pData) return E_POINTER;
  VMK_FORMATTED_OP(lTimeout, true, pData, PrimFormattedReadNumber(type, bFlushToEnd, pData));
}
HRESULT CDriverIOProvider::FormattedReadList(int32_t type, std::string_view separator,
                                             VARIANT* pData, int32_t lTimeout) {
  if (!pData) return E_POINTER;
  VMK_FORMATTED_OP(lTimeout, true, pData, PrimFormattedReadList(type, separator, pData));
}
HRESULT CDriverIOProvider::FormattedReadIEEEBlock(int32_t type, bool bSeekToBlock, bool bFlushToEnd,
                                                  VARIANT* pData, int32_t lTimeout) {
  if (!pData) return E_POINTER;
  std::lock_guard lock(mutex_);
  TimeoutScope scope(*this, lTimeout);
  timeoutFlag_ = false;
  // A line feed inside binary data must not end the read.
  bool termOn = false;
  const bool switched = SUCCEEDED(PrimGetTerminationCharacterEnabled(&termOn)) && termOn &&
                        SUCCEEDED(PrimPutTerminationCharacterEnabled(false));
  const HRESULT hr = PrimFormattedReadIEEEBlock(type, bSeekToBlock, bFlushToEnd, pData);
  if (switched) PrimPutTerminationCharacterEnabled(true);
  return FinishFormatted(hr, bFlushToEnd, pData);
}
HRESULT CDriverIOProvider::FormattedFlushWrite(bool bSendEnd, int32_t lTimeout) {
  VMK_FORMATTED_OP(lTimeout, true, nullptr, PrimFormattedFlushWrite(bSendEnd));
}
HRESULT CDriverIOProvider::FormattedFlushRead(int32_t lTimeout) {
  VMK_FORMATTED_OP(lTimeout, true, nullptr, PrimFormattedFlushRead());
}
HRESULT CDriverIOProvider::FormattedSetBufferSize(int32_t mask, int32_t lSize) {
  std::lock_guard lock(mutex_);
  return PrimFormattedSetBufferSize(mask, lSize);
}

#undef VMK_FORMATTED_OP

HRESULT CDriverIOProvider::ReadVariantArray(const VARIANT& v, VARTYPE vt, void* out,
                                            size_t elementSize, int32_t maxLength,
                                            int32_t* actual) {
  if (v.vt != (VT_ARRAY | vt) || !v.parray) return E_UNEXPECTED;
  const ULONG count = v.parray->rgsabound[0].cElements;
  *actual = static_cast<int32_t>(count);
  if (count > static_cast<ULONG>(maxLength)) {
    SetComErrorInfo(
        kIoIid, "VISA",
        std::to_string(count) + " values arrived for room for " + std::to_string(maxLength));
    return E_FAIL;
  }
  if (count) std::memcpy(out, v.parray->pvData, elementSize * count);
  return S_OK;
}

#define VMK_REGISTER_OP(call)               \
  std::lock_guard lock(mutex_);             \
  const HRESULT hr = call;                  \
  if (FAILED(hr)) return HandleIOError(hr); \
  return Poll()

HRESULT CDriverIOProvider::RegisterIn8(int16_t space, int32_t offset, uint8_t* pVal) {
  if (!pVal) return E_POINTER;
  VMK_REGISTER_OP(PrimIn8(space, offset, pVal));
}
HRESULT CDriverIOProvider::RegisterOut8(int16_t space, int32_t offset, uint8_t val) {
  VMK_REGISTER_OP(PrimOut8(space, offset, val));
}
HRESULT CDriverIOProvider::RegisterIn16(int16_t space, int32_t offset, int16_t* pVal) {
  if (!pVal) return E_POINTER;
  VMK_REGISTER_OP(PrimIn16(space, offset, pVal));
}
HRESULT CDriverIOProvider::RegisterOut16(int16_t space, int32_t offset, int16_t val) {
  VMK_REGISTER_OP(PrimOut16(space, offset, val));
}
HRESULT CDriverIOProvider::RegisterIn32(int16_t space, int32_t offset, int32_t* pVal) {
  if (!pVal) return E_POINTER;
  VMK_REGISTER_OP(PrimIn32(space, offset, pVal));
}
HRESULT CDriverIOProvider::RegisterOut32(int16_t space, int32_t offset, int32_t val) {
  VMK_REGISTER_OP(PrimOut32(space, offset, val));
}
HRESULT CDriverIOProvider::RegisterMoveIn8(int16_t space, int32_t offset, int32_t length,
                                           uint8_t* buf) {
  if (!buf) return E_POINTER;
  if (length < 0) return E_INVALIDARG;
  VMK_REGISTER_OP(PrimMoveIn8(space, offset, length, buf));
}
HRESULT CDriverIOProvider::RegisterMoveOut8(int16_t space, int32_t offset, int32_t length,
                                            const uint8_t* buf) {
  if (!buf) return E_POINTER;
  if (length < 0) return E_INVALIDARG;
  VMK_REGISTER_OP(PrimMoveOut8(space, offset, length, buf));
}
HRESULT CDriverIOProvider::RegisterMoveIn16(int16_t space, int32_t offset, int32_t length,
                                            int16_t* buf) {
  if (!buf) return E_POINTER;
  if (length < 0) return E_INVALIDARG;
  VMK_REGISTER_OP(PrimMoveIn16(space, offset, length, buf));
}
HRESULT CDriverIOProvider::RegisterMoveOut16(int16_t space, int32_t offset, int32_t length,
                                             const int16_t* buf) {
  if (!buf) return E_POINTER;
  if (length < 0) return E_INVALIDARG;
  VMK_REGISTER_OP(PrimMoveOut16(space, offset, length, buf));
}
HRESULT CDriverIOProvider::RegisterMoveIn32(int16_t space, int32_t offset, int32_t length,
                                            int32_t* buf) {
  if (!buf) return E_POINTER;
  if (length < 0) return E_INVALIDARG;
  VMK_REGISTER_OP(PrimMoveIn32(space, offset, length, buf));
}
HRESULT CDriverIOProvider::RegisterMoveOut32(int16_t space, int32_t offset, int32_t length,
                                             const int32_t* buf) {
  if (!buf) return E_POINTER;
  if (length < 0) return E_INVALIDARG;
  VMK_REGISTER_OP(PrimMoveOut32(space, offset, length, buf));
}

#undef VMK_REGISTER_OP

}  // namespace vmk
