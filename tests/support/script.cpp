#include "tests/support/script.h"

#include <algorithm>
#include <cstring>
#include <map>

#include "platform/visa/transport.h"

namespace vmk::visa {
namespace {

std::mutex& RegistryMutex() {
  static std::mutex m;
  return m;
}
std::map<std::string, std::shared_ptr<Script>, std::less<>>& Registry() {
  static std::map<std::string, std::shared_ptr<Script>, std::less<>> scripts;
  return scripts;
}

class ScriptTransport final : public Transport {
 public:
  explicit ScriptTransport(std::shared_ptr<Script> script) : script_(std::move(script)) {}
  HRESULT Write(const uint8_t* data, size_t size, bool, int32_t, std::string* error) override {
    return script_->OnWrite(data, size, error);
  }
  HRESULT Read(uint8_t* buffer, size_t max, size_t* got, bool* end, int32_t,
               std::string* error) override {
    return script_->OnRead(buffer, max, got, end, error);
  }
  void DiscardInput() override { script_->OnDiscard(); }
  HRESULT Clear(std::string*) override {
    script_->OnClear();
    return S_OK;
  }
  HRESULT ReadStb(SHORT* stb, std::string*) override { return script_->OnReadStb(stb); }
  SHORT InterfaceType() const override { return script_->InterfaceType(); }
  std::string SessionType() const override { return script_->SessionType(); }

