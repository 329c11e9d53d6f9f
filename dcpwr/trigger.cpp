// The trigger settings of one output.
#include <memory>

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
constexpr InterfaceInfo kItf{&IID_IVelmoraK40xxTrigger, "IVelmoraK40xxTrigger", true};
constexpr const char* kCurrentKey = "IVelmoraK40xxTrigger.CurrentLimit";
constexpr const char* kDelayKey = "IVelmoraK40xxTrigger.Delay";
constexpr const char* kSourceKey = "IVelmoraK40xxTrigger.Source";
constexpr const char* kVoltageKey = "IVelmoraK40xxTrigger.VoltageLevel";
constexpr Member get_CurrentLimit = kItf.Get("get_CurrentLimit", kCurrentKey, "CURR:TRIG?");
constexpr Member put_CurrentLimit = kItf.Put("put_CurrentLimit", kCurrentKey, "CURR:TRIG %.15g");
constexpr Member get_Delay = kItf.Get("get_Delay", kDelayKey, "TRIG:DEL?");
constexpr Member put_Delay = kItf.Put("put_Delay", kDelayKey, "TRIG:DEL %.15g");
constexpr Member get_Source = kItf.Get("get_Source", kSourceKey, "TRIG:SOUR?");
constexpr Member put_Source = WithKeywords(kItf.Put("put_Source", kSourceKey, "TRIG:SOUR %s"),
                                           &EnumKeyword<KeywordEnum::TriggerSource>);
constexpr Member get_VoltageLevel = kItf.Get("get_VoltageLevel", kVoltageKey, "VOLT:TRIG?");
constexpr Member put_VoltageLevel = kItf.Put("put_VoltageLevel", kVoltageKey, "VOLT:TRIG %.15g");
}  // namespace trigger

class TriggerFacet final : public Facet<IVelmoraK40xxTrigger, VelmoraK40xxTrigger> {
 public:
  using Facet::Facet;
  HRESULT get_CurrentLimit(double* val) override {
    return owner_->Get(trigger::get_CurrentLimit, val,
                       [&] { return owner_->SelectThenQuery(val); });
  }
  HRESULT put_CurrentLimit(double val) override {
    return owner_->Put(trigger::put_CurrentLimit, val, NoCheck,
                       [&] { return owner_->SelectThenSend(); });
  }
  HRESULT get_Delay(double* val) override {
    return owner_->Get(trigger::get_Delay, val, [&] { return owner_->SelectThenQuery(val); });
  }
  // The delay is the one trigger setting the driver checks itself, with range checking on, in
  // simulation as well.
  HRESULT put_Delay(double val) override {
    return owner_->Put(
        trigger::put_Delay, val,
        [&] {
          if (!owner_->RangeChecking() ||
              CheckValue(TriggerDelayPolicies(), owner_->GetModel(), val))
            return S_OK;
          return owner_->Errors().ReportInvalidValue(trigger::put_Delay.name, "val", val);
        },
        [&] { return owner_->SelectThenSend(); });
  }
  HRESULT get_Source(VelmoraK40xxTriggerSourceEnum* val) override {
    return owner_->Get(trigger::get_Source, val, [&] {
      owner_->Select();
      CModelKeywordLookup keywords(KeywordTable(KeywordEnum::TriggerSource), owner_->GetModel());
      return owner_->IO().InstrQueryCommandEnum(keywords, val);
    });
  }
  HRESULT put_Source(VelmoraK40xxTriggerSourceEnum val) override {
    const Member& m = trigger::put_Source;
    return owner_->Put(
        m, val,
        [&] {
          return CheckEnumValue(*owner_, m, val, VelmoraK40xxTriggerSourceImmediate,
                                VelmoraK40xxTriggerSourceSwTrigFunc);
        },
        [&] { return owner_->SelectThenSend(); });
  }
  HRESULT get_VoltageLevel(double* val) override {
    return owner_->Get(trigger::get_VoltageLevel, val,
                       [&] { return owner_->SelectThenQuery(val); });
  }
  HRESULT put_VoltageLevel(double val) override {
    return owner_->Put(trigger::put_VoltageLevel, val, NoCheck,
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
