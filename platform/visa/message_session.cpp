#include "platform/visa/message_session.h"
#include "platform/com/no_throw.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "platform/com/com_ptr.h"
#include "platform/visa/number_text.h"

namespace vmk::visa {

using Clock = std::chrono::steady_clock;

CMessageSession::CMessageSession(std::unique_ptr<Transport> transport, std::string resourceName,
                                 SHORT board)
    : transport_(std::move(transport)), resourceName_(std::move(resourceName)), board_(board) {}

CMessageSession::~CMessageSession() = default;

// Every interface of the session is the one IMessage: the others are its bases.
std::span<const CComObject::InterfaceEntry> CMessageSession::Interfaces() {
  using Self = CMessageSession;
  static const InterfaceEntry kTable[] = {
      {&IID_IMessage, InterfaceOf<Self, IMessage>},
      {&IID_IVisaSession, InterfaceOf<Self, IMessage>},
      {&IID_IBaseMessage, InterfaceOf<Self, IMessage>},
      {&IID_VmkMessageSession, InterfaceOf<Self, IMessage>},
  };
  return kTable;
}

HRESULT CMessageSession::Fail(HRESULT hr, const IID& iid, const std::string& description) {
  lastStatus_ = hr;
  return VisaError(hr, iid, Where() + description);
}

HRESULT CMessageSession::CheckOpen(const IID& iid) {
  return transport_ ? S_OK : Fail(E_VISA_CONN_LOST, iid, "the session is closed");
}

int32_t CMessageSession::RemainingMs(const Clock::time_point& deadline) const {
  if (timeout_ < 0) return -1;
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return static_cast<int32_t>(std::clamp<int64_t>(left, 0, timeout_));
}

HRESULT CMessageSession::get_Timeout(LONG* pVal) {
  if (!pVal) return E_POINTER;
  std::lock_guard lock(mutex_);
  *pVal = timeout_;
  return S_OK;
}

HRESULT CMessageSession::put_Timeout(LONG val) {
  return com::NoThrow([&]() -> HRESULT {
    std::lock_guard lock(mutex_);
    if (val < -1)
      return Fail(E_INVALIDARG, IID_IVisaSession,
                  "time-out " + std::to_string(val) + " ms is not valid (-1 waits forever)");
    timeout_ = val;
    return S_OK;
  });
}

HRESULT CMessageSession::get_HardwareInterfaceType(SHORT* pVal) {
  return com::NoThrow([&]() -> HRESULT {
    if (!pVal) return E_POINTER;
    std::lock_guard lock(mutex_);
    if (HRESULT hr = CheckOpen(IID_IVisaSession); FAILED(hr)) return hr;
    *pVal = transport_->InterfaceType();
    return S_OK;
  });
}

HRESULT CMessageSession::get_HardwareInterfaceNumber(SHORT* pVal) {
  if (!pVal) return E_POINTER;
  *pVal = board_;
  return S_OK;
}

HRESULT CMessageSession::get_SessionType(BSTR* pVal) {
  return com::NoThrow([&]() -> HRESULT {
    if (!pVal) return E_POINTER;
    std::lock_guard lock(mutex_);
    *pVal = nullptr;
    if (HRESULT hr = CheckOpen(IID_IVisaSession); FAILED(hr)) return hr;
    *pVal = com::Utf8ToBstr(transport_->SessionType());
    return *pVal ? S_OK : E_OUTOFMEMORY;
  });
}

HRESULT CMessageSession::get_ResourceName(BSTR* pVal) {
  if (!pVal) return E_POINTER;
  *pVal = com::Utf8ToBstr(resourceName_);
  return *pVal ? S_OK : E_OUTOFMEMORY;
}

HRESULT CMessageSession::get_LastStatus(HRESULT* pVal) {
  if (!pVal) return E_POINTER;
  std::lock_guard lock(mutex_);
  *pVal = lastStatus_;
  return S_OK;
}

HRESULT CMessageSession::Close() {
  std::lock_guard lock(mutex_);
  transport_.reset();
  pending_.clear();
  out_.clear();
  return S_OK;
}

HRESULT CMessageSession::get_SendEndEnabled(VARIANT_BOOL* pVal) {
  if (!pVal) return E_POINTER;
  std::lock_guard lock(mutex_);
  *pVal = sendEnd_ ? VARIANT_TRUE : VARIANT_FALSE;
  return S_OK;
}
HRESULT CMessageSession::put_SendEndEnabled(VARIANT_BOOL val) {
  std::lock_guard lock(mutex_);
  sendEnd_ = val != VARIANT_FALSE;
  return S_OK;
}
HRESULT CMessageSession::get_TerminationCharacter(BYTE* pVal) {
  if (!pVal) return E_POINTER;
  std::lock_guard lock(mutex_);
  *pVal = termChar_;
  return S_OK;
}
HRESULT CMessageSession::put_TerminationCharacter(BYTE val) {
  std::lock_guard lock(mutex_);
  termChar_ = val;
  if (transport_) transport_->SetReadTermination(TermStop());
  return S_OK;
}
HRESULT CMessageSession::get_TerminationCharacterEnabled(VARIANT_BOOL* pVal) {
  if (!pVal) return E_POINTER;
  std::lock_guard lock(mutex_);
  *pVal = termEnabled_ ? VARIANT_TRUE : VARIANT_FALSE;
  return S_OK;
}
HRESULT CMessageSession::put_TerminationCharacterEnabled(VARIANT_BOOL val) {
  std::lock_guard lock(mutex_);
  SetTermCharEnabled(val != VARIANT_FALSE);
  return S_OK;
}

HRESULT CMessageSession::Clear() {
  return com::NoThrow([&]() -> HRESULT {
    std::lock_guard lock(mutex_);
    if (HRESULT hr = CheckOpen(IID_IBaseMessage); FAILED(hr)) return hr;
    pending_.clear();
    pendingEnd_ = false;
    out_.clear();
    std::string error;
    const HRESULT hr = transport_->Clear(&error);
    if (FAILED(hr)) return Fail(hr, IID_IBaseMessage, "device clear failed: " + error);
    // A reply still on its way belongs to the cleared exchange: the next write drops it too.
    clean_ = false;
    return S_OK;
  });
}

HRESULT CMessageSession::ReadSTB(SHORT* pStatusByte) {
  return com::NoThrow([&]() -> HRESULT {
    if (!pStatusByte) return E_POINTER;
    std::lock_guard lock(mutex_);
    if (HRESULT hr = CheckOpen(IID_IBaseMessage); FAILED(hr)) return hr;
    std::string error;
    HRESULT hr = transport_->ReadStb(pStatusByte, &error);
    if (hr != E_VISA_NSUP_OPER)
      return FAILED(hr) ? Fail(hr, IID_IBaseMessage, "serial poll failed: " + error) : hr;
    // A socket or a serial line has no serial poll; an IEEE 488.2 instrument answers the same
    // byte to "*STB?".
    if (FAILED(hr = Send("*STB?\n", true, IID_IBaseMessage))) return hr;
    std::string reply;
    ReadEnd why;
    if (FAILED(hr = ReadMessage(100, '\n', &reply, &why, IID_IBaseMessage))) return hr;
    double value = 0;
    if (ParseNumber(reply, &value) == 0 || !(value >= 0 && value <= 255))
      return Fail(E_VISA_IO, IID_IBaseMessage,
                  "the reply to *STB? is not a status byte: \"" + reply + "\"");
    *pStatusByte = static_cast<SHORT>(value);
    return S_OK;
  });
}

HRESULT CMessageSession::Read(LONG count, SAFEARRAY** pBuffer) {
  return com::NoThrow([&]() -> HRESULT {
    if (!pBuffer) return E_POINTER;
    *pBuffer = nullptr;
    if (count < 0) return E_INVALIDARG;
    std::lock_guard lock(mutex_);
    std::string data;
    ReadEnd why;
    HRESULT hr = ReadMessage(static_cast<size_t>(count), TermStop(), &data, &why, IID_IMessage);
    if (FAILED(hr)) return hr;
    SAFEARRAY* psa = SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(data.size()));
    if (!psa) return E_OUTOFMEMORY;
    if (!data.empty()) std::memcpy(psa->pvData, data.data(), data.size());
    *pBuffer = psa;
    return why == ReadEnd::Count      ? S_VISA_MAX_CNT
           : why == ReadEnd::TermChar ? S_VISA_TERM_CHAR
                                      : S_OK;
  });
}

