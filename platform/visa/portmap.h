// The portmapper's GETPORT question (ONC RPC program 100000, version 2) over UDP, asked of one
// host to open a VXI-11 link, or of broadcast addresses to find the instruments on a network.
// libtirpc's pmap_getport waits up to a minute for a silent host; this waits as long as it is told.
#pragma once

#include <netinet/in.h>

#include <cstdint>
#include <string>
#include <vector>

namespace vmk::visa {

inline constexpr uint32_t kVxi11CoreProgram = 0x0607AF;
inline constexpr uint32_t kVxi11CoreVersion = 1;

struct PortmapAnswer {
  in_addr from{};
  uint16_t port = 0;  // 0: the portmapper knows no such program
};

// The call as it goes on the wire: GETPORT(program, version, TCP).
std::string EncodeGetPort(uint32_t xid, uint32_t program, uint32_t version);
// The port from a reply to `xid`; false for anything else (another xid, a refusal, garbage).
bool DecodeGetPortReply(const uint8_t* data, size_t size, uint32_t xid, uint16_t* port);

// Asks one host; false with the reason in `why` (refused, no answer within `timeoutMs`).
bool PortmapGetPort(const in_addr& host, uint32_t program, uint32_t version, int32_t timeoutMs,
                    uint16_t* port, std::string* why);

// Sends the question to every address (broadcast or not) and collects every answer with a port
// within `timeoutMs`, one per answering host.
std::vector<PortmapAnswer> PortmapSurvey(const std::vector<in_addr>& targets, uint32_t program,
                                         uint32_t version, int32_t timeoutMs);

}  // namespace vmk::visa
