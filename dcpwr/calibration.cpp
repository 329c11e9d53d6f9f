// The calibration steps of one output.
#include <memory>

#include "dcpwr/instances.h"
#include "dcpwr/velmora_k40xx.h"
#include "driver/rep_cap.h"
#include "io/driver_io_manager.h"
#include "vmk40xx/errors.h"
#include "vmk40xx/vmk40xx.h"

namespace vmk {

namespace {

class VelmoraK40xxCalibration final : public CRepCap {
 public:
  VelmoraK40xxCalibration(VelmoraK40xx* root, std::string physicalName, int32_t index);
  ~VelmoraK40xxCalibration() override;

  // The session root; members run only while the session is open, so it is there.
  VelmoraK40xx& Driver() { return *static_cast<VelmoraK40xx*>(Root()); }

 private:
  struct Facets;
  std::span<const InterfaceEntry> Interfaces() override;
  std::unique_ptr<Facets> facets_;
};

namespace calibration {
constexpr InterfaceInfo kItf{&IID_IVelmoraK40xxCalibration, "IVelmoraK40xxCalibration", true};
constexpr Member CurrentData = kItf.Method("CurrentData");
constexpr Member CurrentLevel = kItf.Method("CurrentLevel");
constexpr Member CurrentProtection = kItf.Method("CurrentProtection");
constexpr Member VoltageData = kItf.Method("VoltageData");
constexpr Member VoltageLevel = kItf.Method("VoltageLevel");
constexpr Member VoltageProtection = kItf.Method("VoltageProtection");
}  // namespace calibration



class CalibrationFacet final : public Facet<IVelmoraK40xxCalibration, VelmoraK40xxCalibration> {
 public:
  using Facet::Facet;
  HRESULT CurrentData(double Current) override {
    (void)Current;
    return owner_->Frame(calibration::CurrentData, {}, NotImplemented);
  }
  HRESULT CurrentLevel(VelmoraK40xxCalibrationLevelEnum Level) override {
    (void)Level;
    return owner_->Frame(calibration::CurrentLevel, {}, NotImplemented);
  }
  HRESULT CurrentProtection() override {
    return owner_->Frame(calibration::CurrentProtection, {}, NotImplemented);
  }
  HRESULT VoltageData(double Voltage) override {
    (void)Voltage;
    return owner_->Frame(calibration::VoltageData, {}, NotImplemented);
  }
  HRESULT VoltageLevel(VelmoraK40xxCalibrationLevelEnum Level) override {
    (void)Level;
    return owner_->Frame(calibration::VoltageLevel, {}, NotImplemented);
  }
  HRESULT VoltageProtection() override {
    return owner_->Frame(calibration::VoltageProtection, {}, NotImplemented);
  }
};

}  // namespace

struct VelmoraK40xxCalibration::Facets {
  explicit Facets(VelmoraK40xxCalibration* owner) : calibration(owner), errorInfo(owner, kErrorInfoInterfaces) {}

  static constexpr const IID* kErrorInfoInterfaces[] = {&IID_IVelmoraK40xxCalibration};

  CalibrationFacet calibration;
  ErrorInfoSupport errorInfo;
};

VelmoraK40xxCalibration::VelmoraK40xxCalibration(VelmoraK40xx* root, std::string physicalName, int32_t index)
    : CRepCap("VelmoraK40xxCalibration", "VelmoraK40xxCalibration", root, std::move(physicalName), index),
      facets_(std::make_unique<Facets>(this)) {}

VelmoraK40xxCalibration::~VelmoraK40xxCalibration() = default;

std::span<const CComObject::InterfaceEntry> VelmoraK40xxCalibration::Interfaces() {
  static const InterfaceEntry kTable[] = {
      {&IID_IVelmoraK40xxCalibration, [](CComObject* o) -> IUnknown* { return &static_cast<VelmoraK40xxCalibration*>(o)->facets_->calibration; }},
      {&IID_ISupportErrorInfo, [](CComObject* o) -> IUnknown* { return &static_cast<VelmoraK40xxCalibration*>(o)->facets_->errorInfo; }},
  };
  return kTable;
}

CRepCap* NewVelmoraK40xxCalibration(VelmoraK40xx* root, std::string physicalName, int32_t index) {
  return new VelmoraK40xxCalibration(root, std::move(physicalName), index);
}

}  // namespace vmk
