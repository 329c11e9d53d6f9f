// The common frame of the C functions, written once. A function names the COM method it wraps
// and passes its own arguments:
//
//   return CallOn(vi, channelName, &IIviDCPwrOutput::Measure, measurementType, Out(measurement));
//
// and the frame finds the session's driver object and holds a reference for the call, queries
// the interface that owns the method (selecting the instance by channel name where the interface
// belongs to an output, trigger or calibration instance), converts the arguments to their COM
// types, calls, maps the HRESULT to a ViStatus while recording the COM error description with
// the session, stores the results, and turns any exception into a status. This layer reaches the
// driver only through its public COM interfaces, as any other program could.
#pragma once

#include <cstddef>
#include <cstdint>
#include <new>
#include <string>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <utility>

#include "platform/com/com_ptr.h"
#include "platform/ivic/session_service.h"
#include "vmk40xx/visacom.h"
#include "vmk40xx/vmk40xx.h"
#include "vmk40xx/vmk40xx_c.h"

namespace vmk::ivic {

// ---------------------------------------------------------------------------------------------
// Statuses

// The IVI-C status of an HRESULT: the mapped code, else the HRESULT's sign bit alone (every
// unlisted failure becomes VMK40XX_ERROR_FAILURE, every unlisted success or warning VI_SUCCESS).
ViStatus MapStatus(HRESULT hr);
// The text of a status of the map, placeholders unexpanded; nullptr for any other status.
const char* StatusText(ViStatus status);

// A status this layer raises itself, with the description it records.
struct Refusal {
  ViStatus status;
  const char* text;
};
inline constexpr Refusal kUnknownAttribute{VMK40XX_ERROR_INVALID_ATTRIBUTE,
                                           "Attribute not recognized."};
inline constexpr Refusal kGetOfOtherType{VMK40XX_ERROR_TYPES_DO_NOT_MATCH,
                                         "Incorrect GetAttribute for attribute of this type."};
inline constexpr Refusal kSetOfOtherType{VMK40XX_ERROR_TYPES_DO_NOT_MATCH,
                                         "Incorrect SetAttribute for attribute of this type."};
inline constexpr Refusal kReadOnly{VMK40XX_ERROR_ATTR_NOT_WRITEABLE, "Attribute is read only."};
inline constexpr Refusal kWriteOnly{VMK40XX_ERROR_ATTR_NOT_READABLE, "Attribute is write only."};
inline constexpr Refusal kBadlyFormedSelector{VMK40XX_ERROR_BADLY_FORMED_SELECTOR,
                                              "The repeated capability selector is badly-formed."};
inline constexpr Refusal kNullResult{VMK40XX_ERROR_FAILURE,
                                     "Null pointer passed for a result parameter."};
inline constexpr Refusal kNoMemory{VMK40XX_ERROR_OUT_OF_MEMORY,
                                   "Could not allocate necessary memory."};
inline constexpr Refusal kNoCom{VMK40XX_ERROR_FAILURE,
                                "COM could not be initialized on the calling thread."};
inline constexpr Refusal kNoDriverObject{VMK40XX_ERROR_FAILURE,
                                         "The driver object could not be created."};
inline constexpr Refusal kUnlockWithoutLock{VMK40XX_ERROR_FAILURE,
                                            "The session lock is not held by the calling thread."};
inline constexpr Refusal kNoConnection{VMK40XX_ERROR_NOT_INITIALIZED,
                                       "A connection to the instrument has not been established."};
inline constexpr Refusal kUnexpected{VMK40XX_ERROR_FAILURE,
                                     "Unexpected failure in the C interface."};

// Records the refusal with the session (VI_NULL or an invalid handle: with the calling thread)
// and returns its status.
ViStatus Refuse(ViSession vi, const Refusal& refusal) noexcept;
ViStatus Refuse(ViSession vi, ViStatus status, const std::string& text) noexcept;

// Maps `hr`, and records the calling thread's COM error description (taking it off the thread)
// with the session under the mapped status. With no error information nothing is recorded.
ViStatus MapAndRecordStatus(ViSession vi, HRESULT hr) noexcept;
inline ViStatus MapAndRecord(ViSession vi, HRESULT hr) noexcept {
  // The COM frame clears the thread's error information when a method starts, so a plain
  // success has none to record.
  return hr == S_OK ? VI_SUCCESS : MapAndRecordStatus(vi, hr);
}

template <class Work>
ViStatus Guarded(ViSession vi, Work&& work) noexcept {
  try {
    return work();
  } catch (const std::bad_alloc&) {
    return Refuse(vi, kNoMemory);
  } catch (...) {
    return Refuse(vi, kUnexpected);
  }
}

// ---------------------------------------------------------------------------------------------
// Where each interface is found: on the driver object itself, or on an instance of one of its
// collections, chosen by the channel name.

enum class RepCap { None, Output, Trigger, Calibration };

template <class Itf>
struct Path;  // an interface without a path does not compile

template <const IID& Iid>
struct OnRoot {
  static constexpr const IID* kIid = &Iid;
  static constexpr RepCap kRepCap = RepCap::None;
};
// `Collection::get_Item` gives the instance; Iid, when given, is queried on it.
template <class Collection, RepCap Kind, const IID* Iid = nullptr>
struct OnInstance {
  using Of = Collection;
  static constexpr const IID* kIid = Iid;
  static constexpr RepCap kRepCap = Kind;
};

template <>
struct Path<IIviDriver> : OnRoot<IID_IIviDriver> {};
template <>
struct Path<IIviDriverOperation> : OnRoot<IID_IIviDriverOperation> {};
template <>
struct Path<IIviDriverIdentity> : OnRoot<IID_IIviDriverIdentity> {};
template <>
struct Path<IIviDriverUtility> : OnRoot<IID_IIviDriverUtility> {};
template <>
struct Path<IIviDCPwrOutputs> : OnRoot<IID_IIviDCPwrOutputs> {};
template <>
struct Path<IIviDCPwrTrigger> : OnRoot<IID_IIviDCPwrTrigger> {};
template <>
struct Path<IVelmoraK40xxOutputs> : OnRoot<IID_IVelmoraK40xxOutputs> {};
template <>
struct Path<IVelmoraK40xxTriggers> : OnRoot<IID_IVelmoraK40xxTriggers> {};
template <>
struct Path<IVelmoraK40xxCalibrations> : OnRoot<IID_IVelmoraK40xxCalibrations> {};
template <>
struct Path<IVelmoraK40xxDisplay> : OnRoot<IID_IVelmoraK40xxDisplay> {};
template <>
struct Path<IVelmoraK40xxStatus> : OnRoot<IID_IVelmoraK40xxStatus> {};
template <>
struct Path<IVelmoraK40xxSystem> : OnRoot<IID_IVelmoraK40xxSystem> {};
template <>
struct Path<IIviDCPwrOutput> : OnInstance<IIviDCPwrOutputs, RepCap::Output> {};
template <>
struct Path<IVelmoraK40xxOutput> : OnInstance<IVelmoraK40xxOutputs, RepCap::Output> {};
template <>
struct Path<IVelmoraK40xxProtection>
    : OnInstance<IVelmoraK40xxOutputs, RepCap::Output, &IID_IVelmoraK40xxProtection> {};
template <>
struct Path<IVelmoraK40xxTrigger> : OnInstance<IVelmoraK40xxTriggers, RepCap::Trigger> {};
template <>
struct Path<IVelmoraK40xxCalibration> : OnInstance<IVelmoraK40xxCalibrations, RepCap::Calibration> {
};

// A UTF-8 argument as a BSTR owned for the call; null counts as "". Short ASCII text (channel
// names, most commands) is laid out as a BSTR in the object itself, length prefix and all, in the
// one pass that finds its end: a callee may read an [in] BSTR but never frees it, and every call
// saves an allocation.
class InText {
 public:
  explicit InText(const char* utf8) { Widen(utf8 ? utf8 : "", '\0'); }
  InText(const InText&) = delete;
  InText& operator=(const InText&) = delete;
  ~InText() {
    if (owned_) SysFreeString(b_);
  }
  BSTR get() const { return b_; }