HRESULT CMessageSession::ReadString(LONG count, BSTR* pRetString) {
  if (!pRetString) return E_POINTER;
  *pRetString = nullptr;
  return com::NoThrow([&]() -> HRESULT {
    std::string data;
    const HRESULT hr = ReadText(count, &data);
    if (FAILED(hr)) return hr;
    *pRetString = com::Utf8ToBstr(data);
    return *pRetString ? hr : E_OUTOFMEMORY;
  });
}

HRESULT CMessageSession::Write(SAFEARRAY* buffer, LONG count, LONG* pRetCount) {
  return com::NoThrow([&]() -> HRESULT {
    if (!pRetCount) return E_POINTER;
    *pRetCount = 0;
    if (count < 0) return E_INVALIDARG;
    if (!buffer || buffer->cDims != 1 || buffer->cbElements != 1 ||
        static_cast<ULONG>(count) > buffer->rgsabound[0].cElements)
      return VisaError(E_INVALIDARG, IID_IMessage,
                       Where() + "the byte array holds fewer bytes than the count to write");
    std::lock_guard lock(mutex_);
    const HRESULT hr =
        Send(std::string_view(static_cast<const char*>(buffer->pvData), static_cast<size_t>(count)),
             sendEnd_, IID_IMessage);
    if (SUCCEEDED(hr)) *pRetCount = count;
    return hr;
  });
}

