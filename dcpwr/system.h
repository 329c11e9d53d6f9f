// Instrument-wide housekeeping on the driver root: instrument states and their names, local and
// remote control, the beep, waiting for pending operations, the I/O time-out, the trace switch,
// the model, and the formatted-I/O object for direct I/O.
#pragma once

#include <string_view>

#include "dcpwr/velmora_k40xx.h"
#include "platform/com/com_object.h"
#include "vmk40xx/visacom.h"
#include "vmk40xx/vmk40xx.h"

namespace vmk {

class SystemFacet final : public Facet<IVelmoraK40xxSystem, VelmoraK40xx> {
 public:
  using Facet::Facet;
  HRESULT WaitForOperationComplete(LONG MaxTimeMilliseconds) override;
  HRESULT SaveState(BSTR Identifier) override;
  HRESULT RecallState(BSTR Identifier) override;
  HRESULT EnableLocalControls() override;
  HRESULT DisableLocalControls() override;
  HRESULT Beep() override;
  HRESULT get_AsyncEventsEnabled(VARIANT_BOOL* val) override;
  HRESULT put_AsyncEventsEnabled(VARIANT_BOOL val) override;
  HRESULT get_IO(IFormattedIO488** val) override;
  HRESULT get_MemoryName(LONG Index, BSTR* val) override;
  HRESULT put_MemoryName(LONG Index, BSTR val) override;
  HRESULT get_Model(VelmoraK40xxModelEnum* val) override;
  HRESULT put_Model(VelmoraK40xxModelEnum val) override;
  HRESULT get_TimeoutMilliseconds(LONG* val) override;
  HRESULT put_TimeoutMilliseconds(LONG val) override;
  HRESULT get_TraceEnabled(VARIANT_BOOL* val) override;
  HRESULT put_TraceEnabled(VARIANT_BOOL val) override;

 private:
  HRESULT SendState(const Member& m, BSTR identifier);
  HRESULT LocalControls(bool enable);
};

// Front-panel control over a bus session: back to local with the remote line asserted again, or
// local lockout. `session` null means no connection; a session without a GPIB interface cannot
// do either. `message`, when there is one, addresses the instrument after a lockout. Failures are
// reported through `errors` naming `member`.
HRESULT SetLocalControlsOverBus(CErrorManager& errors, IVisaSession* session, IMessage* message,
                                bool enable, std::string_view member);

}  // namespace vmk