 protected:
  InText() = default;
  // Takes `text` up to `end` or its terminating zero.
  void Widen(const char* text, char end) {
    for (size_t n = 0; n < kShort; ++n) {
      const auto c = static_cast<unsigned char>(text[n]);
      if (c == 0 || c == static_cast<unsigned char>(end)) {
        short_.chars[n] = 0;
        short_.bytes = static_cast<uint32_t>(n * sizeof(OLECHAR));
        b_ = short_.chars;
        return;
      }
      if (c >= 0x80 || n == kShort - 1) break;
      short_.chars[n] = c;
    }
    size_t length = 0;
    while (text[length] != 0 && text[length] != end) ++length;
    b_ = com::Utf8ToBstr(std::string_view(text, length));
    if (!b_) throw std::bad_alloc();
    owned_ = true;
  }

 private:
  static constexpr size_t kShort = 32;
  struct {
    uint32_t bytes;  // the BSTR's byte count, just before its characters
    OLECHAR chars[kShort];
  } short_;
  static_assert(offsetof(decltype(short_), chars) == sizeof(uint32_t));
  BSTR b_ = nullptr;
  bool owned_ = false;
};

// The instance name a channel name stands for, as the collection's item name: the first
// ':'-separated level (empty pieces are skipped), unchanged; null and "" are the empty name.
class InLevel : public InText {
 public:
  InLevel() = default;
  // False when the selector has no level at all (nothing but colons).
  bool Take(const char* channel) {
    const char* level = channel ? channel : "";
    if (*level == ':') {
      while (*level == ':') ++level;
      if (*level == 0) return false;
    }
    Widen(level, ':');
    return true;
  }
};

// Step 3 on an object at hand: its interface `Itf`. A failure is mapped and recorded; VI_SUCCESS
// when `out` holds the interface.
template <class Itf>
ViStatus Query(ViSession vi, IUnknown* object, com::ComPtr<Itf>& out) {
  static_assert(Path<Itf>::kRepCap == RepCap::None, "an interface of the driver object");
  const HRESULT hr = object->QueryInterface(*Path<Itf>::kIid, reinterpret_cast<void**>(out.put()));
  return FAILED(hr) ? MapAndRecord(vi, hr) : VI_SUCCESS;
}

// Steps 1 to 3: the interface `Itf` of the session's driver object. The query runs while the
// session service still holds the object, so that the interface's reference is the one the call
// holds and no reference of its own is taken on the object. The service's status is returned
// unchanged; a session without an object counts as invalid.
template <class Itf>
ViStatus QuerySession(ViSession vi, com::ComPtr<Itf>& out) {
  static_assert(Path<Itf>::kRepCap == RepCap::None, "an interface of the driver object");
  struct Question {
    void** out;
    HRESULT hr;
  } question{reinterpret_cast<void**>(out.put()), E_NOINTERFACE};
  void* object = nullptr;
  const ViStatus status = SessionGetDataPtr(
      vi, &object,
      [](void* data, void* context) {
        auto* q = static_cast<Question*>(context);
        q->hr = static_cast<IUnknown*>(data)->QueryInterface(*Path<Itf>::kIid, q->out);
      },
      &question);
  if (status != VI_SUCCESS) return status;
  if (!object) return kInvalidSessionHandle;
  return FAILED(question.hr) ? MapAndRecord(vi, question.hr) : VI_SUCCESS;
}

template <class Collection, class Item>
Item* ItemOf(HRESULT (Collection::*)(BSTR, Item**));  // only named in decltype

// Step 4: the interface `Itf` of the instance of `collection` that `channel` names. Failures are
// mapped and recorded; VI_SUCCESS when `out` holds the interface.
template <class Itf, class Collection>
ViStatus Select(ViSession vi, Collection* collection, const char* channel, com::ComPtr<Itf>& out) {
  using P = Path<Itf>;
  static_assert(std::is_same_v<typename P::Of, Collection>);
  InLevel name;
  if (!name.Take(channel)) return Refuse(vi, kBadlyFormedSelector);
  HRESULT hr;
  if constexpr (P::kIid != nullptr) {
    // The collection hands out its own item interface; the wanted one is queried on it.
    using Item = std::remove_pointer_t<decltype(ItemOf(&Collection::get_Item))>;
    com::ComPtr<Item> instance;
    hr = collection->get_Item(name.get(), instance.put());
    if (SUCCEEDED(hr)) hr = instance->QueryInterface(*P::kIid, reinterpret_cast<void**>(out.put()));
  } else {
    hr = collection->get_Item(name.get(), out.put());
  }
  return FAILED(hr) ? MapAndRecord(vi, hr) : VI_SUCCESS;
}

// The session's driver object itself, whatever interface the session was given, with a reference
// held until the end of the call.
class SessionObject {
 public:
  SessionObject() = default;
  SessionObject(const SessionObject&) = delete;
  SessionObject& operator=(const SessionObject&) = delete;
  ~SessionObject() {
    if (object_) object_->Release();
  }
  // The session service's status, unchanged; a session without an object counts as invalid.
  ViStatus Open(ViSession vi) noexcept {
    void* data = nullptr;
    const ViStatus status = SessionGetDataPtr(
        vi, &data, [](void* object, void*) { static_cast<IUnknown*>(object)->AddRef(); });
    if (status != VI_SUCCESS) return status;
    if (!data) return kInvalidSessionHandle;
    object_ = static_cast<IUnknown*>(data);
    return VI_SUCCESS;
  }
  IUnknown* get() const { return object_; }

