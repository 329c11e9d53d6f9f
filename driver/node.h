// A node of the driver's object model: the root driver object or one repeated-capability
// instance. Every node owns its error manager, attribute store and I/O manager and runs every
// interface member through the method entry frame below.
#pragma once

#include <cmath>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <utility>

#include "driver/member.h"
#include "io/command_text.h"
#include "io/driver_io_manager.h"
#include "platform/com/critical_section.h"
#include "platform/com/error_slot.h"
#include "platform/com/no_throw.h"
#include "platform/com/unicode.h"
#include "services/cache.h"
#include "services/errors.h"
#include "services/trace_sink.h"
#include "vmk40xx/com.h"

namespace vmk {

class CDriver;

// The six IVI option flags, in their order.
struct OptionFlags {
  bool cache = true;
  bool interchangeCheck = false;
  bool queryInstrumentStatus = false;
  bool rangeCheck = true;
  bool recordCoercions = false;
  bool simulate = false;
};

// What every node of a session reads from the root during a call. The root owns it; an instance
// cut off its session at Close no longer sees it.
struct SessionState {
  bool initialized = false;
  OptionFlags flags;
  std::string model;
  // The model's bit in the model table (0 for a model the table does not know), fixed whenever
  // the model is: the model check of a member is one AND with the models it names.
  ModelSet modelBit = 0;
  MethodTraceSink* trace = nullptr;
};

// The call in progress on a node, and the one it was made from.
struct CallContext {
  const char* cls;
  const char* iface;
  const char* method;
  const CallContext* outer;
};

// A member's arguments as the frame receives them, in the order of the descriptor's parameters:
// values for In parameters, the caller's pointers for Out and InOut ones.
template <class... A>
struct Args {
  std::tuple<A...> values;
};
template <class... A>
constexpr Args<A...> With(A... args) {
  return {{args...}};
}

// A check that lets every value through.
inline HRESULT NoCheck() {
  return S_OK;
}

class CNode {
 public:
  CNode(const CNode&) = delete;
  CNode& operator=(const CNode&) = delete;

  // The session root; null while this node is detached (an instance after Close).
  CDriver* Root() const { return root_; }
  // "VelmoraK40xx" for the root, the repeated capability's name for an instance.
  const char* NodeName() const { return name_; }
  const char* ClassName() const { return className_; }

  CErrorManager& Errors() { return errors_; }
  CCacheManager& Cache() { return cache_; }
  CDriverIOManager& IO() { return io_; }
  // The innermost call in progress on this node; null when there is none.
  const CallContext* CurrentCall() const { return call_; }
  const std::shared_ptr<com::CriticalSection>& SessionLock() const { return lock_; }

  // Session questions, answered from the root; false / empty while detached or closed.
  bool SessionOpen() const { return state_ && state_->initialized; }
  bool Simulating() const { return state_ && state_->flags.simulate; }
  bool RangeChecking() const { return state_ && state_->flags.rangeCheck; }
  std::string_view GetModel() const { return SessionOpen() ? state_->model : std::string_view(); }
  // Whether the session's model is one of `models`.
  bool IsModelIn(ModelSet models) const { return SessionOpen() && (state_->modelBit & models); }
  ModelSet ModelBit() const { return SessionOpen() ? state_->modelBit : 0; }
  bool IsSupportedModel() const { return ModelBit() != 0; }
  bool IsFamily(std::string_view family) const;
  bool IsModel(std::string_view model) const { return SessionOpen() && state_->model == model; }
  bool IsModelInFamily(std::string_view model, std::string_view family) const;

  // Invalidates this node's attribute store and those of the instances it holds.
  virtual void InvalidateAll() { cache_.InvalidateAll(); }
  // Cuts a repeated-capability instance off its session at Close: from then on it answers as
  // not initialized.
  virtual void Detach() {}

