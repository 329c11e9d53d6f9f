#include "rpc.hpp"

#include <arpa/inet.h>

#include <cstring>

namespace vmk40xx::sim::rpc {
namespace {

std::uint32_t word(const char* p) {
  std::uint32_t be;
  std::memcpy(&be, p, 4);
  return ntohl(be);
}

void put(std::string& out, std::uint32_t v) {
  const std::uint32_t be = htonl(v);
  out.append(reinterpret_cast<const char*>(&be), 4);
}

constexpr std::uint32_t kLastFragment = 0x80000000u;

}  // namespace

bool take_record(std::string& stream, std::string& record, std::size_t max_size, bool& too_big) {
  too_big = false;
  // Walk the fragments without copying until the last one is complete.
  std::size_t at = 0, total = 0;
  for (;;) {
    if (stream.size() < at + 4) return false;
    const std::uint32_t mark = word(stream.data() + at);
    const std::size_t length = mark & ~kLastFragment;
    total += length;
    if (total > max_size) {
      too_big = true;
      return false;
    }
    if (stream.size() < at + 4 + length) return false;
    at += 4 + length;
    if (mark & kLastFragment) break;
  }
  record.clear();
  for (std::size_t p = 0; p < at;) {
    const std::size_t length = word(stream.data() + p) & ~kLastFragment;
    record.append(stream, p + 4, length);
    p += 4 + length;
  }
  stream.erase(0, at);
  return true;
}

bool parse_call(std::string_view record, Call& call) {
  // xid, CALL 0, RPC version 2, program, version, procedure, credentials, verifier
  if (record.size() < 40) return false;
  const char* p = record.data();
  if (word(p + 4) != 0 || word(p + 8) != 2) return false;
  call.xid = word(p);
  call.program = word(p + 12);
  call.version = word(p + 16);
  call.procedure = word(p + 20);
  std::size_t at = 24;
  for (int auth = 0; auth < 2; ++auth) {  // credentials, then verifier: flavour, length, body
    if (record.size() < at + 8) return false;
    const std::uint32_t length = word(p + at + 4);
    if (length > 400) return false;
    at += 8 + ((length + 3) & ~3u);
  }
  if (record.size() < at) return false;
  call.args_offset = at;
  return true;
}

std::size_t begin_reply(std::string& out, std::uint32_t xid, Accept status) {
  const std::size_t start = out.size();
  put(out, 0);  // the record mark, filled in by mark_record
  put(out, xid);
  put(out, 1);  // REPLY
  put(out, 0);  // MSG_ACCEPTED
  put(out, 0);  // verifier AUTH_NONE, empty
  put(out, 0);
  put(out, static_cast<std::uint32_t>(status));
  if (status == Accept::ProgramMismatch) {  // the versions served: 1 to 1
    put(out, 1);
    put(out, 1);
  }
  return start;
}

void mark_record(std::string& out, std::size_t start) {
  const std::uint32_t length = static_cast<std::uint32_t>(out.size() - start - 4);
  const std::uint32_t be = htonl(kLastFragment | length);
  std::memcpy(out.data() + start, &be, 4);
}

}  // namespace vmk40xx::sim::rpc
