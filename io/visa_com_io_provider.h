// The I/O provider over the VISA layer: one session opened from a resource descriptor, its
// message interface, its register interface when it has one, and a formatted-I/O object.
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
  int32_t GetProviderKind() const override { return 3; }
  HRESULT GetVisaInterfaceType(int32_t* peIntfType) override;
  HRESULT LastOpenStatus() const { return lastOpenStatus_; }

  // New references to the VISA objects; S_OK with nullptr when not connected (the formatted-I/O
  // getter gives S_FALSE then).
  HRESULT ioprvGetIVisaSessionPointer(IVisaSession** ppVal);
  HRESULT ioprvGetIMessagePointer(IMessage** ppVal);
  HRESULT ioprvGetIRegisterPointer(IRegister** ppVal);
  HRESULT ioprvGetIFormattedIO488Pointer(IFormattedIO488** ppVal);

 protected:
  HRESULT PrimRead(int32_t count, SAFEARRAY** ppsa) override;
  HRESULT PrimReadString(int32_t count, std::string* text) override;
  HRESULT PrimWrite(const uint8_t* data, int32_t count, int32_t* written) override;
  HRESULT PrimWriteString(std::string_view text, int32_t* written) override;
  HRESULT PrimClear() override;
  HRESULT PrimReadSTB(int16_t* stb) override;
  HRESULT PrimPutSendEndEnabled(bool on) override;
  HRESULT PrimGetSendEndEnabled(bool* on) override;
  HRESULT PrimPutTerminationCharacter(uint8_t c) override;
  HRESULT PrimGetTerminationCharacter(uint8_t* c) override;
  HRESULT PrimPutTerminationCharacterEnabled(bool on) override;
  HRESULT PrimGetTerminationCharacterEnabled(bool* on) override;
  HRESULT PrimPutTimeout(int32_t ms) override;
  HRESULT PrimGetTimeout(int32_t* ms) override;
  HRESULT PrimPutInstrumentBigEndian(bool on) override;
  HRESULT PrimGetInstrumentBigEndian(bool* on) override;
  HRESULT PrimFormattedWriteString(std::string_view data, bool flush) override;
  HRESULT PrimFormattedWriteNumber(const VARIANT& data, int32_t type, bool flush) override;
  HRESULT PrimFormattedWriteList(const VARIANT& data, int32_t type, std::string_view separator,
                                 bool flush) override;
  HRESULT PrimFormattedWriteIEEEBlock(std::string_view command, const VARIANT& data,
                                      bool flush) override;
  HRESULT PrimFormattedReadString(std::string* text) override;
  HRESULT PrimFormattedReadNumber(int32_t type, bool flushToEnd, VARIANT* data) override;
  HRESULT PrimFormattedReadList(int32_t type, std::string_view separator, VARIANT* data) override;
  HRESULT PrimFormattedReadIEEEBlock(int32_t type, bool seek, bool flushToEnd,
                                     VARIANT* data) override;
  HRESULT PrimFormattedFlushWrite(bool sendEnd) override;
  HRESULT PrimFormattedFlushRead() override;
  HRESULT PrimFormattedSetBufferSize(int32_t mask, int32_t size) override;
  HRESULT PrimIn8(int16_t space, int32_t offset, uint8_t* v) override;
  HRESULT PrimOut8(int16_t space, int32_t offset, uint8_t v) override;
  HRESULT PrimIn16(int16_t space, int32_t offset, int16_t* v) override;
  HRESULT PrimOut16(int16_t space, int32_t offset, int16_t v) override;
  HRESULT PrimIn32(int16_t space, int32_t offset, int32_t* v) override;
  HRESULT PrimOut32(int16_t space, int32_t offset, int32_t v) override;
  HRESULT PrimMoveIn8(int16_t space, int32_t offset, int32_t n, uint8_t* b) override;
  HRESULT PrimMoveOut8(int16_t space, int32_t offset, int32_t n, const uint8_t* b) override;
  HRESULT PrimMoveIn16(int16_t space, int32_t offset, int32_t n, int16_t* b) override;
  HRESULT PrimMoveOut16(int16_t space, int32_t offset, int32_t n, const int16_t* b) override;
  HRESULT PrimMoveIn32(int16_t space, int32_t offset, int32_t n, int32_t* b) override;
  HRESULT PrimMoveOut32(int16_t space, int32_t offset, int32_t n, const int32_t* b) override;

 private:
  HRESULT NotConnected() const;
  HRESULT NoRegisters() const;
  void Release();

  com::ComPtr<IVisaSession> session_;
  com::ComPtr<IMessage> message_;
  com::ComPtr<IRegister> register_;
  com::ComPtr<IFormattedIO488> formatted_;
  // The same session as message_, when it is one of this library's: narrow text goes to it
  // without a conversion to UTF-16 and back.
  com::ComPtr<visa::CMessageSession> narrow_;
  HRESULT lastOpenStatus_ = S_OK;
};

}  // namespace vmk
