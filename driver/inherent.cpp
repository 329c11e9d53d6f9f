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
constexpr Interface kItf{&IID_IIviDriver, "IIviDriver", false};
constexpr PropertySpec kWhileClosed{.getWhileClosed = true};
constexpr Property DriverOperation = kItf.Prop("DriverOperation", Object, kWhileClosed);
constexpr Property Identity = kItf.Prop("Identity", Object, kWhileClosed);
constexpr Property Utility = kItf.Prop("Utility", Object, kWhileClosed);
constexpr Member Initialize =
    kItf.Method("Initialize",
                {In("ResourceName", String), In("IdQuery", Bool), In("Reset", Bool),
                 In("OptionString", String)},
                {.needsSession = false});
constexpr Property Initialized = kItf.Prop("Initialized", Bool, kWhileClosed);
constexpr Member Close = kItf.Method("Close");
}  // namespace driver

namespace operation {
constexpr Interface kItf{&IID_IIviDriverOperation, "IIviDriverOperation", false};
constexpr Property LogicalName = kItf.Prop("LogicalName", String);
constexpr Property IoResourceDescriptor = kItf.Prop("IoResourceDescriptor", String);
constexpr Property Cache = kItf.Prop("Cache", Bool);
constexpr Property InterchangeCheck = kItf.Prop("InterchangeCheck", Bool);
constexpr Property QueryInstrumentStatus = kItf.Prop("QueryInstrumentStatus", Bool);
constexpr Property RangeCheck = kItf.Prop("RangeCheck", Bool);
constexpr Property RecordCoercions = kItf.Prop("RecordCoercions", Bool);
constexpr Property Simulate = kItf.Prop("Simulate", Bool);
constexpr Property DriverSetup = kItf.Prop("DriverSetup", String);
constexpr Member InvalidateAllAttributes = kItf.Method("InvalidateAllAttributes");
constexpr Member ClearInterchangeWarnings = kItf.Method("ClearInterchangeWarnings");
constexpr Member GetNextInterchangeWarning =
    kItf.Method("GetNextInterchangeWarning", {Out("pbstrWarning", String)});
constexpr Member ResetInterchangeCheck = kItf.Method("ResetInterchangeCheck");
constexpr Member GetNextCoercionRecord =
    kItf.Method("GetNextCoercionRecord", {Out("pbstrRecord", String)});
}  // namespace operation

namespace component {
constexpr Interface kItf{&IID_IIviComponentIdentity, "IIviComponentIdentity", false};
constexpr Property Description = kItf.Prop("Description", String, driver::kWhileClosed);
constexpr Property Revision = kItf.Prop("Revision", String, driver::kWhileClosed);
constexpr Property Vendor = kItf.Prop("Vendor", String, driver::kWhileClosed);
}  // namespace component

namespace identity {
constexpr Interface kItf{&IID_IIviDriverIdentity, "IIviDriverIdentity", false};
constexpr Property InstrumentManufacturer = kItf.Prop("InstrumentManufacturer", String);
constexpr Property InstrumentModel = kItf.Prop("InstrumentModel", String);
constexpr Property InstrumentFirmwareRevision = kItf.Prop("InstrumentFirmwareRevision", String);
constexpr Property Identifier = kItf.Prop("Identifier", String, driver::kWhileClosed);
constexpr Property SupportedInstrumentModels =
    kItf.Prop("SupportedInstrumentModels", String, driver::kWhileClosed);
constexpr Property SpecificationMajorVersion =
    kItf.Prop("SpecificationMajorVersion", Long, driver::kWhileClosed);
constexpr Property SpecificationMinorVersion =
    kItf.Prop("SpecificationMinorVersion", Long, driver::kWhileClosed);
constexpr Property GroupCapabilities = kItf.Prop("GroupCapabilities", String);
}  // namespace identity

