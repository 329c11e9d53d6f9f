#include "io/driver_io_manager.h"

#include "platform/com/unicode.h"
#include "services/errors.h"

namespace vmk {
namespace {

constexpr const char* kClass = "CDriverIOManager";

std::string_view Trim(std::string_view s) {
  auto blank = [](char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
  };
  while (!s.empty() && blank(s.back())) s.remove_suffix(1);
  while (!s.empty() && blank(s.front())) s.remove_prefix(1);
  return s;
}

// The trace record of one operation, filled only while the session's tracer runs: without one
// the record is empty, nothing in it is even cleared, and every call on it returns at once. In
// values are held by the record (text as a BSTR of its own); Out values point at the operation's
// result, and a text result is turned into a BSTR just before the record is closed, so the tracer
// reads what came back.
class Record {
 public:
  Record(MethodTraceSink* sink, const char* operation) : sink_(sink), operation_(operation) {}
  ~Record() {
    for (size_t i = 0; i < count_; ++i) SysFreeString(owned_[i]);
  }
  Record(const Record&) = delete;
  Record& operator=(const Record&) = delete;

  explicit operator bool() const { return sink_ != nullptr; }

  Record& In(const char* name, std::string_view text) {
    VARIANT& v = Add(name, ParamDirection::In);
    v.vt = VT_BSTR;
    v.bstrVal = owned_[count_ - 1] = com::Utf8ToBstr(text);
    return *this;
  }
  Record& In(const char* name, int32_t value) {
    VARIANT& v = Add(name, ParamDirection::In);
    v.vt = VT_I4;
    v.lVal = value;
    return *this;
  }
  Record& In(const char* name, bool value) {
    VARIANT& v = Add(name, ParamDirection::In);
    v.vt = VT_BOOL;
    v.boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
    return *this;
  }
  Record& Out(const char* name, std::string* text) {
    VARIANT& v = Add(name, ParamDirection::Out);
    texts_[count_ - 1] = text;
    v.vt = VT_BYREF | VT_BSTR;
    v.pbstrVal = &owned_[count_ - 1];
    return *this;
  }
  Record& Out(const char* name, int32_t* value) { return Ref(name, VT_I4, value); }
  Record& Out(const char* name, int16_t* value) { return Ref(name, VT_I2, value); }
  Record& Out(const char* name, double* value) { return Ref(name, VT_R8, value); }
  Record& OutBool(const char* name, VARIANT_BOOL* value) { return Ref(name, VT_BOOL, value); }

  void Open() {
    call_ = {kClass, kClass, operation_};
    token_ = sink_->EnterMethod(call_, {params_, count_});
  }

  HRESULT Close(HRESULT hr) {
    if (!token_) return hr;
    for (size_t i = 0; i < count_; ++i) {
      if (!texts_[i]) continue;
      SysFreeString(owned_[i]);
      owned_[i] = com::Utf8ToBstr(*texts_[i]);
    }
    sink_->LeaveMethod(token_, {params_, count_}, hr);
    return hr;
  }

 private:
  static constexpr size_t kMax = 5;
  VARIANT& Add(const char* name, ParamDirection direction) {
    owned_[count_] = nullptr;
    texts_[count_] = nullptr;
    TraceParam& p = params_[count_++];
    p = {name, direction, VARIANT{}};
    return p.value;
  }
  Record& Ref(const char* name, VARTYPE vt, void* target) {
    VARIANT& v = Add(name, ParamDirection::Out);
    v.vt = VT_BYREF | vt;
    v.byref = target;
    return *this;
  }

