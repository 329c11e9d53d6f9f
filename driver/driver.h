// The driver object: the root node of a session, holding the session's settings, its identity
// and its repeated-capability instances, with Initialize, Close and the inherent operations.
// The power-supply layer derives the creatable class from it and fills in the hooks.
#pragma once

#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "driver/config_store.h"
#include "driver/node.h"
#include "io/io_seams.h"
#include "platform/com/com_object.h"
#include "platform/config/store.h"
#include "services/tracer.h"
#include "services/validation.h"
#include "vmk40xx/ivi_driver.h"

namespace vmk {

class CVisaComIOProvider;

// Tracer settings taken from DriverSetup; the tracer reads them when tracing starts.
struct TraceSettings {
  bool enabled = false;
  std::string name;
  int32_t sizeMax = 1000000;
  bool arrays = false;
  int32_t arraySizeMax = 10;
  int32_t saveInterval = 1;
  std::string transform;
};

// One repeated-capability instance as the root holds it.
struct Instance {
  std::string physicalName;
  int32_t index = 0;
  CComObject* object = nullptr;  // counted reference
  CNode* node = nullptr;
};

class CDriver : public CComObject, public CNode, public IoHost {
 public:
  // A repeated capability, with the stem of its instances' physical names ("Output1", ...).
  struct RepCapInfo {
    const char* name;
    const char* instanceStem;
  };

  // Session settings.
  const OptionFlags& Flags() const { return session_.flags; }
  OptionFlags& MutableFlags() { return session_.flags; }
  bool Initialized() const { return session_.initialized; }
  bool QueryInstrumentStatus() const override { return session_.flags.queryInstrumentStatus; }
  const std::string& Model() const { return session_.model; }
  // What the session's nodes read during a call.
  SessionState& Session() { return session_; }
  // The table of the models the driver knows, handed in by the class that derives from this one.
  const SupportedModelTable& ModelTable() const { return models_; }
  const std::string& ResourceDescriptor() const { return descriptor_; }
  const std::string& LogicalName() const { return logicalName_; }
  const std::string& DriverSetupText() const { return driverSetup_; }
  const std::string& Manufacturer() const { return manufacturer_; }
  const std::string& SerialNumber() const { return serial_; }
  const std::string& FirmwareRevision() const { return firmware_; }
  const std::string& IdentificationResponse() const { return idn_; }
  const std::unordered_map<std::string, std::string>& InitOptionRecord() const {
    return initOptions_;
  }
  const std::unordered_map<std::string, std::string>& DriverSetupRecord() const {
    return driverSetupRecord_;
  }
  const TraceSettings& Trace() const { return trace_; }
  // The session's tracer, owned by the root for the object's life.
  CTraceOwner& Tracer() { return *tracer_; }
  // The `TraceEnabled` switch: true while the trace runs; switching also becomes the setting
  // the next Initialize starts from.
  bool TraceRunning() const { return tracer_->IsRunning(); }
  HRESULT SwitchTrace(bool on);
  CVisaComIOProvider& Provider() { return *provider_; }
  // The session's tracer, which the frame and every node's I/O manager record through; none
  // until a tracer is built.
  MethodTraceSink* MethodTrace() const { return session_.trace; }
  void SetMethodTrace(MethodTraceSink* sink) { session_.trace = sink; }

  // The IIviDriver members, run in the frame; the interfaces that derive from IIviDriver
  // (DriverFacet below) all land here.
  HRESULT GetDriverOperation(IIviDriverOperation** val);
  HRESULT GetIdentity(IIviDriverIdentity** val);
  HRESULT GetUtility(IIviDriverUtility** val);
  HRESULT Initialize(BSTR resourceName, VARIANT_BOOL idQuery, VARIANT_BOOL reset, BSTR options);
  HRESULT GetInitialized(VARIANT_BOOL* val);
  HRESULT Close();

  // Initialize and Close, as the IIviDriver members run them inside the frame.
  HRESULT InitializeSession(const OLECHAR* resourceName, bool idQuery, bool reset,
                            const OLECHAR* optionString);
  HRESULT CloseSession();

  // Option processing; virtual so that a driver can extend the names it knows.
  HRESULT ProcessOptionString(const std::string& optionString);
  virtual HRESULT ProcessDriverSetup(const std::string& text);
  virtual HRESULT ProcessInitOption(const std::string& name, const std::string& value);
  virtual HRESULT ProcessDriverSetupOption(const std::string& key, const std::string& value);

  // The IVI configuration store (driver/config_store.cpp). Initialize's step 4: the store's
  // session that `resourceName` designates, or the software module's settings, then the option
  // string. The store is read and released within the call.
  HRESULT ApplyStoreAndOptions(const std::string& resourceName);
  virtual std::optional<config::ConfigStore> OpenConfigStore();
  virtual const config::DriverSession* FindSession(const config::ConfigStore& store,
                                                   const std::string& name);
  HRESULT LoadDriverConfiguration(const config::HardwareAsset* asset,
                                  const config::DriverSession* session);
  HRESULT LoadSessionInitialSettings(const config::DriverSession* session);
  HRESULT LoadConfigurableInitialSettings(const config::SoftwareModule* module);
  HRESULT LoadConfigurableInitialSettings(const config::DataComponent* settings);
  // The configurable initial settings, by trimmed lower-case name.
  const InitialSettings& ConfigurableInitialSettings() const { return initialSettings_; }

