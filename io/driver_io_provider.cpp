#include "io/driver_io_provider.h"

#include <cmath>
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

constexpr std::string_view kTerminator = "\n";

bool EndsWith(std::string_view s, std::string_view tail) {
  return s.size() >= tail.size() && s.substr(s.size() - tail.size()) == tail;
}

const IID kIoIid = GUID_NULL;

}  // namespace

HRESULT CDriverIOProvider::InitializeIO(const IoHost* host, CErrorManager* errors,
                                        const void* owner, std::string_view resource) {
  if (!host || !errors || !owner || resource.empty()) return E_INVALIDARG;
  std::lock_guard lock(mutex_);
  host_ = host;
  errors_ = errors;
  initialized_ = true;
  timeoutFlag_ = false;
  ahead_.clear();
  return S_OK;
}

HRESULT CDriverIOProvider::CloseIO() {
  std::lock_guard lock(mutex_);
  initialized_ = false;
  timeoutFlag_ = false;
  ahead_.clear();
  return S_OK;
}

template <class Io, class Convert>
HRESULT CDriverIOProvider::Transfer(int32_t lTimeout, Poll poll, Io&& io, Convert&& convert) {
  std::lock_guard lock(mutex_);
  TimeoutScope scope(*this, lTimeout);
  timeoutFlag_ = false;
  if (HRESULT hr = io(); FAILED(hr)) return HandleIOError(hr);
  if (HRESULT hr = convert(); FAILED(hr)) return hr;
  return poll == Poll::After ? PollStatus() : S_OK;
}

template <class Io>
HRESULT CDriverIOProvider::Transfer(int32_t lTimeout, Poll poll, Io&& io) {
  return Transfer(lTimeout, poll, io, [] { return S_OK; });
}

HRESULT CDriverIOProvider::SendAhead() {
  if (ahead_.empty()) return S_OK;
  // The waiting commands carry their terminators: they go out as they are.
  out_.swap(ahead_);
  ahead_.clear();
  return SendOut();
}

HRESULT CDriverIOProvider::RawWriteString(std::string_view command) {
  out_.assign(ahead_);
  ahead_.clear();
  out_.append(command);
  if (!EndsWith(command, kTerminator)) out_.append(kTerminator);
  return SendOut();
}

HRESULT CDriverIOProvider::SendOut() {
  int32_t written = 0;
  const HRESULT hr = PrimWriteString(out_, &written);
  if (FAILED(hr)) return hr;
  if (written < static_cast<int32_t>(out_.size())) {
    SetComErrorInfo(kIoIid, "VISA",
                    "only " + std::to_string(written) + " of " + std::to_string(out_.size()) +
                        " bytes of the command were sent");
    return E_FAIL;
  }
  return S_OK;
}

HRESULT CDriverIOProvider::RawReadString(int32_t count, std::string* text) {
  const HRESULT hr = PrimReadString(count, text);
  if (FAILED(hr)) return hr;
  // One terminator only: a carriage return before it belongs to the reply.
  if (EndsWith(*text, kTerminator)) text->pop_back();
  return S_OK;
}

