// The session's call trace: every call on the driver with its parameters, times and thread, and
// the instrument commands nested inside the call that sent them. The trace is an XML document
// kept in memory and written to the trace file when the save interval has passed and when the
// session ends, never once per call.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "services/errors.h"
#include "services/trace_sink.h"
#include "vmk40xx/com.h"

namespace pugi {
class xml_document;
struct xml_node_struct;
}  // namespace pugi

namespace vmk {

// The tracer's state: 1 is also "not started yet"; 2, reached when a save finds the file above
// the size limit, is final for the life of the tracer.
enum TraceState : int32_t { kTraceRunning = 0, kTracePaused = 1, kTraceStopped = 2 };

// Reading and writing the trace file, behind an interface so that tests can count the writes.
class TraceFiles {
 public:
  virtual ~TraceFiles() = default;
  // The whole file; 0, or the errno of the failure (ENOENT when there is no such file).
  virtual int Read(const std::string& path, std::string* bytes) = 0;
  // Replaces the file's contents as one step: a crash leaves the old file or the new one, never
  // half of either. 0, or the errno of the failure.
  virtual int Write(const std::string& path, std::string_view bytes) = 0;
};

// The files themselves.
TraceFiles& RealTraceFiles();

// What the tracer reads of the world around it.
struct TraceEnvironment {
  // Wall-clock milliseconds since 1970 (UTC); times in the trace are shown in local time.
  std::function<int64_t()> now;
  // Where bare and relative trace names are placed; empty: the process's current directory at
  // the start of the trace.
  std::string directory;
  // "IviStandardRootDir" of the IVI installation; empty when none is set, and the library's own
  // data directory is taken instead.
  std::function<std::string()> iviRootDir;
  TraceFiles* files = nullptr;
};

// The system clock, the current directory, the registry's "IviStandardRootDir", the real files.
TraceEnvironment DefaultTraceEnvironment();

// The "Value" text of a value that is not an array, by its VARIANT type, appended to `out`; a
// by-reference value is read through its pointer.
void AppendTraceValue(const VARIANT& value, std::string* out);
// UTF-8 text as an XML document can hold it: characters XML cannot represent become U+FFFD.
void AppendXmlText(std::string_view utf8, std::string* out);

// What every node of a session reaches through its root.
class CTracer : public MethodTraceSink {
 public:
  virtual int32_t State() const = 0;
  virtual void SetState(int32_t state) = 0;
  virtual bool IsRunning() const = 0;
  // True while a trace document exists.
  virtual bool Enabled() const = 0;
  // On: creates the document. Off: saves what is not saved yet, pauses and drops the document.
  virtual HRESULT SetTraceEnabled(bool on) = 0;
  virtual int32_t SizeMax() const = 0;
  virtual void SetSizeMax(int32_t bytes) = 0;
  virtual bool TraceArray() const = 0;
  virtual void SetTraceArray(bool on) = 0;
  virtual int32_t ArraySizeMax() const = 0;
  virtual void SetArraySizeMax(int32_t elements) = 0;
  virtual int32_t SaveInterval() const = 0;
  virtual void SetSaveInterval(int32_t minutes) = 0;

 protected:
  ~CTracer() = default;
};

class CTraceOwner final : public CTracer {
 public:
  explicit CTraceOwner(TraceEnvironment env = DefaultTraceEnvironment());
  // Records not yet saved of an enabled trace are saved, so that a client that never calls
  // Close loses nothing.
  ~CTraceOwner();
  CTraceOwner(const CTraceOwner&) = delete;
  CTraceOwner& operator=(const CTraceOwner&) = delete;

  int32_t State() const override { return state_; }
  void SetState(int32_t state) override { state_ = state; }
  bool IsRunning() const override { return state_ == kTraceRunning; }
  bool Enabled() const override { return enabled_; }
  HRESULT SetTraceEnabled(bool on) override;
  int32_t SizeMax() const override { return sizeMax_; }
  void SetSizeMax(int32_t bytes) override { sizeMax_ = bytes; }
  bool TraceArray() const override { return traceArray_; }
  void SetTraceArray(bool on) override { traceArray_ = on; }
  int32_t ArraySizeMax() const override { return arraySizeMax_; }
  void SetArraySizeMax(int32_t elements) override { arraySizeMax_ = elements; }
  int32_t SaveInterval() const override { return saveInterval_; }
  void SetSaveInterval(int32_t minutes) override { saveInterval_ = minutes; }

