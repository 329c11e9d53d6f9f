// The error manager: every failure and warning the driver gives a caller is one numbered message,
// composed from the message table with its inserts, paired with its HRESULT and installed as the
// calling thread's COM error information.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

#include "vmk40xx/com.h"

namespace vmk {

// Message ids of the message table (resources/messages.cpp), named after their codes.
enum class Msg : int32_t {
  E_VELMORAK40XX_IO_GENERAL = 4,
  E_VELMORAK40XX_IO_TIMEOUT = 5,
  E_VELMORAK40XX_MODEL_NOT_SUPPORTED = 6,
  E_VELMORAK40XX_WRAPPED_DRIVER_ERROR = 7,
  E_VELMORAK40XX_MAX_TIME_EXCEEDED = 8,
  S_IVI_SUCCESS = 9,
  S_IVI_NSUP_ID_QUERY = 10,
  S_IVI_NSUP_RESET = 11,
  S_IVI_NSUP_SELF_TEST = 12,
  S_IVI_NSUP_ERROR_QUERY = 13,
  S_IVI_NSUP_REV_QUERY = 14,
  E_IVI_CANNOT_RECOVER = 15,
  E_IVI_INSTRUMENT_STATUS = 16,
  E_IVI_CANNOT_OPEN_FILE = 17,
  E_IVI_READING_FILE = 18,
  E_IVI_WRITING_FILE = 19,
  E_IVI_INVALID_PATHNAME = 20,
  E_IVI_INVALID_VALUE = 21,
  E_IVI_METHOD_NOT_SUPPORTED = 22,
  E_IVI_PROPERTY_NOT_SUPPORTED = 23,
  E_IVI_VALUE_NOT_SUPPORTED = 24,
  E_IVI_NOT_INITIALIZED = 25,
  E_IVI_UNKNOWN_CHANNEL_NAME = 26,
  E_IVI_TOO_MANY_OPEN_FILES = 27,
  E_IVI_CHANNEL_NAME_REQUIRED = 28,
  E_IVI_MISSING_OPTION_NAME = 29,
  E_IVI_MISSING_OPTION_VALUE = 30,
  E_IVI_BAD_OPTION_NAME = 31,
  E_IVI_BAD_OPTION_VALUE = 32,
  E_IVI_OUT_OF_MEMORY = 33,
  E_IVI_OPERATION_PENDING = 34,
  E_IVI_NULL_POINTER = 35,
  E_IVI_UNEXPECTED_RESPONSE = 36,
  E_IVI_FILE_NOT_FOUND = 37,
  E_IVI_INVALID_FILE_FORMAT = 38,
  E_IVI_STATUS_NOT_AVAILABLE = 39,
  E_IVI_ID_QUERY_FAILED = 40,
  E_IVI_RESET_FAILED = 41,
  E_IVI_RESOURCE_UNKNOWN = 42,
  E_IVI_ALREADY_INITIALIZED = 43,
  E_IVI_CANNOT_CHANGE_SIMULATION_STATE = 44,
  E_IVI_INVALID_NUMBER_OF_LEVELS_IN_SELECTOR = 45,
  E_IVI_INVALID_RANGE_IN_SELECTOR = 46,
  E_IVI_UNKNOWN_NAME_IN_SELECTOR = 47,
  E_IVI_BADLY_FORMED_SELECTOR = 48,
  E_IVI_UNKNOWN_PHYSICAL_IDENTIFIER = 49,
  E_IVIDCPWR_TRIGGER_NOT_SOFTWARE = 50,
};

// Framework identifiers of a few driver codes (40013 -> 4 and so on); 0 for any other value.
int32_t TranslateFrameworkId(int32_t frameworkId);

// The composed text of a message, or an empty optional-like result: returns false when the table
// has no text for the id.
bool ComposeMessage(int32_t id, std::initializer_list<std::string_view> inserts, std::string* out);

// The error source: the ProgID registered for the driver class, or its versioned ProgID while
// none is registered.
std::string ErrorSource();

class CErrorManager {
 public:
  // Compose message `id` with its inserts and raise it: install COM error information on this
  // thread and return the message's HRESULT (id 9 returns DISP_E_EXCEPTION, an unknown id E_FAIL).
  HRESULT ReportError(Msg id, std::initializer_list<std::string_view> inserts = {});
  // As ReportError, with "\r\n" and `text` appended to the composed message.
  HRESULT ReportErrorWithText(Msg id, std::string_view text,
                              std::initializer_list<std::string_view> inserts = {});
  HRESULT ReportErrorById(int32_t id, std::initializer_list<std::string_view> inserts = {});

  // Message 21 with the value formatted by its type, then the method and parameter names.
  HRESULT ReportInvalidValue(std::string_view method, std::string_view param, uint8_t value);
  HRESULT ReportInvalidValue(std::string_view method, std::string_view param, int16_t value);
  HRESULT ReportInvalidValue(std::string_view method, std::string_view param, int32_t value);
  HRESULT ReportInvalidValue(std::string_view method, std::string_view param, float value);
  HRESULT ReportInvalidValue(std::string_view method, std::string_view param, double value);
  HRESULT ReportInvalidValue(std::string_view method, std::string_view param,
                             std::string_view value);
  HRESULT ReportInvalidValue(std::string_view method, std::string_view param, const OLECHAR* value);

  // Messages 4 and 5 with the description of the COM error information the I/O layer left on
  // this thread (read and cleared; empty when there is none).
  HRESULT ReportIoError();
  HRESULT ReportIoTimeout();

  // The interface of the call in progress. Kept as a pointer to the interface's static id: the
  // frame sets and restores it on every call.
  const IID* InterfaceId() const { return iid_; }
  void SetInterfaceId(const IID* iid) { iid_ = iid; }

 private:
  HRESULT Raise(int32_t id, const std::string& text);
  const IID* iid_ = &GUID_NULL;
};

// Installs COM error information with this source and description, returning nothing; used by
// the lower layers (I/O) that report failures without a message id.
void SetComErrorInfo(const IID& iid, std::string_view source, std::string_view description);

}  // namespace vmk
