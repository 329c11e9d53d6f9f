// The trigger settings of one output.
#include <memory>

#include "dcpwr/instances.h"
#include "dcpwr/velmora_k40xx.h"
#include "driver/rep_cap.h"
#include "io/driver_io_manager.h"
#include "vmk40xx/errors.h"
#include "vmk40xx/vmk40xx.h"

namespace vmk {

namespace {

class VelmoraK40xxTrigger final : public CRepCap {
 public:
  VelmoraK40xxTrigger(VelmoraK40xx* root, std::string physicalName, int32_t index);
  ~VelmoraK40xxTrigger() override;

  // The session root; members run only while the session is open, so it is there.
  VelmoraK40xx& Driver() { return *static_cast<VelmoraK40xx*>(Root()); }

 private:
  struct Facets;
  std::span<const InterfaceEntry> Interfaces() override;
  std::unique_ptr<Facets> facets_;
};

namespace trigger {
constexpr InterfaceInfo kItf{&IID_IVelmoraK40xxTrigger, "IVelmoraK40xxTrigger", true};
constexpr Member get_CurrentLimit = kItf.Get("get_CurrentLimit");
constexpr Member put_CurrentLimit = kItf.Put("put_CurrentLimit");
constexpr Member get_Delay = kItf.Get("get_Delay");
constexpr Member put_Delay = kItf.Put("put_Delay");
constexpr Member get_Source = kItf.Get("get_Source");
constexpr Member put_Source = kItf.Put("put_Source");
constexpr Member get_VoltageLevel = kItf.Get("get_VoltageLevel");
constexpr Member put_VoltageLevel = kItf.Put("put_VoltageLevel");
}  // namespace trigger



class TriggerFacet final : public Facet<IVelmoraK40xxTrigger, VelmoraK40xxTrigger> {
 public:
  using Facet::Facet;
  HRESULT get_CurrentLimit(double* val) override {
    return owner_->Frame(trigger::get_CurrentLimit, {val}, NotImplemented);
  }
  HRESULT put_CurrentLimit(double val) override {
    (void)val;
    return owner_->Frame(trigger::put_CurrentLimit, {}, NotImplemented);
  }
  HRESULT get_Delay(double* val) override {
    return owner_->Frame(trigger::get_Delay, {val}, NotImplemented);
  }
  HRESULT put_Delay(double val) override {
    (void)val;
    return owner_->Frame(trigger::put_Delay, {}, NotImplemented);
  }
  HRESULT get_Source(VelmoraK40xxTriggerSourceEnum* val) override {
    return owner_->Frame(trigger::get_Source, {val}, NotImplemented);
  }
  HRESULT put_Source(VelmoraK40xxTriggerSourceEnum val) override {
    (void)val;
    return owner_->Frame(trigger::put_Source, {}, NotImplemented);
  }
  HRESULT get_VoltageLevel(double* val) override {
    return owner_->Frame(trigger::get_VoltageLevel, {val}, NotImplemented);
  }
  HRESULT put_VoltageLevel(double val) override {
    (void)val;
    return owner_->Frame(trigger::put_VoltageLevel, {}, NotImplemented);
  }
};

}  // namespace

struct VelmoraK40xxTrigger::Facets {
  explicit Facets(VelmoraK40xxTrigger* owner) : trigger(owner), errorInfo(owner, kErrorInfoInterfaces) {}

  static constexpr const IID* kErrorInfoInterfaces[] = {&IID_IVelmoraK40xxTrigger};

  TriggerFacet trigger;
  ErrorInfoSupport errorInfo;
};

VelmoraK40xxTrigger::VelmoraK40xxTrigger(VelmoraK40xx* root, std::string physicalName, int32_t index)
    : CRepCap("VelmoraK40xxTrigger", "VelmoraK40xxTrigger", root, std::move(physicalName), index),
      facets_(std::make_unique<Facets>(this)) {}

VelmoraK40xxTrigger::~VelmoraK40xxTrigger() = default;

std::span<const CComObject::InterfaceEntry> VelmoraK40xxTrigger::Interfaces() {
  static const InterfaceEntry kTable[] = {
      {&IID_IVelmoraK40xxTrigger, [](CComObject* o) -> IUnknown* { return &static_cast<VelmoraK40xxTrigger*>(o)->facets_->trigger; }},
      {&IID_ISupportErrorInfo, [](CComObject* o) -> IUnknown* { return &static_cast<VelmoraK40xxTrigger*>(o)->facets_->errorInfo; }},
  };
  return kTable;
}

CRepCap* NewVelmoraK40xxTrigger(VelmoraK40xx* root, std::string physicalName, int32_t index) {
  return new VelmoraK40xxTrigger(root, std::move(physicalName), index);
}

}  // namespace vmk