  // Replaces the clock, the directory, the registry value and the files the tracer uses; for
  // tests, before the trace is enabled.
  void SetEnvironment(TraceEnvironment env);

  // The trace name ("TraceName") and the style sheet's name or path ("TraceTransform").
  void SetTraceName(std::string name) { traceName_ = std::move(name); }
  const std::string& TraceName() const { return traceName_; }
  void SetTransform(std::string transform) { transform_ = std::move(transform); }
  // After a start: the style sheet's resolved path, whether or not such a file exists.
  const std::string& Transform() const { return transform_; }
  // The file being written; empty until a start succeeded.
  const std::string& FilePath() const { return filePath_; }

  // Chooses the file, opens the document (appending under the root of an existing file) and
  // runs. `errors`, when given, receives the report of a failure. A file that exists but is not
  // well-formed XML fails the start and is left as it was.
  HRESULT StartTrace(std::string_view driverId, CErrorManager* errors);
  // Writes the whole document to the file; stops the trace for good when the file has grown
  // beyond the size limit.
  HRESULT SaveTrace(CErrorManager* errors);
  // The `TraceEnabled` switch: true creates and starts a trace that does not exist yet, or
  // resumes a paused one; false pauses. A stopped trace stays stopped.
  HRESULT SwitchTrace(bool on, std::string_view driverId, CErrorManager* errors);
  // The end of a session (Close, or an Initialize that failed after the start): saves an enabled
  // trace and pauses it, so that the next session starts its own.
  HRESULT EndSession(CErrorManager* errors);

  // MethodTraceSink: the frame's and the I/O manager's records.
  bool Running() const override { return state_ == kTraceRunning; }
  void* EnterMethod(const TraceCall& call, std::span<const TraceParam> params) override;
  void LeaveMethod(void* token, std::span<const TraceParam> params, HRESULT result) override;

 private:
  struct OpenRecord {
    pugi::xml_node_struct* method;
    pugi::xml_node_struct* parent;
    int64_t start;
  };

  std::string ChooseFile(std::string_view driverId, int64_t now) const;
  std::string ResolveStyleSheet() const;
  std::string BaseDirectory() const;
  HRESULT OpenDocument(const std::string& path, CErrorManager* errors);
  // The timed save after each record, and the save that finds the size limit.
  void AfterCall(int64_t now);
  void DropDocument();
  void AppendParameter(pugi::xml_node_struct* method, const TraceParam& param, int64_t depth);
  void Attribute(pugi::xml_node_struct* node, const char* name, std::string_view value);
  const std::string& ClockText(int64_t ms);
  HRESULT Fail(CErrorManager* errors, Msg message, const std::string& text) const;

  TraceEnvironment env_;
  int32_t state_ = kTracePaused;
  bool enabled_ = false;
  int32_t sizeMax_ = 1000000;
  bool traceArray_ = false;
  int32_t arraySizeMax_ = 10;
  int32_t saveInterval_ = 1;
  std::unique_ptr<pugi::xml_document> document_;
  int encoding_ = 0;  // the encoding an appended file was read in, written back in the same
  std::string traceName_;
  std::string filePath_;
  std::string transform_;
  int64_t startTime_ = 0;
  int64_t lastSave_ = 0;
  pugi::xml_node_struct* currentParent_ = nullptr;
  std::vector<OpenRecord> open_;
  // Tokens carry the document's generation, so that a record opened in a dropped document is
  // never closed in its successor.
  uint32_t generation_ = 0;
  // The bytes of the last save, and a lower bound of what the records since then add to them:
  // the size limit is checked when they reach it, not only at the next timed save.
  int64_t savedBytes_ = 0;
  int64_t pendingBytes_ = 0;
  bool saveWhenIdle_ = false;
  // One local "%H:%M:%S" text per second of wall-clock time.
  int64_t clockSecond_ = INT64_MIN;
  std::string clockText_;
  std::string scratch_;
};

}  // namespace vmk
