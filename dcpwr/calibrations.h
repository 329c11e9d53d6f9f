// The instrument-wide calibration interface of the driver root: the calibration instances and
// the security, count and text of the instrument's calibration; and what the per-output
// calibration steps share with it.
#pragma once

#include <cstdint>
#include <functional>
#include <string_view>

#include "dcpwr/velmora_k40xx.h"
#include "platform/com/com_object.h"
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

// The instrument runs some calibration steps for many seconds before it answers the status poll
// that follows them: `send` runs with the session's I/O time-out raised to at least `minimumMs`,
// and the time-out the session had is put back whatever `send` returns.
HRESULT WithMinimumTimeout(CNode& node, int32_t minimumMs, const std::function<HRESULT()>& send);

}  // namespace vmk
