// The I/O provider over the VISA layer: one session opened from a resource descriptor, its
// message interface, and a formatted-I/O object.
#pragma once

#include "io/driver_io_provider.h"
#include "platform/com/com_ptr.h"
#include "platform/visa/message_session.h"
#include "vmk40xx/visacom.h"

namespace vmk {

// Driver interface-type codes of GetVisaInterfaceType.
enum VisaInterfaceKind : int32_t {
  kVisaIntfUnknown = 0,
  kVisaIntfGpib = 1,
  kVisaIntfVxi = 2,
  kVisaIntfGpibVxi = 3,
  kVisaIntfSerial = 4,
  kVisaIntfLanInstrument = 6,
  kVisaIntfLanSocket = 7,
  kVisaIntfUsb = 8,
};

class CVisaComIOProvider : public CDriverIOProvider {
 public:
  CVisaComIOProvider() = default;

  // Opens `resource`. A resource that cannot be opened gives E_IVI_RESOURCE_UNKNOWN, with the
  // VISA layer's description of why left as the thread's COM error information (and its status
  // in LastOpenStatus()); nothing stays open after a failure.
  HRESULT InitializeIO(const IoHost* host, CErrorManager* errors, const void* owner,
                       std::string_view resource) override;
  HRESULT CloseIO() override;
  HRESULT GetVisaInterfaceType(int32_t* peIntfType) override;
  HRESULT LastOpenStatus() const { return lastOpenStatus_; }

  // New references to the VISA objects; S_OK with nullptr when not connected (the formatted-I/O
  // getter gives S_FALSE then).
  HRESULT ioprvGetIVisaSessionPointer(IVisaSession** ppVal);
  HRESULT ioprvGetIMessagePointer(IMessage** ppVal);
  HRESULT ioprvGetIFormattedIO488Pointer(IFormattedIO488** ppVal);

 protected:
  HRESULT PrimReadString(int32_t count, std::string* text) override;
  HRESULT PrimWriteString(std::string_view text, int32_t* written, bool mayReply) override;
  HRESULT PrimClear() override;
  HRESULT PrimReadSTB(int16_t* stb) override;
  HRESULT PrimPutTimeout(int32_t ms) override;
  HRESULT PrimGetTimeout(int32_t* ms) override;
  HRESULT PrimFormattedReadNumber(bool flushToEnd, int32_t* value) override;

 private:
  HRESULT NotConnected() const;
  void Release();

  com::ComPtr<IVisaSession> session_;
  com::ComPtr<IMessage> message_;
  com::ComPtr<IFormattedIO488> formatted_;
  // The same session as message_, when it is one of this library's: narrow text goes to it
  // without a conversion to UTF-16 and back.
  com::ComPtr<visa::CMessageSession> narrow_;
  HRESULT lastOpenStatus_ = S_OK;
};

}  // namespace vmk
