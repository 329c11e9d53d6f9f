#include "services/tracer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <new>
#include <pugixml.hpp>
#include <system_error>

#include "platform/com/registry.h"
#include "resources/data_dirs.h"
#include "resources/messages.h"

namespace vmk {

namespace fs = std::filesystem;

namespace {

constexpr size_t kMaxParams = 25;
constexpr char kHex[] = "0123456789ABCDEF";

class RealFiles final : public TraceFiles {
 public:
  int Read(const std::string& path, std::string* bytes) override {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return errno;
    struct stat st {};
    if (fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
      const int err = S_ISDIR(st.st_mode) ? EISDIR : errno;
      close(fd);
      return err;
    }
    bytes->clear();
    char buf[65536];
    for (;;) {
      const ssize_t n = read(fd, buf, sizeof buf);
      if (n == 0) break;
      if (n < 0) {
        if (errno == EINTR) continue;
        const int err = errno;
        close(fd);
        return err;
      }
      bytes->append(buf, static_cast<size_t>(n));
    }
    close(fd);
    return 0;
  }

  // A new file beside the old one, flushed to disk, then renamed over it.
  int Write(const std::string& path, std::string_view bytes) override {
    std::string target = path;
    if (char* real = realpath(path.c_str(), nullptr)) {  // write through a symbolic link
      target = real;
      std::free(real);
    }
    static std::atomic<unsigned> counter{0};
    const std::string temp =
        target + ".~" + std::to_string(getpid()) + "." + std::to_string(counter++);
    const int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) return errno;
    struct stat st {};
    if (stat(target.c_str(), &st) == 0) fchmod(fd, st.st_mode & 07777);
    int err = 0;
    for (size_t done = 0; done < bytes.size() && !err;) {
      const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
      if (n < 0 && errno != EINTR) err = errno;
      if (n > 0) done += static_cast<size_t>(n);
    }
    if (!err && fsync(fd) != 0) err = errno;
    if (close(fd) != 0 && !err) err = errno;
    if (!err && rename(temp.c_str(), target.c_str()) != 0) err = errno;
    if (err) unlink(temp.c_str());
    return err;
  }
};

struct StringWriter final : pugi::xml_writer {
  std::string bytes;
  void write(const void* data, size_t size) override {
    bytes.append(static_cast<const char*>(data), size);
  }
};

// Lower bounds of what the saved file grows by: an attribute ` name="value"`, and an element's
// line, indented two blanks per level, "<name" and " />" or ">" with its end tag's line.
int64_t AttributeBytes(const char* name, size_t valueLength) {
  return static_cast<int64_t>(std::strlen(name) + valueLength + 4);
}
int64_t LineBytes(int64_t depth, const char* name) {
  return 2 * depth + static_cast<int64_t>(std::strlen(name)) + 5;
}

const char* DirectionText(ParamDirection d) {
  switch (d) {
    case ParamDirection::In:
      return "In";
    case ParamDirection::Out:
      return "Out";
    case ParamDirection::InOut:
      return "InOut";
  }
  return "In";
}

std::string LocalTime(int64_t ms, const char* format) {
  const time_t seconds = static_cast<time_t>(ms >= 0 ? ms / 1000 : (ms - 999) / 1000);
  struct tm local {};
  localtime_r(&seconds, &local);
  char buf[64];
  const size_t n = std::strftime(buf, sizeof buf, format, &local);
  return std::string(buf, n);
}

// The operating-system id of the calling thread, asked once per thread.
const std::string& ThreadIdText() {
  thread_local const std::string text = std::to_string(gettid());
  return text;
}

// "file://" and the path with every byte outside the unreserved set and '/' escaped, so that a
// directory with a blank or a non-ASCII letter still makes a URL a browser and xsltproc follow.
std::string FileUrl(const std::string& path) {
  std::string url = "file://";
  for (const char ch : path) {
    const auto c = static_cast<unsigned char>(ch);
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
        c == '.' || c == '_' || c == '~' || c == '/') {
      url.push_back(ch);
    } else {
      url.push_back('%');
      url.push_back(kHex[c >> 4]);
      url.push_back(kHex[c & 0xF]);
    }
  }
  return url;
}