HRESULT CDriverIOProvider::CheckEventStatus() {
  int32_t written = 0;
  std::string reply;
  HRESULT hr = PrimWriteString("*ESR?\n", &written);
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

HRESULT CDriverIOProvider::PollStatus() {
  if (!Polling()) return S_OK;
  if (CheckEventStatus() == S_OK) return S_OK;
  if (!errors_) return E_IVI_INSTRUMENT_STATUS;
  return errors_->ReportError(Msg::E_IVI_INSTRUMENT_STATUS);
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
  if (Polling()) {
    com::ComPtr<IErrorInfo> report;
    GetErrorInfo(0, report.put());
    CheckEventStatus();
    SetErrorInfo(0, report.get());
  }
  return reported;
}

HRESULT CDriverIOProvider::ReadSTB(int16_t* pStb) {
  if (!pStb) return E_POINTER;
  // The serial poll's own answer is the status: no poll of the event status follows it.
  return Transfer(kIoTimeoutKeep, Poll::Never, [&] {
    const HRESULT hr = SendAhead();
    return FAILED(hr) ? hr : PrimReadSTB(pStb);
  });
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

HRESULT CDriverIOProvider::InstrQuery(std::string_view command, int32_t cchDesired,
                                      int32_t lTimeout, std::string* result) {
  if (!result) return E_POINTER;
  if (cchDesired < 0) return E_INVALIDARG;
  return Transfer(lTimeout, Poll::After, [&] {
    HRESULT hr = RawWriteString(command);
    if (SUCCEEDED(hr)) hr = RawReadString(cchDesired, result);
    if (FAILED(hr)) result->clear();
    return hr;
  });
}

HRESULT CDriverIOProvider::InstrQuery(std::string_view command, int32_t lTimeout, double* result) {
  if (!result) return E_POINTER;
  std::string reply;
  return Transfer(
      lTimeout, Poll::After,
      [&] {
        const HRESULT hr = RawWriteString(command);
        return FAILED(hr) ? hr : RawReadString(100, &reply);
      },
      [&] {
        if (visa::ParseNumber(reply, result) == 0)
          *result = std::numeric_limits<double>::quiet_NaN();
        return S_OK;
      });
}

HRESULT CDriverIOProvider::InstrQuery(std::string_view command, int32_t lTimeout, int32_t* result) {
  if (!result) return E_POINTER;
  *result = 0;
  std::string reply;
  return Transfer(
      lTimeout, Poll::After,
      [&] {
        const HRESULT hr = RawWriteString(command);
        return FAILED(hr) ? hr : RawReadString(100, &reply);
      },
      [&]() -> HRESULT {
        double value = 0;
        // Converting a NaN or a value beyond 32 bits to an integer has no defined result; such
        // a reply is reported rather than turned into an arbitrary number.
        if (visa::ParseNumber(reply, &value) == 0 ||
            !(value > -2147483649.0 && value < 2147483648.0)) {
          const std::string text = "\"" + reply + "\" is not a 32-bit integer";
          return errors_ ? errors_->ReportErrorWithText(Msg::E_IVI_UNEXPECTED_RESPONSE, text)
                         : E_IVI_UNEXPECTED_RESPONSE;
        }
        *result = static_cast<int32_t>(std::trunc(value));
        return S_OK;
      });
}

HRESULT CDriverIOProvider::InstrWrite(std::string_view command, int32_t lTimeout) {
  return Transfer(lTimeout, Poll::After, [&] { return RawWriteString(command); });
}

HRESULT CDriverIOProvider::InstrWriteNoPoll(std::string_view command, int32_t lTimeout) {
  return Transfer(lTimeout, Poll::Never, [&] { return RawWriteString(command); });
}

HRESULT CDriverIOProvider::InstrWriteAhead(std::string_view command) {
  std::lock_guard lock(mutex_);
  // A polled command has its reply to read before the next one goes.
  if (Polling()) return InstrWrite(command, kIoTimeoutKeep);
  ahead_.append(command);
  if (!EndsWith(command, kTerminator)) ahead_.append(kTerminator);
  return S_OK;
}

HRESULT CDriverIOProvider::FlushAhead() {
  std::lock_guard lock(mutex_);
  if (ahead_.empty()) return S_OK;
  return Transfer(kIoTimeoutKeep, Poll::Never, [&] { return SendAhead(); });
}

HRESULT CDriverIOProvider::FormattedReadNumber(int32_t* pValue, bool bFlushToEnd,
                                               int32_t lTimeout) {
  if (!pValue) return E_POINTER;
  return Transfer(lTimeout, Poll::After, [&] {
    const HRESULT hr = SendAhead();
    return FAILED(hr) ? hr : PrimFormattedReadNumber(bFlushToEnd, pValue);
  });
}

}  // namespace vmk
