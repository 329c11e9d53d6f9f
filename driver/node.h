// A node of the driver's object model: the root driver object or one repeated-capability
// instance. Every node owns its error manager, attribute store and I/O manager and runs every
// interface member through the method entry frame below.
#pragma once

#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <type_traits>
#include <vector>

#include "driver/command_format.h"
#include "driver/member.h"
#include "io/driver_io_manager.h"
#include "platform/com/no_throw.h"
#include "platform/com/unicode.h"
#include "services/cache.h"
#include "services/errors.h"
#include "vmk40xx/com.h"

namespace vmk {

class CDriver;

struct CallContext {
  const char* cls;
  const char* iface;
  const char* method;
};

// Receives the start and the end of every call that passes the frame's checks; the session's
// tracer plugs in here.
class MethodTraceSink {
 public:
  virtual void EnterMethod(const CallContext& call) = 0;
  virtual void LeaveMethod(const CallContext& call, HRESULT result) = 0;

 protected:
  ~MethodTraceSink() = default;
};

class CNode {
 public:
  CNode(const CNode&) = delete;
  CNode& operator=(const CNode&) = delete;

  // The session root; null while this node is detached (a child after Close).
  virtual CDriver* Root() = 0;
  // "VelmoraK40xx" for the root, the repeated capability's name for an instance.
  const std::string& NodeName() const { return name_; }
  const char* ClassName() const { return className_; }

  CErrorManager& Errors() { return errors_; }
  CCacheManager& Cache() { return cache_; }
  CDriverIOManager& IO() { return io_; }
  const std::vector<CallContext>& CallStack() const { return calls_; }
  const std::shared_ptr<std::recursive_mutex>& SessionLock() const { return lock_; }

  // Session questions, answered from the root; false / empty while detached or closed.
  bool SessionOpen();
  bool Simulating();
  bool RangeChecking();
  std::string GetModel();
  bool IsSupportedModel();
  bool IsFamily(std::string_view family);
  bool IsModel(std::string_view model);
  bool IsModelInFamily(std::string_view model, std::string_view family);

  // Invalidates this node's attribute store and those of the instances it holds.
  virtual void InvalidateAll() { cache_.InvalidateAll(); }
  // Cuts a repeated-capability instance off its session at Close: from then on it answers as
  // not initialized.
  virtual void Detach() {}

  // The method entry frame: lock, call context, error-information source, open-session check,
  // clearing of stale error information, null-pointer checks, trace and model context around
  // `body`. `pointers` are the member's checked parameters, in the order of Member::checked.
  template <class Body>
  HRESULT Frame(const Member& m, std::initializer_list<const void*> pointers, Body&& body) {
    Scope scope(*this, m);
    HRESULT hr = Enter(m, pointers);
    if (hr != S_OK) return hr;
    ModelScope model(*this);  // also opens and closes the method trace
    // A power-supply member the session's model lacks is refused before anything else happens.
    hr = CheckModel(m);
    if (hr == S_OK) hr = Guard(body);
    model.result = hr;
    return hr;
  }

  // A property getter of a power-supply interface: the frame, then either the simulated value or
  // the prepared command (formatted with `args`) around `body`.
  template <class T, class Body>
  HRESULT Get(const Member& m, T* val, Body&& body, std::vector<CommandArg> args = {}) {
    return Frame(m, {val}, [&]() -> HRESULT {
      if (Simulating()) return SimulatedRead(m, val);
      return WithCommand(m, args, body);
    });
  }

  // A property setter: `check` validates the value (range, restricted enumeration values) in and
  // out of simulation; then the value is stored (simulating) or the command sent by `body`.
  template <class T, class Check, class Body>
  HRESULT Put(const Member& m, T val, Check&& check, Body&& body,
              std::vector<CommandArg> extra = {}) {
    return Frame(m, {}, [&]() -> HRESULT {
      if (HRESULT hr = check(); FAILED(hr)) return hr;
      if (Simulating()) return SimulatedWrite(m, val);
      extra.push_back(ToArg(m, val));
      return WithCommand(m, extra, body);
    });
  }