// "0x8000FFFF": an HRESULT as people look it up.
std::string_view HexText(uint32_t value, char (&buf)[24]) {
  buf[0] = '0';
  buf[1] = 'x';
  for (int i = 0; i < 8; ++i) buf[2 + i] = kHex[(value >> (28 - 4 * i)) & 0xF];
  return std::string_view(buf, 10);
}

std::string ErrnoText(int err) {
  return std::error_code(err, std::generic_category()).message();
}

// "line 3, column 7" of a byte offset, for the report of a file that cannot be read as XML.
std::string Position(std::string_view bytes, ptrdiff_t offset) {
  const size_t end = std::min(bytes.size(), static_cast<size_t>(std::max<ptrdiff_t>(offset, 0)));
  size_t line = 1, column = 1;
  for (size_t i = 0; i < end; ++i) {
    if (bytes[i] == '\n') {
      ++line;
      column = 1;
    } else {
      ++column;
    }
  }
  return "line " + std::to_string(line) + ", column " + std::to_string(column);
}

// Why a parsed document cannot take records without losing something of the file: pugixml reads
// a few things that are not well-formed XML (text beside the root, several roots) and would drop
// or keep them silently.
const char* NotATraceDocument(const pugi::xml_document& doc) {
  int elements = 0;
  for (pugi::xml_node child : doc.children()) {
    switch (child.type()) {
      case pugi::node_element:
        ++elements;
        break;
      case pugi::node_pcdata:
      case pugi::node_cdata:
        return "it has text outside its root element";
      default:
        break;
    }
  }
  if (elements == 0) return "it has no root element";
  if (elements > 1) return "it has more than one root element";
  return nullptr;
}

}  // namespace

TraceFiles& RealTraceFiles() {
  static RealFiles files;
  return files;
}

TraceEnvironment DefaultTraceEnvironment() {
  TraceEnvironment env;
  env.now = [] {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
  };
  env.iviRootDir = [] {
    return com::ReadRegistryValue("HKEY_LOCAL_MACHINE\\SOFTWARE\\IVI", "IviStandardRootDir")
        .value_or(std::string());
  };
  env.files = &RealTraceFiles();
  return env;
}

CTraceOwner::CTraceOwner(TraceEnvironment env) { SetEnvironment(std::move(env)); }

void CTraceOwner::SetEnvironment(TraceEnvironment env) {
  env_ = std::move(env);
  if (!env_.files) env_.files = &RealTraceFiles();
  if (!env_.now) env_.now = DefaultTraceEnvironment().now;
}

CTraceOwner::~CTraceOwner() {
  if (enabled_ && pendingBytes_ > 0) SaveTrace(nullptr);
}

HRESULT CTraceOwner::Fail(CErrorManager* errors, Msg message, const std::string& text) const {
  if (errors) return errors->ReportErrorWithText(message, text);
  for (const MessageEntry& entry : MessageTable())
    if (entry.id == static_cast<int32_t>(message)) return entry.hr;
  return E_FAIL;
}

HRESULT CTraceOwner::SetTraceEnabled(bool on) {
  if (on) {
    if (enabled_) return S_OK;
    try {
      document_ = std::make_unique<pugi::xml_document>();
    } catch (const std::bad_alloc&) {
      return E_OUTOFMEMORY;
    }
    enabled_ = true;
    return S_OK;
  }
  if (!enabled_) return S_OK;
  // Records not written yet would be lost with the document.
  if (pendingBytes_ > 0) SaveTrace(nullptr);
  DropDocument();
  if (state_ == kTraceRunning || state_ == kTraceStopped) state_ = kTracePaused;
  return S_OK;
}

void CTraceOwner::DropDocument() {
  document_.reset();
  enabled_ = false;
  currentParent_ = nullptr;
  open_.clear();
  ++generation_;
  pendingBytes_ = 0;
  saveWhenIdle_ = false;
}

std::string CTraceOwner::BaseDirectory() const {
  if (!env_.directory.empty()) return env_.directory;
  std::error_code ec;
  fs::path cwd = fs::current_path(ec);
  return ec ? std::string(".") : cwd.string();
}

std::string CTraceOwner::ChooseFile(std::string_view driverId, int64_t now) const {
  const fs::path dir = BaseDirectory();
  if (traceName_.empty()) {
    std::string name(driverId);
    name.append("_").append(LocalTime(now, "%Y-%m-%d_%H-%M-%S")).append(".xml");
    return (dir / name).string();
  }
  fs::path named = traceName_;
  if (!named.has_extension()) named += ".xml";
  return (named.is_absolute() ? named : dir / named).string();
}

