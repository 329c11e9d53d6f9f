// ONC RPC as the emulator's VXI-11 server needs it: record marking on a TCP stream, the call
// header, and replies. The procedures' own arguments and results go through the XDR routines
// rpcgen makes from the protocol definition.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace vmk40xx::sim::rpc {

// Takes one whole record (all its fragments) off the front of `stream`. False while it is
// incomplete; `too_big` when it announces more than `max_size` bytes.
bool take_record(std::string& stream, std::string& record, std::size_t max_size, bool& too_big);

struct Call {
  std::uint32_t xid = 0;
  std::uint32_t program = 0, version = 0, procedure = 0;
  std::size_t args_offset = 0;  // where the procedure's arguments start in the record
};

// False for anything that is not a version-2 call.
bool parse_call(std::string_view record, Call& call);

enum class Accept : std::uint32_t {
  Success = 0,
  ProgramUnavailable = 1,
  ProgramMismatch = 2,
  ProcedureUnavailable = 3,
  GarbageArguments = 4,
};

// Appends a record mark to fill in later and the accepted-reply header; a successful reply's
// results follow it. Returns where the record starts.
std::size_t begin_reply(std::string& out, std::uint32_t xid, Accept status);
// Fills in the record mark of the reply that starts at `start` and runs to the end of `out`.
void mark_record(std::string& out, std::size_t start);

}  // namespace vmk40xx::sim::rpc