 private:
  IUnknown* object_ = nullptr;
};

// Runs `work` on the interface `Itf` of the session's object (of the instance `channel` names,
// for an instance's interface): steps 1 to 4 and 7 of every function.
template <class Itf, class Work>
ViStatus OnInterface(ViSession vi, const char* channel, Work&& work) noexcept {
  return Guarded(vi, [&]() -> ViStatus {
    if constexpr (Path<Itf>::kRepCap == RepCap::None) {
      com::ComPtr<Itf> itf;
      if (ViStatus s = QuerySession(vi, itf)) return s;
      return work(itf.get());
    } else {
      // The collection's reference is the call's reference on the driver object: an instance
      // holds none on it, and the session may be closed while the call runs.
      com::ComPtr<typename Path<Itf>::Of> collection;
      if (ViStatus s = QuerySession(vi, collection)) return s;
      com::ComPtr<Itf> itf;
      if (ViStatus s = Select(vi, collection.get(), channel, itf)) return s;
      return work(itf.get());
    }
  });
}

// ---------------------------------------------------------------------------------------------
// Arguments: each C argument becomes the COM parameter it is passed as, and each result is stored
// back after a successful call.

// A number or boolean result. The pointer is checked before the method is called, so that a call
// whose result could not be delivered does not reach the instrument.
template <class C>
struct Out {
  explicit Out(C* p) : caller(p) {}
  C* caller;
};

// A text result with the caller's size, copied by the buffer rule. A null buffer asks for the
// size only, so the method is still called.
struct TextOut {
  ViInt32 bufferSize;
  ViChar* buffer;
};
// A text result into a buffer of fixed size, which must be there.
struct FixedTextOut {
  ViChar* buffer;
  ViInt32 size;
};

struct InArg {
  static constexpr bool Missing() { return false; }
  static constexpr ViStatus Commit() { return VI_SUCCESS; }
};

template <class P, class A>
class Arg;  // P: the COM parameter, A: the C argument

template <class P>
class Arg<P, ViInt32> : public InArg {
  static_assert(sizeof(P) == sizeof(ViInt32) && (std::is_enum_v<P> || std::is_same_v<P, LONG>),
                "a ViInt32 goes to a 32-bit enumeration or LONG");

