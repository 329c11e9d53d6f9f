// One output of the supply: its class-compliant and driver interfaces and its protection.
#include <memory>

#include "dcpwr/instances.h"
#include "dcpwr/velmora_k40xx.h"
#include "driver/rep_cap.h"
#include "io/driver_io_manager.h"
#include "vmk40xx/errors.h"
#include "vmk40xx/vmk40xx.h"

namespace vmk {

namespace {

class VelmoraK40xxOutput final : public CRepCap {
 public:
  VelmoraK40xxOutput(VelmoraK40xx* root, std::string physicalName, int32_t index);
  ~VelmoraK40xxOutput() override;

  // The session root; members run only while the session is open, so it is there.
  VelmoraK40xx& Driver() { return *static_cast<VelmoraK40xx*>(Root()); }

 private:
  struct Facets;
  std::span<const InterfaceEntry> Interfaces() override;
  std::unique_ptr<Facets> facets_;
};

namespace dcpwr_output {
constexpr InterfaceInfo kItf{&IID_IIviDCPwrOutput, "IIviDCPwrOutput", false};
constexpr Member ConfigureCurrentLimit = kItf.Method("ConfigureCurrentLimit");
constexpr Member ConfigureRange = kItf.Method("ConfigureRange");
constexpr Member ConfigureOVP = kItf.Method("ConfigureOVP");
constexpr Member Measure = kItf.Method("Measure", "Measurement");
constexpr Member QueryCurrentLimitMax = kItf.Method("QueryCurrentLimitMax", "MaxCurrentLimit");
constexpr Member QueryState = kItf.Method("QueryState", "InState");
constexpr Member QueryVoltageLevelMax = kItf.Method("QueryVoltageLevelMax", "MaxVoltageLevel");
constexpr Member ResetOutputProtection = kItf.Method("ResetOutputProtection");
constexpr Member put_Enabled = kItf.Put("put_Enabled");
constexpr Member get_Enabled = kItf.Get("get_Enabled");
constexpr Member put_TriggerSource = kItf.Put("put_TriggerSource");
constexpr Member get_TriggerSource = kItf.Get("get_TriggerSource");
constexpr Member put_TriggeredCurrentLimit = kItf.Put("put_TriggeredCurrentLimit");
constexpr Member get_TriggeredCurrentLimit = kItf.Get("get_TriggeredCurrentLimit");
constexpr Member put_TriggeredVoltageLevel = kItf.Put("put_TriggeredVoltageLevel");
constexpr Member get_TriggeredVoltageLevel = kItf.Get("get_TriggeredVoltageLevel");
constexpr Member put_VoltageLevel = kItf.Put("put_VoltageLevel");
constexpr Member get_VoltageLevel = kItf.Get("get_VoltageLevel");
constexpr Member put_CurrentLimit = kItf.Put("put_CurrentLimit");
constexpr Member get_CurrentLimit = kItf.Get("get_CurrentLimit");
constexpr Member put_CurrentLimitBehavior = kItf.Put("put_CurrentLimitBehavior");
constexpr Member get_CurrentLimitBehavior = kItf.Get("get_CurrentLimitBehavior");
constexpr Member put_OVPLimit = kItf.Put("put_OVPLimit");
constexpr Member get_OVPLimit = kItf.Get("get_OVPLimit");
constexpr Member put_OVPEnabled = kItf.Put("put_OVPEnabled");
constexpr Member get_OVPEnabled = kItf.Get("get_OVPEnabled");
}  // namespace dcpwr_output

namespace output {
constexpr InterfaceInfo kItf{&IID_IVelmoraK40xxOutput, "IVelmoraK40xxOutput", true};
constexpr Member ApplyVoltageCurrent = kItf.Method("ApplyVoltageCurrent");
constexpr Member ConfigureCurrentLimit = kItf.Method("ConfigureCurrentLimit");
constexpr Member ConfigureRange = kItf.Method("ConfigureRange");
constexpr Member Measure = kItf.Method("Measure", "val");
constexpr Member QueryCurrentLimitMax = kItf.Method("QueryCurrentLimitMax", "val");
constexpr Member QueryState = kItf.Method("QueryState", "val");
constexpr Member QueryVoltageLevelMax = kItf.Method("QueryVoltageLevelMax", "val");
constexpr Member RunStep = kItf.Method("RunStep");
constexpr Member get_CurrentLimit = kItf.Get("get_CurrentLimit");
constexpr Member put_CurrentLimit = kItf.Put("put_CurrentLimit");
constexpr Member get_CurrentLimitBehavior = kItf.Get("get_CurrentLimitBehavior");
constexpr Member put_CurrentLimitBehavior = kItf.Put("put_CurrentLimitBehavior");
constexpr Member get_Step = kItf.Get("get_Step");
constexpr Member put_Step = kItf.Put("put_Step");
constexpr Member get_VoltageLevel = kItf.Get("get_VoltageLevel");
constexpr Member put_VoltageLevel = kItf.Put("put_VoltageLevel");
constexpr Member get_VoltageRange = kItf.Get("get_VoltageRange");
constexpr Member put_VoltageRange = kItf.Put("put_VoltageRange");
constexpr Member get_Protection = Unchecked(kItf.Get("get_Protection"));
}  // namespace output

namespace protection {
constexpr InterfaceInfo kItf{&IID_IVelmoraK40xxProtection, "IVelmoraK40xxProtection", true};
constexpr Member ResetOVP = kItf.Method("ResetOVP");
constexpr Member ResetOutputProtection = kItf.Method("ResetOutputProtection");
constexpr Member ResetOCP = kItf.Method("ResetOCP");
constexpr Member QueryOVPLimitMax = kItf.Method("QueryOVPLimitMax", "val");
constexpr Member QueryOCPLimitMax = kItf.Method("QueryOCPLimitMax", "val");
constexpr Member ConfigureOVP = kItf.Method("ConfigureOVP");
constexpr Member ConfigureOCP = kItf.Method("ConfigureOCP");
constexpr Member get_OCPEnabled = kItf.Get("get_OCPEnabled");
constexpr Member put_OCPEnabled = kItf.Put("put_OCPEnabled");
constexpr Member get_OCPLimit = kItf.Get("get_OCPLimit");
constexpr Member put_OCPLimit = kItf.Put("put_OCPLimit");
constexpr Member get_OCPTripped = kItf.Get("get_OCPTripped");
constexpr Member get_OVPEnabled = kItf.Get("get_OVPEnabled");
constexpr Member put_OVPEnabled = kItf.Put("put_OVPEnabled");
constexpr Member get_OVPLimit = kItf.Get("get_OVPLimit");
constexpr Member put_OVPLimit = kItf.Put("put_OVPLimit");
constexpr Member get_OVPTripped = kItf.Get("get_OVPTripped");
}  // namespace protection



class DCPwrOutputFacet final : public Facet<IIviDCPwrOutput, VelmoraK40xxOutput> {
 public:
  using Facet::Facet;
  HRESULT ConfigureCurrentLimit(IviDCPwrCurrentLimitBehaviorEnum Behavior, DOUBLE Limit) override {
    (void)Behavior;
    (void)Limit;
    return owner_->Frame(dcpwr_output::ConfigureCurrentLimit, {}, NotImplemented);
  }
  HRESULT ConfigureRange(IviDCPwrRangeTypeEnum RangeType, DOUBLE Range) override {
    (void)RangeType;
    (void)Range;
    return owner_->Frame(dcpwr_output::ConfigureRange, {}, NotImplemented);
  }
  HRESULT ConfigureOVP(VARIANT_BOOL Enabled, DOUBLE Limit) override {
    (void)Enabled;
    (void)Limit;
    return owner_->Frame(dcpwr_output::ConfigureOVP, {}, NotImplemented);
  }
  HRESULT Measure(IviDCPwrMeasurementTypeEnum MeasurementType, DOUBLE* Measurement) override {
    (void)MeasurementType;
    return owner_->Frame(dcpwr_output::Measure, {Measurement}, NotImplemented);
  }
  HRESULT QueryCurrentLimitMax(DOUBLE VoltageLevel, DOUBLE* MaxCurrentLimit) override {
    (void)VoltageLevel;
    return owner_->Frame(dcpwr_output::QueryCurrentLimitMax, {MaxCurrentLimit}, NotImplemented);
  }
  HRESULT QueryState(IviDCPwrOutputStateEnum OutputState, VARIANT_BOOL* InState) override {
    (void)OutputState;
    return owner_->Frame(dcpwr_output::QueryState, {InState}, NotImplemented);
  }
  HRESULT QueryVoltageLevelMax(DOUBLE CurrentLimit, DOUBLE* MaxVoltageLevel) override {
    (void)CurrentLimit;
    return owner_->Frame(dcpwr_output::QueryVoltageLevelMax, {MaxVoltageLevel}, NotImplemented);
  }
  HRESULT ResetOutputProtection() override {
    return owner_->Frame(dcpwr_output::ResetOutputProtection, {}, NotImplemented);
  }
  HRESULT put_Enabled(VARIANT_BOOL newVal) override {
    (void)newVal;
    return owner_->Frame(dcpwr_output::put_Enabled, {}, NotImplemented);
  }
  HRESULT get_Enabled(VARIANT_BOOL* pVal) override {
    return owner_->Frame(dcpwr_output::get_Enabled, {pVal}, NotImplemented);
  }
  HRESULT put_TriggerSource(IviDCPwrTriggerSourceEnum newVal) override {
    (void)newVal;
    return owner_->Frame(dcpwr_output::put_TriggerSource, {}, NotImplemented);
  }
  HRESULT get_TriggerSource(IviDCPwrTriggerSourceEnum* pVal) override {
    return owner_->Frame(dcpwr_output::get_TriggerSource, {pVal}, NotImplemented);
  }
  HRESULT put_TriggeredCurrentLimit(DOUBLE newVal) override {
    (void)newVal;
    return owner_->Frame(dcpwr_output::put_TriggeredCurrentLimit, {}, NotImplemented);
  }
  HRESULT get_TriggeredCurrentLimit(DOUBLE* pVal) override {
    return owner_->Frame(dcpwr_output::get_TriggeredCurrentLimit, {pVal}, NotImplemented);
  }
  HRESULT put_TriggeredVoltageLevel(DOUBLE newVal) override {
    (void)newVal;
    return owner_->Frame(dcpwr_output::put_TriggeredVoltageLevel, {}, NotImplemented);
  }
  HRESULT get_TriggeredVoltageLevel(DOUBLE* pVal) override {
    return owner_->Frame(dcpwr_output::get_TriggeredVoltageLevel, {pVal}, NotImplemented);
  }
  HRESULT put_VoltageLevel(DOUBLE newVal) override {
    (void)newVal;
    return owner_->Frame(dcpwr_output::put_VoltageLevel, {}, NotImplemented);
  }
  HRESULT get_VoltageLevel(DOUBLE* pVal) override {
    return owner_->Frame(dcpwr_output::get_VoltageLevel, {pVal}, NotImplemented);
  }
  HRESULT put_CurrentLimit(DOUBLE newVal) override {
    (void)newVal;
    return owner_->Frame(dcpwr_output::put_CurrentLimit, {}, NotImplemented);
  }
  HRESULT get_CurrentLimit(DOUBLE* pVal) override {
    return owner_->Frame(dcpwr_output::get_CurrentLimit, {pVal}, NotImplemented);
  }
  HRESULT put_CurrentLimitBehavior(IviDCPwrCurrentLimitBehaviorEnum newVal) override {
    (void)newVal;
    return owner_->Frame(dcpwr_output::put_CurrentLimitBehavior, {}, NotImplemented);
  }
  HRESULT get_CurrentLimitBehavior(IviDCPwrCurrentLimitBehaviorEnum* pVal) override {
    return owner_->Frame(dcpwr_output::get_CurrentLimitBehavior, {pVal}, NotImplemented);
  }
  HRESULT put_OVPLimit(DOUBLE newVal) override {
    (void)newVal;
    return owner_->Frame(dcpwr_output::put_OVPLimit, {}, NotImplemented);
  }
  HRESULT get_OVPLimit(DOUBLE* pVal) override {
    return owner_->Frame(dcpwr_output::get_OVPLimit, {pVal}, NotImplemented);
  }
  HRESULT put_OVPEnabled(VARIANT_BOOL newVal) override {
    (void)newVal;
    return owner_->Frame(dcpwr_output::put_OVPEnabled, {}, NotImplemented);
  }
  HRESULT get_OVPEnabled(VARIANT_BOOL* pVal) override {
    return owner_->Frame(dcpwr_output::get_OVPEnabled, {pVal}, NotImplemented);
  }
};

class OutputFacet final : public Facet<IVelmoraK40xxOutput, VelmoraK40xxOutput> {
 public:
  using Facet::Facet;
  HRESULT ApplyVoltageCurrent(double VoltageLevel, double CurrentLimit) override {
    (void)VoltageLevel;
    (void)CurrentLimit;
    return owner_->Frame(output::ApplyVoltageCurrent, {}, NotImplemented);
  }
  HRESULT ConfigureCurrentLimit(VelmoraK40xxCurrentLimitBehaviorEnum Behavior, double Limit) override {
    (void)Behavior;
    (void)Limit;
    return owner_->Frame(output::ConfigureCurrentLimit, {}, NotImplemented);
  }
  HRESULT ConfigureRange(VelmoraK40xxRangeTypeEnum RangeType, double Range) override {
    (void)RangeType;
    (void)Range;
    return owner_->Frame(output::ConfigureRange, {}, NotImplemented);
  }
  HRESULT Measure(VelmoraK40xxMeasurementTypeEnum MeasurementType, double* val) override {
    (void)MeasurementType;
    return owner_->Frame(output::Measure, {val}, NotImplemented);
  }
  HRESULT QueryCurrentLimitMax(double VoltageLevel, double* val) override {
    (void)VoltageLevel;
    return owner_->Frame(output::QueryCurrentLimitMax, {val}, NotImplemented);
  }
  HRESULT QueryState(VelmoraK40xxOutputStateEnum OutputState, VARIANT_BOOL* val) override {
    (void)OutputState;
    return owner_->Frame(output::QueryState, {val}, NotImplemented);
  }
  HRESULT QueryVoltageLevelMax(double CurrentLimit, double* val) override {
    (void)CurrentLimit;
    return owner_->Frame(output::QueryVoltageLevelMax, {val}, NotImplemented);
  }
  HRESULT RunStep(VelmoraK40xxStepDirectionEnum Direction) override {
    (void)Direction;
    return owner_->Frame(output::RunStep, {}, NotImplemented);
  }
  HRESULT get_CurrentLimit(double* val) override {
    return owner_->Frame(output::get_CurrentLimit, {val}, NotImplemented);
  }
  HRESULT put_CurrentLimit(double val) override {
    (void)val;
    return owner_->Frame(output::put_CurrentLimit, {}, NotImplemented);
  }
  HRESULT get_CurrentLimitBehavior(VelmoraK40xxCurrentLimitBehaviorEnum* val) override {
    return owner_->Frame(output::get_CurrentLimitBehavior, {val}, NotImplemented);
  }
  HRESULT put_CurrentLimitBehavior(VelmoraK40xxCurrentLimitBehaviorEnum val) override {
    (void)val;
    return owner_->Frame(output::put_CurrentLimitBehavior, {}, NotImplemented);
  }
  HRESULT get_Step(VelmoraK40xxStepEnum StepType, double* val) override {
    (void)StepType;
    return owner_->Frame(output::get_Step, {val}, NotImplemented);
  }
  HRESULT put_Step(VelmoraK40xxStepEnum StepType, double val) override {
    (void)StepType;
    (void)val;
    return owner_->Frame(output::put_Step, {}, NotImplemented);
  }
  HRESULT get_VoltageLevel(double* val) override {
    return owner_->Frame(output::get_VoltageLevel, {val}, NotImplemented);
  }
  HRESULT put_VoltageLevel(double val) override {
    (void)val;
    return owner_->Frame(output::put_VoltageLevel, {}, NotImplemented);
  }
  HRESULT get_VoltageRange(VelmoraK40xxVoltageRangeEnum* val) override {
    return owner_->Frame(output::get_VoltageRange, {val}, NotImplemented);
  }
  HRESULT put_VoltageRange(VelmoraK40xxVoltageRangeEnum val) override {
    (void)val;
    return owner_->Frame(output::put_VoltageRange, {}, NotImplemented);
  }
  HRESULT get_Protection(IVelmoraK40xxProtection** val) override {
    return owner_->Frame(output::get_Protection, {val}, [&] {
      return owner_->QueryInterface(IID_IVelmoraK40xxProtection, reinterpret_cast<void**>(val));
    });
  }
};

class ProtectionFacet final : public Facet<IVelmoraK40xxProtection, VelmoraK40xxOutput> {
 public:
  using Facet::Facet;
  HRESULT ResetOVP() override {
    return owner_->Frame(protection::ResetOVP, {}, NotImplemented);
  }
  HRESULT ResetOutputProtection() override {
    return owner_->Frame(protection::ResetOutputProtection, {}, NotImplemented);
  }
  HRESULT ResetOCP() override {
    return owner_->Frame(protection::ResetOCP, {}, NotImplemented);
  }
  HRESULT QueryOVPLimitMax(double* val) override {
    return owner_->Frame(protection::QueryOVPLimitMax, {val}, NotImplemented);
  }
  HRESULT QueryOCPLimitMax(double* val) override {
    return owner_->Frame(protection::QueryOCPLimitMax, {val}, NotImplemented);
  }
  HRESULT ConfigureOVP(VARIANT_BOOL Enabled, double Limit) override {
    (void)Enabled;
    (void)Limit;
    return owner_->Frame(protection::ConfigureOVP, {}, NotImplemented);
  }
  HRESULT ConfigureOCP(VARIANT_BOOL Enabled, double Limit) override {
    (void)Enabled;
    (void)Limit;
    return owner_->Frame(protection::ConfigureOCP, {}, NotImplemented);
  }
  HRESULT get_OCPEnabled(VARIANT_BOOL* val) override {
    return owner_->Frame(protection::get_OCPEnabled, {val}, NotImplemented);
  }
  HRESULT put_OCPEnabled(VARIANT_BOOL val) override {
    (void)val;
    return owner_->Frame(protection::put_OCPEnabled, {}, NotImplemented);
  }
  HRESULT get_OCPLimit(double* val) override {
    return owner_->Frame(protection::get_OCPLimit, {val}, NotImplemented);
  }
  HRESULT put_OCPLimit(double val) override {
    (void)val;
    return owner_->Frame(protection::put_OCPLimit, {}, NotImplemented);
  }
  HRESULT get_OCPTripped(VARIANT_BOOL* val) override {
    return owner_->Frame(protection::get_OCPTripped, {val}, NotImplemented);
  }
  HRESULT get_OVPEnabled(VARIANT_BOOL* val) override {
    return owner_->Frame(protection::get_OVPEnabled, {val}, NotImplemented);
  }
  HRESULT put_OVPEnabled(VARIANT_BOOL val) override {
    (void)val;
    return owner_->Frame(protection::put_OVPEnabled, {}, NotImplemented);
  }
  HRESULT get_OVPLimit(double* val) override {
    return owner_->Frame(protection::get_OVPLimit, {val}, NotImplemented);
  }
  HRESULT put_OVPLimit(double val) override {
    (void)val;
    return owner_->Frame(protection::put_OVPLimit, {}, NotImplemented);
  }
  HRESULT get_OVPTripped(VARIANT_BOOL* val) override {
    return owner_->Frame(protection::get_OVPTripped, {val}, NotImplemented);
  }
};

}  // namespace

struct VelmoraK40xxOutput::Facets {
  explicit Facets(VelmoraK40xxOutput* owner) : dcpwrOutput(owner), output(owner), protection(owner), errorInfo(owner, kErrorInfoInterfaces) {}

