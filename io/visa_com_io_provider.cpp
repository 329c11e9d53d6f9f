#include "io/visa_com_io_provider.h"

#include <algorithm>
#include <cctype>
#include <cstring>

#include "platform/visa/visa.h"
#include "services/errors.h"

namespace vmk {
namespace {

// The framework's time-out status is what the I/O error report recognises.
HRESULT Tx(HRESULT hr) {
  return hr == E_VISA_TMO ? E_VMK_IO_TIMEOUT_STATUS : hr;
}

VARIANT_BOOL Vb(bool b) {
  return b ? VARIANT_TRUE : VARIANT_FALSE;
}

int32_t AsciiType(int32_t type) {
  switch (type) {
    case 3:
    case 4:
    case 5:
    case 8:
    case 12:
    case 17:
      return type;
    default:
      return 2;
  }
}

int32_t BinaryType(int32_t type) {
  switch (type) {
    case 3:
    case 4:
    case 5:
    case 17:
      return type;
    default:
      return 2;
  }
}

std::string Upper(std::string_view s) {
  std::string u(s);
  for (char& c : u) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return u;
}

}  // namespace

HRESULT CVisaComIOProvider::NotConnected() const {
  SetComErrorInfo(GUID_NULL, "VISA", "the instrument connection is not open");
  return E_FAIL;
}

HRESULT CVisaComIOProvider::NoRegisters() const {
  if (!message_) return NotConnected();
  SetComErrorInfo(GUID_NULL, "VISA", "the session offers no register access");
  return E_FAIL;
}

void CVisaComIOProvider::Release() {
  formatted_.reset();
  narrow_.reset();
  session_.reset();
  message_.reset();
  register_.reset();
}

HRESULT CVisaComIOProvider::InitializeIO(const IoHost* host, CErrorManager* errors,
                                         const void* owner, std::string_view resource) {
  if (!host || !errors || !owner || resource.empty()) return E_INVALIDARG;
  std::lock_guard lock(Lock());
  CloseIO();
  HRESULT hr = CDriverIOProvider::InitializeIO(host, errors, owner, resource);
  if (FAILED(hr)) return hr;
  lastOpenStatus_ = S_OK;
  auto fail = [&](HRESULT status) {
    Release();
    CDriverIOProvider::CloseIO();
    return status;
  };

  com::ComPtr<IResourceManager> manager;
  if (FAILED(hr = visa::CreateResourceManager(manager.put()))) {
    SetComErrorInfo(GUID_NULL, "VISA",
                    "Could not create instance of VISA-COM Global Resource Manager Component. "
                    "Make sure it is installed properly.");
    return fail(hr);
  }
  com::Bstr name(resource);
  com::Bstr options(std::string_view{});
  if (FAILED(hr = manager->Open(name.get(), NO_LOCK, 2000, options.get(), session_.put()))) {
    lastOpenStatus_ = hr;
    return fail(E_IVI_RESOURCE_UNKNOWN);
  }
  if (FAILED(hr = session_->QueryInterface(IID_IMessage, reinterpret_cast<void**>(message_.put()))))
    return fail(hr);
  if (FAILED(session_->QueryInterface(IID_IRegister, reinterpret_cast<void**>(register_.put()))))
    register_.reset();
  IMessage* own = nullptr;
  if (SUCCEEDED(
          session_->QueryInterface(visa::IID_VmkMessageSession, reinterpret_cast<void**>(&own))))
    narrow_ = com::ComPtr<visa::CMessageSession>::Attach(static_cast<visa::CMessageSession*>(own));
  if (FAILED(hr = visa::CreateFormattedIO488(formatted_.put()))) {
    SetComErrorInfo(GUID_NULL, "VISA",
                    "Could not create instance of VISA-COM FormattedIO488 Component. Make sure "
                    "it is installed properly.");
    return fail(hr);
  }
  if (FAILED(hr = formatted_->putref_IO(message_.get()))) return fail(hr);

  int32_t kind = kVisaIntfUnknown;
  if (FAILED(hr = GetVisaInterfaceType(&kind))) return fail(Tx(hr));
  if (kind == kVisaIntfLanInstrument && Upper(resource).find("::SOCKET") != std::string::npos)
    kind = kVisaIntfLanSocket;
  // A socket or a serial line has no END: replies end at the line feed, and only if the session
  // stops there.
  if (kind == kVisaIntfSerial || kind == kVisaIntfLanSocket) {
    if (FAILED(hr = message_->put_TerminationCharacter('\n')) ||
        FAILED(hr = message_->put_TerminationCharacterEnabled(VARIANT_TRUE)) ||
        FAILED(hr = message_->put_SendEndEnabled(VARIANT_TRUE)))
      return fail(Tx(hr));
  }
  return S_OK;
}

HRESULT CVisaComIOProvider::CloseIO() {
  std::lock_guard lock(Lock());
  if (session_) session_->Close();
  Release();
  return CDriverIOProvider::CloseIO();
}

HRESULT CVisaComIOProvider::GetVisaInterfaceType(int32_t* peIntfType) {
  if (!peIntfType) return E_POINTER;
  *peIntfType = kVisaIntfUnknown;
  std::lock_guard lock(Lock());
  if (!session_) return NotConnected();
  SHORT type = 0;
  HRESULT hr = session_->get_HardwareInterfaceType(&type);
  if (FAILED(hr)) return Tx(hr);
  switch (type) {
    case INTF_GPIB:
      *peIntfType = kVisaIntfGpib;
      break;
    case INTF_VXI:
      *peIntfType = kVisaIntfVxi;
      break;
    case INTF_GPIB_VXI:
      *peIntfType = kVisaIntfGpibVxi;
      break;
    case INTF_ASRL:
      *peIntfType = kVisaIntfSerial;
      break;
    case INTF_USB:
      *peIntfType = kVisaIntfUsb;
      break;
    case INTF_TCPIP: {
      com::Bstr sessionType;
      if (FAILED(hr = session_->get_SessionType(sessionType.put()))) return Tx(hr);
      *peIntfType =
          Upper(sessionType.utf8()) == "INSTR" ? kVisaIntfLanInstrument : kVisaIntfLanSocket;
      break;
    }
    default:
      break;
  }
  return S_OK;
}

HRESULT CVisaComIOProvider::ioprvGetIVisaSessionPointer(IVisaSession** ppVal) {
  if (!ppVal) return E_POINTER;
  std::lock_guard lock(Lock());
  *ppVal = com::ComPtr<IVisaSession>(session_).Detach();
  return S_OK;
}
HRESULT CVisaComIOProvider::ioprvGetIMessagePointer(IMessage** ppVal) {
  if (!ppVal) return E_POINTER;
  std::lock_guard lock(Lock());
  *ppVal = com::ComPtr<IMessage>(message_).Detach();
  return S_OK;
}
HRESULT CVisaComIOProvider::ioprvGetIRegisterPointer(IRegister** ppVal) {
  if (!ppVal) return E_POINTER;
  std::lock_guard lock(Lock());
  *ppVal = com::ComPtr<IRegister>(register_).Detach();
  return S_OK;
}
HRESULT CVisaComIOProvider::ioprvGetIFormattedIO488Pointer(IFormattedIO488** ppVal) {
  if (!ppVal) return E_POINTER;
  std::lock_guard lock(Lock());
  *ppVal = com::ComPtr<IFormattedIO488>(formatted_).Detach();
  return *ppVal ? S_OK : S_FALSE;
}

HRESULT CVisaComIOProvider::PrimRead(int32_t count, SAFEARRAY** ppsa) {
  if (!ppsa) return E_POINTER;
  if (count < 0) return E_INVALIDARG;
  if (!message_) return NotConnected();
  return Tx(message_->Read(count, ppsa));
}

HRESULT CVisaComIOProvider::PrimReadString(int32_t count, std::string* text) {
  if (!text) return E_POINTER;
  if (count < 0) return E_INVALIDARG;
  if (!message_) return NotConnected();
  if (narrow_) return Tx(narrow_->ReadText(count, text));
  com::Bstr reply;
  const HRESULT hr = message_->ReadString(count, reply.put());
  if (FAILED(hr)) return Tx(hr);
  *text = reply.utf8();
  return S_OK;
}

HRESULT CVisaComIOProvider::PrimWrite(const uint8_t* data, int32_t count, int32_t* written) {
  if (!data || !written) return E_POINTER;
  if (count < 0) return E_INVALIDARG;
  if (!message_) return NotConnected();
  SAFEARRAY* psa = SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(count));
  if (!psa) return E_OUTOFMEMORY;
  if (count) std::memcpy(psa->pvData, data, static_cast<size_t>(count));
  LONG sent = 0;
  const HRESULT hr = message_->Write(psa, count, &sent);
  SafeArrayDestroy(psa);
  *written = sent;
  return Tx(hr);
}