 private:
  std::shared_ptr<Script> script_;
};

HRESULT OpenScript(const ResourceName& name, const OpenOptions&, int32_t,
                   std::unique_ptr<Transport>* out, std::string* error) {
  if (name.fields.size() != 1) {
    *error = "\"" + name.text + "\": a scripted resource is SCRIPT::<name>::INSTR";
    return E_VISA_INV_RSRC_NAME;
  }
  auto script = Script::Find(name.fields[0]);
  if (!script) {
    *error = "no script named \"" + name.fields[0] + "\" is installed";
    return E_VISA_RSRC_NFOUND;
  }
  *out = std::make_unique<ScriptTransport>(std::move(script));
  return S_OK;
}

// Every program that uses scripts links this file, and with it the SCRIPT resources: the product
// itself ships no scripted transport. A resource naming a script nobody installed is then "not
// found", not "not a resource name".
const bool kRegistered = [] {
  RegisterTransport("SCRIPT", "INSTR", OpenScript);
  RegisterTransport("SCRIPT", "SOCKET", OpenScript);
  return true;
}();

}  // namespace

std::shared_ptr<Script> Script::Install(const std::string& name) {
  auto script = std::make_shared<Script>();
  std::lock_guard lock(RegistryMutex());
  Registry()[name] = script;
  return script;
}

void Script::Uninstall(const std::string& name) {
  std::lock_guard lock(RegistryMutex());
  Registry().erase(name);
}

std::shared_ptr<Script> Script::Find(std::string_view name) {
  std::lock_guard lock(RegistryMutex());
  const auto it = Registry().find(name);
  return it == Registry().end() ? nullptr : it->second;
}

Script& Script::Expect(std::string_view bytes) {
  std::lock_guard lock(mutex_);
  steps_.push_back({Kind::Expect, std::string(bytes)});
  return *this;
}
Script& Script::Reply(std::string_view bytes, bool end) {
  std::lock_guard lock(mutex_);
  steps_.push_back({Kind::Reply, std::string(bytes), end});
  return *this;
}
Script& Script::Timeout() {
  std::lock_guard lock(mutex_);
  steps_.push_back({Kind::Timeout, {}});
  return *this;
}
Script& Script::Fail(HRESULT hr, std::string description) {
  std::lock_guard lock(mutex_);
  steps_.push_back({Kind::Fail, std::move(description), false, hr});
  return *this;
}
Script& Script::HangUp() {
  std::lock_guard lock(mutex_);
  steps_.push_back({Kind::HangUp, {}});
  return *this;
}
Script& Script::ExpectClear() {
  std::lock_guard lock(mutex_);
  steps_.push_back({Kind::Clear, {}});
  return *this;
}
Script& Script::Interface(SHORT type, std::string sessionType) {
  std::lock_guard lock(mutex_);
  interfaceType_ = type;
  sessionType_ = std::move(sessionType);
  return *this;
}
Script& Script::SerialPoll(SHORT stb) {
  std::lock_guard lock(mutex_);
  nativeStb_ = true;
  stb_ = stb;
  return *this;
}

bool Script::Done() const {
  std::lock_guard lock(mutex_);
  if (!mismatches_.empty()) return false;
  // A trailing hang-up that nobody ran into is not a missing step.
  for (size_t i = next_; i < steps_.size(); ++i)
    if (steps_[i].kind != Kind::HangUp) return false;
  return true;
}

std::string Script::Report() const {
  std::lock_guard lock(mutex_);
  std::string r;
  for (const auto& m : mismatches_) r += "mismatch: " + m + "\n";
  for (size_t i = next_; i < steps_.size(); ++i) {
    static constexpr const char* kNames[] = {"expect", "reply",   "timeout",
                                             "fail",   "hang-up", "clear"};
    r += std::string("not reached: ") + kNames[static_cast<int>(steps_[i].kind)] + " " +
         Printable(steps_[i].bytes) + "\n";
  }
  r += "log:\n";
  for (const auto& l : log_) r += "  " + l + "\n";
  return r;
}

std::vector<std::string> Script::Log() const {
  std::lock_guard lock(mutex_);
  return log_;
}

std::string Script::Printable(std::string_view bytes) {
  std::string out = "\"";
  for (unsigned char c : bytes) {
    if (c == '\n')
      out += "\\n";
    else if (c == '\r')
      out += "\\r";
    else if (c < 0x20 || c >= 0x7F) {
      static constexpr char kHex[] = "0123456789ABCDEF";
      out += "\\x";
      out += kHex[c >> 4];
      out += kHex[c & 15];
    } else
      out += static_cast<char>(c);
  }
  return out + "\"";
}

void Script::Mismatch(std::string what) {
  log_.push_back("MISMATCH " + what);
  mismatches_.push_back(std::move(what));
}

void Script::DropArrivedInput() {
  while (next_ < steps_.size() && steps_[next_].kind == Kind::Reply) {
    log_.push_back("dropped " +
                   Printable(std::string_view(steps_[next_].bytes).substr(steps_[next_].done)));
    ++next_;
  }
}

HRESULT Script::OnWrite(const uint8_t* data, size_t size, std::string* error) {
  std::lock_guard lock(mutex_);
  const std::string_view written(reinterpret_cast<const char*>(data), size);
  log_.push_back("write " + Printable(written));
  if (hungUp_) {
    *error = "the scripted instrument hung up";
    return E_VISA_CONN_LOST;
  }
  if (next_ < steps_.size() && steps_[next_].kind == Kind::Fail) {
    Step& s = steps_[next_++];
    *error = s.bytes;
    return s.hr;
  }
  size_t at = 0;
  while (at < size) {
    if (next_ >= steps_.size() || steps_[next_].kind != Kind::Expect) {
      Mismatch("unexpected write " + Printable(written.substr(at)));
      *error = "the scripted instrument did not expect " + Printable(written.substr(at));
      return E_VISA_IO;
    }
    Step& s = steps_[next_];
    const size_t n = std::min(size - at, s.bytes.size() - s.done);
    if (written.substr(at, n) != std::string_view(s.bytes).substr(s.done, n)) {
      Mismatch("wrote " + Printable(written) + " where " + Printable(s.bytes) + " was expected");
      *error = "the scripted instrument expected " + Printable(s.bytes);
      ++next_;
      return E_VISA_IO;
    }
    s.done += n;
    at += n;
    if (s.done == s.bytes.size()) ++next_;
  }
  return S_OK;
}

HRESULT Script::OnRead(uint8_t* buffer, size_t max, size_t* got, bool* end, std::string* error) {
  std::lock_guard lock(mutex_);
  *end = false;
  if (hungUp_) {
    *error = "the scripted instrument hung up";
    return E_VISA_CONN_LOST;
  }
  if (next_ >= steps_.size() || steps_[next_].kind == Kind::Expect ||
      steps_[next_].kind == Kind::Clear) {
    Mismatch("read with no reply scripted");
    return E_VISA_TMO;
  }
  Step& s = steps_[next_];
  switch (s.kind) {
    case Kind::Reply: {
      const size_t n = std::min(max, s.bytes.size() - s.done);
      std::memcpy(buffer, s.bytes.data() + s.done, n);
      log_.push_back("read " + Printable(std::string_view(s.bytes).substr(s.done, n)));
      s.done += n;
      *got = n;
      if (s.done == s.bytes.size()) {
        *end = s.end;
        ++next_;
      }
      return S_OK;
    }
    case Kind::Timeout:
      log_.push_back("read timed out");
      ++next_;
      return E_VISA_TMO;
    case Kind::Fail:
      log_.push_back("read failed");
      ++next_;
      *error = s.bytes;
      return s.hr;
    case Kind::HangUp:
      log_.push_back("hung up");
      ++next_;
      hungUp_ = true;
      *error = "the scripted instrument hung up";
      return E_VISA_CONN_LOST;
    default:
      return E_UNEXPECTED;
  }
}

void Script::OnDiscard() {
  std::lock_guard lock(mutex_);
  DropArrivedInput();
}

void Script::OnClear() {
  std::lock_guard lock(mutex_);
  log_.push_back("clear");
  DropArrivedInput();
  if (next_ < steps_.size() && steps_[next_].kind == Kind::Clear)
    ++next_;
  else if (!hungUp_)
    Mismatch("unexpected device clear");
}

HRESULT Script::OnReadStb(SHORT* stb) {
  std::lock_guard lock(mutex_);
  if (!nativeStb_) return E_VISA_NSUP_OPER;
  log_.push_back("serial poll");
  *stb = stb_;
  return S_OK;
}

SHORT Script::InterfaceType() const {
  std::lock_guard lock(mutex_);
  return interfaceType_;
}
std::string Script::SessionType() const {
  std::lock_guard lock(mutex_);
  return sessionType_;
}

}  // namespace vmk::visa