  // The method entry frame: lock, call context, error-information source, open-session check,
  // clearing of stale error information, null-pointer checks, the trace record of every
  // parameter, the model context and, for power-supply members, the model check; then `body`.
  template <class... A, class Body>
  HRESULT Frame(const Member& m, const Args<A...>& args, Body&& body) {
    CheckArguments(m, args);
    CallScope scope(*this, m);
    return com::NoThrow([&]() -> HRESULT {
      if (HRESULT hr = Admit(m, FirstNullOut(m, args)); hr != S_OK) return hr;
      CDriverIOManager::CallScope instrument(io_, !Simulating());
      ClearOuts(m, args);
      Trace<sizeof...(A)> trace(*this, m, args);
      CDriverIOManager::ModelScope model(io_, GetModel());
      HRESULT hr = CheckModel(m);
      if (hr == S_OK) hr = CheckFinite(m, args);
      if (hr == S_OK) hr = body();
      // A selection that no command followed still goes out before the call returns.
      io_.FlushAhead();
      return trace.Leave(instrument.Result(hr));
    });
  }
  template <class Body>
  HRESULT Frame(const Member& m, Body&& body) {
    return Frame(m, With(), body);
  }

  // A property getter of a power-supply interface: the frame, then either the simulated value or
  // the prepared command (formatted with the index arguments) around `body`.
  template <class T, class Body>
  HRESULT Get(const Property& p, T* val, Body&& body) {
    return Get(p, With(), val, body);
  }
  template <class... I, class T, class Body>
  HRESULT Get(const Property& p, const Args<I...>& index, T* val, Body&& body) {
    const auto args = Append(index, val);
    return Frame(p.get, args, [&]() -> HRESULT {
      if (Simulating()) return SimulatedRead(p, val);
      return WithCommand(p.get, args, body);
    });
  }

  // A property setter: `check` validates the value (range, restricted enumeration values) in and
  // out of simulation; then the value is stored (simulating) or the command sent by `body`.
  template <class T, class Check, class Body>
  HRESULT Put(const Property& p, T val, Check&& check, Body&& body) {
    return Put(p, With(), val, check, body);
  }
  template <class... I, class T, class Check, class Body>
  HRESULT Put(const Property& p, const Args<I...>& index, T val, Check&& check, Body&& body) {
    const auto args = Append(index, val);
    return Frame(p.put, args, [&]() -> HRESULT {
      if (HRESULT hr = check(); FAILED(hr)) return hr;
      if (Simulating()) return SimulatedWrite(p, val);
      return WithCommand(p.put, args, body);
    });
  }

  // A method of a power-supply interface. `check` validates the arguments in and out of
  // simulation; simulating, the method then does nothing more, or what `simulated` does.
  template <class... A, class Check, class Body>
  HRESULT Act(const Member& m, const Args<A...>& args, Check&& check, Body&& body) {
    return ActOrSimulate(m, args, check, NoCheck, body);
  }
  template <class... A, class Check, class Simulated, class Body>
  HRESULT ActOrSimulate(const Member& m, const Args<A...>& args, Check&& check,
                        Simulated&& simulated, Body&& body) {
    return Frame(m, args, [&]() -> HRESULT {
      if (HRESULT hr = check(); FAILED(hr)) return hr;
      if (Simulating()) return simulated();
      return WithCommand(m, args, body);
    });
  }

  // The simulation store of another property than the member's own, for members that set
  // several properties at once or read one of another member.
  template <class T>
  HRESULT StoreSimulated(const Property& p, T val) {
    return SimulatedWrite(p, val);
  }
  template <class T>
  HRESULT LoadSimulated(const Property& p, T* val) {
    return SimulatedRead(p, val);
  }

 protected:
  CNode(const char* className, const char* name);
  virtual ~CNode();

  // The root, and the state of the session the node belongs to.
  CDriver* root_ = nullptr;
  SessionState* state_ = nullptr;
  // The re-entrant lock of the session; the root and its instances share one, so that a channel
  // selection and the command after it are never interleaved.
  std::shared_ptr<com::CriticalSection> lock_;

 private:
  struct CallScope {
    CallScope(CNode& n, const Member& m)
        : node(n),
          guard(*n.lock_),
          context{n.className_, m.itf->name, m.Name(), n.call_},
          savedIid(n.errors_.InterfaceId()) {
      node.call_ = &context;
      node.errors_.SetInterfaceId(m.itf->iid);
    }
    ~CallScope() {
      node.errors_.SetInterfaceId(savedIid);
      node.call_ = context.outer;
    }
    CNode& node;
    std::lock_guard<com::CriticalSection> guard;
    CallContext context;
    const IID* savedIid;
  };