std::string CTraceOwner::ResolveStyleSheet() const {
  fs::path sheet = transform_.empty() ? std::string("trace.xslt") : transform_;
  if (sheet.has_parent_path())
    return (sheet.is_absolute() ? sheet : fs::path(BaseDirectory()) / sheet).string();
  if (!sheet.has_extension()) sheet += ".xslt";
  std::string root = env_.iviRootDir ? env_.iviRootDir() : std::string();
  if (root.empty()) root = DefaultIviRootDir();
  const fs::path components = fs::path(root) / "Components";
  fs::path dir = components / kCompanyName;
  std::error_code ec;
  if (!fs::is_directory(dir, ec)) dir = components / kToolkitVendorDir;
  return (dir / sheet).string();
}

HRESULT CTraceOwner::OpenDocument(const std::string& path, CErrorManager* errors) {
  std::unique_ptr<pugi::xml_document> doc;
  std::string bytes;
  try {
    doc = std::make_unique<pugi::xml_document>();
    const int err = env_.files->Read(path, &bytes);
    if (err == 0) {
      // Fragment parsing keeps text outside the root as nodes, so that it can be refused
      // instead of silently dropped from the file.
      const pugi::xml_parse_result parsed =
          doc->load_buffer(bytes.data(), bytes.size(), pugi::parse_full | pugi::parse_fragment);
      const char* why = parsed ? NotATraceDocument(*doc) : nullptr;
      if (!parsed || why) {
        std::string text = "The trace file " + path + " is not well-formed XML (";
        text += parsed ? std::string(why)
                       : Position(bytes, parsed.offset) + ": " + parsed.description();
        text += "). It was left as it is; move it away or choose another TraceName.";
        return Fail(errors, Msg::E_IVI_INVALID_FILE_FORMAT, text);
      }
      encoding_ = parsed.encoding;
      savedBytes_ = static_cast<int64_t>(bytes.size());
    } else if (err == ENOENT) {
      pugi::xml_node declaration = doc->append_child(pugi::node_declaration);
      declaration.append_attribute("version").set_value("1.0");
      std::error_code ec;
      if (fs::is_regular_file(transform_, ec)) {
        pugi::xml_node sheet = doc->append_child(pugi::node_pi);
        sheet.set_name("xml-stylesheet");
        sheet.set_value(("type=\"text/xsl\" href=\"" + FileUrl(transform_) + "\"").c_str());
      }
      doc->append_child("TraceRecords");
      encoding_ = pugi::encoding_utf8;
      StringWriter out;
      doc->save(out, "  ", pugi::format_default, pugi::encoding_utf8);
      if (const int werr = env_.files->Write(path, out.bytes))
        return Fail(errors, Msg::E_IVI_CANNOT_OPEN_FILE,
                    "The trace file " + path + " cannot be created: " + ErrnoText(werr) + ".");
      savedBytes_ = static_cast<int64_t>(out.bytes.size());
    } else {
      return Fail(errors, Msg::E_IVI_READING_FILE,
                  "The trace file " + path + " cannot be read: " + ErrnoText(err) + ".");
    }
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  document_ = std::move(doc);
  ++generation_;
  open_.clear();
  pendingBytes_ = 0;
  saveWhenIdle_ = false;
  currentParent_ = document_->document_element().internal_object();
  return S_OK;
}

HRESULT CTraceOwner::StartTrace(std::string_view driverId, CErrorManager* errors) {
  if (state_ == kTraceRunning) return E_UNEXPECTED;
  if (state_ == kTraceStopped) return S_OK;
  if (!enabled_) return E_UNEXPECTED;
  const int64_t now = env_.now();
  std::string path;
  try {
    path = ChooseFile(driverId, now);
    transform_ = ResolveStyleSheet();
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  if (const HRESULT hr = OpenDocument(path, errors); FAILED(hr)) return hr;
  filePath_ = std::move(path);
  startTime_ = now;
  lastSave_ = now;
  state_ = kTraceRunning;
  return S_OK;
}

HRESULT CTraceOwner::SaveTrace(CErrorManager* errors) {
  if (!enabled_ || !document_ || filePath_.empty()) return S_OK;
  lastSave_ = env_.now();  // a failing disk is tried again at the next interval, not per call
  StringWriter out;
  try {
    document_->save(out, "  ", pugi::format_default, static_cast<pugi::xml_encoding>(encoding_));
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  if (const int err = env_.files->Write(filePath_, out.bytes))
    return Fail(errors, Msg::E_IVI_WRITING_FILE,
                "The trace file " + filePath_ + " cannot be written: " + ErrnoText(err) + ".");
  savedBytes_ = static_cast<int64_t>(out.bytes.size());
  pendingBytes_ = 0;
  if (savedBytes_ > sizeMax_) state_ = kTraceStopped;
  return S_OK;
}

void CTraceOwner::AfterCall(int64_t now) {
  if (!enabled_ || pendingBytes_ == 0 || filePath_.empty()) return;
  if (now < lastSave_) lastSave_ = now;  // the clock was set back: the interval starts again
  const bool due = now - lastSave_ >= int64_t{saveInterval_} * 60000;
  const bool full = state_ == kTraceRunning && savedBytes_ + pendingBytes_ > sizeMax_;
  if (due || full) SaveTrace(nullptr);
}

HRESULT CTraceOwner::SwitchTrace(bool on, std::string_view driverId, CErrorManager* errors) {
  if (!on) {
    if (state_ == kTraceRunning) state_ = kTracePaused;
    return S_OK;
  }
  if (enabled_) {
    if (state_ != kTraceStopped) state_ = kTraceRunning;
    return S_OK;
  }
  if (const HRESULT hr = SetTraceEnabled(true); FAILED(hr)) return hr;
  const HRESULT hr = StartTrace(driverId, errors);
  if (FAILED(hr)) DropDocument();  // so that the next attempt starts afresh
  return hr;
}

HRESULT CTraceOwner::EndSession(CErrorManager* errors) {
  HRESULT hr = S_OK;
  if (enabled_ && pendingBytes_ > 0) hr = SaveTrace(errors);
  if (state_ == kTraceRunning) state_ = kTracePaused;
  // The call that ends the session (Close) is still open: its end is saved when it has one.
  saveWhenIdle_ = enabled_ && !open_.empty();
  return hr;
}

const std::string& CTraceOwner::ClockText(int64_t ms) {
  const int64_t second = ms >= 0 ? ms / 1000 : (ms - 999) / 1000;
  if (second != clockSecond_) {
    clockText_ = LocalTime(ms, "%H:%M:%S");
    clockSecond_ = second;
  }
  return clockText_;
}

void CTraceOwner::Attribute(pugi::xml_node_struct* node, const char* name, std::string_view value) {
  pugi::xml_node(node).append_attribute(name).set_value(value.data(), value.size());
  pendingBytes_ += AttributeBytes(name, value.size());
}

void CTraceOwner::AppendParameter(pugi::xml_node_struct* method, const TraceParam& param,
                                  int64_t depth) {
  pugi::xml_node element = pugi::xml_node(method).append_child("Parameter");
  pendingBytes_ += LineBytes(depth, "Parameter");
  pugi::xml_node_struct* p = element.internal_object();
  Attribute(p, "Name", param.name ? param.name : "");
  Attribute(p, "Direction", DirectionText(param.direction));
  const VARIANT& v = param.value;
  if (!(v.vt & VT_ARRAY)) {
    scratch_.clear();
    AppendTraceValue(v, &scratch_);
    Attribute(p, "Value", scratch_);
    return;
  }
  SAFEARRAY* array = nullptr;
  if (!(v.vt & VT_BYREF))
    array = v.parray;
  else if (v.pparray)
    array = *v.pparray;
  const UINT dims = array ? SafeArrayGetDim(array) : 0;
  scratch_.clear();
  for (UINT d = 1; d <= dims; ++d) {
    LONG lower = 0, upper = -1;
    if (FAILED(SafeArrayGetLBound(array, d, &lower)) ||
        FAILED(SafeArrayGetUBound(array, d, &upper)))
      lower = 0, upper = -1;
    if (d > 1) scratch_.push_back(',');
    scratch_.append(std::to_string(int64_t{upper} - lower + 1));
  }
  Attribute(p, "NumDims", std::to_string(dims));
  Attribute(p, "DimSizes", scratch_);
  if (dims != 1 || !traceArray_ || arraySizeMax_ <= 0) return;

  const ULONG count = array->rgsabound[0].cElements;
  const ULONG shown = std::min<ULONG>(count, static_cast<ULONG>(arraySizeMax_));
  const VARTYPE type = v.vt & VT_TYPEMASK;
  void* data = nullptr;
  if (FAILED(SafeArrayAccessData(array, &data))) return;  // unreadable: the list ends here
  const auto* bytes = static_cast<const BYTE*>(data);
  for (ULONG i = 0; i < shown; ++i) {
    const BYTE* at = bytes + size_t{i} * array->cbElements;
    VARIANT elementValue{};
    if (type == VT_VARIANT) {
      std::memcpy(&elementValue, at, sizeof(VARIANT));
    } else {
      elementValue.vt = type;
      std::memcpy(&elementValue.llVal, at, std::min<size_t>(array->cbElements, sizeof(int64_t)));
    }
    scratch_.clear();
    if (elementValue.vt & VT_ARRAY)
      scratch_.append("<unknown>");
    else
      AppendTraceValue(elementValue, &scratch_);
    pugi::xml_node item = element.append_child("Element");
    pendingBytes_ += LineBytes(depth + 1, "Element");
    Attribute(item.internal_object(), "Value", scratch_);
  }
  SafeArrayUnaccessData(array);
}

void* CTraceOwner::EnterMethod(const TraceCall& call, std::span<const TraceParam> params) {
  if (state_ != kTraceRunning || !currentParent_) return nullptr;
  // A record that cannot be made is lost; the call itself goes on unharmed.
  try {
    const int64_t now = env_.now();
    pugi::xml_node method = pugi::xml_node(currentParent_).append_child("Method");
    if (!method) return nullptr;
    const auto depth = static_cast<int64_t>(open_.size()) + 1;
    pendingBytes_ += LineBytes(depth, "Method");
    pugi::xml_node_struct* m = method.internal_object();
    Attribute(m, "Name", call.method ? call.method : "");
    Attribute(m, "Interface", call.iface ? call.iface : "");
    Attribute(m, "StartTime", ClockText(now));
    Attribute(m, "Thread", ThreadIdText());
    for (size_t i = 0; i < params.size() && i < kMaxParams; ++i)
      if (params[i].direction != ParamDirection::Out) AppendParameter(m, params[i], depth + 1);
    open_.push_back({m, currentParent_, now});
    currentParent_ = m;
    const uintptr_t token = (uintptr_t{generation_} << 32) | open_.size();
    return reinterpret_cast<void*>(token);
  } catch (...) {
    return nullptr;
  }
}

void CTraceOwner::LeaveMethod(void* token, std::span<const TraceParam> params, HRESULT result) {
  const auto bits = reinterpret_cast<uintptr_t>(token);
  const size_t depth = bits & 0xFFFFFFFFu;
  if (static_cast<uint32_t>(bits >> 32) != generation_ || depth == 0 || depth > open_.size())
    return;
  const OpenRecord record = open_[depth - 1];
  // Records opened inside this one and never closed end with it.
  open_.resize(depth - 1);
  currentParent_ = record.parent;
  try {
    const int64_t now = env_.now();
    const int64_t elapsed = std::max<int64_t>(now - record.start, 0);
    char buf[24];
    Attribute(record.method, "EndTime", ClockText(now));
    // Two digits of seconds, as readers of the format expect; the whole time beside them.
    const int seconds = static_cast<int>((elapsed / 1000) % 60);
    buf[0] = static_cast<char>('0' + seconds / 10);
    buf[1] = static_cast<char>('0' + seconds % 10);
    Attribute(record.method, "ExecutionTime", std::string_view(buf, 2));
    auto r = std::to_chars(buf, buf + sizeof buf, elapsed);
    Attribute(record.method, "ExecutionMilliseconds", std::string_view(buf, r.ptr - buf));
    Attribute(record.method, "Result", HexText(static_cast<uint32_t>(result), buf));
    for (size_t i = 0; i < params.size() && i < kMaxParams; ++i)
      if (params[i].direction != ParamDirection::In)
        AppendParameter(record.method, params[i], static_cast<int64_t>(depth) + 1);
    AfterCall(now);
    if (saveWhenIdle_ && open_.empty()) {
      saveWhenIdle_ = false;
      if (pendingBytes_ > 0) SaveTrace(nullptr);
    }
  } catch (...) {
  }
}

}  // namespace vmk