HRESULT CVisaComIOProvider::PrimWriteString(std::string_view text, int32_t* written) {
  if (!written) return E_POINTER;
  if (!message_) return NotConnected();
  if (narrow_) {
    LONG sent = 0;
    const HRESULT hr = narrow_->WriteText(text, &sent);
    *written = sent;
    return Tx(hr);
  }
  com::Bstr data(text);
  if (!data.get() && !text.empty()) return E_OUTOFMEMORY;
  LONG sent = 0;
  const HRESULT hr = message_->WriteString(data.get(), &sent);
  // The session counts bytes of the UTF-8 text it sent, as the caller does.
  *written = sent;
  return Tx(hr);
}

HRESULT CVisaComIOProvider::PrimClear() {
  if (!message_) return NotConnected();
  return Tx(message_->Clear());
}

HRESULT CVisaComIOProvider::PrimReadSTB(int16_t* stb) {
  if (!stb) return E_POINTER;
  if (!message_) return NotConnected();
  return Tx(message_->ReadSTB(stb));
}

HRESULT CVisaComIOProvider::PrimPutSendEndEnabled(bool on) {
  if (!message_) return NotConnected();
  return Tx(message_->put_SendEndEnabled(Vb(on)));
}
HRESULT CVisaComIOProvider::PrimGetSendEndEnabled(bool* on) {
  if (!on) return E_POINTER;
  if (!message_) return NotConnected();
  VARIANT_BOOL v = VARIANT_FALSE;
  const HRESULT hr = message_->get_SendEndEnabled(&v);
  *on = v != VARIANT_FALSE;
  return Tx(hr);
}
HRESULT CVisaComIOProvider::PrimPutTerminationCharacter(uint8_t c) {
  if (!message_) return NotConnected();
  return Tx(message_->put_TerminationCharacter(c));
}
HRESULT CVisaComIOProvider::PrimGetTerminationCharacter(uint8_t* c) {
  if (!c) return E_POINTER;
  if (!message_) return NotConnected();
  return Tx(message_->get_TerminationCharacter(c));
}
HRESULT CVisaComIOProvider::PrimPutTerminationCharacterEnabled(bool on) {
  if (!message_) return NotConnected();
  return Tx(message_->put_TerminationCharacterEnabled(Vb(on)));
}
HRESULT CVisaComIOProvider::PrimGetTerminationCharacterEnabled(bool* on) {
  if (!on) return E_POINTER;
  if (!message_) return NotConnected();
  VARIANT_BOOL v = VARIANT_FALSE;
  const HRESULT hr = message_->get_TerminationCharacterEnabled(&v);
  *on = v != VARIANT_FALSE;
  return Tx(hr);
}
HRESULT CVisaComIOProvider::PrimPutTimeout(int32_t ms) {
  if (!session_) return NotConnected();
  return Tx(session_->put_Timeout(ms));
}
HRESULT CVisaComIOProvider::PrimGetTimeout(int32_t* ms) {
  if (!ms) return E_POINTER;
  if (!session_) return NotConnected();
  return Tx(session_->get_Timeout(ms));
}
HRESULT CVisaComIOProvider::PrimPutInstrumentBigEndian(bool on) {
  if (!formatted_) return NotConnected();
  return Tx(formatted_->put_InstrumentBigEndian(Vb(on)));
}
HRESULT CVisaComIOProvider::PrimGetInstrumentBigEndian(bool* on) {
  if (!on) return E_POINTER;
  if (!formatted_) return NotConnected();
  VARIANT_BOOL v = VARIANT_FALSE;
  const HRESULT hr = formatted_->get_InstrumentBigEndian(&v);
  *on = v != VARIANT_FALSE;
  return Tx(hr);
}

