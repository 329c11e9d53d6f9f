// The VISA-COM-shaped I/O interfaces of the driver's own I/O layer: a resource manager that opens
// sessions from VISA resource strings, the session and message interfaces, the optional register
// and GPIB interfaces, and the formatted-I/O object that callers get from the driver's IO
// property. Members keep VISA-COM's names, argument order and status codes so that code written
// against VISA-COM reads the same here.
#pragma once

#include "vmk40xx/com.h"
#include "vmk40xx/errors.h"

// Status codes of the VISA layer (E_VISA_TMO is in errors.h). The low 16 bits follow VISA-C.
constexpr HRESULT E_VISA_RSRC_LOCKED = HRESULT(0x8004000Fu);
constexpr HRESULT E_VISA_INV_EXPR = HRESULT(0x80040010u);
constexpr HRESULT E_VISA_RSRC_NFOUND = HRESULT(0x80040011u);
constexpr HRESULT E_VISA_INV_RSRC_NAME = HRESULT(0x80040012u);
constexpr HRESULT E_VISA_NSUP_ATTR_STATE = HRESULT(0x8004001Du);
constexpr HRESULT E_VISA_ABORT = HRESULT(0x80040030u);
constexpr HRESULT E_VISA_IO = HRESULT(0x8004003Eu);
constexpr HRESULT E_VISA_INV_SETUP = HRESULT(0x8004003Au);
constexpr HRESULT E_VISA_ALLOC = HRESULT(0x8004003Cu);
constexpr HRESULT E_VISA_NSUP_OPER = HRESULT(0x80040067u);
constexpr HRESULT E_VISA_SESN_NLOCKED = HRESULT(0x8004009Cu);
constexpr HRESULT E_VISA_LIBRARY_NFOUND = HRESULT(0x8004009Eu);
constexpr HRESULT E_VISA_RSRC_BUSY = HRESULT(0x80040072u);
constexpr HRESULT E_VISA_CONN_LOST = HRESULT(0x800400A6u);
constexpr HRESULT E_VISA_INV_FMT = HRESULT(0x8004002Cu);
constexpr HRESULT S_VISA_TERM_CHAR = HRESULT(0x00040005u);
constexpr HRESULT S_VISA_MAX_CNT = HRESULT(0x00040006u);

enum HardwareInterfaceType : SHORT {
  INTF_GPIB = 1,
  INTF_VXI = 2,
  INTF_GPIB_VXI = 3,
  INTF_ASRL = 4,
  INTF_TCPIP = 6,
  INTF_USB = 7,
};

enum AccessMode : LONG { NO_LOCK = 0, EXCLUSIVE_LOCK = 1, SHARED_LOCK = 2, LOAD_CONFIG = 4 };

enum RENControlConst : LONG {
  GPIB_REN_DEASSERT = 0,
  GPIB_REN_ASSERT = 1,
  GPIB_REN_DEASSERT_GTL = 2,
  GPIB_REN_ASSERT_ADDRESS = 3,
  GPIB_REN_ASSERT_LLO = 4,
  GPIB_REN_ASSERT_ADDRESS_LLO = 5,
  GPIB_REN_ADDRESS_GTL = 6,
};
// The names the driver's local/remote control uses for the same modes.
constexpr LONG GPIB_REN_GTL_AND_DEASSERT = GPIB_REN_DEASSERT_GTL;
constexpr LONG GPIB_REN_LLO = GPIB_REN_ASSERT_LLO;

// Element types of formatted I/O: the VARIANT type numbers.
enum IEEEASCIIType : LONG {
  ASCIIType_I2 = 2,
  ASCIIType_I4 = 3,
  ASCIIType_R4 = 4,
  ASCIIType_R8 = 5,
  ASCIIType_BSTR = 8,
  ASCIIType_Any = 12,
  ASCIIType_UI1 = 17,
};
enum IEEEBinaryType : LONG {
  BinaryType_I2 = 2,
  BinaryType_I4 = 3,
  BinaryType_R4 = 4,
  BinaryType_R8 = 5,
  BinaryType_UI1 = 17,
};
enum BufferMask : LONG { IO_IN_BUF = 16, IO_OUT_BUF = 32, IO_IN_AND_OUT_BUFS = 48 };