HRESULT CMessageSession::WriteString(BSTR data, LONG* pRetCount) {
  if (!pRetCount) return E_POINTER;
  *pRetCount = 0;
  return com::NoThrow([&]() -> HRESULT { return WriteText(com::BstrToUtf8(data), pRetCount); });
}

HRESULT CMessageSession::ReadText(LONG count, std::string* text) {
  if (!text) return E_POINTER;
  if (count < 0) return E_INVALIDARG;
  return com::NoThrow([&]() -> HRESULT {
    std::lock_guard lock(mutex_);
    ReadEnd why;
    const HRESULT hr =
        ReadMessage(static_cast<size_t>(count), TermStop(), text, &why, IID_IMessage);
    if (FAILED(hr)) return hr;
    return why == ReadEnd::Count      ? S_VISA_MAX_CNT
           : why == ReadEnd::TermChar ? S_VISA_TERM_CHAR
                                      : S_OK;
  });
}

HRESULT CMessageSession::WriteText(std::string_view text, LONG* pRetCount, bool mayReply) {
  if (!pRetCount) return E_POINTER;
  *pRetCount = 0;
  return com::NoThrow([&]() -> HRESULT {
    std::lock_guard lock(mutex_);
    const HRESULT hr = Send(text, sendEnd_, IID_IMessage, mayReply);
    if (SUCCEEDED(hr)) *pRetCount = static_cast<LONG>(text.size());
    return hr;
  });
}

HRESULT CMessageSession::ReadMessage(size_t max, int stopByte, std::string* out, ReadEnd* why,
                                     const IID& iid) {
  out->clear();
  if (HRESULT hr = CheckOpen(iid); FAILED(hr)) return hr;
  const auto deadline = Clock::now() + std::chrono::milliseconds(std::max<LONG>(timeout_, 0));
  bool waited = false;
  bool timedOut = false;
  for (;;) {
    if (!pending_.empty() && out->size() < max) {
      size_t take = std::min(pending_.size(), max - out->size());
      bool term = false;
      if (stopByte >= 0) {
        const void* hit = std::memchr(pending_.data(), stopByte, take);
        if (hit) {
          take = static_cast<size_t>(static_cast<const char*>(hit) - pending_.data()) + 1;
          term = true;
        }
      }
      out->append(pending_, 0, take);
      pending_.erase(0, take);
      const bool end = pendingEnd_ && pending_.empty();
      if (end) pendingEnd_ = false;
      if (term || end) {
        *why = term ? ReadEnd::TermChar : ReadEnd::End;
        clean_ = pending_.empty();
        return S_OK;
      }
    }
    if (out->size() >= max) {
      *why = ReadEnd::Count;
      return S_OK;
    }
    const int32_t left = RemainingMs(deadline);
    if (left == 0 && waited) timedOut = true;
    if (timedOut) {
      // The partial reply is of no use, and what is still to come belongs to it.
      const size_t got = out->size();
      out->clear();
      clean_ = false;
      return Fail(E_VISA_TMO, iid,
                  "time-out after " + std::to_string(timeout_) + " ms waiting for a reply" +
                      (got ? " (" + std::to_string(got) + " bytes of it had arrived)" : ""));
    }
    waited = true;
    // A buffer kept from read to read: sizing pending_ up and down each time would clear it.
    chunk_.resize(std::max<size_t>(readBufferSize_, 256));
    size_t got = 0;
    bool end = false;
    std::string error;
    const HRESULT hr = transport_->Read(reinterpret_cast<uint8_t*>(chunk_.data()), chunk_.size(),
                                        &got, &end, left, &error);
    if (SUCCEEDED(hr)) pending_.append(chunk_, 0, got);
    if (hr == E_VISA_TMO) {
      timedOut = true;
      continue;
    }
    if (FAILED(hr)) {
      const size_t partial = out->size() + pending_.size();
      out->clear();
      pending_.clear();
      clean_ = false;
      return Fail(hr, iid,
                  error + (partial ? " in the middle of a reply (" + std::to_string(partial) +
                                         " bytes of it had arrived)"
                                   : " while waiting for a reply"));
    }
    pendingEnd_ = end;
  }
}

