#include "io/visa_com_io_provider.h"

#include <algorithm>
#include <cstring>

#include "platform/com/ascii.h"
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

std::string Upper(std::string_view s) {
  std::string u(s);
  for (char& c : u) c = ascii::Upper(c);
  return u;
}

}  // namespace

HRESULT CVisaComIOProvider::NotConnected() const {
  SetComErrorInfo(GUID_NULL, "VISA", "the instrument connection is not open");
  return E_FAIL;
}

void CVisaComIOProvider::Release() {
  formatted_.reset();
  narrow_.reset();
  session_.reset();
  message_.reset();
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
HRESULT CVisaComIOProvider::ioprvGetIFormattedIO488Pointer(IFormattedIO488** ppVal) {
  if (!ppVal) return E_POINTER;
  std::lock_guard lock(Lock());
  *ppVal = com::ComPtr<IFormattedIO488>(formatted_).Detach();
  return *ppVal ? S_OK : S_FALSE;
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

HRESULT CVisaComIOProvider::PrimWriteString(std::string_view text, int32_t* written,
                                            bool mayReply) {
  if (!written) return E_POINTER;
  if (!message_) return NotConnected();
  if (narrow_) {
    LONG sent = 0;
    const HRESULT hr = narrow_->WriteText(text, &sent, mayReply);
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

HRESULT CVisaComIOProvider::PrimPutTimeout(int32_t ms) {
  if (!session_) return NotConnected();
  return Tx(session_->put_Timeout(ms));
}
HRESULT CVisaComIOProvider::PrimGetTimeout(int32_t* ms) {
  if (!ms) return E_POINTER;
  if (!session_) return NotConnected();
  return Tx(session_->get_Timeout(ms));
}
HRESULT CVisaComIOProvider::PrimFormattedReadNumber(bool flushToEnd, int32_t* value) {
  if (!value) return E_POINTER;
  if (!formatted_) return NotConnected();
  VARIANT v;
  VariantInit(&v);
  const HRESULT hr = formatted_->ReadNumber(VT_I4, Vb(flushToEnd), &v);
  if (SUCCEEDED(hr)) *value = v.lVal;
  VariantClear(&v);
  return Tx(hr);
}

}  // namespace vmk
