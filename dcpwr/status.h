// The instrument's SCPI status system on the driver root: the status byte, the standard event
// register, the questionable register and the multi-output instrument summaries.
#pragma once

#include "dcpwr/velmora_k40xx.h"
#include "platform/com/com_object.h"
#include "vmk40xx/vmk40xx.h"

namespace vmk {

class StatusFacet final : public Facet<IVelmoraK40xxStatus, VelmoraK40xx> {
 public:
  using Facet::Facet;
  HRESULT QueryRegister(VelmoraK40xxStatusRegisterEnum Register,
                        VelmoraK40xxStatusSubRegisterEnum SubRegister, LONG* val) override;
  HRESULT ConfigureRegister(VelmoraK40xxStatusRegisterEnum Register,
                            VelmoraK40xxStatusSubRegisterEnum SubRegister, LONG Data) override;
  HRESULT Clear() override;
  HRESULT get_Register(VelmoraK40xxStatusRegisterEnum Register,
                       VelmoraK40xxStatusSubRegisterEnum SubRegister, LONG* val) override;
  HRESULT put_Register(VelmoraK40xxStatusRegisterEnum Register,
                       VelmoraK40xxStatusSubRegisterEnum SubRegister, LONG val) override;
  HRESULT get_SerialPoll(LONG* val) override;
};

}  // namespace vmk
