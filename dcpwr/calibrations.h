// The instrument-wide calibration interface of the driver root: the calibration instances and
// the security, count and text of the instrument's calibration.
#pragma once

#include "dcpwr/velmora_k40xx.h"
#include "driver/com_object.h"
#include "vmk40xx/vmk40xx.h"

namespace vmk {

class CalibrationsFacet final : public Facet<IVelmoraK40xxCalibrations, VelmoraK40xx> {
 public:
  using Facet::Facet;
  HRESULT DACError() override;
  HRESULT SetState(VARIANT_BOOL Enabled, BSTR Password) override;
  HRESULT get_Count(LONG* val) override;
  HRESULT get_Item(BSTR Name, IVelmoraK40xxCalibration** val) override;
  HRESULT get_Name(LONG Index, BSTR* val) override;
  HRESULT get_Enabled(VARIANT_BOOL* val) override;
  HRESULT put_Password(BSTR val) override;
  HRESULT get_String(BSTR* val) override;
  HRESULT put_String(BSTR val) override;
  HRESULT get_Times(LONG* val) override;
};

}  // namespace vmk