// Time-out values of IVisaSession::put_Timeout besides a count of milliseconds.
constexpr LONG VISA_TMO_IMMEDIATE = 0;
constexpr LONG VISA_TMO_INFINITE = -1;

struct IVisaSession : IUnknown {
  virtual HRESULT get_Timeout(LONG* pVal) = 0;
  virtual HRESULT put_Timeout(LONG val) = 0;
  virtual HRESULT get_HardwareInterfaceType(SHORT* pVal) = 0;
  virtual HRESULT get_HardwareInterfaceNumber(SHORT* pVal) = 0;
  virtual HRESULT get_SessionType(BSTR* pVal) = 0;
  virtual HRESULT get_ResourceName(BSTR* pVal) = 0;
  virtual HRESULT get_LastStatus(HRESULT* pVal) = 0;
  virtual HRESULT Close() = 0;
};

struct IBaseMessage : IVisaSession {
  virtual HRESULT get_SendEndEnabled(VARIANT_BOOL* pVal) = 0;
  virtual HRESULT put_SendEndEnabled(VARIANT_BOOL val) = 0;
  virtual HRESULT get_TerminationCharacter(BYTE* pVal) = 0;
  virtual HRESULT put_TerminationCharacter(BYTE val) = 0;
  virtual HRESULT get_TerminationCharacterEnabled(VARIANT_BOOL* pVal) = 0;
  virtual HRESULT put_TerminationCharacterEnabled(VARIANT_BOOL val) = 0;
  virtual HRESULT Clear() = 0;
  virtual HRESULT ReadSTB(SHORT* pStatusByte) = 0;
};

struct IMessage : IBaseMessage {
  // At most `count` bytes; ends early at the termination character (when enabled) or END.
  virtual HRESULT Read(LONG count, SAFEARRAY** pBuffer) = 0;
  virtual HRESULT ReadString(LONG count, BSTR* pRetString) = 0;
  // `buffer` is a one-dimensional array of bytes; `count` of them are sent.
  virtual HRESULT Write(SAFEARRAY* buffer, LONG count, LONG* pRetCount) = 0;
  virtual HRESULT WriteString(BSTR data, LONG* pRetCount) = 0;
};

struct IRegister : IVisaSession {
  virtual HRESULT In8(SHORT space, LONG offset, BYTE* pVal) = 0;
  virtual HRESULT Out8(SHORT space, LONG offset, BYTE val) = 0;
  virtual HRESULT In16(SHORT space, LONG offset, SHORT* pVal) = 0;
  virtual HRESULT Out16(SHORT space, LONG offset, SHORT val) = 0;
  virtual HRESULT In32(SHORT space, LONG offset, LONG* pVal) = 0;
  virtual HRESULT Out32(SHORT space, LONG offset, LONG val) = 0;
  virtual HRESULT MoveIn8(SHORT space, LONG offset, LONG length, BYTE* buf) = 0;
  virtual HRESULT MoveOut8(SHORT space, LONG offset, LONG length, const BYTE* buf) = 0;
  virtual HRESULT MoveIn16(SHORT space, LONG offset, LONG length, SHORT* buf) = 0;
  virtual HRESULT MoveOut16(SHORT space, LONG offset, LONG length, const SHORT* buf) = 0;
  virtual HRESULT MoveIn32(SHORT space, LONG offset, LONG length, LONG* buf) = 0;
  virtual HRESULT MoveOut32(SHORT space, LONG offset, LONG length, const LONG* buf) = 0;
};

struct IGpib : IVisaSession {
  virtual HRESULT get_PrimaryAddress(SHORT* pVal) = 0;
  virtual HRESULT get_SecondaryAddress(SHORT* pVal) = 0;
  virtual HRESULT ControlREN(LONG mode) = 0;
};

