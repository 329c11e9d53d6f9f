// The trigger settings of one output.
#include <memory>
#include <string>

#include "dcpwr/channel.h"
#include "dcpwr/instances.h"
#include "dcpwr/velmora_k40xx.h"
#include "driver/rep_cap.h"
#include "io/driver_io_manager.h"
#include "services/keywords.h"
#include "services/validation.h"
#include "vmk40xx/errors.h"
#include "vmk40xx/vmk40xx.h"

namespace vmk {

namespace {

class VelmoraK40xxTrigger final : public CChannel {
 public:
  VelmoraK40xxTrigger(VelmoraK40xx* root, std::string physicalName, int32_t index);
  ~VelmoraK40xxTrigger() override;

 private:
  struct Facets;
  std::span<const InterfaceEntry> Interfaces() override;
  std::unique_ptr<Facets> facets_;
};

namespace trigger {
constexpr Interface kItf{&IID_IVelmoraK40xxTrigger, "IVelmoraK40xxTrigger", kPowerSupply};
constexpr Property CurrentLimit =
    kItf.Prop("CurrentLimit", Double, {.get = "CURR:TRIG?", .put = "CURR:TRIG %.15g", .sim = 20.0});
constexpr Property Delay =
    kItf.Prop("Delay", Double, {.get = "TRIG:DEL?", .put = "TRIG:DEL %.15g", .sim = 0.0});
constexpr Property Source = kItf.Prop("Source", Enum,
                                      {.get = "TRIG:SOUR?",
                                       .put = "TRIG:SOUR %s",
                                       .sim = VelmoraK40xxTriggerSourceImmediate,
                                       .keyword = &EnumKeyword<KeywordEnum::TriggerSource>});
constexpr Property VoltageLevel =
    kItf.Prop("VoltageLevel", Double, {.get = "VOLT:TRIG?", .put = "VOLT:TRIG %.15g", .sim = 0.0});
}  // namespace trigger

// The trigger delay, in seconds: 0 to 3600 on every model.
const ValidationPolicies& TriggerDelayPolicies() {
  static const ValidationPolicies policies = [] {
    ModelBasedEntries<CParameterValidationPolicy> entries;
    entries.push_back(
        std::make_unique<CMinMaxParameterValidationPolicy>(std::string(), 0.0, 3600.0));
    return ValidationPolicies(std::move(entries), Models());
  }();
  return policies;
}

class TriggerFacet final : public Facet<IVelmoraK40xxTrigger, VelmoraK40xxTrigger> {
 public:
  using Facet::Facet;
  HRESULT get_CurrentLimit(double* val) override {
    return owner_->Get(trigger::CurrentLimit, val, [&] { return owner_->SelectThenQuery(val); });
  }
  HRESULT put_CurrentLimit(double val) override {
    return owner_->Put(trigger::CurrentLimit, val, NoCheck,
                       [&] { return owner_->SelectThenSend(); });
  }
  HRESULT get_Delay(double* val) override {
    return owner_->Get(trigger::Delay, val, [&] { return owner_->SelectThenQuery(val); });
  }
  // The delay is the one trigger setting the driver checks itself, with range checking on, in
  // simulation as well.
  HRESULT put_Delay(double val) override {
    return owner_->Put(
        trigger::Delay, val,
        [&] {
          if (!owner_->RangeChecking() ||
              CheckValue(TriggerDelayPolicies(), owner_->GetModel(), val))
            return S_OK;
          return owner_->Errors().ReportInvalidValue(trigger::Delay.put.Name(), "val", val);
        },
        [&] { return owner_->SelectThenSend(); });
  }
  HRESULT get_Source(VelmoraK40xxTriggerSourceEnum* val) override {
    return owner_->Get(trigger::Source, val, [&] {
      owner_->Select();
      CModelKeywordLookup keywords(KeywordTable(KeywordEnum::TriggerSource), owner_->GetModel());
      return owner_->IO().InstrQueryCommandEnum(keywords, val);
    });
  }
  HRESULT put_Source(VelmoraK40xxTriggerSourceEnum val) override {
    return owner_->Put(
        trigger::Source, val,
        [&] {
          return CheckEnumValue(*owner_, trigger::Source.put, val,
                                VelmoraK40xxTriggerSourceImmediate,
                                VelmoraK40xxTriggerSourceSwTrigFunc);
        },
        [&] { return owner_->SelectThenSend(); });
  }
  HRESULT get_VoltageLevel(double* val) override {
    return owner_->Get(trigger::VoltageLevel, val, [&] { return owner_->SelectThenQuery(val); });
  }
  HRESULT put_VoltageLevel(double val) override {
    return owner_->Put(trigger::VoltageLevel, val, NoCheck,
                       [&] { return owner_->SelectThenSend(); });
  }
};

}  // namespace

struct VelmoraK40xxTrigger::Facets {
  explicit Facets(VelmoraK40xxTrigger* owner)
      : trigger(owner), errorInfo(owner, kErrorInfoInterfaces) {}

  static constexpr const IID* kErrorInfoInterfaces[] = {&IID_IVelmoraK40xxTrigger};

  TriggerFacet trigger;
  ErrorInfoSupport errorInfo;
};

VelmoraK40xxTrigger::VelmoraK40xxTrigger(VelmoraK40xx* root, std::string physicalName,
                                         int32_t index)
    : CChannel("VelmoraK40xxTrigger", "VelmoraK40xxTrigger", root, std::move(physicalName), index),
      facets_(std::make_unique<Facets>(this)) {}

VelmoraK40xxTrigger::~VelmoraK40xxTrigger() = default;

std::span<const CComObject::InterfaceEntry> VelmoraK40xxTrigger::Interfaces() {
  static const InterfaceEntry kTable[] = {
      {&IID_IVelmoraK40xxTrigger,
       [](CComObject* o) -> IUnknown* {
         return &static_cast<VelmoraK40xxTrigger*>(o)->facets_->trigger;
       }},
      {&IID_ISupportErrorInfo,
       [](CComObject* o) -> IUnknown* {
         return &static_cast<VelmoraK40xxTrigger*>(o)->facets_->errorInfo;
       }},
  };
  return kTable;
}

CRepCap* NewVelmoraK40xxTrigger(VelmoraK40xx* root, std::string physicalName, int32_t index) {
  return new VelmoraK40xxTrigger(root, std::move(physicalName), index);
}

}  // namespace vmk