  // The inherent attribute puts with their rules.
  HRESULT PutCache(VARIANT_BOOL v);
  HRESULT PutInterchangeCheck(VARIANT_BOOL v);
  HRESULT PutQueryInstrumentStatus(VARIANT_BOOL v);
  HRESULT PutRangeCheck(VARIANT_BOOL v);
  HRESULT PutRecordCoercions(VARIANT_BOOL v);
  HRESULT PutSimulate(VARIANT_BOOL v);

  // Inherent operations.
  HRESULT Reset();
  HRESULT ResetWithDefaults();
  HRESULT Disable();
  HRESULT SelfTest(LONG* result, BSTR* message);
  HRESULT ErrorQuery(LONG* code, BSTR* message);
  HRESULT GetNextCoercionRecord(BSTR* record);
  void AddCoercionRecord(std::string record);
  void InvalidateAll() override;

  // Repeated capabilities.
  const std::vector<Instance>* Instances(std::string_view repCap) const;
  // The physical name a caller's name stands for (virtual names of the configuration store).
  std::string ResolveName(std::string_view name) const;
  // Collection members shared by the driver's and the class-compliant collections.
  HRESULT RepCapCount(const char* repCap, LONG* val);
  HRESULT RepCapName(const char* repCap, LONG index, BSTR* val);
  HRESULT RepCapItem(const char* repCap, const OLECHAR* name, REFIID itemIid, void** val);

  // Identity constants and instrument commands; virtual so that a driver can change them. The
  // driver's own identity and default model have no default here.
  virtual std::string_view DefaultModel() const = 0;
  virtual std::string_view Description() const = 0;
  virtual std::string_view Revision() const = 0;
  virtual std::string_view Vendor() const = 0;
  virtual std::string_view Identifier() const = 0;
  virtual std::string_view GroupCapabilities() const = 0;
  virtual LONG SpecificationMajorVersion() const { return 2; }
  virtual LONG SpecificationMinorVersion() const { return 0; }
  virtual const char* IdentificationCommand() const { return "*IDN?"; }
  virtual const char* ErrorQueryCommand() const { return "SYST:ERR?"; }
  virtual const char* ClearStatusCommand() const { return "*CLS"; }
  virtual const char* ResetCommand() const { return "*RST;*OPC?"; }
  virtual LONG ResetTimeout() const { return 10000; }
  virtual const char* DisableCommand() const { return "*RST;*OPC?"; }
  virtual LONG DisableTimeout() const { return 10000; }
  virtual const char* SelfTestCommand() const { return "*TST?"; }
  virtual LONG SelfTestTimeout() const { return 30000; }
  bool InterchangeCheckSupported() const { return false; }

  // Hooks of the power-supply layer.
  // The repeated capabilities, in the order they are built and released.
  virtual std::span<const RepCapInfo> RepCaps() const = 0;
  // Every supported model, in the model table's order.
  virtual std::vector<std::string> SupportedModelNames() const = 0;
  // The names after the first of a repeated capability for the session's model.
  virtual HRESULT MorePhysicalNames(const RepCapInfo& repCap, std::vector<std::string>* names) = 0;
  virtual HRESULT CreateInstance(const char* repCap, const std::string& physicalName, int32_t index,
                                 CComObject** object, CNode** node) = 0;
  // The instrument start-up step: serial remote mode, identification, model limits.
  virtual HRESULT ApplyModelLimits() = 0;
  // Resets through the driver's own interface, so that the call passes the frame.
  virtual HRESULT ResetThroughInterface() = 0;

  // Reads "*IDN?" once per session and takes the model from it (a no-op when simulating).
  HRESULT Identify();

 protected:
  // `className` is the class the frame records for the root's calls; `models` lives as long as
  // the library.
  CDriver(const char* className, const SupportedModelTable& models);
  ~CDriver() override;
  // Sets the session's model and its bit in the model table.
  void SetModel(std::string model);