HRESULT CMessageSession::ReadExact(size_t count, std::string* out, const IID& iid) {
  out->clear();
  if (HRESULT hr = CheckOpen(iid); FAILED(hr)) return hr;
  const auto deadline = Clock::now() + std::chrono::milliseconds(std::max<LONG>(timeout_, 0));
  bool waited = false;
  bool timedOut = false;
  while (out->size() < count) {
    if (!pending_.empty()) {
      const size_t take = std::min(pending_.size(), count - out->size());
      out->append(pending_, 0, take);
      pending_.erase(0, take);
      if (pending_.empty()) pendingEnd_ = false;
      continue;
    }
    const int32_t left = RemainingMs(deadline);
    if ((left == 0 && waited) || timedOut) {
      const size_t got = out->size();
      out->clear();
      clean_ = false;
      return Fail(E_VISA_TMO, iid,
                  "time-out after " + std::to_string(timeout_) + " ms with " + std::to_string(got) +
                      " of " + std::to_string(count) + " bytes of a block received");
    }
    waited = true;
    const size_t chunk = std::max<size_t>(std::min(readBufferSize_, count - out->size()), 256);
    pending_.resize(chunk);
    size_t got = 0;
    bool end = false;
    std::string error;
    const HRESULT hr = transport_->Read(reinterpret_cast<uint8_t*>(pending_.data()), chunk, &got,
                                        &end, left, &error);
    pending_.resize(SUCCEEDED(hr) ? got : 0);
    if (hr == E_VISA_TMO) {
      timedOut = true;
      continue;
    }
    if (FAILED(hr)) {
      const size_t got_ = out->size();
      out->clear();
      clean_ = false;
      return Fail(hr, iid,
                  error + " after " + std::to_string(got_) + " of " + std::to_string(count) +
                      " bytes of a block");
    }
    pendingEnd_ = end;
  }
  return S_OK;
}

void CMessageSession::Unread(std::string_view bytes) {
  if (bytes.empty()) return;
  pending_.insert(0, bytes);
}

void CMessageSession::DiscardInput() {
  pending_.clear();
  pendingEnd_ = false;
  if (transport_) transport_->DiscardInput();
}

HRESULT CMessageSession::Send(std::string_view bytes, bool end, const IID& iid, bool mayReply) {
  if (HRESULT hr = CheckOpen(iid); FAILED(hr)) return hr;
  // A new message makes any unread reply obsolete (IEEE 488.2 calls it an interrupted query).
  if (!clean_ || !pending_.empty()) DiscardInput();
  std::string joined;
  std::string_view all = bytes;
  if (!out_.empty()) {
    joined = std::move(out_);
    out_.clear();
    joined.append(bytes);
    all = joined;
  }
  std::string error;
  const HRESULT hr = transport_->Write(reinterpret_cast<const uint8_t*>(all.data()), all.size(),
                                       end, timeout_, &error);
  // Formatted output joined in front may hold a query the caller wrote before; and a write that
  // failed part way may have left the instrument with one.
  if (mayReply || !joined.empty() || FAILED(hr)) clean_ = false;
  if (FAILED(hr)) return Fail(hr, iid, error);
  return S_OK;
}

}  // namespace vmk::visa
