// The I/O vocabulary of one node of the object model. Every node has one; all of a session's
// managers forward to the root's provider, so they share one connection, one time-out and one
// termination setting. The manager adds the trace record of each operation, the current command
// that command-template members send, and the conversions of the typed queries.
#pragma once

#include <string>
#include <string_view>
#include <type_traits>

#include "io/command_text.h"
#include "io/driver_io_provider.h"
#include "io/io_seams.h"
#include "services/keywords.h"
#include "services/trace_sink.h"

namespace vmk {

class CErrorManager;

class CDriverIOManager {
 public:
  CDriverIOManager() = default;
  CDriverIOManager(CDriverIOProvider* provider, CErrorManager* errors)
      : provider_(provider), errors_(errors) {}
  CDriverIOManager(const CDriverIOManager&) = delete;
  CDriverIOManager& operator=(const CDriverIOManager&) = delete;

  // The root's provider; the node's error manager (for the unexpected-response reports).
  void SetProvider(CDriverIOProvider* provider) { provider_ = provider; }
  CDriverIOProvider* Provider() const { return provider_; }
  void SetErrorManager(CErrorManager* errors) { errors_ = errors; }
  // Where the session keeps its tracer, read at every operation; nothing is recorded while it
  // holds null or a tracer that is not running.
  void SetTraceSink(MethodTraceSink* const* sink) { sink_ = sink; }

  // The command that InstrPrintCommand and InstrQueryCommand* send, for the life of the scope:
  // the method entry frame sets it for a member with a command template. The text is the
  // scope's; an outer scope's command comes back when it ends, and without any the command is
  // empty.
  class CommandScope {
   public:
    CommandScope(CDriverIOManager& io, std::string_view command)
        : io_(io), outer_(io.command_) {
      io.command_ = command;
    }
    ~CommandScope() { io_.command_ = outer_; }
    CommandScope(const CommandScope&) = delete;
    CommandScope& operator=(const CommandScope&) = delete;

   private:
    CDriverIOManager& io_;
    std::string_view outer_;
  };
  std::string_view CurrentCommand() const { return command_; }

  // The session's model for the call in progress, set by the method entry frame in the same way.
  class ModelScope {
   public:
    ModelScope(CDriverIOManager& io, std::string_view model) : io_(io), outer_(io.model_) {
      io.model_ = model;
    }
    ~ModelScope() { io_.model_ = outer_; }
    ModelScope(const ModelScope&) = delete;
    ModelScope& operator=(const ModelScope&) = delete;

   private:
    CDriverIOManager& io_;
    std::string_view outer_;
  };
  std::string_view CurrentModel() const { return model_; }

  // One driver call on the session's connection (CDriverIOProvider::EnterCall), for the method
  // entry frame; a call that cannot reach an instrument (a simulated session's) leaves the
  // provider alone.
  class CallScope {
   public:
    CallScope(CDriverIOManager& io, bool instrument)
        : provider_(instrument ? io.provider_ : nullptr) {
      if (provider_) provider_->EnterCall();
    }
    ~CallScope() {
      if (provider_) provider_->LeaveCall();
    }
    CallScope(const CallScope&) = delete;
    CallScope& operator=(const CallScope&) = delete;
    HRESULT Result(HRESULT hr) const { return provider_ ? provider_->CallResult(hr) : hr; }

   private:
    CDriverIOProvider* provider_;
  };

  HRESULT ReadSTB(int16_t* pStb);
  HRESULT SetIOTimeout(int32_t lTimeout);
  HRESULT GetIOTimeout(int32_t* plTimeout);
  HRESULT IsTimeout(bool* pbTimeout);