namespace utility {
constexpr Interface kItf{&IID_IIviDriverUtility, "IIviDriverUtility", false};
constexpr Member Reset = kItf.Method("Reset");
constexpr Member ResetWithDefaults = kItf.Method("ResetWithDefaults");
constexpr Member Disable = kItf.Method("Disable");
constexpr Member SelfTest =
    kItf.Method("SelfTest", {InOut("TestResult", Long), InOut("TestMessage", String)});
constexpr Member ErrorQuery =
    kItf.Method("ErrorQuery", {InOut("ErrorCode", Long), InOut("ErrorMessage", String)});
constexpr Member LockObject = kItf.Method("LockObject");
constexpr Member UnlockObject = kItf.Method("UnlockObject");
}  // namespace utility

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
  return Frame(driver::DriverOperation.get, With(val), [&] {
    operation_.AddRef();
    return ReturnValue<IIviDriverOperation*>(val, &operation_);
  });
}

HRESULT CDriver::GetIdentity(IIviDriverIdentity** val) {
  return Frame(driver::Identity.get, With(val), [&] {
    identity_.AddRef();
    return ReturnValue<IIviDriverIdentity*>(val, &identity_);
  });
}

HRESULT CDriver::GetUtility(IIviDriverUtility** val) {
  return Frame(driver::Utility.get, With(val), [&] {
    utility_.AddRef();
    return ReturnValue<IIviDriverUtility*>(val, &utility_);
  });
}

HRESULT CDriver::Initialize(BSTR resourceName, VARIANT_BOOL idQuery, VARIANT_BOOL reset,
                            BSTR options) {
  return Frame(driver::Initialize, With(resourceName, idQuery, reset, options),
               [&] { return InitializeSession(resourceName, idQuery != 0, reset != 0, options); });
}

HRESULT CDriver::GetInitialized(VARIANT_BOOL* val) {
  return Frame(driver::Initialized.get, With(val),
               [&] { return ReturnValue(val, Vb(Initialized())); });
}

HRESULT CDriver::Close() {
  return Frame(driver::Close, [&] { return CloseSession(); });
}

// ---------------------------------------------------------------------------------------------
// IIviDriverOperation

HRESULT CDriver::OperationFacet::get_LogicalName(BSTR* pVal) {
  return owner_->Frame(operation::LogicalName.get, With(pVal),
                       [&] { return ReturnString(pVal, owner_->logicalName_); });
}

HRESULT CDriver::OperationFacet::get_IoResourceDescriptor(BSTR* pVal) {
  return owner_->Frame(operation::IoResourceDescriptor.get, With(pVal),
                       [&] { return ReturnString(pVal, owner_->descriptor_); });
}

HRESULT CDriver::OperationFacet::get_Cache(VARIANT_BOOL* pVal) {
  return owner_->Frame(operation::Cache.get, With(pVal),
                       [&] { return ReturnValue(pVal, Vb(owner_->Flags().cache)); });
}

HRESULT CDriver::OperationFacet::put_Cache(VARIANT_BOOL newVal) {
  return owner_->Frame(operation::Cache.put, With(newVal), [&] { return owner_->PutCache(newVal); });
}

HRESULT CDriver::OperationFacet::get_InterchangeCheck(VARIANT_BOOL* pVal) {
  return owner_->Frame(operation::InterchangeCheck.get, With(pVal),
                       [&] { return ReturnValue(pVal, Vb(owner_->Flags().interchangeCheck)); });
}

HRESULT CDriver::OperationFacet::put_InterchangeCheck(VARIANT_BOOL newVal) {
  return owner_->Frame(operation::InterchangeCheck.put, With(newVal),
                       [&] { return owner_->PutInterchangeCheck(newVal); });
}

HRESULT CDriver::OperationFacet::get_QueryInstrumentStatus(VARIANT_BOOL* pVal) {
  return owner_->Frame(operation::QueryInstrumentStatus.get, With(pVal),
                       [&] { return ReturnValue(pVal, Vb(owner_->Flags().queryInstrumentStatus)); });
}

HRESULT CDriver::OperationFacet::put_QueryInstrumentStatus(VARIANT_BOOL newVal) {
  return owner_->Frame(operation::QueryInstrumentStatus.put, With(newVal),
                       [&] { return owner_->PutQueryInstrumentStatus(newVal); });
}