struct IFormattedIO488 : IUnknown {
  virtual HRESULT get_IO(IMessage** ppVal) = 0;
  virtual HRESULT putref_IO(IMessage* pVal) = 0;
  // Byte order of binary blocks; IEEE 488.2's big-endian by default.
  virtual HRESULT get_InstrumentBigEndian(VARIANT_BOOL* pVal) = 0;
  virtual HRESULT put_InstrumentBigEndian(VARIANT_BOOL val) = 0;
  // Writes go to the write buffer; flushAndEND sends it with END on the last byte.
  virtual HRESULT WriteString(BSTR data, VARIANT_BOOL flushAndEND) = 0;
  virtual HRESULT WriteNumber(VARIANT data, LONG type, VARIANT_BOOL flushAndEND) = 0;
  virtual HRESULT WriteList(VARIANT* data, LONG type, BSTR listSeparator,
                            VARIANT_BOOL flushAndEND) = 0;
  virtual HRESULT WriteIEEEBlock(BSTR command, VARIANT data, VARIANT_BOOL flushAndEND) = 0;
  virtual HRESULT ReadString(BSTR* pRetString) = 0;
  virtual HRESULT ReadNumber(LONG type, VARIANT_BOOL flushToEND, VARIANT* pData) = 0;
  virtual HRESULT ReadList(LONG type, BSTR listSeparator, VARIANT* pData) = 0;
  virtual HRESULT ReadIEEEBlock(LONG type, VARIANT_BOOL seekToBlock, VARIANT_BOOL flushToEND,
                                VARIANT* pData) = 0;
  virtual HRESULT FlushWrite(VARIANT_BOOL sendEND) = 0;
  virtual HRESULT FlushRead() = 0;
  virtual HRESULT SetBufferSize(LONG mask, LONG size) = 0;
};

struct IResourceManager : IUnknown {
  // `optionString`: "Name = value ; Name = value" with session settings (Timeout, BaudRate, ...).
  virtual HRESULT Open(BSTR resourceName, LONG mode, LONG openTimeout, BSTR optionString,
                       IVisaSession** ppSession) = 0;
  // The resource strings of the instruments that match a VISA expression ("?*",
  // "TCPIP?*::INSTR", "ASRL?*"): a one-dimensional array of BSTR. E_VISA_RSRC_NFOUND when none.
  virtual HRESULT FindResources(BSTR expression, SAFEARRAY** pResources) = 0;
};

inline constexpr IID IID_IVisaSession{
    0x6C7F2B11, 0x3A4D, 0x4E0B, {0x9B, 0x51, 0x7D, 0x40, 0x21, 0x6E, 0x01, 0x01}};
inline constexpr IID IID_IBaseMessage{
    0x6C7F2B11, 0x3A4D, 0x4E0B, {0x9B, 0x51, 0x7D, 0x40, 0x21, 0x6E, 0x01, 0x02}};
inline constexpr IID IID_IMessage{
    0x6C7F2B11, 0x3A4D, 0x4E0B, {0x9B, 0x51, 0x7D, 0x40, 0x21, 0x6E, 0x01, 0x03}};
inline constexpr IID IID_IRegister{
    0x6C7F2B11, 0x3A4D, 0x4E0B, {0x9B, 0x51, 0x7D, 0x40, 0x21, 0x6E, 0x01, 0x04}};
inline constexpr IID IID_IGpib{
    0x6C7F2B11, 0x3A4D, 0x4E0B, {0x9B, 0x51, 0x7D, 0x40, 0x21, 0x6E, 0x01, 0x05}};
inline constexpr IID IID_IFormattedIO488{
    0x6C7F2B11, 0x3A4D, 0x4E0B, {0x9B, 0x51, 0x7D, 0x40, 0x21, 0x6E, 0x01, 0x06}};
inline constexpr IID IID_IResourceManager{
    0x6C7F2B11, 0x3A4D, 0x4E0B, {0x9B, 0x51, 0x7D, 0x40, 0x21, 0x6E, 0x01, 0x07}};
