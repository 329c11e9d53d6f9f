// The trace file reader: a session appends to whatever file it finds under the trace's name.
// Any content is either refused and left as it was, or taken, appended to and saved as a file
// that a later session takes again.
#include <cerrno>
#include <cstdlib>
#include <string>

#include "services/tracer.h"

namespace {

// One file in memory, whatever its path.
class MemoryFile final : public vmk::TraceFiles {
 public:
  explicit MemoryFile(std::string bytes) : bytes_(std::move(bytes)) {}
  int Read(const std::string&, std::string* bytes) override {
    *bytes = bytes_;
    return 0;
  }
  int Write(const std::string&, std::string_view bytes) override {
    bytes_.assign(bytes);
    ++writes_;
    return 0;
  }
  const std::string& Bytes() const { return bytes_; }
  int Writes() const { return writes_; }

 private:
  std::string bytes_;
  int writes_ = 0;
};

vmk::TraceEnvironment Environment(MemoryFile* file) {
  vmk::TraceEnvironment env;
  env.now = [] { return int64_t{1'700'000'000'000}; };
  env.directory = "/nonexistent/vmk40xx-fuzz";
  env.iviRootDir = [] { return std::string(); };
  env.files = file;
  return env;
}

enum class Outcome { Refused, Saved, NotSaved };

// Starts a trace on `file`, records one call and saves.
Outcome Session(MemoryFile* file) {
  vmk::CTraceOwner tracer(Environment(file));
  tracer.SetTraceName("fuzz.xml");
  if (FAILED(tracer.SetTraceEnabled(true))) std::abort();
  if (FAILED(tracer.StartTrace("VelmoraK40xx", nullptr))) return Outcome::Refused;
  vmk::TraceParam param{"val", vmk::ParamDirection::In, {}};
  param.value.vt = VT_R8;
  param.value.dblVal = 5.0;
  const vmk::TraceCall call{"VelmoraK40xxOutput", "IVelmoraK40xxOutput", "put_VoltageLevel"};
  void* token = tracer.EnterMethod(call, {&param, 1});
  tracer.LeaveMethod(token, {&param, 1}, S_OK);
  // A file beyond the size limit is not saved: the trace stops instead.
  const HRESULT saved = tracer.SaveTrace(nullptr);
  tracer.SetTraceEnabled(false);
  return SUCCEEDED(saved) ? Outcome::Saved : Outcome::NotSaved;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string in(reinterpret_cast<const char*>(data), size);
  MemoryFile file(in);
  switch (Session(&file)) {
    case Outcome::Refused:
      // A refused file is left exactly as it was.
      if (file.Writes() != 0 || file.Bytes() != in) std::abort();
      return 0;
    case Outcome::Saved:
      // What the driver wrote, the driver reads.
      if (Session(&file) == Outcome::Refused) std::abort();
      return 0;
    default:
      return 0;
  }
}