HRESULT CDriver::OperationFacet::get_RangeCheck(VARIANT_BOOL* pVal) {
  return owner_->Frame(operation::RangeCheck.get, With(pVal),
                       [&] { return ReturnValue(pVal, Vb(owner_->Flags().rangeCheck)); });
}

HRESULT CDriver::OperationFacet::put_RangeCheck(VARIANT_BOOL newVal) {
  return owner_->Frame(operation::RangeCheck.put, With(newVal),
                       [&] { return owner_->PutRangeCheck(newVal); });
}

HRESULT CDriver::OperationFacet::get_RecordCoercions(VARIANT_BOOL* pVal) {
  return owner_->Frame(operation::RecordCoercions.get, With(pVal),
                       [&] { return ReturnValue(pVal, Vb(owner_->Flags().recordCoercions)); });
}

HRESULT CDriver::OperationFacet::put_RecordCoercions(VARIANT_BOOL newVal) {
  return owner_->Frame(operation::RecordCoercions.put, With(newVal),
                       [&] { return owner_->PutRecordCoercions(newVal); });
}

HRESULT CDriver::OperationFacet::get_Simulate(VARIANT_BOOL* pVal) {
  return owner_->Frame(operation::Simulate.get, With(pVal),
                       [&] { return ReturnValue(pVal, Vb(owner_->Flags().simulate)); });
}

HRESULT CDriver::OperationFacet::put_Simulate(VARIANT_BOOL newVal) {
  return owner_->Frame(operation::Simulate.put, With(newVal), [&] { return owner_->PutSimulate(newVal); });
}

HRESULT CDriver::OperationFacet::get_DriverSetup(BSTR* pVal) {
  return owner_->Frame(operation::DriverSetup.get, With(pVal),
                       [&] { return ReturnString(pVal, owner_->driverSetup_); });
}

HRESULT CDriver::OperationFacet::InvalidateAllAttributes() {
  return owner_->Frame(operation::InvalidateAllAttributes, [&] {
    owner_->InvalidateAll();
    return S_OK;
  });
}

HRESULT CDriver::OperationFacet::ClearInterchangeWarnings() {
  return owner_->Frame(operation::ClearInterchangeWarnings, [&] {
    return owner_->Errors().ReportError(Msg::E_IVI_METHOD_NOT_SUPPORTED,
                                        {"ClearInterchangeWarnings"});
  });
}

HRESULT CDriver::OperationFacet::GetNextInterchangeWarning(BSTR* InterchangeWarning) {
  return owner_->Frame(operation::GetNextInterchangeWarning, With(InterchangeWarning), [&] {
    *InterchangeWarning = nullptr;
    return owner_->Errors().ReportError(Msg::E_IVI_METHOD_NOT_SUPPORTED,
                                        {"GetNextInterchangeWarning"});
  });
}

HRESULT CDriver::OperationFacet::ResetInterchangeCheck() {
  return owner_->Frame(operation::ResetInterchangeCheck, [&] {
    return owner_->Errors().ReportError(Msg::E_IVI_METHOD_NOT_SUPPORTED, {"ResetInterchangeCheck"});
  });
}

HRESULT CDriver::OperationFacet::GetNextCoercionRecord(BSTR* CoercionRecord) {
  return owner_->Frame(operation::GetNextCoercionRecord, With(CoercionRecord),
                       [&] { return owner_->GetNextCoercionRecord(CoercionRecord); });
}

// ---------------------------------------------------------------------------------------------
// IIviComponentIdentity and IIviDriverIdentity

HRESULT CDriver::IdentityFacet::get_Description(BSTR* pVal) {
  return owner_->Frame(component::Description.get, With(pVal),
                       [&] { return ReturnString(pVal, owner_->Description()); });
}

HRESULT CDriver::IdentityFacet::get_Revision(BSTR* pVal) {
  return owner_->Frame(component::Revision.get, With(pVal),
                       [&] { return ReturnString(pVal, owner_->Revision()); });
}

HRESULT CDriver::IdentityFacet::get_Vendor(BSTR* pVal) {
  return owner_->Frame(component::Vendor.get, With(pVal), [&] { return ReturnString(pVal, owner_->Vendor()); });
}