  // Commands from one of the driver's own templates (io/command_text.h), with typed arguments.
  template <class... A>
  HRESULT InstrPrintf(std::string_view format, const A&... args) {
    return Print("InstrPrintf", Send::Polled, format, {CommandArg(args)...});
  }
  template <class... A>
  HRESULT InstrPrintfNoPoll(std::string_view format, const A&... args) {
    return Print("InstrPrintfNoPoll", Send::Unpolled, format, {CommandArg(args)...});
  }
  // A command that only prepares the next one (an output selection): when the session polls no
  // status, it goes out in one send with the command after it; when it polls, it is sent and
  // polled at once, like InstrPrintf. It is traced as InstrPrintf.
  template <class... A>
  HRESULT InstrPrintfAhead(std::string_view format, const A&... args) {
    return Print("InstrPrintf", Send::Ahead, format, {CommandArg(args)...});
  }
  template <class T, class... A>
  HRESULT InstrQueryf(T* result, std::string_view format, const A&... args) {
    static_assert(std::is_same_v<T, int32_t> || std::is_same_v<T, double>);
    if (!result) return E_POINTER;
    const CommandArg list[] = {CommandArg(args)..., CommandArg(0)};
    std::string command;
    AppendCommand(command, format, std::span<const CommandArg>(list, sizeof...(A)));
    return InstrQuery(command, kIoTimeoutKeep, result);
  }

  // Typed queries. The integer form reports E_IVI_UNEXPECTED_RESPONSE for a reply that is no
  // number or out of range; the double form gives a quiet NaN for a reply that is no number.
  HRESULT InstrQuery(std::string_view command, int32_t cchDesired, int32_t lTimeout,
                     std::string* result);
  HRESULT InstrQuery(std::string_view command, int32_t lTimeout, int32_t* result);
  HRESULT InstrQuery(std::string_view command, int32_t lTimeout, double* result);

  // A number read without a command of its own, as the reply to one sent before.
  HRESULT FormattedReadNumber(int32_t* pValue, bool bFlushToEnd = true,
                              int32_t lTimeout = kIoTimeoutKeep);

  // The current command: sent, or sent as a query.
  HRESULT InstrPrintCommand();
  HRESULT InstrQueryCommand(int32_t cchDesired, std::string* result,
                            int32_t lTimeout = kIoTimeoutKeep);
  HRESULT InstrQueryCommand(int32_t* result, int32_t lTimeout = kIoTimeoutKeep);
  HRESULT InstrQueryCommand(double* result, int32_t lTimeout = kIoTimeoutKeep);
  // Exactly "1" or "0" after trimming blanks; anything else is E_IVI_UNEXPECTED_RESPONSE.
  HRESULT InstrQueryCommandBool(VARIANT_BOOL* plResult, int32_t lTimeout = kIoTimeoutKeep);
  // The trimmed reply looked up among the enumeration's instrument keywords.
  HRESULT InstrQueryCommandEnum(const KeywordLookup& keywords, int32_t* peResult,
                                int32_t lTimeout = kIoTimeoutKeep);
  template <class E>
  requires std::is_enum_v<E> HRESULT InstrQueryCommandEnum(const KeywordLookup& keywords,
                                                           E* peResult,
                                                           int32_t lTimeout = kIoTimeoutKeep) {
    if (!peResult) return E_POINTER;
    int32_t value = 0;
    const HRESULT hr = InstrQueryCommandEnum(keywords, &value, lTimeout);
    if (SUCCEEDED(hr)) *peResult = static_cast<E>(value);
    return hr;
  }

  // Sends what InstrPrintfAhead left waiting, when nothing followed it within the call. That
  // command's own result is not the call's, and is not returned.
  void FlushAhead() {
    if (provider_ && provider_->HasAhead()) provider_->FlushAhead();
  }

 private:
  enum class Send { Polled, Unpolled, Ahead };
  HRESULT Print(const char* operation, Send how, std::string_view format,
                std::initializer_list<CommandArg> args);
  MethodTraceSink* RunningSink() const;
  HRESULT NoProvider() const;
  HRESULT Unexpected(std::string_view reply, std::string_view what);
  HRESULT QueryTrimmed(const char* operation, int32_t lTimeout, std::string* trimmed);

  CDriverIOProvider* provider_ = nullptr;
  CErrorManager* errors_ = nullptr;
  MethodTraceSink* const* sink_ = nullptr;
  std::string_view command_;
  std::string_view model_;
};

}  // namespace vmk
