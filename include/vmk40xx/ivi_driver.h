// The IVI Foundation's inherent interfaces (IviDriverTypeLib), with the slot order, parameter
// types and identifiers of the published type library. A client compiled against the IVI headers
// calls these by slot, so the order of declaration is the contract; the names only document it.
//
// In this library a property's getter comes before its setter. IDL `long` is 32 bits: LONG.
#pragma once

#include "vmk40xx/com.h"

struct IIviDriverOperation;
struct IIviDriverIdentity;
struct IIviDriverUtility;

inline constexpr GUID LIBID_IviDriverLib{
    0x47ed5120, 0xa398, 0x11d4, {0xba, 0x58, 0x00, 0x00, 0x64, 0x65, 0x73, 0x74}};

inline constexpr IID IID_IIviDriver{
    0x47ed5184, 0xa398, 0x11d4, {0xba, 0x58, 0x00, 0x00, 0x64, 0x65, 0x73, 0x74}};
inline constexpr IID IID_IIviComponentIdentity{
    0x47ed5185, 0xa398, 0x11d4, {0xba, 0x58, 0x00, 0x00, 0x64, 0x65, 0x73, 0x74}};
inline constexpr IID IID_IIviDriverIdentity{
    0x47ed5186, 0xa398, 0x11d4, {0xba, 0x58, 0x00, 0x00, 0x64, 0x65, 0x73, 0x74}};
inline constexpr IID IID_IIviDriverOperation{
    0x47ed5188, 0xa398, 0x11d4, {0xba, 0x58, 0x00, 0x00, 0x64, 0x65, 0x73, 0x74}};
inline constexpr IID IID_IIviDriverUtility{
    0x47ed5189, 0xa398, 0x11d4, {0xba, 0x58, 0x00, 0x00, 0x64, 0x65, 0x73, 0x74}};

struct IIviDriver : IUnknown {
  virtual HRESULT get_DriverOperation(IIviDriverOperation** pVal) = 0;
  virtual HRESULT get_Identity(IIviDriverIdentity** pVal) = 0;
  virtual HRESULT get_Utility(IIviDriverUtility** pVal) = 0;
  // OptionString is optional in the type library; a null BSTR stands for the empty string.
  virtual HRESULT Initialize(BSTR ResourceName, VARIANT_BOOL IdQuery, VARIANT_BOOL Reset,
                             BSTR OptionString) = 0;
  virtual HRESULT get_Initialized(VARIANT_BOOL* pVal) = 0;
  virtual HRESULT Close() = 0;
};

struct IIviDriverOperation : IUnknown {
  virtual HRESULT get_LogicalName(BSTR* pVal) = 0;
  virtual HRESULT get_IoResourceDescriptor(BSTR* pVal) = 0;
  virtual HRESULT get_Cache(VARIANT_BOOL* pVal) = 0;
  virtual HRESULT put_Cache(VARIANT_BOOL newVal) = 0;
  virtual HRESULT get_InterchangeCheck(VARIANT_BOOL* pVal) = 0;
  virtual HRESULT put_InterchangeCheck(VARIANT_BOOL newVal) = 0;
  virtual HRESULT get_QueryInstrumentStatus(VARIANT_BOOL* pVal) = 0;
  virtual HRESULT put_QueryInstrumentStatus(VARIANT_BOOL newVal) = 0;
  virtual HRESULT get_RangeCheck(VARIANT_BOOL* pVal) = 0;
  virtual HRESULT put_RangeCheck(VARIANT_BOOL newVal) = 0;
  virtual HRESULT get_RecordCoercions(VARIANT_BOOL* pVal) = 0;
  virtual HRESULT put_RecordCoercions(VARIANT_BOOL newVal) = 0;
  virtual HRESULT get_Simulate(VARIANT_BOOL* pVal) = 0;
  virtual HRESULT put_Simulate(VARIANT_BOOL newVal) = 0;
  virtual HRESULT get_DriverSetup(BSTR* pVal) = 0;
  virtual HRESULT InvalidateAllAttributes() = 0;
  virtual HRESULT ClearInterchangeWarnings() = 0;
  virtual HRESULT GetNextInterchangeWarning(BSTR* InterchangeWarning) = 0;
  virtual HRESULT ResetInterchangeCheck() = 0;
  virtual HRESULT GetNextCoercionRecord(BSTR* CoercionRecord) = 0;
};

struct IIviComponentIdentity : IUnknown {
  virtual HRESULT get_Description(BSTR* pVal) = 0;
  virtual HRESULT get_Revision(BSTR* pVal) = 0;
  virtual HRESULT get_Vendor(BSTR* pVal) = 0;
};

// Identifier belongs here, not to IIviComponentIdentity, although the inherent-capability tables
// list it with Description, Revision and Vendor: the type library is what clients are built on.
struct IIviDriverIdentity : IIviComponentIdentity {
  virtual HRESULT get_InstrumentManufacturer(BSTR* pVal) = 0;
  virtual HRESULT get_InstrumentModel(BSTR* pVal) = 0;
  virtual HRESULT get_InstrumentFirmwareRevision(BSTR* pVal) = 0;
  virtual HRESULT get_Identifier(BSTR* pVal) = 0;
  virtual HRESULT get_SupportedInstrumentModels(BSTR* pVal) = 0;
  virtual HRESULT get_SpecificationMajorVersion(LONG* pVal) = 0;
  virtual HRESULT get_SpecificationMinorVersion(LONG* pVal) = 0;
  virtual HRESULT get_GroupCapabilities(BSTR* pVal) = 0;
};

struct IIviDriverUtility : IUnknown {
  virtual HRESULT Reset() = 0;
  virtual HRESULT ResetWithDefaults() = 0;
  virtual HRESULT Disable() = 0;
  // In/out rather than results: the callee frees or reuses a BSTR passed in before storing.
  virtual HRESULT SelfTest(LONG* TestResult, BSTR* TestMessage) = 0;
  virtual HRESULT ErrorQuery(LONG* ErrorCode, BSTR* ErrorMessage) = 0;
  virtual HRESULT LockObject() = 0;
  virtual HRESULT UnlockObject() = 0;
};
