#include "dcpwr/calibrations.h"

#include "vmk40xx/errors.h"

namespace vmk {

namespace {

namespace calibrations {
constexpr InterfaceInfo kItf{&IID_IVelmoraK40xxCalibrations, "IVelmoraK40xxCalibrations", true};
constexpr Member DACError = kItf.Method("DACError");
constexpr Member SetState = kItf.Method("SetState");
constexpr Member get_Count = kItf.Get("get_Count");
constexpr Member get_Item = kItf.Get("get_Item");
constexpr Member get_Name = kItf.Get("get_Name");
constexpr Member get_Enabled = kItf.Get("get_Enabled");
constexpr Member put_Password = kItf.Put("put_Password");
constexpr Member get_String = kItf.Get("get_String");
constexpr Member put_String = kItf.Put("put_String");
constexpr Member get_Times = kItf.Get("get_Times");
}  // namespace calibrations

}  // namespace

HRESULT CalibrationsFacet::DACError() {
  return owner_->Frame(calibrations::DACError, {}, NotImplemented);
}

HRESULT CalibrationsFacet::SetState(VARIANT_BOOL Enabled, BSTR Password) {
  (void)Enabled;
  (void)Password;
  return owner_->Frame(calibrations::SetState, {}, NotImplemented);
}

HRESULT CalibrationsFacet::get_Count(LONG* val) {
  return owner_->Frame(calibrations::get_Count, {val},
                       [&] { return owner_->RepCapCount("VelmoraK40xxCalibration", val); });
}

HRESULT CalibrationsFacet::get_Item(BSTR Name, IVelmoraK40xxCalibration** val) {
  return owner_->Frame(calibrations::get_Item, {val}, [&] {
    return owner_->RepCapItem("VelmoraK40xxCalibration", Name, IID_IVelmoraK40xxCalibration,
                              reinterpret_cast<void**>(val));
  });
}

HRESULT CalibrationsFacet::get_Name(LONG Index, BSTR* val) {
  return owner_->Frame(calibrations::get_Name, {val},
                       [&] { return owner_->RepCapName("VelmoraK40xxCalibration", Index, val); });
}

HRESULT CalibrationsFacet::get_Enabled(VARIANT_BOOL* val) {
  return owner_->Frame(calibrations::get_Enabled, {val}, NotImplemented);
}

HRESULT CalibrationsFacet::put_Password(BSTR val) {
  (void)val;
  return owner_->Frame(calibrations::put_Password, {}, NotImplemented);
}

HRESULT CalibrationsFacet::get_String(BSTR* val) {
  return owner_->Frame(calibrations::get_String, {val}, NotImplemented);
}

HRESULT CalibrationsFacet::put_String(BSTR val) {
  (void)val;
  return owner_->Frame(calibrations::put_String, {}, NotImplemented);
}

HRESULT CalibrationsFacet::get_Times(LONG* val) {
  return owner_->Frame(calibrations::get_Times, {val}, NotImplemented);
}

}  // namespace vmk
