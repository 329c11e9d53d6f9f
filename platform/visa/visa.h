// Entry points of the VISA layer: the objects VISA-COM would create by class id.
#pragma once

#include "vmk40xx/visacom.h"

namespace vmk::visa {

// The global resource manager. Its Open accepts
//   TCPIP[board]::host::port::SOCKET, ASRL<n>[::INSTR], ASRL/dev/<device>[::INSTR],
//   SCRIPT::<name>::INSTR (tests),
// and answers TCPIP::host[::device]::INSTR, USB...::INSTR, GPIB...::INSTR and VXI resources with
// E_VISA_NSUP_OPER ("not available").
HRESULT CreateResourceManager(IResourceManager** ppManager);

// A formatted-I/O object; bind it to a session of this layer with putref_IO.
HRESULT CreateFormattedIO488(IFormattedIO488** ppFormattedIO);

}  // namespace vmk::visa