  // A method of a power-supply interface. Simulating, it does nothing unless `simulated` is
  // given: the member's own simulated behaviour.
  template <class Body>
  HRESULT Act(const Member& m, std::initializer_list<const void*> pointers, Body&& body,
              std::vector<CommandArg> args = {}) {
    return Frame(m, pointers, [&]() -> HRESULT {
      if (Simulating()) return S_OK;
      return WithCommand(m, args, body);
    });
  }
  template <class Simulated, class Body>
  HRESULT ActOrSimulate(const Member& m, std::initializer_list<const void*> pointers,
                        Simulated&& simulated, Body&& body, std::vector<CommandArg> args = {}) {
    return Frame(m, pointers, [&]() -> HRESULT {
      if (Simulating()) return simulated();
      return WithCommand(m, args, body);
    });
  }

  // The simulation store under another property's key than the member's own, for members that
  // set several properties at once or read a property of another member.
  template <class T>
  HRESULT StoreSimulated(const char* key, T val) {
    Member m{};
    m.simKey = key;
    return SimulatedWrite(m, val);
  }
  template <class T>
  HRESULT LoadSimulated(const char* key, T* val) {
    Member m{};
    m.simKey = key;
    return SimulatedRead(m, val);
  }

  // Command arguments as the instrument reads them: booleans 1 and 0, enumerations by keyword.
  CommandArg ToArg(const Member& m, double v) {
    (void)m;
    return v;
  }
  CommandArg ToArg(const Member& m, int32_t v) {
    (void)m;
    return static_cast<long long>(v);
  }
  CommandArg ToArg(const Member& m, VARIANT_BOOL v) {
    (void)m;
    return v ? 1LL : 0LL;
  }
  CommandArg ToArg(const Member& m, const OLECHAR* v) {
    (void)m;
    return com::BstrToUtf8(v);
  }
  template <class E>
  requires std::is_enum_v<E> CommandArg ToArg(const Member& m, E v) {
    if (!m.keyword) return static_cast<long long>(v);
    return m.keyword(static_cast<int32_t>(v), GetModel());
  }

 protected:
  CNode(const char* className, std::string name);
  virtual ~CNode();

  // The re-entrant lock of the session this node belongs to; the root and its instances share
  // one, so that a channel selection and the command after it are never interleaved.
  std::shared_ptr<std::recursive_mutex> lock_;
  std::string name_;

 private:
  struct Scope {
    Scope(CNode& n, const Member& m);
    ~Scope();
    CNode& node;
    std::lock_guard<std::recursive_mutex> guard;
    IID savedIid;
  };
  struct ModelScope {
    explicit ModelScope(CNode& n);
    ~ModelScope();
    CNode& node;
    MethodTraceSink* trace;
    HRESULT result = S_OK;
  };

  template <class Body>
  static HRESULT Guard(Body& body) {
    return com::NoThrow(body);
  }

  HRESULT Enter(const Member& m, std::initializer_list<const void*> pointers);
  HRESULT CheckModel(const Member& m);
  template <class Body>
  HRESULT WithCommand(const Member& m, const std::vector<CommandArg>& args, Body& body) {
    if (!m.command) return body();
    PushCommand(FormatCommand(m.command, args));
    HRESULT hr = Guard(body);
    PopCommand();
    return hr;
  }
  void PushCommand(std::string command);
  void PopCommand();

  HRESULT SimulatedRead(const Member& m, VARIANT_BOOL* val);
  HRESULT SimulatedRead(const Member& m, int32_t* val);
  HRESULT SimulatedRead(const Member& m, double* val);
  HRESULT SimulatedRead(const Member& m, BSTR* val);
  template <class E>
  requires std::is_enum_v<E> HRESULT SimulatedRead(const Member& m, E* val) {
    int32_t v = 0;
    HRESULT hr = SimulatedRead(m, &v);
    if (SUCCEEDED(hr)) *val = static_cast<E>(v);
    return hr;
  }
  HRESULT SimulatedWrite(const Member& m, VARIANT_BOOL val);
  HRESULT SimulatedWrite(const Member& m, int32_t val);
  HRESULT SimulatedWrite(const Member& m, double val);
  HRESULT SimulatedWrite(const Member& m, BSTR val);
  template <class E>
  requires std::is_enum_v<E> HRESULT SimulatedWrite(const Member& m, E val) {
    return SimulatedWrite(m, static_cast<int32_t>(val));
  }

  const char* className_;
  CErrorManager errors_;
  CCacheManager cache_;
  CDriverIOManager io_;
  std::vector<CallContext> calls_;
};

}  // namespace vmk
