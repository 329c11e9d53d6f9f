// The inherent IVI interfaces of the root: IIviDriver, IIviDriverOperation, the two identity
// interfaces and IIviDriverUtility. Each member is its descriptor plus what is particular to it.
#include <new>

#include "driver/driver.h"
#include "driver/options.h"
#include "platform/com/com_ptr.h"
#include "services/model_table.h"
#include "vmk40xx/errors.h"

namespace vmk {

namespace {

namespace driver {
constexpr InterfaceInfo kItf{&IID_IIviDriver, "IIviDriver", false};
constexpr Member get_DriverOperation = Unchecked(kItf.Get("get_DriverOperation"));
constexpr Member get_Identity = Unchecked(kItf.Get("get_Identity"));
constexpr Member get_Utility = Unchecked(kItf.Get("get_Utility"));
constexpr Member Initialize = Unchecked(kItf.Method("Initialize"));
constexpr Member get_Initialized = Unchecked(kItf.Get("get_Initialized"));
constexpr Member Close = kItf.Method("Close");
}  // namespace driver

namespace operation {
constexpr InterfaceInfo kItf{&IID_IIviDriverOperation, "IIviDriverOperation", false};
constexpr Member get_LogicalName = kItf.Get("get_LogicalName");
constexpr Member get_IoResourceDescriptor = kItf.Get("get_IoResourceDescriptor");
constexpr Member get_Cache = kItf.Get("get_Cache");
constexpr Member put_Cache = kItf.Put("put_Cache");
constexpr Member get_InterchangeCheck = kItf.Get("get_InterchangeCheck");
constexpr Member put_InterchangeCheck = kItf.Put("put_InterchangeCheck");
constexpr Member get_QueryInstrumentStatus = kItf.Get("get_QueryInstrumentStatus");
constexpr Member put_QueryInstrumentStatus = kItf.Put("put_QueryInstrumentStatus");
constexpr Member get_RangeCheck = kItf.Get("get_RangeCheck");
constexpr Member put_RangeCheck = kItf.Put("put_RangeCheck");
constexpr Member get_RecordCoercions = kItf.Get("get_RecordCoercions");
constexpr Member put_RecordCoercions = kItf.Put("put_RecordCoercions");
constexpr Member get_Simulate = kItf.Get("get_Simulate");
constexpr Member put_Simulate = kItf.Put("put_Simulate");
constexpr Member get_DriverSetup = kItf.Get("get_DriverSetup");
constexpr Member InvalidateAllAttributes = kItf.Method("InvalidateAllAttributes");
constexpr Member ClearInterchangeWarnings = kItf.Method("ClearInterchangeWarnings");
constexpr Member GetNextInterchangeWarning =
    kItf.Method("GetNextInterchangeWarning", "pbstrWarning");
constexpr Member ResetInterchangeCheck = kItf.Method("ResetInterchangeCheck");
constexpr Member GetNextCoercionRecord = kItf.Method("GetNextCoercionRecord", "pbstrRecord");
}  // namespace operation

namespace component {
constexpr InterfaceInfo kItf{&IID_IIviComponentIdentity, "IIviComponentIdentity", false};
constexpr Member get_Description = Unchecked(kItf.Get("get_Description"));
constexpr Member get_Revision = Unchecked(kItf.Get("get_Revision"));
constexpr Member get_Vendor = Unchecked(kItf.Get("get_Vendor"));
}  // namespace component

namespace identity {
constexpr InterfaceInfo kItf{&IID_IIviDriverIdentity, "IIviDriverIdentity", false};
constexpr Member get_InstrumentManufacturer = kItf.Get("get_InstrumentManufacturer");
constexpr Member get_InstrumentModel = kItf.Get("get_InstrumentModel");
constexpr Member get_InstrumentFirmwareRevision = kItf.Get("get_InstrumentFirmwareRevision");
constexpr Member get_Identifier = Unchecked(kItf.Get("get_Identifier"));
constexpr Member get_SupportedInstrumentModels =
    Unchecked(kItf.Get("get_SupportedInstrumentModels"));
constexpr Member get_SpecificationMajorVersion =
    Unchecked(kItf.Get("get_SpecificationMajorVersion"));
constexpr Member get_SpecificationMinorVersion =
    Unchecked(kItf.Get("get_SpecificationMinorVersion"));
constexpr Member get_GroupCapabilities = kItf.Get("get_GroupCapabilities");
}  // namespace identity

namespace utility {
constexpr InterfaceInfo kItf{&IID_IIviDriverUtility, "IIviDriverUtility", false};
constexpr Member Reset = kItf.Method("Reset");
constexpr Member ResetWithDefaults = kItf.Method("ResetWithDefaults");
constexpr Member Disable = kItf.Method("Disable");
constexpr Member SelfTest = kItf.Method("SelfTest", "TestResult", "TestMessage");
constexpr Member ErrorQuery = kItf.Method("ErrorQuery", "ErrorCode", "ErrorMessage");
constexpr Member LockObject = kItf.Method("LockObject");
constexpr Member UnlockObject = kItf.Method("UnlockObject");
}  // namespace utility

// Identity constants of the driver.
constexpr const char* kDescription =
    "IVI driver for the Velmora K40xx family of programmable power supplies";
constexpr const char* kRevision = "1.1.5.0";
constexpr const char* kVendor = "Velmora Technologies";
constexpr const char* kIdentifier = "VelmoraK40xx";
constexpr const char* kGroupCapabilities =
    "IviDCPwrBase,IviDCPwrTrigger,IviDCPwrSoftwareTrigger,IviDCPwrMeasurement";
constexpr LONG kSpecificationMajorVersion = 2;
constexpr LONG kSpecificationMinorVersion = 0;

VARIANT_BOOL Vb(bool b) {
  return b ? VARIANT_TRUE : VARIANT_FALSE;
}

// Hands a new BSTR to the caller.
HRESULT ReturnString(BSTR* val, std::string_view text) {
  *val = com::Utf8ToBstr(text);
  if (!*val) throw std::bad_alloc();
  return S_OK;
}

template <class T>
HRESULT ReturnValue(T* val, T value) {
  *val = value;
  return S_OK;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// IIviDriver

HRESULT CDriver::GetDriverOperation(IIviDriverOperation** val) {
  return Frame(driver::get_DriverOperation, {val}, [&] {
    operation_.AddRef();
    return ReturnValue<IIviDriverOperation*>(val, &operation_);
  });
}

HRESULT CDriver::GetIdentity(IIviDriverIdentity** val) {
  return Frame(driver::get_Identity, {val}, [&] {
    identity_.AddRef();
    return ReturnValue<IIviDriverIdentity*>(val, &identity_);
  });
}

HRESULT CDriver::GetUtility(IIviDriverUtility** val) {
  return Frame(driver::get_Utility, {val}, [&] {
    utility_.AddRef();
    return ReturnValue<IIviDriverUtility*>(val, &utility_);
  });
}

HRESULT CDriver::Initialize(BSTR resourceName, VARIANT_BOOL idQuery, VARIANT_BOOL reset,
                            BSTR options) {
  return Frame(driver::Initialize, {},
               [&] { return InitializeSession(resourceName, idQuery != 0, reset != 0, options); });
}

HRESULT CDriver::GetInitialized(VARIANT_BOOL* val) {
  return Frame(driver::get_Initialized, {val}, [&] { return ReturnValue(val, Vb(initialized_)); });
}

HRESULT CDriver::Close() {
  return Frame(driver::Close, {}, [&] { return CloseSession(); });
}

// ---------------------------------------------------------------------------------------------
// IIviDriverOperation

HRESULT CDriver::OperationFacet::get_LogicalName(BSTR* pVal) {
  return owner_->Frame(operation::get_LogicalName, {pVal},
                       [&] { return ReturnString(pVal, owner_->logicalName_); });
}

HRESULT CDriver::OperationFacet::get_IoResourceDescriptor(BSTR* pVal) {
  return owner_->Frame(operation::get_IoResourceDescriptor, {pVal},
                       [&] { return ReturnString(pVal, owner_->descriptor_); });
}

HRESULT CDriver::OperationFacet::get_Cache(VARIANT_BOOL* pVal) {
  return owner_->Frame(operation::get_Cache, {pVal},
                       [&] { return ReturnValue(pVal, Vb(owner_->flags_.cache)); });
}

HRESULT CDriver::OperationFacet::put_Cache(VARIANT_BOOL newVal) {
  return owner_->Frame(operation::put_Cache, {}, [&] { return owner_->PutCache(newVal); });
}

HRESULT CDriver::OperationFacet::get_InterchangeCheck(VARIANT_BOOL* pVal) {
  return owner_->Frame(operation::get_InterchangeCheck, {pVal},
                       [&] { return ReturnValue(pVal, Vb(owner_->flags_.interchangeCheck)); });
}

HRESULT CDriver::OperationFacet::put_InterchangeCheck(VARIANT_BOOL newVal) {
  return owner_->Frame(operation::put_InterchangeCheck, {},
                       [&] { return owner_->PutInterchangeCheck(newVal); });
}

HRESULT CDriver::OperationFacet::get_QueryInstrumentStatus(VARIANT_BOOL* pVal) {
  return owner_->Frame(operation::get_QueryInstrumentStatus, {pVal},
                       [&] { return ReturnValue(pVal, Vb(owner_->flags_.queryInstrumentStatus)); });
}

HRESULT CDriver::OperationFacet::put_QueryInstrumentStatus(VARIANT_BOOL newVal) {
  return owner_->Frame(operation::put_QueryInstrumentStatus, {},
                       [&] { return owner_->PutQueryInstrumentStatus(newVal); });
}

HRESULT CDriver::OperationFacet::get_RangeCheck(VARIANT_BOOL* pVal) {
  return owner_->Frame(operation::get_RangeCheck, {pVal},
                       [&] { return ReturnValue(pVal, Vb(owner_->flags_.rangeCheck)); });
}

HRESULT CDriver::OperationFacet::put_RangeCheck(VARIANT_BOOL newVal) {
  return owner_->Frame(operation::put_RangeCheck, {},
                       [&] { return owner_->PutRangeCheck(newVal); });
}

HRESULT CDriver::OperationFacet::get_RecordCoercions(VARIANT_BOOL* pVal) {
  return owner_->Frame(operation::get_RecordCoercions, {pVal},
                       [&] { return ReturnValue(pVal, Vb(owner_->flags_.recordCoercions)); });
}

HRESULT CDriver::OperationFacet::put_RecordCoercions(VARIANT_BOOL newVal) {
  return owner_->Frame(operation::put_RecordCoercions, {},
                       [&] { return owner_->PutRecordCoercions(newVal); });
}

HRESULT CDriver::OperationFacet::get_Simulate(VARIANT_BOOL* pVal) {
  return owner_->Frame(operation::get_Simulate, {pVal},
                       [&] { return ReturnValue(pVal, Vb(owner_->flags_.simulate)); });
}

HRESULT CDriver::OperationFacet::put_Simulate(VARIANT_BOOL newVal) {
  return owner_->Frame(operation::put_Simulate, {}, [&] { return owner_->PutSimulate(newVal); });
}

HRESULT CDriver::OperationFacet::get_DriverSetup(BSTR* pVal) {
  return owner_->Frame(operation::get_DriverSetup, {pVal},
                       [&] { return ReturnString(pVal, owner_->driverSetup_); });
}

HRESULT CDriver::OperationFacet::InvalidateAllAttributes() {
  return owner_->Frame(operation::InvalidateAllAttributes, {}, [&] {
    owner_->InvalidateAll();
    return S_OK;
  });
}

HRESULT CDriver::OperationFacet::ClearInterchangeWarnings() {
  return owner_->Frame(operation::ClearInterchangeWarnings, {}, [&] {
    return owner_->Errors().ReportError(Msg::E_IVI_METHOD_NOT_SUPPORTED,
                                        {"ClearInterchangeWarnings"});
  });
}

HRESULT CDriver::OperationFacet::GetNextInterchangeWarning(BSTR* InterchangeWarning) {
  return owner_->Frame(operation::GetNextInterchangeWarning, {InterchangeWarning}, [&] {
    *InterchangeWarning = nullptr;
    return owner_->Errors().ReportError(Msg::E_IVI_METHOD_NOT_SUPPORTED,
                                        {"GetNextInterchangeWarning"});
  });
}

HRESULT CDriver::OperationFacet::ResetInterchangeCheck() {
  return owner_->Frame(operation::ResetInterchangeCheck, {}, [&] {
    return owner_->Errors().ReportError(Msg::E_IVI_METHOD_NOT_SUPPORTED, {"ResetInterchangeCheck"});
  });
}

HRESULT CDriver::OperationFacet::GetNextCoercionRecord(BSTR* CoercionRecord) {
  return owner_->Frame(operation::GetNextCoercionRecord, {CoercionRecord},
                       [&] { return owner_->GetNextCoercionRecord(CoercionRecord); });
}

// ---------------------------------------------------------------------------------------------
// IIviComponentIdentity and IIviDriverIdentity

HRESULT CDriver::IdentityFacet::get_Description(BSTR* pVal) {
  return owner_->Frame(component::get_Description, {pVal},
                       [&] { return ReturnString(pVal, kDescription); });
}

HRESULT CDriver::IdentityFacet::get_Revision(BSTR* pVal) {
  return owner_->Frame(component::get_Revision, {pVal},
                       [&] { return ReturnString(pVal, kRevision); });
}

HRESULT CDriver::IdentityFacet::get_Vendor(BSTR* pVal) {
  return owner_->Frame(component::get_Vendor, {pVal}, [&] { return ReturnString(pVal, kVendor); });
}

HRESULT CDriver::IdentityFacet::get_InstrumentManufacturer(BSTR* pVal) {
  return owner_->Frame(identity::get_InstrumentManufacturer, {pVal}, [&] {
    return ReturnString(pVal, owner_->flags_.simulate ? kVendor : owner_->manufacturer_);
  });
}

HRESULT CDriver::IdentityFacet::get_InstrumentModel(BSTR* pVal) {
  return owner_->Frame(identity::get_InstrumentModel, {pVal},
                       [&] { return ReturnString(pVal, owner_->model_); });
}

HRESULT CDriver::IdentityFacet::get_InstrumentFirmwareRevision(BSTR* pVal) {
  return owner_->Frame(identity::get_InstrumentFirmwareRevision, {pVal}, [&] {
    return ReturnString(
        pVal, owner_->flags_.simulate ? std::string("Sim") + kRevision : owner_->firmware_);
  });
}

HRESULT CDriver::IdentityFacet::get_Identifier(BSTR* pVal) {
  return owner_->Frame(identity::get_Identifier, {pVal},
                       [&] { return ReturnString(pVal, kIdentifier); });
}

HRESULT CDriver::IdentityFacet::get_SupportedInstrumentModels(BSTR* pVal) {
  return owner_->Frame(identity::get_SupportedInstrumentModels, {pVal}, [&] {
    std::string list;
    for (const std::string& model : owner_->SupportedModelNames()) list += model + ",";
    while (!list.empty() && (list.back() == ',' || list.back() == ' ')) list.pop_back();
    return ReturnString(pVal, list);
  });
}

HRESULT CDriver::IdentityFacet::get_SpecificationMajorVersion(LONG* pVal) {
  return owner_->Frame(identity::get_SpecificationMajorVersion, {pVal},
                       [&] { return ReturnValue(pVal, kSpecificationMajorVersion); });
}

HRESULT CDriver::IdentityFacet::get_SpecificationMinorVersion(LONG* pVal) {
  return owner_->Frame(identity::get_SpecificationMinorVersion, {pVal},
                       [&] { return ReturnValue(pVal, kSpecificationMinorVersion); });
}

HRESULT CDriver::IdentityFacet::get_GroupCapabilities(BSTR* pVal) {
  return owner_->Frame(identity::get_GroupCapabilities, {pVal},
                       [&] { return ReturnString(pVal, kGroupCapabilities); });
}

// ---------------------------------------------------------------------------------------------
// IIviDriverUtility

HRESULT CDriver::UtilityFacet::Reset() {
  return owner_->Frame(utility::Reset, {}, [&] { return owner_->Reset(); });
}

HRESULT CDriver::UtilityFacet::ResetWithDefaults() {
  return owner_->Frame(utility::ResetWithDefaults, {}, [&] { return owner_->ResetWithDefaults(); });
}

HRESULT CDriver::UtilityFacet::Disable() {
  return owner_->Frame(utility::Disable, {}, [&] { return owner_->Disable(); });
}

HRESULT CDriver::UtilityFacet::SelfTest(LONG* TestResult, BSTR* TestMessage) {
  return owner_->Frame(utility::SelfTest, {TestResult, TestMessage},
                       [&] { return owner_->SelfTest(TestResult, TestMessage); });
}

HRESULT CDriver::UtilityFacet::ErrorQuery(LONG* ErrorCode, BSTR* ErrorMessage) {
  return owner_->Frame(utility::ErrorQuery, {ErrorCode, ErrorMessage},
                       [&] { return owner_->ErrorQuery(ErrorCode, ErrorMessage); });
}

HRESULT CDriver::UtilityFacet::LockObject() {
  return owner_->Frame(utility::LockObject, {}, [&] {
    return owner_->Errors().ReportError(Msg::E_IVI_METHOD_NOT_SUPPORTED, {"LockObject"});
  });
}

HRESULT CDriver::UtilityFacet::UnlockObject() {
  return owner_->Frame(utility::UnlockObject, {}, [&] {
    return owner_->Errors().ReportError(Msg::E_IVI_METHOD_NOT_SUPPORTED, {"UnlockObject"});
  });
}

}  // namespace vmk