  // The record of one call, made only while the session's tracer runs.
  template <size_t N>
  class Trace {
   public:
    template <class... A>
    Trace(CNode& n, const Member& m, const Args<A...>& args) {
      MethodTraceSink* sink = n.state_ ? n.state_->trace : nullptr;
      if (sink && sink->Running()) Enter(*sink, n, m, args);
    }
    ~Trace() {
      // Only an exception leaves without Leave: the frame turns it into this result.
      if (sink_) sink_->LeaveMethod(token_, {params_, N}, E_OUTOFMEMORY);
    }
    Trace(const Trace&) = delete;
    Trace& operator=(const Trace&) = delete;
    HRESULT Leave(HRESULT hr) {
      if (sink_) std::exchange(sink_, nullptr)->LeaveMethod(token_, {params_, N}, hr);
      return hr;
    }

   private:
    // Out of line, so that the untraced call carries only the test above.
    template <class... A>
    [[gnu::noinline]] void Enter(MethodTraceSink& sink, CNode& n, const Member& m,
                                 const Args<A...>& args) {
      for (TraceParam& p : params_) p = {};
      std::apply(
          [&](const A&... a) {
            size_t i = 0;
            ((TraceValue(params_[i], m.params[i], a), ++i), ...);
          },
          args.values);
      call_ = {n.className_, m.itf->name, m.Name()};
      token_ = sink.EnterMethod(call_, {params_, N});
      if (token_) sink_ = &sink;
    }

    MethodTraceSink* sink_ = nullptr;
    void* token_ = nullptr;
    // Filled only while a tracer runs: a call without one does not even clear them.
    TraceCall call_;
    TraceParam params_[N ? N : 1];
  };

  template <class... A, class T>
  static Args<A..., T> Append(const Args<A...>& args, T last) {
    return {std::tuple_cat(args.values, std::tuple<T>(last))};
  }

  // The arguments a member passes against its descriptor; a mismatch is a driver bug that the
  // debug build stops at.
  template <class... A>
  static void CheckArguments(const Member& m, const Args<A...>& args);

  // The index of the first Out or InOut parameter whose pointer is null; -1 when there is none.
  template <class... A>
  static int FirstNullOut(const Member& m, const Args<A...>& args) {
    int found = -1;
    std::apply(
        [&](const A&... a) {
          int i = 0;
          ((found < 0 && m.params[i].direction != ParamDirection::In && IsNull(a) ? found = i : 0,
            ++i),
           ...);
        },
        args.values);
    return found;
  }
  template <class T>
  static bool IsNull(const T& a) {
    if constexpr (std::is_pointer_v<T>)
      return a == nullptr;
    else
      return false;
  }
  // Out strings and interfaces start out null, so that a failed call hands back nothing that
  // looks like a result and the trace never reads a pointer the call did not write.
  template <class... A>
  static void ClearOuts(const Member& m, const Args<A...>& args) {
    std::apply(
        [&](const A&... a) {
          size_t i = 0;
          ((m.params[i].direction == ParamDirection::Out ? ClearOut(a) : void(), ++i), ...);
        },
        args.values);
  }
  template <class T>
  static void ClearOut(const T& a) {
    if constexpr (std::is_pointer_v<T> && std::is_pointer_v<std::remove_pointer_t<T>>) *a = nullptr;
  }

  template <class T>
  static void TraceValue(TraceParam& out, const Param& p, const T& a);

  // The open-session and null-pointer checks, and the clearing of stale error information; the
  // refusals are out of line, the path of a good call is not.
  HRESULT Admit(const Member& m, int nullOut) {
    if ((m.needsSession && !SessionOpen()) || nullOut >= 0) return Refuse(m, nullOut);
    com::ClearErrorInfo();
    return S_OK;
  }
  HRESULT Refuse(const Member& m, int nullOut);
  HRESULT CheckModel(const Member& m) {
    if (!m.itf->powerSupply || m.models == kEveryModel || (ModelBit() & m.models)) return S_OK;
    return errors_.ReportError(Msg::E_VELMORAK40XX_MODEL_NOT_SUPPORTED, {m.Name()});
  }