HRESULT CDriver::IdentityFacet::get_InstrumentManufacturer(BSTR* pVal) {
  return owner_->Frame(identity::InstrumentManufacturer.get, With(pVal), [&] {
    return ReturnString(pVal, owner_->Flags().simulate ? owner_->Vendor() : owner_->manufacturer_);
  });
}

HRESULT CDriver::IdentityFacet::get_InstrumentModel(BSTR* pVal) {
  return owner_->Frame(identity::InstrumentModel.get, With(pVal),
                       [&] { return ReturnString(pVal, owner_->Model()); });
}

HRESULT CDriver::IdentityFacet::get_InstrumentFirmwareRevision(BSTR* pVal) {
  return owner_->Frame(identity::InstrumentFirmwareRevision.get, With(pVal), [&] {
    return ReturnString(
        pVal, owner_->Flags().simulate ? "Sim" + std::string(owner_->Revision()) : owner_->firmware_);
  });
}

HRESULT CDriver::IdentityFacet::get_Identifier(BSTR* pVal) {
  return owner_->Frame(identity::Identifier.get, With(pVal),
                       [&] { return ReturnString(pVal, owner_->Identifier()); });
}

HRESULT CDriver::IdentityFacet::get_SupportedInstrumentModels(BSTR* pVal) {
  return owner_->Frame(identity::SupportedInstrumentModels.get, With(pVal), [&] {
    std::string list;
    for (const std::string& model : owner_->SupportedModelNames()) list += model + ",";
    while (!list.empty() && (list.back() == ',' || list.back() == ' ')) list.pop_back();
    return ReturnString(pVal, list);
  });
}

HRESULT CDriver::IdentityFacet::get_SpecificationMajorVersion(LONG* pVal) {
  return owner_->Frame(identity::SpecificationMajorVersion.get, With(pVal),
                       [&] { return ReturnValue(pVal, owner_->SpecificationMajorVersion()); });
}

HRESULT CDriver::IdentityFacet::get_SpecificationMinorVersion(LONG* pVal) {
  return owner_->Frame(identity::SpecificationMinorVersion.get, With(pVal),
                       [&] { return ReturnValue(pVal, owner_->SpecificationMinorVersion()); });
}

HRESULT CDriver::IdentityFacet::get_GroupCapabilities(BSTR* pVal) {
  return owner_->Frame(identity::GroupCapabilities.get, With(pVal),
                       [&] { return ReturnString(pVal, owner_->GroupCapabilities()); });
}

// ---------------------------------------------------------------------------------------------
// IIviDriverUtility

HRESULT CDriver::UtilityFacet::Reset() {
  return owner_->Frame(utility::Reset, [&] { return owner_->Reset(); });
}

HRESULT CDriver::UtilityFacet::ResetWithDefaults() {
  return owner_->Frame(utility::ResetWithDefaults, [&] { return owner_->ResetWithDefaults(); });
}

HRESULT CDriver::UtilityFacet::Disable() {
  return owner_->Frame(utility::Disable, [&] { return owner_->Disable(); });
}

HRESULT CDriver::UtilityFacet::SelfTest(LONG* TestResult, BSTR* TestMessage) {
  return owner_->Frame(utility::SelfTest, With(TestResult, TestMessage),
                       [&] { return owner_->SelfTest(TestResult, TestMessage); });
}

HRESULT CDriver::UtilityFacet::ErrorQuery(LONG* ErrorCode, BSTR* ErrorMessage) {
  return owner_->Frame(utility::ErrorQuery, With(ErrorCode, ErrorMessage),
                       [&] { return owner_->ErrorQuery(ErrorCode, ErrorMessage); });
}

HRESULT CDriver::UtilityFacet::LockObject() {
  return owner_->Frame(utility::LockObject, [&] {
    return owner_->Errors().ReportError(Msg::E_IVI_METHOD_NOT_SUPPORTED, {"LockObject"});
  });
}

HRESULT CDriver::UtilityFacet::UnlockObject() {
  return owner_->Frame(utility::UnlockObject, [&] {
    return owner_->Errors().ReportError(Msg::E_IVI_METHOD_NOT_SUPPORTED, {"UnlockObject"});
  });
}

}  // namespace vmk