 public:
  explicit Arg(ViInt32 a) : v_(static_cast<P>(a)) {}
  P get() const { return v_; }

 private:
  P v_;
};

template <class P>
class Arg<P, ViReal64> : public InArg {
  static_assert(std::is_same_v<P, double>, "a ViReal64 goes to a DOUBLE");

 public:
  explicit Arg(ViReal64 a) : v_(a) {}
  double get() const { return v_; }

 private:
  double v_;
};

template <class P>
class Arg<P, ViBoolean> : public InArg {
  static_assert(std::is_same_v<P, VARIANT_BOOL>, "a ViBoolean goes to a VARIANT_BOOL");

 public:
  explicit Arg(ViBoolean a) : v_(a ? VARIANT_TRUE : VARIANT_FALSE) {}
  VARIANT_BOOL get() const { return v_; }

 private:
  VARIANT_BOOL v_;
};

template <class P>
class Arg<P, const char*> : public InArg {
  static_assert(std::is_same_v<P, BSTR>, "a string goes to a BSTR");

 public:
  explicit Arg(const char* a) : text_(a) {}
  BSTR get() const { return text_.get(); }

 private:
  InText text_;
};

template <class S, class C>
class Arg<S*, Out<C>> {
  static_assert(std::is_same_v<C, ViBoolean> ? std::is_same_v<S, VARIANT_BOOL>
                                             : std::is_arithmetic_v<S> || std::is_enum_v<S>,
                "a result of the C type the COM result converts to");

 public:
  explicit Arg(Out<C> out) : caller_(out.caller) {}
  bool Missing() const { return caller_ == nullptr; }
  S* get() { return &local_; }
  ViStatus Commit() const {
    if constexpr (std::is_same_v<C, ViBoolean>)
      *caller_ = local_ ? VI_TRUE : VI_FALSE;
    else
      *caller_ = static_cast<C>(local_);
    return VI_SUCCESS;
  }