  // NaN and the infinities print as words no instrument takes, and NaN slips through every range
  // comparison: a number argument must be finite, with or without range checking, simulating
  // or not.
  template <class... A>
  HRESULT CheckFinite(const Member& m, const Args<A...>& args) {
    HRESULT hr = S_OK;
    std::apply(
        [&](const A&... a) {
          size_t i = 0;
          ((hr == S_OK ? void(hr = FiniteOrRefused(m, i, a)) : void(), ++i), ...);
        },
        args.values);
    return hr;
  }
  template <class T>
  HRESULT FiniteOrRefused(const Member& m, size_t i, const T& a) {
    if constexpr (std::is_same_v<T, double>) {
      if (!std::isfinite(a)) return errors_.ReportInvalidValue(m.Name(), m.params[i].name, a);
    }
    return S_OK;
  }

  // The prepared command: the member's template formatted with its In arguments, the current
  // command of the node's I/O manager while `body` runs.
  template <class... A, class Body>
  HRESULT WithCommand(const Member& m, const Args<A...>& args, Body& body) {
    if (!m.command) return body();
    std::string text;
    std::string scratch[sizeof...(A) ? sizeof...(A) : 1];
    CommandArg list[sizeof...(A) ? sizeof...(A) : 1] = {CommandArg(0LL)};
    size_t count = 0;
    std::apply(
        [&](const A&... a) {
          size_t i = 0;
          ((m.params[i].direction != ParamDirection::Out
                ? void(list[count++] = ToCommandArg(m.params[i], a, scratch[i]))
                : void(),
            ++i),
           ...);
        },
        args.values);
    AppendCommand(text, m.command, {list, count});
    CDriverIOManager::CommandScope command(io_, text);
    return body();
  }
  template <class T>
  CommandArg ToCommandArg(const Param& p, const T& a, std::string& scratch);

  template <class T>
  HRESULT SimulatedRead(const Property& p, T* val);
  template <class T>
  HRESULT SimulatedWrite(const Property& p, const T& val);

