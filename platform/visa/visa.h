// Entry points of the VISA layer: the objects VISA-COM would create by class id, and discovery.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "vmk40xx/visacom.h"

namespace vmk::visa {

// The global resource manager. Its Open accepts
//   TCPIP[board]::host::port::SOCKET, TCPIP[board]::host[::device]::INSTR (VXI-11),
//   ASRL<n>[::INSTR], ASRL/dev/<device>[::INSTR], USB[board]::vid::pid::serial[::intf]::INSTR
//   (usbtmc), GPIB[board]::primary[::secondary]::INSTR (linux-gpib), and those of the transports
//   a program registers (RegisterTransport in transport.h),
// and answers VXI and GPIB-VXI resources with E_VISA_NSUP_OPER ("not available").
HRESULT CreateResourceManager(IResourceManager** ppManager);

// A formatted-I/O object; bind it to a session of this layer with putref_IO.
HRESULT CreateFormattedIO488(IFormattedIO488** ppFormattedIO);

// One instrument found by FindResources.
struct FoundResource {
  std::string resource;     // what Open takes: "TCPIP0::192.168.1.20::inst0::INSTR"
  std::string idn;          // its reply to "*IDN?", where it was cheap to ask; else empty
  std::string description;  // what else is known: a USB adapter's identifiers, say
};

struct DiscoveryOptions {
  // Where the VXI-11 question goes: the broadcast address of every network this machine is on,
  // and loopback, unless VMK40XX_VXI11_BROADCAST lists addresses (comma-separated) or this does.
  std::vector<std::string> vxi11Targets;
  // Serial devices to look at besides those sysfs lists (a pseudo-terminal, say), and
  // VMK40XX_ASRL_DEVICES (colon-separated). Only these are asked "*IDN?": an unknown serial
  // line may be anything.
  std::vector<std::string> serialDevices;
  int32_t waitMs = 500;      // for the answers to the VXI-11 broadcast
  int32_t identifyMs = 500;  // for each "*IDN?"
  bool identify = true;
};

// Matches a VISA resource expression ("?*", "TCPIP?*::INSTR", "ASRL[0-9]*::?*INSTR", "a|b"),
// without regard to case. E_VISA_INV_EXPR with the reason for an expression that is not one.
HRESULT MatchResourceExpression(std::string_view expression, std::string_view resource,
                                bool* matches, std::string* why);

// The instruments whose resource strings match `expression`, in the order serial ports, USB,
// VXI-11. E_VISA_RSRC_NFOUND when none does; E_VISA_INV_EXPR for a bad expression.
HRESULT FindResources(std::string_view expression, const DiscoveryOptions& options,
                      std::vector<FoundResource>* found, std::string* why);

}  // namespace vmk::visa