  static constexpr const IID* kErrorInfoInterfaces[] = {&IID_IIviDCPwrOutput, &IID_IVelmoraK40xxOutput, &IID_IVelmoraK40xxProtection};

  DCPwrOutputFacet dcpwrOutput;
  OutputFacet output;
  ProtectionFacet protection;
  ErrorInfoSupport errorInfo;
};

VelmoraK40xxOutput::VelmoraK40xxOutput(VelmoraK40xx* root, std::string physicalName, int32_t index)
    : CRepCap("VelmoraK40xxOutput", "VelmoraK40xxOutput", root, std::move(physicalName), index),
      facets_(std::make_unique<Facets>(this)) {}

VelmoraK40xxOutput::~VelmoraK40xxOutput() = default;

std::span<const CComObject::InterfaceEntry> VelmoraK40xxOutput::Interfaces() {
  static const InterfaceEntry kTable[] = {
      {&IID_IIviDCPwrOutput, [](CComObject* o) -> IUnknown* { return &static_cast<VelmoraK40xxOutput*>(o)->facets_->dcpwrOutput; }},
      {&IID_IVelmoraK40xxOutput, [](CComObject* o) -> IUnknown* { return &static_cast<VelmoraK40xxOutput*>(o)->facets_->output; }},
      {&IID_IVelmoraK40xxProtection, [](CComObject* o) -> IUnknown* { return &static_cast<VelmoraK40xxOutput*>(o)->facets_->protection; }},
      {&IID_ISupportErrorInfo, [](CComObject* o) -> IUnknown* { return &static_cast<VelmoraK40xxOutput*>(o)->facets_->errorInfo; }},
  };
  return kTable;
}

CRepCap* NewVelmoraK40xxOutput(VelmoraK40xx* root, std::string physicalName, int32_t index) {
  return new VelmoraK40xxOutput(root, std::move(physicalName), index);
}

}  // namespace vmk
