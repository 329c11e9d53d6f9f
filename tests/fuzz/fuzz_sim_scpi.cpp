// The emulator's SCPI parser and command set: any line is lexed unit by unit and executed by a
// whole instrument; the instrument answers or queues an error, and stays usable.
#include <cstdlib>
#include <string>

#include "instrument.hpp"
#include "scpi.hpp"

namespace scpi = vmk40xx::sim::scpi;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view in(reinterpret_cast<const char*>(data), size);
  size_t pos = 0;
  std::string_view unit;
  size_t units = 0;
  while (scpi::next_unit(in, pos, unit)) {
    scpi::Unit lexed;
    const int error = scpi::lex_unit(unit, lexed);
    if (error > 0 || lexed.mnemonic_count > scpi::kMaxMnemonics ||
        lexed.param_count > scpi::kMaxParams)
      std::abort();
    if (++units > size + 1) std::abort();  // the splitter must advance
  }

  vmk40xx::sim::Instrument instrument;
  instrument.set_clock([] { return std::int64_t{0}; });
  size_t start = 0;
  while (start <= in.size()) {
    size_t end = in.find('\n', start);
    if (end == std::string_view::npos) end = in.size();
    std::string reply;
    instrument.execute(in.substr(start, end - start), reply);
    start = end + 1;
  }
  // Whatever came before, the instrument still identifies itself.
  std::string idn;
  if (!instrument.execute("*IDN?", idn) || idn.find("K4") == std::string::npos) std::abort();
  return 0;
}