HRESULT CVisaComIOProvider::PrimFormattedWriteString(std::string_view data, bool flush) {
  if (!formatted_) return NotConnected();
  com::Bstr text(data);
  return Tx(formatted_->WriteString(text.get(), Vb(flush)));
}
HRESULT CVisaComIOProvider::PrimFormattedWriteNumber(const VARIANT& data, int32_t type,
                                                     bool flush) {
  if (!formatted_) return NotConnected();
  return Tx(formatted_->WriteNumber(data, AsciiType(type), Vb(flush)));
}
HRESULT CVisaComIOProvider::PrimFormattedWriteList(const VARIANT& data, int32_t type,
                                                   std::string_view separator, bool flush) {
  if (!formatted_) return NotConnected();
  com::Bstr sep(separator.empty() ? std::string_view(",") : separator);
  VARIANT copy = data;  // WriteList takes a pointer; it neither keeps nor frees the data
  return Tx(formatted_->WriteList(&copy, AsciiType(type), sep.get(), Vb(flush)));
}
HRESULT CVisaComIOProvider::PrimFormattedWriteIEEEBlock(std::string_view command,
                                                        const VARIANT& data, bool flush) {
  if (!formatted_) return NotConnected();
  com::Bstr header(command);
  return Tx(formatted_->WriteIEEEBlock(header.get(), data, Vb(flush)));
}
HRESULT CVisaComIOProvider::PrimFormattedReadString(std::string* text) {
  if (!text) return E_POINTER;
  if (!formatted_) return NotConnected();
  com::Bstr reply;
  const HRESULT hr = formatted_->ReadString(reply.put());
  if (SUCCEEDED(hr)) *text = reply.utf8();
  return Tx(hr);
}
HRESULT CVisaComIOProvider::PrimFormattedReadNumber(int32_t type, bool flushToEnd, VARIANT* data) {
  if (!data) return E_POINTER;
  if (!formatted_) return NotConnected();
  return Tx(formatted_->ReadNumber(AsciiType(type), Vb(flushToEnd), data));
}
HRESULT CVisaComIOProvider::PrimFormattedReadList(int32_t type, std::string_view separator,
                                                  VARIANT* data) {
  if (!data) return E_POINTER;
  if (!formatted_) return NotConnected();
  com::Bstr sep(separator.empty() ? std::string_view(",;") : separator);
  return Tx(formatted_->ReadList(AsciiType(type), sep.get(), data));
}
HRESULT CVisaComIOProvider::PrimFormattedReadIEEEBlock(int32_t type, bool seek, bool flushToEnd,
                                                       VARIANT* data) {
  if (!data) return E_POINTER;
  if (!formatted_) return NotConnected();
  return Tx(formatted_->ReadIEEEBlock(BinaryType(type), Vb(seek), Vb(flushToEnd), data));
}
HRESULT CVisaComIOProvider::PrimFormattedFlushWrite(bool sendEnd) {
  if (!formatted_) return NotConnected();
  return Tx(formatted_->FlushWrite(Vb(sendEnd)));
}
HRESULT CVisaComIOProvider::PrimFormattedFlushRead() {
  if (!formatted_) return NotConnected();
  return Tx(formatted_->FlushRead());
}
HRESULT CVisaComIOProvider::PrimFormattedSetBufferSize(int32_t mask, int32_t size) {
  if (!formatted_) return NotConnected();
  if (mask != IO_IN_BUF && mask != IO_OUT_BUF) mask = IO_IN_AND_OUT_BUFS;
  return Tx(formatted_->SetBufferSize(mask, size));
}