  // The inherent interfaces of the root, for the derived class's interface table.
  class OperationFacet final : public Facet<IIviDriverOperation, CDriver> {
   public:
    using Facet::Facet;
    HRESULT get_LogicalName(BSTR* pVal) override;
    HRESULT get_IoResourceDescriptor(BSTR* pVal) override;
    HRESULT get_Cache(VARIANT_BOOL* pVal) override;
    HRESULT put_Cache(VARIANT_BOOL newVal) override;
    HRESULT get_InterchangeCheck(VARIANT_BOOL* pVal) override;
    HRESULT put_InterchangeCheck(VARIANT_BOOL newVal) override;
    HRESULT get_QueryInstrumentStatus(VARIANT_BOOL* pVal) override;
    HRESULT put_QueryInstrumentStatus(VARIANT_BOOL newVal) override;
    HRESULT get_RangeCheck(VARIANT_BOOL* pVal) override;
    HRESULT put_RangeCheck(VARIANT_BOOL newVal) override;
    HRESULT get_RecordCoercions(VARIANT_BOOL* pVal) override;
    HRESULT put_RecordCoercions(VARIANT_BOOL newVal) override;
    HRESULT get_Simulate(VARIANT_BOOL* pVal) override;
    HRESULT put_Simulate(VARIANT_BOOL newVal) override;
    HRESULT get_DriverSetup(BSTR* pVal) override;
    HRESULT InvalidateAllAttributes() override;
    HRESULT ClearInterchangeWarnings() override;
    HRESULT GetNextInterchangeWarning(BSTR* InterchangeWarning) override;
    HRESULT ResetInterchangeCheck() override;
    HRESULT GetNextCoercionRecord(BSTR* CoercionRecord) override;
  };
  class IdentityFacet final : public Facet<IIviDriverIdentity, CDriver> {
   public:
    using Facet::Facet;
    HRESULT get_Description(BSTR* pVal) override;
    HRESULT get_Revision(BSTR* pVal) override;
    HRESULT get_Vendor(BSTR* pVal) override;
    HRESULT get_InstrumentManufacturer(BSTR* pVal) override;
    HRESULT get_InstrumentModel(BSTR* pVal) override;
    HRESULT get_InstrumentFirmwareRevision(BSTR* pVal) override;
    HRESULT get_Identifier(BSTR* pVal) override;
    HRESULT get_SupportedInstrumentModels(BSTR* pVal) override;
    HRESULT get_SpecificationMajorVersion(LONG* pVal) override;
    HRESULT get_SpecificationMinorVersion(LONG* pVal) override;
    HRESULT get_GroupCapabilities(BSTR* pVal) override;
  };
  class UtilityFacet final : public Facet<IIviDriverUtility, CDriver> {
   public:
    using Facet::Facet;
    HRESULT Reset() override;
    HRESULT ResetWithDefaults() override;
    HRESULT Disable() override;
    HRESULT SelfTest(LONG* TestResult, BSTR* TestMessage) override;
    HRESULT ErrorQuery(LONG* ErrorCode, BSTR* ErrorMessage) override;
    HRESULT LockObject() override;
    HRESULT UnlockObject() override;
  };

  OperationFacet operation_{this};
  IdentityFacet identity_{this};
  UtilityFacet utility_{this};

 private:
  HRESULT BuildRepCaps();
  HRESULT ReleaseRepCaps();
  HRESULT OpenIO();
  void CloseIO();
  // Hands DriverSetup's trace settings to the tracer and starts or ends the trace they ask for.
  HRESULT StartTrace();
  HRESULT ReportBadOptionValue(const std::string& value);

  // Declared first so that it goes last: records still close while the rest is taken down.
  std::unique_ptr<CTraceOwner> tracer_;
  SessionState session_;
  const SupportedModelTable& models_;
  OptionFlags initialFlags_;
  bool identified_ = false;
  std::string optionString_;
  std::string logicalName_;
  std::string descriptor_;
  std::string driverSetup_;
  std::string manufacturer_;
  std::string serial_;
  std::string firmware_;
  std::string idn_;
  std::unordered_map<std::string, std::string> initOptions_{17};
  std::unordered_map<std::string, std::string> driverSetupRecord_{17};
  TraceSettings trace_;
  CCoercionLog coercions_;
  // Virtual names from the configuration store: lower-case virtual -> lower-case physical, and
  // lower-case physical -> physical as the store spells it.
  std::unordered_map<std::string, std::string> virtualNames_;
  std::unordered_map<std::string, std::string> physicalSpelling_;
  InitialSettings initialSettings_;
  struct RepCapInstances {
    const char* name;
    std::vector<Instance> list;
  };
  std::vector<RepCapInstances> repCaps_;
  std::unique_ptr<CVisaComIOProvider> provider_;
};

// The members of IIviDriver, for every interface of the root that derives from it.
template <class Itf, class Owner>
class DriverFacet : public Facet<Itf, Owner> {
 public:
  explicit DriverFacet(Owner* owner) : Facet<Itf, Owner>(owner), driver_(owner) {}
  HRESULT get_DriverOperation(IIviDriverOperation** pVal) override {
    return driver_->GetDriverOperation(pVal);
  }
  HRESULT get_Identity(IIviDriverIdentity** pVal) override { return driver_->GetIdentity(pVal); }
  HRESULT get_Utility(IIviDriverUtility** pVal) override { return driver_->GetUtility(pVal); }
  HRESULT Initialize(BSTR ResourceName, VARIANT_BOOL IdQuery, VARIANT_BOOL Reset,
                     BSTR OptionString) override {
    return driver_->Initialize(ResourceName, IdQuery, Reset, OptionString);
  }
  HRESULT get_Initialized(VARIANT_BOOL* pVal) override { return driver_->GetInitialized(pVal); }
  HRESULT Close() override { return driver_->Close(); }

 private:
  CDriver* driver_;
};

}  // namespace vmk
