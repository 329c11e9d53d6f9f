// The calibration steps of one output.
#include <memory>
#include <string_view>

#include "dcpwr/calibrations.h"
#include "dcpwr/channel.h"
#include "dcpwr/instances.h"
#include "dcpwr/velmora_k40xx.h"
#include "driver/rep_cap.h"
#include "io/driver_io_manager.h"
#include "vmk40xx/errors.h"
#include "vmk40xx/vmk40xx.h"

namespace vmk {

namespace {

class VelmoraK40xxCalibration final : public CChannel {
 public:
  VelmoraK40xxCalibration(VelmoraK40xx* root, std::string physicalName, int32_t index);
  ~VelmoraK40xxCalibration() override;

 private:
  struct Facets;
  std::span<const InterfaceEntry> Interfaces() override;
  std::unique_ptr<Facets> facets_;
};

namespace calibration {
constexpr Interface kItf{&IID_IVelmoraK40xxCalibration, "IVelmoraK40xxCalibration",
                         kPowerSupply};
constexpr Member CurrentData =
    kItf.Method("CurrentData", {In("Current", Double)}, {.command = "CAL:CURR %.15g"});
constexpr Member CurrentLevel = kItf.Method(
    "CurrentLevel", {In("Level", Enum, &EnumKeyword<KeywordEnum::CalibrationLevel>)},
    {.command = "CAL:CURR:LEV %s"});
constexpr Member CurrentProtection =
    kItf.Method("CurrentProtection", {}, {.command = "CAL:CURR:PROT", .models = kOcpModels});
constexpr Member VoltageData =
    kItf.Method("VoltageData", {In("Voltage", Double)}, {.command = "CAL:VOLT %.15g"});
constexpr Member VoltageLevel = kItf.Method(
    "VoltageLevel", {In("Level", Enum, &EnumKeyword<KeywordEnum::CalibrationLevel>)},
    {.command = "CAL:VOLT:LEV %s"});
constexpr Member VoltageProtection =
    kItf.Method("VoltageProtection", {}, {.command = "CAL:VOLT:PROT", .models = kOvpModels});

// The protection circuits calibrate themselves before the instrument answers again.
constexpr int32_t kProtectionTimeoutMs = 15000;
}  // namespace calibration

class CalibrationFacet final : public Facet<IVelmoraK40xxCalibration, VelmoraK40xxCalibration> {
 public:
  using Facet::Facet;
  HRESULT CurrentData(double Current) override {
    return owner_->Act(calibration::CurrentData, With(Current), NoCheck,
                       [&] { return owner_->SelectThenSend(); });
  }
  HRESULT CurrentLevel(VelmoraK40xxCalibrationLevelEnum Level) override {
    return ToLevel(calibration::CurrentLevel, Level);
  }
  HRESULT CurrentProtection() override {
    return CalibrateProtection(calibration::CurrentProtection);
  }
  HRESULT VoltageData(double Voltage) override {
    return owner_->Act(calibration::VoltageData, With(Voltage), NoCheck,
                       [&] { return owner_->SelectThenSend(); });
  }
  HRESULT VoltageLevel(VelmoraK40xxCalibrationLevelEnum Level) override {
    return ToLevel(calibration::VoltageLevel, Level);
  }
  HRESULT VoltageProtection() override {
    return CalibrateProtection(calibration::VoltageProtection);
  }

 private:
  // A calibration point is measured with the output's protection off, so that the level it
  // drives cannot trip it. A simulated program makes the same mistakes, so the level is checked
  // there as well.
  HRESULT ToLevel(const Member& m, VelmoraK40xxCalibrationLevelEnum level) {
    return owner_->Act(
        m, With(level),
        [&] {
          return CheckEnumAndModelValue(*owner_, m, level, VelmoraK40xxCalibrationLevelMin,
                                        VelmoraK40xxCalibrationLevelMax, kCalibrationLevelValues,
                                        "Level");
        },
        [&] {
          owner_->Select();
          CDriverIOManager& io = owner_->IO();
          // A point taken with the protection still on would be worthless, so a refused
          // switch-off is the member's result rather than the level command's success.
          if (owner_->IsModelIn(kOcpModels))
            if (HRESULT hr = io.InstrPrintf("CURR:PROT:STAT 0"); FAILED(hr)) return hr;
          if (owner_->IsModelIn(kOvpModels))
            if (HRESULT hr = io.InstrPrintf("VOLT:PROT:STAT 0"); FAILED(hr)) return hr;
          return io.InstrPrintCommand();
        });
  }
  HRESULT CalibrateProtection(const Member& m) {
    return owner_->Act(m, With(), NoCheck, [&] {
      owner_->Select();
      return WithMinimumTimeout(*owner_, calibration::kProtectionTimeoutMs,
                                [&] { return owner_->IO().InstrPrintCommand(); });
    });
  }
};

}  // namespace

struct VelmoraK40xxCalibration::Facets {
  explicit Facets(VelmoraK40xxCalibration* owner)
      : calibration(owner), errorInfo(owner, kErrorInfoInterfaces) {}

  static constexpr const IID* kErrorInfoInterfaces[] = {&IID_IVelmoraK40xxCalibration};

  CalibrationFacet calibration;
  ErrorInfoSupport errorInfo;
};

VelmoraK40xxCalibration::VelmoraK40xxCalibration(VelmoraK40xx* root, std::string physicalName,
                                                 int32_t index)
    : CChannel("VelmoraK40xxCalibration", "VelmoraK40xxCalibration", root, std::move(physicalName),
               index),
      facets_(std::make_unique<Facets>(this)) {}

VelmoraK40xxCalibration::~VelmoraK40xxCalibration() = default;

std::span<const CComObject::InterfaceEntry> VelmoraK40xxCalibration::Interfaces() {
  static const InterfaceEntry kTable[] = {
      {&IID_IVelmoraK40xxCalibration,
       [](CComObject* o) -> IUnknown* {
         return &static_cast<VelmoraK40xxCalibration*>(o)->facets_->calibration;
       }},
      {&IID_ISupportErrorInfo,
       [](CComObject* o) -> IUnknown* {
         return &static_cast<VelmoraK40xxCalibration*>(o)->facets_->errorInfo;
       }},
  };
  return kTable;
}

CRepCap* NewVelmoraK40xxCalibration(VelmoraK40xx* root, std::string physicalName, int32_t index) {
  return new VelmoraK40xxCalibration(root, std::move(physicalName), index);
}

}  // namespace vmk
