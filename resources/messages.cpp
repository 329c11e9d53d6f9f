#include "resources/messages.h"

#include "vmk40xx/errors.h"

namespace vmk {

namespace {

constexpr MessageEntry kMessages[] = {
    {4, E_VELMORAK40XX_IO_GENERAL, "VelmoraK40xx: IO error: %1.\r\n"},
    {5, E_VELMORAK40XX_IO_TIMEOUT, "VelmoraK40xx: IO timeout error: %1.\r\n"},
    {6, E_VELMORAK40XX_MODEL_NOT_SUPPORTED,
     "VelmoraK40xx: Instrument model does not support this feature: %1.\r\n"},
    {7, E_VELMORAK40XX_WRAPPED_DRIVER_ERROR,
     "VelmoraK40xx: Error in call to wrapped driver: ViStatus = %1.\r\n"},
    {8, E_VELMORAK40XX_MAX_TIME_EXCEEDED,
     "VelmoraK40xx: Maximum time for operation to complete exceeded.\r\n"},
    {9, S_IVI_SUCCESS, "VelmoraK40xx: Success.\r\n"},
    {10, S_IVI_NSUP_ID_QUERY, "VelmoraK40xx: ID Query is not supported by this instrument.\r\n"},
    {11, S_IVI_NSUP_RESET, "VelmoraK40xx: Reset is not supported by this instrument.\r\n"},
    {12, S_IVI_NSUP_SELF_TEST, "VelmoraK40xx: Self test is not supported by this instrument.\r\n"},
    {13, S_IVI_NSUP_ERROR_QUERY,
     "VelmoraK40xx: Error query is not supported by this instrument.\r\n"},
    {14, S_IVI_NSUP_REV_QUERY,
     "VelmoraK40xx: Firmware revision query is not supported by this instrument.\r\n"},
    {15, E_IVI_CANNOT_RECOVER, "VelmoraK40xx: Failure cannot recover.\r\n"},
    {16, E_IVI_INSTRUMENT_STATUS,
     "VelmoraK40xx: Instrument error detected.  Use ErrorQuery() to determine the error(s).\r\n"},
    {17, E_IVI_CANNOT_OPEN_FILE, "VelmoraK40xx: Cannot open file.\r\n"},
    {18, E_IVI_READING_FILE, "VelmoraK40xx: Error reading file.\r\n"},
    {19, E_IVI_WRITING_FILE, "VelmoraK40xx: Error writing file.\r\n"},
    {20, E_IVI_INVALID_PATHNAME, "VelmoraK40xx: The pathname is invalid.\r\n"},
    {21, E_IVI_INVALID_VALUE, "VelmoraK40xx: Invalid value (%1) for method %2, parameter %3.\r\n"},
    {22, E_IVI_METHOD_NOT_SUPPORTED,
     "VelmoraK40xx: Does not support this class-compliant feature: method %1\r\n"},
    {23, E_IVI_PROPERTY_NOT_SUPPORTED,
     "VelmoraK40xx: Does not support this class-compliant feature: property %1.\r\n"},
    {24, E_IVI_VALUE_NOT_SUPPORTED,
     "VelmoraK40xx: Does not support this class-compliant feature:  (enumeration) value %1 passed "
     "as the value for parameter %2 in method %3.\r\n"},
    {25, E_IVI_NOT_INITIALIZED,
     "VelmoraK40xx: A connection to the instrument has not been established.\r\n"},
    {26, E_IVI_UNKNOWN_CHANNEL_NAME, "VelmoraK40xx: Unknown channel name.\r\n"},
    {27, E_IVI_TOO_MANY_OPEN_FILES, "VelmoraK40xx: Too many files are open.\r\n"},
    {28, E_IVI_CHANNEL_NAME_REQUIRED, "VelmoraK40xx: A channel name is required.\r\n"},
    {29, E_IVI_MISSING_OPTION_NAME,
     "VelmoraK40xx: The option string is missing an option name.\r\n"},
    {30, E_IVI_MISSING_OPTION_VALUE,
     "VelmoraK40xx: The option string is missing an option value.\r\n"},
    {31, E_IVI_BAD_OPTION_NAME, "VelmoraK40xx: The %1 name in the option string is unknown.\r\n"},
    {32, E_IVI_BAD_OPTION_VALUE, "VelmoraK40xx: The %1 value in the option string is unknown.\r\n"},
    {33, E_IVI_OUT_OF_MEMORY, "VelmoraK40xx: Could not allocate necessary memory.\r\n"},
    {34, E_IVI_OPERATION_PENDING, "VelmoraK40xx: Operation in progress.\r\n"},
    {35, E_IVI_NULL_POINTER, "VelmoraK40xx: Null pointer passed for method %1, parameter %2.\r\n"},
    {36, E_IVI_UNEXPECTED_RESPONSE, "VelmoraK40xx: Unexpected response from instrument.\r\n"},
    {37, E_IVI_FILE_NOT_FOUND, "VelmoraK40xx: File not found.\r\n"},
    {38, E_IVI_INVALID_FILE_FORMAT, "VelmoraK40xx: Invalid file format.\r\n"},
    {39, E_IVI_STATUS_NOT_AVAILABLE, "VelmoraK40xx: The instrument status is not available.\r\n"},
    {40, E_IVI_ID_QUERY_FAILED, "VelmoraK40xx: Instrument ID query failed.\r\n"},
    {41, E_IVI_RESET_FAILED, "VelmoraK40xx: Instrument reset failed.\r\n"},
    {42, E_IVI_RESOURCE_UNKNOWN, "VelmoraK40xx: Unknown resource.\r\n"},
    {43, E_IVI_ALREADY_INITIALIZED, "VelmoraK40xx: The driver is already initialized.\r\n"},
    {44, E_IVI_CANNOT_CHANGE_SIMULATION_STATE,
     "VelmoraK40xx: The simulation state cannot be changed.\r\n"},
    {45, E_IVI_INVALID_NUMBER_OF_LEVELS_IN_SELECTOR,
     "VelmoraK40xx: The number of levels in the selector is not valid for the %1 repeated "
     "capability.\r\n"},
    {46, E_IVI_INVALID_RANGE_IN_SELECTOR,
     "VelmoraK40xx: The range %1 is not valid for the repeated capability %2.\r\n"},
    {47, E_IVI_UNKNOWN_NAME_IN_SELECTOR, "VelmoraK40xx: Unknown name in selector.\r\n"},
    {48, E_IVI_BADLY_FORMED_SELECTOR,
     "VelmoraK40xx: The repeated capability selector is badly-formed.\r\n"},
    {49, E_IVI_UNKNOWN_PHYSICAL_IDENTIFIER,
     "VelmoraK40xx: Unknown physical repeated capability selector.\r\n"},
    {50, E_IVIDCPWR_TRIGGER_NOT_SOFTWARE,
     "VelmoraK40xx: The trigger source is not set to software trigger.\r\n"},
};

}  // namespace

std::span<const MessageEntry> MessageTable() {
  return kMessages;
}

}  // namespace vmk