 private:
  C* caller_;
  S local_{};
};

class TextResult {
 public:
  TextResult() = default;
  TextResult(const TextResult&) = delete;
  TextResult& operator=(const TextResult&) = delete;
  ~TextResult() { SysFreeString(b_); }
  BSTR* get() { return &b_; }
  // A BSTR the method did not set is the empty text.
  std::string Utf8() const { return com::BstrToUtf8(b_); }
  // By the buffer rule.
  ViStatus CopyTo(ViInt32 bufferSize, ViChar* buffer) const;

 private:
  BSTR b_ = nullptr;
};

template <>
class Arg<BSTR*, TextOut> {
 public:
  explicit Arg(TextOut out) : out_(out) {}
  static constexpr bool Missing() { return false; }
  BSTR* get() { return text_.get(); }
  ViStatus Commit() const { return text_.CopyTo(out_.bufferSize, out_.buffer); }

 private:
  TextOut out_;
  TextResult text_;
};

template <>
class Arg<BSTR*, FixedTextOut> {
 public:
  explicit Arg(FixedTextOut out) : out_(out) {}
  bool Missing() const { return out_.buffer == nullptr; }
  BSTR* get() { return text_.get(); }
  ViStatus Commit() const { return text_.CopyTo(out_.size, out_.buffer); }

 private:
  FixedTextOut out_;
  TextResult text_;
};

// Steps 5 and 6: converts the arguments, calls `method` on `itf`, maps and records its status
// and, when it succeeded, stores the results. The first text that did not fit gives the size it
// needed.
template <class Itf, class Base, class... P, class... A>
ViStatus Invoke(ViSession vi, Itf* itf, HRESULT (Base::*method)(P...), A&&... a) {
  static_assert(std::is_base_of_v<Base, Itf>);
  static_assert(sizeof...(P) == sizeof...(A), "one argument per parameter of the COM method");
  std::tuple<Arg<P, std::decay_t<A>>...> args{std::forward<A>(a)...};
  return std::apply(
      [&](auto&... arg) -> ViStatus {
        if ((arg.Missing() || ...)) return Refuse(vi, kNullResult);
        const ViStatus status = MapAndRecord(vi, (itf->*method)(arg.get()...));
        if (status < 0) return status;
        ViStatus cut = VI_SUCCESS;
        [[maybe_unused]] auto keep = [&cut](ViStatus copied) {
          if (cut == VI_SUCCESS) cut = copied;
        };
        (keep(arg.Commit()), ...);
        return cut > 0 ? cut : status;
      },
      args);
}

// A function whose COM method is on the driver object. Itf names the interface to query when it
// is not the one that declares the method (IIviDriverIdentity's members of
// IIviComponentIdentity, say).
template <class Itf = void, class Base, class... P, class... A>
ViStatus Call(ViSession vi, HRESULT (Base::*method)(P...), A&&... a) noexcept {
  using T = std::conditional_t<std::is_void_v<Itf>, Base, Itf>;
  static_assert(Path<T>::kRepCap == RepCap::None, "an instance's method takes a channel name");
  return OnInterface<T>(vi, nullptr,
                        [&](T* itf) { return Invoke(vi, itf, method, std::forward<A>(a)...); });
}

// A function whose COM method is on the instance that `channel` names.
template <class Itf = void, class Base, class... P, class... A>
ViStatus CallOn(ViSession vi, const char* channel, HRESULT (Base::*method)(P...),
                A&&... a) noexcept {
  using T = std::conditional_t<std::is_void_v<Itf>, Base, Itf>;
  static_assert(Path<T>::kRepCap != RepCap::None, "a method of the driver object takes no name");
  return OnInterface<T>(vi, channel,
                        [&](T* itf) { return Invoke(vi, itf, method, std::forward<A>(a)...); });
}

// ---------------------------------------------------------------------------------------------
// COM on the calling thread, and driver objects made by this layer.

// Initializes COM on the thread for the object's life (apartment-threaded, else multithreaded),
// unless Keep() hands the initialization on to a later VmK40xx_close.
class ComOnThread {
 public:
  ComOnThread();
  ComOnThread(const ComOnThread&) = delete;
  ComOnThread& operator=(const ComOnThread&) = delete;
  ~ComOnThread() {
    if (ok_ && !kept_) CoUninitialize();
  }
  explicit operator bool() const { return ok_; }
  void Keep() { kept_ = true; }

 private:
  bool ok_;
  bool kept_ = false;
};

// A new driver object through the library's class factory, as any COM client makes one.
HRESULT CreateDriver(com::ComPtr<IUnknown>& out);

}  // namespace vmk::ivic