  MethodTraceSink* sink_;
  const char* operation_;
  TraceCall call_;
  void* token_ = nullptr;
  size_t count_ = 0;
  // Slots up to count_ only are ever read.
  TraceParam params_[kMax];
  BSTR owned_[kMax];
  std::string* texts_[kMax];
};

}  // namespace

MethodTraceSink* CDriverIOManager::RunningSink() const {
  MethodTraceSink* sink = sink_ ? *sink_ : nullptr;
  return sink && sink->Running() ? sink : nullptr;
}

HRESULT CDriverIOManager::NoProvider() const {
  SetComErrorInfo(GUID_NULL, "VISA", "the instrument connection is not open");
  return errors_ ? errors_->ReportIoError() : E_VELMORAK40XX_IO_GENERAL;
}

HRESULT CDriverIOManager::Unexpected(std::string_view reply, std::string_view what) {
  std::string text = "\"";
  text.append(reply).append("\" ").append(what);
  return errors_ ? errors_->ReportErrorWithText(Msg::E_IVI_UNEXPECTED_RESPONSE, text)
                 : E_IVI_UNEXPECTED_RESPONSE;
}

HRESULT CDriverIOManager::ReadSTB(int16_t* pStb) {
  if (!pStb) return E_POINTER;
  if (!provider_) return NoProvider();
  Record r(RunningSink(), "ReadSTB");
  if (r) r.Out("pStb", pStb).Open();
  return r.Close(provider_->ReadSTB(pStb));
}

HRESULT CDriverIOManager::SetIOTimeout(int32_t lTimeout) {
  if (!provider_) return NoProvider();
  Record r(RunningSink(), "SetIOTimeout");
  if (r) r.In("lTimeout", lTimeout).Open();
  return r.Close(provider_->SetIOTimeout(lTimeout));
}

HRESULT CDriverIOManager::GetIOTimeout(int32_t* plTimeout) {
  if (!plTimeout) return E_POINTER;
  if (!provider_) return NoProvider();
  Record r(RunningSink(), "GetIOTimeout");
  if (r) r.Out("plTimeout", plTimeout).Open();
  return r.Close(provider_->GetIOTimeout(plTimeout));
}

HRESULT CDriverIOManager::IsTimeout(bool* pbTimeout) {
  if (!pbTimeout) return E_POINTER;
  if (!provider_) return NoProvider();
  return provider_->IsTimeout(pbTimeout);
}

HRESULT CDriverIOManager::Print(const char* operation, Send how, std::string_view format,
                                std::initializer_list<CommandArg> args) {
  if (!provider_) return NoProvider();
  // Most commands fit the string's own buffer; the rest cost one allocation.
  std::string command;
  AppendCommand(command, format, std::span<const CommandArg>(args.begin(), args.size()));
  Record r(RunningSink(), operation);
  if (r) r.In("strCmd", command).Open();
  switch (how) {
    case Send::Polled:
      return r.Close(provider_->InstrWrite(command, kIoTimeoutKeep));
    case Send::Unpolled:
      return r.Close(provider_->InstrWriteNoPoll(command, kIoTimeoutKeep));
    default:
      return r.Close(provider_->InstrWriteAhead(command));
  }
}

// The string query is traced under the name of the command operation, as the record has always
// called it.
HRESULT CDriverIOManager::InstrQuery(std::string_view command, int32_t cchDesired, int32_t lTimeout,
                                     std::string* result) {
  if (!result) return E_POINTER;
  if (!provider_) return NoProvider();
  Record r(RunningSink(), "InstrPrintf");
  if (r) {
    r.In("strCommand", command).In("cchDesired", cchDesired).In("lTimeout", lTimeout);
    r.Out("bstrResult", result).Open();
  }
  return r.Close(provider_->InstrQuery(command, cchDesired, lTimeout, result));
}

HRESULT CDriverIOManager::InstrQuery(std::string_view command, int32_t lTimeout, int32_t* result) {
  if (!result) return E_POINTER;
  if (!provider_) return NoProvider();
  Record r(RunningSink(), "InstrQuery");
  if (r) r.In("strCommand", command).In("lTimeout", lTimeout).Out("plResult", result).Open();
  return r.Close(provider_->InstrQuery(command, lTimeout, result));
}

HRESULT CDriverIOManager::InstrQuery(std::string_view command, int32_t lTimeout, double* result) {
  if (!result) return E_POINTER;
  if (!provider_) return NoProvider();
  Record r(RunningSink(), "InstrQuery");
  if (r) r.In("strCommand", command).In("lTimeout", lTimeout).Out("pdResult", result).Open();
  return r.Close(provider_->InstrQuery(command, lTimeout, result));
}

HRESULT CDriverIOManager::FormattedReadNumber(int32_t* pValue, bool bFlushToEnd,
                                              int32_t lTimeout) {
  if (!pValue) return E_POINTER;
  if (!provider_) return NoProvider();
  Record r(RunningSink(), "FormattedReadNumber");
  if (r) r.In("bFlushToEnd", bFlushToEnd).In("lTimeout", lTimeout).Out("pValue", pValue).Open();
  return r.Close(provider_->FormattedReadNumber(pValue, bFlushToEnd, lTimeout));
}

HRESULT CDriverIOManager::InstrPrintCommand() {
  if (!provider_) return NoProvider();
  Record r(RunningSink(), "InstrPrintCommand");
  if (r) r.In("strCommand", command_).Open();
  return r.Close(provider_->InstrWrite(command_, kIoTimeoutKeep));
}

HRESULT CDriverIOManager::InstrQueryCommand(int32_t cchDesired, std::string* result,
                                            int32_t lTimeout) {
  if (!result) return E_POINTER;
  if (!provider_) return NoProvider();
  Record r(RunningSink(), "InstrQueryCommand");
  if (r) {
    r.In("strCommand", command_).In("cchDesired", cchDesired).In("lTimeout", lTimeout);
    r.Out("bstrResult", result).Open();
  }
  return r.Close(provider_->InstrQuery(command_, cchDesired, lTimeout, result));
}

HRESULT CDriverIOManager::InstrQueryCommand(int32_t* result, int32_t lTimeout) {
  if (!result) return E_POINTER;
  if (!provider_) return NoProvider();
  Record r(RunningSink(), "InstrQueryCommand");
  if (r) r.In("strCommand", command_).In("lTimeout", lTimeout).Out("plResult", result).Open();
  return r.Close(provider_->InstrQuery(command_, lTimeout, result));
}

HRESULT CDriverIOManager::InstrQueryCommand(double* result, int32_t lTimeout) {
  if (!result) return E_POINTER;
  if (!provider_) return NoProvider();
  Record r(RunningSink(), "InstrQueryCommand");
  if (r) r.In("strCommand", command_).In("lTimeout", lTimeout).Out("pdResult", result).Open();
  return r.Close(provider_->InstrQuery(command_, lTimeout, result));
}

HRESULT CDriverIOManager::QueryTrimmed(const char* operation, int32_t lTimeout,
                                       std::string* trimmed) {
  Record r(RunningSink(), operation);
  if (r) r.In("strCommand", command_).In("lTimeout", lTimeout).Out("bstrResult", trimmed).Open();
  HRESULT hr = provider_->InstrQuery(command_, 1024, lTimeout, trimmed);
  if (SUCCEEDED(hr)) *trimmed = std::string(Trim(*trimmed));
  return r.Close(hr);
}

HRESULT CDriverIOManager::InstrQueryCommandBool(VARIANT_BOOL* plResult, int32_t lTimeout) {
  if (!plResult) return E_POINTER;
  *plResult = VARIANT_FALSE;
  if (!provider_) return NoProvider();
  std::string reply;
  const HRESULT hr = QueryTrimmed("InstrQueryCommandBool", lTimeout, &reply);
  if (FAILED(hr)) return hr;
  if (reply == "1")
    *plResult = VARIANT_TRUE;
  else if (reply != "0")
    return Unexpected(reply, "is not a boolean (1 or 0)");
  return hr;
}

HRESULT CDriverIOManager::InstrQueryCommandEnum(const KeywordLookup& keywords, int32_t* peResult,
                                                int32_t lTimeout) {
  if (!peResult) return E_POINTER;
  if (!provider_) return NoProvider();
  std::string reply;
  const HRESULT hr = QueryTrimmed("InstrQueryCommandEnum", lTimeout, &reply);
  if (FAILED(hr)) return hr;
  int32_t value = 0;
  if (!keywords.ValueOf(reply, &value))
    return Unexpected(reply, "is not one of the expected keywords");
  *peResult = value;
  return hr;
}

}  // namespace vmk
