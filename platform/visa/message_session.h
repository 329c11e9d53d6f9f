// A message-based VISA session over one transport. The session holds the only buffers of the
// connection: the input that arrived beyond the last read, and the formatted-I/O write buffer.
// The formatted-I/O object works on these same buffers, so raw and formatted I/O on one session
// never lose bytes to each other.
#pragma once

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <string>

#include "platform/com/com_object.h"
#include "platform/com/critical_section.h"
#include "platform/visa/transport.h"
#include "vmk40xx/visacom.h"

namespace vmk::visa {

// Asked through QueryInterface by the formatted-I/O object to reach the session behind an
// IMessage of this layer.
inline constexpr IID IID_VmkMessageSession{
    0x6C7F2B11, 0x3A4D, 0x4E0B, {0x9B, 0x51, 0x7D, 0x40, 0x21, 0x6E, 0x02, 0x01}};

enum class ReadEnd { TermChar, End, Count };

class CMessageSession final : public ComClass<IMessage> {
 public:
  CMessageSession(std::unique_ptr<Transport> transport, std::string resourceName, SHORT board = 0);

  // IVisaSession
  HRESULT get_Timeout(LONG* pVal) override;
  HRESULT put_Timeout(LONG val) override;
  HRESULT get_HardwareInterfaceType(SHORT* pVal) override;
  HRESULT get_HardwareInterfaceNumber(SHORT* pVal) override;
  HRESULT get_SessionType(BSTR* pVal) override;
  HRESULT get_ResourceName(BSTR* pVal) override;
  HRESULT get_LastStatus(HRESULT* pVal) override;
  HRESULT Close() override;
  // IBaseMessage
  HRESULT get_SendEndEnabled(VARIANT_BOOL* pVal) override;
  HRESULT put_SendEndEnabled(VARIANT_BOOL val) override;
  HRESULT get_TerminationCharacter(BYTE* pVal) override;
  HRESULT put_TerminationCharacter(BYTE val) override;
  HRESULT get_TerminationCharacterEnabled(VARIANT_BOOL* pVal) override;
  HRESULT put_TerminationCharacterEnabled(VARIANT_BOOL val) override;
  HRESULT Clear() override;
  HRESULT ReadSTB(SHORT* pStatusByte) override;
  // IMessage
  HRESULT Read(LONG count, SAFEARRAY** pBuffer) override;
  HRESULT ReadString(LONG count, BSTR* pRetString) override;
  HRESULT Write(SAFEARRAY* buffer, LONG count, LONG* pRetCount) override;
  HRESULT WriteString(BSTR data, LONG* pRetCount) override;

  // ReadString and WriteString for narrow (UTF-8) text, without the round trip through UTF-16
  // that a BSTR costs; the I/O provider's queries take this way. A writer that knows its text
  // asks for no reply says so with `mayReply` false: the session then has no reason to look for
  // stale input before the next write (see clean_).
  HRESULT ReadText(LONG count, std::string* text);
  HRESULT WriteText(std::string_view text, LONG* pRetCount, bool mayReply = true);

  // What the formatted-I/O object uses; the caller holds Lock().
  com::CriticalSection& Lock() { return mutex_; }
  // One message: up to `max` bytes, ending at END or at `stopByte` (kept in the text; -1 for
  // none). TermStop() is the stop byte of an ordinary read.
  HRESULT ReadMessage(size_t max, int stopByte, std::string* out, ReadEnd* why, const IID& iid);
  int TermStop() const { return termEnabled_ ? termChar_ : -1; }
  // Exactly `count` bytes, whatever they are (block data).
  HRESULT ReadExact(size_t count, std::string* out, const IID& iid);
  // Puts bytes back in front of the input, for the next read.
  void Unread(std::string_view bytes);
  // Drops unread input: what is buffered and what the transport already has.
  void DiscardInput();
  std::string& WriteBuffer() { return out_; }
  // Sends the write buffer followed by `bytes`; `mayReply` as for WriteText.
  HRESULT Send(std::string_view bytes, bool end, const IID& iid, bool mayReply = true);
  size_t ReadBufferSize() const { return readBufferSize_; }
  size_t WriteBufferSize() const { return writeBufferSize_; }
  void SetReadBufferSize(size_t n) { readBufferSize_ = n; }
  void SetWriteBufferSize(size_t n) { writeBufferSize_ = n; }
  bool TermCharEnabled() const { return termEnabled_; }
  void SetTermCharEnabled(bool on) {
    termEnabled_ = on;
    if (transport_) transport_->SetReadTermination(TermStop());
  }
  BYTE TermChar() const { return termChar_; }

 private:
  std::span<const InterfaceEntry> Interfaces() override;
  ~CMessageSession();
  HRESULT Fail(HRESULT hr, const IID& iid, const std::string& description);
  HRESULT CheckOpen(const IID& iid);
  int32_t RemainingMs(const std::chrono::steady_clock::time_point& deadline) const;
  std::string Where() const { return resourceName_ + ": "; }

  com::CriticalSection mutex_;
  std::unique_ptr<Transport> transport_;
  std::string resourceName_;
  SHORT board_ = 0;
  LONG timeout_ = 2000;
  BYTE termChar_ = '\n';
  bool termEnabled_ = false;
  bool sendEnd_ = true;
  HRESULT lastStatus_ = S_OK;
  std::string pending_;      // input beyond the last read
  bool pendingEnd_ = false;  // END came with the last byte of pending_
  // False from a write that may draw a reply until a whole reply has been read, and after a
  // time-out, a failed transfer or a device clear: input that may be left over from an earlier
  // exchange is dropped before the next write, so that it is never taken as the answer. A write
  // known to draw no reply leaves it as it was, and so costs no look at the input.
  bool clean_ = true;
  std::string out_;    // formatted write buffer
  std::string chunk_;  // what one transport read fills
  size_t readBufferSize_ = 4096;
  size_t writeBufferSize_ = 4096;
};

}  // namespace vmk::visa