HRESULT CVisaComIOProvider::PrimIn8(int16_t space, int32_t offset, uint8_t* v) {
  return register_ ? Tx(register_->In8(space, offset, v)) : NoRegisters();
}
HRESULT CVisaComIOProvider::PrimOut8(int16_t space, int32_t offset, uint8_t v) {
  return register_ ? Tx(register_->Out8(space, offset, v)) : NoRegisters();
}
HRESULT CVisaComIOProvider::PrimIn16(int16_t space, int32_t offset, int16_t* v) {
  return register_ ? Tx(register_->In16(space, offset, v)) : NoRegisters();
}
HRESULT CVisaComIOProvider::PrimOut16(int16_t space, int32_t offset, int16_t v) {
  return register_ ? Tx(register_->Out16(space, offset, v)) : NoRegisters();
}
HRESULT CVisaComIOProvider::PrimIn32(int16_t space, int32_t offset, int32_t* v) {
  return register_ ? Tx(register_->In32(space, offset, v)) : NoRegisters();
}
HRESULT CVisaComIOProvider::PrimOut32(int16_t space, int32_t offset, int32_t v) {
  return register_ ? Tx(register_->Out32(space, offset, v)) : NoRegisters();
}
HRESULT CVisaComIOProvider::PrimMoveIn8(int16_t space, int32_t offset, int32_t n, uint8_t* b) {
  return register_ ? Tx(register_->MoveIn8(space, offset, n, b)) : NoRegisters();
}
HRESULT CVisaComIOProvider::PrimMoveOut8(int16_t space, int32_t offset, int32_t n,
                                         const uint8_t* b) {
  return register_ ? Tx(register_->MoveOut8(space, offset, n, b)) : NoRegisters();
}
HRESULT CVisaComIOProvider::PrimMoveIn16(int16_t space, int32_t offset, int32_t n, int16_t* b) {
  return register_ ? Tx(register_->MoveIn16(space, offset, n, b)) : NoRegisters();
}
HRESULT CVisaComIOProvider::PrimMoveOut16(int16_t space, int32_t offset, int32_t n,
                                          const int16_t* b) {
  return register_ ? Tx(register_->MoveOut16(space, offset, n, b)) : NoRegisters();
}
HRESULT CVisaComIOProvider::PrimMoveIn32(int16_t space, int32_t offset, int32_t n, int32_t* b) {
  return register_ ? Tx(register_->MoveIn32(space, offset, n, b)) : NoRegisters();
}
HRESULT CVisaComIOProvider::PrimMoveOut32(int16_t space, int32_t offset, int32_t n,
                                          const int32_t* b) {
  return register_ ? Tx(register_->MoveOut32(space, offset, n, b)) : NoRegisters();
}

}  // namespace vmk