  const char* className_;
  const char* name_;
  const CallContext* call_ = nullptr;
  CErrorManager errors_;
  CCacheManager cache_;
  CDriverIOManager io_;
};

// ---------------------------------------------------------------------------------------------
// What the frame makes of each argument type.

namespace frame_detail {

template <class T>
constexpr bool kIsInterfacePointer =
    std::is_pointer_v<T> && std::is_pointer_v<std::remove_pointer_t<T>> &&
    std::is_class_v<std::remove_pointer_t<std::remove_pointer_t<T>>>;

// The type a member's argument has in its descriptor.
template <class T>
constexpr bool Matches(ParamType type) {
  using V = std::remove_cv_t<std::remove_pointer_t<T>>;
  if constexpr (kIsInterfacePointer<T>) return type == ParamType::Object;
  if constexpr (std::is_same_v<V, double>) return type == ParamType::Double;
  if constexpr (std::is_same_v<V, OLECHAR*> || std::is_same_v<T, BSTR>)
    return type == ParamType::String;
  if constexpr (std::is_enum_v<V>) return type == ParamType::Enum;
  if constexpr (std::is_same_v<V, VARIANT_BOOL>) return type == ParamType::Bool;
  if constexpr (std::is_same_v<V, LONG> || std::is_same_v<V, int32_t>)
    return type == ParamType::Long;
  return false;
}

// The attribute store's type for a property's value.
template <class T>
using Stored = std::conditional_t<std::is_enum_v<T>, int32_t, T>;

}  // namespace frame_detail

template <class... A>
void CNode::CheckArguments([[maybe_unused]] const Member& m,
                           [[maybe_unused]] const Args<A...>& args) {
#ifndef NDEBUG
  if (m.paramCount != sizeof...(A)) std::abort();
  size_t i = 0;
  const bool ok = ((frame_detail::Matches<A>(m.params[i].type) &&
                    std::is_pointer_v<A> == (m.params[i].direction != ParamDirection::In ||
                                             m.params[i].type == ParamType::String) &&
                    (++i, true)) &&
                   ...);
  if (!ok) std::abort();
#endif
}

template <class T>
void CNode::TraceValue(TraceParam& out, const Param& p, const T& a) {
  out.name = p.name;
  out.direction = p.direction;
  VARIANT& v = out.value;
  if (p.direction != ParamDirection::In) {
    using V = std::remove_pointer_t<T>;
    if constexpr (std::is_pointer_v<T>) {
      v.byref = const_cast<std::remove_cv_t<V>*>(a);
      if constexpr (frame_detail::kIsInterfacePointer<T>)
        v.vt = VT_BYREF | VT_UNKNOWN;
      else if constexpr (std::is_same_v<V, double>)
        v.vt = VT_BYREF | VT_R8;
      else if constexpr (std::is_same_v<V, BSTR>)
        v.vt = VT_BYREF | VT_BSTR;
      else if constexpr (std::is_same_v<V, VARIANT_BOOL>)
        v.vt = VT_BYREF | (p.type == ParamType::Bool ? VT_BOOL : VT_I2);
      else
        v.vt = VT_BYREF | VT_I4;  // LONG and the 32-bit enumerations
    }
    return;
  }
  if constexpr (std::is_same_v<T, double>) {
    v.vt = VT_R8;
    v.dblVal = a;
  } else if constexpr (std::is_same_v<T, BSTR>) {
    v.vt = VT_BSTR;
    v.bstrVal = a;  // borrowed: the caller's string outlives the call
  } else if constexpr (std::is_same_v<T, VARIANT_BOOL>) {
    v.vt = VT_BOOL;
    v.boolVal = a;
  } else if constexpr (std::is_enum_v<T> || std::is_integral_v<T>) {
    v.vt = VT_I4;
    v.lVal = static_cast<LONG>(a);
  }
}

template <class T>
CommandArg CNode::ToCommandArg(const Param& p, const T& a, std::string& scratch) {
  if constexpr (std::is_pointer_v<T> && !std::is_same_v<T, BSTR>) {
    return {};  // an Out parameter is no part of a command
  } else if constexpr (std::is_same_v<T, double>) {
    return a;
  } else if constexpr (std::is_same_v<T, BSTR>) {
    scratch = com::BstrToUtf8(a);
    return std::string_view(scratch);
  } else if constexpr (std::is_same_v<T, VARIANT_BOOL>) {
    return a ? 1LL : 0LL;  // the instrument's booleans are 1 and 0
  } else if constexpr (std::is_enum_v<T>) {
    if (p.keyword) return p.keyword(static_cast<int32_t>(a), GetModel());
    return static_cast<long long>(a);
  } else {
    return static_cast<long long>(a);
  }
}

template <class T>
HRESULT CNode::SimulatedRead(const Property& p, T* val) {
  using S = frame_detail::Stored<T>;
  // A descriptor whose type is not the member's would read a plausible zero; it fails instead.
  if (!frame_detail::Matches<T*>(p.type)) return E_UNEXPECTED;
  S stored{};
  const CCacheEntry<S>* entry = p.fixed ? nullptr : cache_.FindEntry<S>(&p);
  if (!entry || !entry->GetValue(&stored)) {
    if constexpr (std::is_same_v<S, BSTR>) {
      stored = p.sim.text ? SysAllocString(p.sim.text) : SysAllocStringLen(u"", 0);
      if (!stored) throw std::bad_alloc();
    } else {
      stored = static_cast<S>(p.sim.number);
    }
  }
  *val = static_cast<T>(stored);
  return S_OK;
}

template <class T>
HRESULT CNode::SimulatedWrite(const Property& p, const T& val) {
  using S = frame_detail::Stored<T>;
  if (!frame_detail::Matches<T>(p.type)) return E_UNEXPECTED;
  if (!p.fixed) cache_.GetEntry<S>(&p).SetValue(static_cast<S>(val));
  return S_OK;
}

}  // namespace vmk
