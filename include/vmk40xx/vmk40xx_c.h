/* The driver's flat C interface (IVI-C): the VmK40xx_ functions, their attribute identifiers,
   enumeration values and status codes. C99 and C++; link with -lvmk40xx.

     ViSession vi;
     ViStatus status = VmK40xx_InitWithOptions("TCPIP0::192.0.2.7::5025::SOCKET", VI_TRUE, VI_FALSE,
                                               "QueryInstrStatus=true", &vi);
     if (status == VI_SUCCESS) status = VmK40xx_ConfigureVoltageLevel(vi, "Output2", 5.0);
     if (status < 0) {
       ViChar text[256];
       VmK40xx_GetError(vi, &status, sizeof text, text);
     }
     VmK40xx_close(vi);

   Conventions of every function:
   - The first parameter is the session handle from VmK40xx_init, VmK40xx_InitWithOptions or
     VmK40xx_AttachToExistingCOMSession. A handle that is closed, 0 or was never issued gives
     VMK40XX_ERROR_INVALID_SESSION_HANDLE and nothing else happens.
   - The result is VI_SUCCESS (0), a warning (> 0) or an error (< 0). The description of a failure
     is recorded with the session (with VI_NULL: with the calling thread) and read back, once, with
     VmK40xx_GetError.
   - Text in and out is UTF-8. A null input string counts as the empty string.
   - channelName selects an output (or, for the VmK40xxCalibration functions, a calibration
     instance) by name: "Output1", "Output2", ... or a virtual name of the configuration store,
     matched without regard to case. The name is split at ':' (empty pieces are skipped) and the
     first piece is used; a name made only of ':' gives VMK40XX_ERROR_BADLY_FORMED_SELECTOR. On a
     single-output model the empty name reaches the only output.
   - A null pointer for a number or boolean result, or for a fixed-size text buffer, gives
     VMK40XX_ERROR_FAILURE before the instrument is asked anything.
   - Text results with a bufferSize parameter follow the buffer rule. L being the length of the
     text in bytes: a null buffer or a bufferSize of 0 writes nothing and returns L + 1, the size
     needed; a negative bufferSize copies the whole text; a bufferSize of at least L + 1 copies the
     whole text and returns VI_SUCCESS; a smaller one copies bufferSize - 1 bytes and a zero and
     returns L + 1.
   - Every function may be called from any thread. Calls on one session from several threads are
     safe, but only VmK40xx_LockSession keeps a sequence of calls together. */
#ifndef VMK40XX_C_H
#define VMK40XX_C_H

#include "vmk40xx/export.h"

/* ---------------------------------------------------------------------------------------------
   VISA types. A VISA installation's visatype.h is used when the compiler finds one, so that a
   program including both headers, in either order, sees one set of definitions; otherwise the
   same definitions are made here. */

#if defined(__has_include)
#if __has_include(<visatype.h>)
#include <visatype.h>
#endif
#endif

#if !defined(__VISATYPE_HEADER__) && !defined(VMK40XX_VISA_TYPES_DEFINED)
#define VMK40XX_VISA_TYPES_DEFINED
#include <limits.h>
#if ULONG_MAX > 0xFFFFFFFFUL
typedef unsigned int ViUInt32;
typedef signed int ViInt32;
#else
typedef unsigned long ViUInt32;
typedef signed long ViInt32;
#endif
typedef unsigned short ViUInt16;
typedef signed short ViInt16;
typedef unsigned char ViUInt8;
typedef signed char ViInt8;
typedef char ViChar;
typedef unsigned char ViByte;
typedef float ViReal32;
typedef double ViReal64;
typedef ViUInt16 ViBoolean;
typedef ViChar* ViString;
typedef ViString ViRsrc;
typedef ViInt32 ViStatus;
typedef ViUInt32 ViObject;
typedef ViObject ViSession;
typedef ViUInt32 ViAttr;
typedef void* ViAddr;
#define VI_SUCCESS (0L)
#define VI_NULL (0)
#define VI_TRUE (1)
#define VI_FALSE (0)
#define _VI_ERROR (-2147483647L-1)
#endif

#ifndef _VI_CONST_STRING_DEFINED
#define _VI_CONST_STRING_DEFINED
typedef const ViChar* ViConstString;
#endif
#ifndef _VI_FUNC
#define _VI_FUNC
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* The COM object behind a session (vmk40xx/com.h declares it for C++ programs). */
struct IUnknown;

/* ---------------------------------------------------------------------------------------------
   Status codes. VmK40xx_error_message gives the text of those the driver object returns; the
   ones marked (*) are raised by this library itself, and their text is the recorded description
   only. */

#define VMK40XX_SUCCESS ((ViStatus)0x00000000)
#define VMK40XX_WARN_NSUP_ID_QUERY ((ViStatus)0x3FFA0065)
#define VMK40XX_WARN_NSUP_RESET ((ViStatus)0x3FFA0066)
#define VMK40XX_WARN_NSUP_SELF_TEST ((ViStatus)0x3FFA0067)
#define VMK40XX_WARN_NSUP_ERROR_QUERY ((ViStatus)0x3FFA0068)
#define VMK40XX_WARN_NSUP_REV_QUERY ((ViStatus)0x3FFA0069)
/* (*) A failure with no code of its own: a null result pointer, a status of the COM layer that
   has no IVI-C code, a driver object that could not be created. */
#define VMK40XX_ERROR_FAILURE ((ViStatus)0x80000000)
#define VMK40XX_ERROR_CANNOT_RECOVER ((ViStatus)0xBFFA0000)
#define VMK40XX_ERROR_INSTRUMENT_STATUS ((ViStatus)0xBFFA0001)
#define VMK40XX_ERROR_CANNOT_OPEN_FILE ((ViStatus)0xBFFA0002)
#define VMK40XX_ERROR_READING_FILE ((ViStatus)0xBFFA0003)
#define VMK40XX_ERROR_WRITING_FILE ((ViStatus)0xBFFA0004)
#define VMK40XX_ERROR_INVALID_PATHNAME ((ViStatus)0xBFFA000B)
/* (*) "Attribute not recognized." */
#define VMK40XX_ERROR_INVALID_ATTRIBUTE ((ViStatus)0xBFFA000C)
/* (*) "Attribute is read only." */
#define VMK40XX_ERROR_ATTR_NOT_WRITEABLE ((ViStatus)0xBFFA000D)
/* (*) "Attribute is write only." */
#define VMK40XX_ERROR_ATTR_NOT_READABLE ((ViStatus)0xBFFA000E)
#define VMK40XX_ERROR_INVALID_VALUE ((ViStatus)0xBFFA0010)
#define VMK40XX_ERROR_FUNCTION_NOT_SUPPORTED ((ViStatus)0xBFFA0011)
#define VMK40XX_ERROR_ATTRIBUTE_NOT_SUPPORTED ((ViStatus)0xBFFA0012)
#define VMK40XX_ERROR_VALUE_NOT_SUPPORTED ((ViStatus)0xBFFA0013)
/* (*) "Incorrect GetAttribute (or SetAttribute) for attribute of this type." */
#define VMK40XX_ERROR_TYPES_DO_NOT_MATCH ((ViStatus)0xBFFA0015)
#define VMK40XX_ERROR_NOT_INITIALIZED ((ViStatus)0xBFFA001D)
#define VMK40XX_ERROR_UNKNOWN_CHANNEL_NAME ((ViStatus)0xBFFA0020)
#define VMK40XX_ERROR_TOO_MANY_OPEN_FILES ((ViStatus)0xBFFA0023)
#define VMK40XX_ERROR_CHANNEL_NAME_REQUIRED ((ViStatus)0xBFFA0044)
#define VMK40XX_ERROR_MISSING_OPTION_NAME ((ViStatus)0xBFFA0049)
#define VMK40XX_ERROR_MISSING_OPTION_VALUE ((ViStatus)0xBFFA004A)
#define VMK40XX_ERROR_BAD_OPTION_NAME ((ViStatus)0xBFFA004B)
#define VMK40XX_ERROR_BAD_OPTION_VALUE ((ViStatus)0xBFFA004C)
#define VMK40XX_ERROR_OUT_OF_MEMORY ((ViStatus)0xBFFA0056)
#define VMK40XX_ERROR_OPERATION_PENDING ((ViStatus)0xBFFA0057)
#define VMK40XX_ERROR_NULL_POINTER ((ViStatus)0xBFFA0058)
#define VMK40XX_ERROR_UNEXPECTED_RESPONSE ((ViStatus)0xBFFA0059)
#define VMK40XX_ERROR_FILE_NOT_FOUND ((ViStatus)0xBFFA005B)
#define VMK40XX_ERROR_INVALID_FILE_FORMAT ((ViStatus)0xBFFA005C)
#define VMK40XX_ERROR_STATUS_NOT_AVAILABLE ((ViStatus)0xBFFA005D)
#define VMK40XX_ERROR_ID_QUERY_FAILED ((ViStatus)0xBFFA005E)
#define VMK40XX_ERROR_RESET_FAILED ((ViStatus)0xBFFA005F)
#define VMK40XX_ERROR_RESOURCE_UNKNOWN ((ViStatus)0xBFFA0060)
#define VMK40XX_ERROR_ALREADY_INITIALIZED ((ViStatus)0xBFFA0061)
#define VMK40XX_ERROR_CANNOT_CHANGE_SIMULATION_STATE ((ViStatus)0xBFFA0062)
#define VMK40XX_ERROR_INVALID_NUMBER_OF_LEVELS_IN_SELECTOR ((ViStatus)0xBFFA0063)
#define VMK40XX_ERROR_INVALID_RANGE_IN_SELECTOR ((ViStatus)0xBFFA0064)
#define VMK40XX_ERROR_UNKNOWN_NAME_IN_SELECTOR ((ViStatus)0xBFFA0065)
#define VMK40XX_ERROR_BADLY_FORMED_SELECTOR ((ViStatus)0xBFFA0066)
#define VMK40XX_ERROR_UNKNOWN_PHYSICAL_IDENTIFIER ((ViStatus)0xBFFA0067)
#define VMK40XX_ERROR_TRIGGER_NOT_SOFTWARE ((ViStatus)0xBFFA1001)
/* (*) "The session handle is not valid." (returned, not recorded) */
#define VMK40XX_ERROR_INVALID_SESSION_HANDLE ((ViStatus)0xBFFA1190)
#define VMK40XX_ERROR_IO_GENERAL ((ViStatus)0xBFFA4214)
#define VMK40XX_ERROR_IO_TIMEOUT ((ViStatus)0xBFFA4215)
#define VMK40XX_ERROR_MODEL_NOT_SUPPORTED ((ViStatus)0xBFFA4216)
#define VMK40XX_ERROR_MAX_TIME_EXCEEDED ((ViStatus)0xBFFA4217)
#define VMK40XX_ERROR_WRAPPED_DRIVER_ERROR ((ViStatus)0xBFFA4218)

/* ---------------------------------------------------------------------------------------------
   Attribute identifiers, for the VmK40xx_GetAttribute and VmK40xx_SetAttribute functions. Each
   has one type (the function pair to use) and an access; those marked "per output" or "per
   trigger" take the instance's name as channelName, the others ignore channelName. The list with
   types, access and the COM property behind each is vmk40xx_attributes.def. */

/* Inherent: ViBoolean, read-write */
#define VMK40XX_ATTR_RANGE_CHECK 1050002
#define VMK40XX_ATTR_QUERY_INSTRUMENT_STATUS 1050003
#define VMK40XX_ATTR_CACHE 1050004
#define VMK40XX_ATTR_SIMULATE 1050005
#define VMK40XX_ATTR_RECORD_COERCIONS 1050006
#define VMK40XX_ATTR_INTERCHANGE_CHECK 1050021
/* Inherent: ViString, read-only */
#define VMK40XX_ATTR_DRIVER_SETUP 1050007
#define VMK40XX_ATTR_SPECIFIC_DRIVER_PREFIX 1050302 /* "VmK40xx", also without a session */
#define VMK40XX_ATTR_IO_RESOURCE_DESCRIPTOR 1050304
#define VMK40XX_ATTR_LOGICAL_NAME 1050305
#define VMK40XX_ATTR_SUPPORTED_INSTRUMENT_MODELS 1050327
#define VMK40XX_ATTR_GROUP_CAPABILITIES 1050401
#define VMK40XX_ATTR_INSTRUMENT_FIRMWARE_REVISION 1050510
#define VMK40XX_ATTR_INSTRUMENT_MANUFACTURER 1050511
#define VMK40XX_ATTR_INSTRUMENT_MODEL 1050512
#define VMK40XX_ATTR_SPECIFIC_DRIVER_VENDOR 1050513
#define VMK40XX_ATTR_SPECIFIC_DRIVER_DESCRIPTION 1050514
#define VMK40XX_ATTR_SPECIFIC_DRIVER_REVISION 1050551
/* Inherent: ViInt32, read-only */
#define VMK40XX_ATTR_CHANNEL_COUNT 1050203
#define VMK40XX_ATTR_SPECIFIC_DRIVER_CLASS_SPEC_MAJOR_VERSION 1050515 /* also with VI_NULL */
#define VMK40XX_ATTR_SPECIFIC_DRIVER_CLASS_SPEC_MINOR_VERSION 1050516 /* also with VI_NULL */

/* Instrument-specific */
#define VMK40XX_ATTR_CALIBRATIONS_ENABLED 1150001  /* ViBoolean, read-only */
#define VMK40XX_ATTR_CALIBRATIONS_PASSWORD 1150002 /* ViString, write-only */
#define VMK40XX_ATTR_CALIBRATIONS_STRING 1150003   /* ViString */
#define VMK40XX_ATTR_CALIBRATIONS_TIMES 1150004    /* ViInt32, read-only */
#define VMK40XX_ATTR_DISPLAY_ENABLED 1150005       /* ViBoolean */
#define VMK40XX_ATTR_DISPLAY_MODE 1150006          /* ViInt32: VMK40XX_VAL_DISPLAY_MODE_ */
#define VMK40XX_ATTR_DISPLAY_TEXT 1150007          /* ViString */
#define VMK40XX_ATTR_OUTPUTS_CHANNEL 1150008       /* ViInt32: VMK40XX_VAL_OUTPUT1 ... */
#define VMK40XX_ATTR_OUTPUTS_ENABLED 1150009       /* ViBoolean */
#define VMK40XX_ATTR_OUTPUTS_RELAY_ENABLED 1150010 /* ViBoolean */
#define VMK40XX_ATTR_OUTPUTS_TRACKING_ENABLED 1150011 /* ViBoolean */
#define VMK40XX_ATTR_OUTPUT_VOLTAGE_RANGE 1150015 /* ViInt32, per output: VMK40XX_VAL_VOLTAGE_RANGE_ */
#define VMK40XX_ATTR_OUTPUT_PROTECTION_OCP_ENABLED 1150016 /* ViBoolean, per output */
#define VMK40XX_ATTR_OUTPUT_PROTECTION_OCP_LIMIT 1150017   /* ViReal64, per output */
#define VMK40XX_ATTR_OUTPUT_PROTECTION_OCP_TRIPPED 1150018 /* ViBoolean, per output, read-only */
#define VMK40XX_ATTR_OUTPUT_PROTECTION_OVP_ENABLED 1150019 /* ViBoolean, per output */
#define VMK40XX_ATTR_OUTPUT_PROTECTION_OVP_LIMIT 1150020   /* ViReal64, per output */
#define VMK40XX_ATTR_OUTPUT_PROTECTION_OVP_TRIPPED 1150021 /* ViBoolean, per output, read-only */
#define VMK40XX_ATTR_STATUS_SERIAL_POLL 1150022            /* ViInt32, read-only */
#define VMK40XX_ATTR_SYSTEM_MODEL 1150024 /* ViInt32: VMK40XX_VAL_MODEL_; setting it is refused */
#define VMK40XX_ATTR_SYSTEM_TIMEOUT_MILLISECONDS 1150025 /* ViInt32 */
#define VMK40XX_ATTR_SYSTEM_TRACE_ENABLED 1150026        /* ViBoolean */
#define VMK40XX_ATTR_TRIGGERS_COUPLING 1150027 /* ViInt32: VMK40XX_VAL_COUPLING_ */
#define VMK40XX_ATTR_TRIGGER_CURRENT_LIMIT 1150028 /* ViReal64, per trigger */
#define VMK40XX_ATTR_TRIGGER_DELAY 1150029         /* ViReal64, per trigger, seconds */
#define VMK40XX_ATTR_TRIGGER_VOLTAGE_LEVEL 1150031 /* ViReal64, per trigger */
#define VMK40XX_ATTR_CALIBRATION_COUNT 1150104     /* ViInt32, read-only */
#define VMK40XX_ATTR_OUTPUT_COUNT 1150105          /* ViInt32, read-only */
#define VMK40XX_ATTR_TRIGGER_COUNT 1150106         /* ViInt32, read-only */

/* IviDCPwr class, all per output */
#define VMK40XX_ATTR_VOLTAGE_LEVEL 1250001          /* ViReal64, volts */
#define VMK40XX_ATTR_OVP_ENABLED 1250002            /* ViBoolean */
#define VMK40XX_ATTR_OVP_LIMIT 1250003              /* ViReal64, volts */
#define VMK40XX_ATTR_CURRENT_LIMIT_BEHAVIOR 1250004 /* ViInt32: VMK40XX_VAL_CURRENT_ */
#define VMK40XX_ATTR_CURRENT_LIMIT 1250005          /* ViReal64, amperes */
#define VMK40XX_ATTR_OUTPUT_ENABLED 1250006         /* ViBoolean */
#define VMK40XX_ATTR_TRIGGER_SOURCE 1250101         /* ViInt32: VMK40XX_VAL_TRIG_ */
#define VMK40XX_ATTR_TRIGGERED_CURRENT_LIMIT 1250102 /* ViReal64, amperes */
#define VMK40XX_ATTR_TRIGGERED_VOLTAGE_LEVEL 1250103 /* ViReal64, volts */

/* ---------------------------------------------------------------------------------------------
   Enumeration values: the values of the driver's COM enumerations, passed through unchanged. */

/* Current limit behavior: VmK40xx_ConfigureCurrentLimit, VMK40XX_ATTR_CURRENT_LIMIT_BEHAVIOR */
#define VMK40XX_VAL_CURRENT_REGULATE 0
#define VMK40XX_VAL_CURRENT_TRIP 1
/* Range type: VmK40xx_ConfigureOutputRange */
#define VMK40XX_VAL_RANGE_CURRENT 0
#define VMK40XX_VAL_RANGE_VOLTAGE 1
/* Measurement type: VmK40xx_Measure */
#define VMK40XX_VAL_MEASURE_CURRENT 0
#define VMK40XX_VAL_MEASURE_VOLTAGE 1
/* Trigger source: VmK40xx_ConfigureTriggerSource, VMK40XX_ATTR_TRIGGER_SOURCE. The class's
   values; the instrument takes VMK40XX_VAL_TRIG_IMMEDIATE and VMK40XX_VAL_SOFTWARE_TRIG. */
#define VMK40XX_VAL_TRIG_IMMEDIATE 0
#define VMK40XX_VAL_TRIG_EXTERNAL 1
#define VMK40XX_VAL_SOFTWARE_TRIG 2
#define VMK40XX_VAL_TRIG_TTL0 3
#define VMK40XX_VAL_TRIG_TTL1 4
#define VMK40XX_VAL_TRIG_TTL2 5
#define VMK40XX_VAL_TRIG_TTL3 6
#define VMK40XX_VAL_TRIG_TTL4 7
#define VMK40XX_VAL_TRIG_TTL5 8
#define VMK40XX_VAL_TRIG_TTL6 9
#define VMK40XX_VAL_TRIG_TTL7 10
#define VMK40XX_VAL_TRIG_ECL0 11
#define VMK40XX_VAL_TRIG_ECL1 12
#define VMK40XX_VAL_TRIG_PXI_STAR 13
#define VMK40XX_VAL_TRIG_RTSI_0 14
#define VMK40XX_VAL_TRIG_RTSI_1 15
#define VMK40XX_VAL_TRIG_RTSI_2 16
#define VMK40XX_VAL_TRIG_RTSI_3 17
#define VMK40XX_VAL_TRIG_RTSI_4 18
#define VMK40XX_VAL_TRIG_RTSI_5 19
#define VMK40XX_VAL_TRIG_RTSI_6 20
/* Output state: VmK40xx_QueryOutputState (0 to 4), VmK40xx_OutputQueryState (0 to 5) */
#define VMK40XX_VAL_OUTPUT_CONSTANT_VOLTAGE 0
#define VMK40XX_VAL_OUTPUT_CONSTANT_CURRENT 1
#define VMK40XX_VAL_OUTPUT_OVER_VOLTAGE 2
#define VMK40XX_VAL_OUTPUT_OVER_CURRENT 3
#define VMK40XX_VAL_OUTPUT_UNREGULATED 4
#define VMK40XX_VAL_OUTPUT_OFF 5
/* Step direction: VmK40xx_OutputRunStep */
#define VMK40XX_VAL_VOLTAGE_STEP_UP 0
#define VMK40XX_VAL_VOLTAGE_STEP_DOWN 1
#define VMK40XX_VAL_CURRENT_STEP_UP 2
#define VMK40XX_VAL_CURRENT_STEP_DOWN 3
/* Step: VmK40xx_OutputGetStep, VmK40xx_OutputSetStep */
#define VMK40XX_VAL_VOLTAGE_STEP 0
#define VMK40XX_VAL_DEFAULT_VOLTAGE_STEP 1
#define VMK40XX_VAL_CURRENT_STEP 2
#define VMK40XX_VAL_DEFAULT_CURRENT_STEP 3
/* Voltage range: VMK40XX_ATTR_OUTPUT_VOLTAGE_RANGE */
#define VMK40XX_VAL_VOLTAGE_RANGE_LOW 0
#define VMK40XX_VAL_VOLTAGE_RANGE_HIGH 1
/* Output channel: VMK40XX_ATTR_OUTPUTS_CHANNEL */
#define VMK40XX_VAL_OUTPUT1 1
#define VMK40XX_VAL_OUTPUT2 2
#define VMK40XX_VAL_OUTPUT3 3
/* Trigger coupling: VMK40XX_ATTR_TRIGGERS_COUPLING; the pairings exist on the three-output
   model only */
#define VMK40XX_VAL_COUPLING_ON 0
#define VMK40XX_VAL_COUPLING_OFF 1
#define VMK40XX_VAL_COUPLING_ALL 2
#define VMK40XX_VAL_COUPLING_NONE 3
#define VMK40XX_VAL_COUPLING_P6P25 4
#define VMK40XX_VAL_COUPLING_P6N25 5
#define VMK40XX_VAL_COUPLING_P25N25 6
/* Status register and sub-register: the VmK40xx_Status functions */
#define VMK40XX_VAL_STATUS_REGISTER_STATUS_BYTE 0
#define VMK40XX_VAL_STATUS_REGISTER_STANDARD_EVENT 1
#define VMK40XX_VAL_STATUS_REGISTER_QUESTIONABLE 2
#define VMK40XX_VAL_STATUS_REGISTER_INSTRUMENT 3
#define VMK40XX_VAL_STATUS_REGISTER_INSTRUMENT1 4
#define VMK40XX_VAL_STATUS_REGISTER_INSTRUMENT2 5
#define VMK40XX_VAL_STATUS_REGISTER_INSTRUMENT3 6
#define VMK40XX_VAL_STATUS_SUB_REGISTER_EVENT 0
#define VMK40XX_VAL_STATUS_SUB_REGISTER_ENABLE 1
#define VMK40XX_VAL_STATUS_SUB_REGISTER_SUMMARY 2
/* Display mode: VMK40XX_ATTR_DISPLAY_MODE */
#define VMK40XX_VAL_DISPLAY_MODE_VOLT_CURRENT 0
#define VMK40XX_VAL_DISPLAY_MODE_VOLT_VOLT 1
#define VMK40XX_VAL_DISPLAY_MODE_CURRENT_CURRENT 2
/* Calibration level: VmK40xx_CalibrationCurrentLevel, VmK40xx_CalibrationVoltageLevel */
#define VMK40XX_VAL_CALIBRATION_LEVEL_MIN 0
#define VMK40XX_VAL_CALIBRATION_LEVEL_MID 1
#define VMK40XX_VAL_CALIBRATION_LEVEL_MAX 2
/* Instrument model: VMK40XX_ATTR_SYSTEM_MODEL */
#define VMK40XX_VAL_MODEL_NOT_ASSIGNED 0
#define VMK40XX_VAL_MODEL_K4301A 1
#define VMK40XX_VAL_MODEL_K4101A 2
#define VMK40XX_VAL_MODEL_K4102A 3
#define VMK40XX_VAL_MODEL_K4103A 4
#define VMK40XX_VAL_MODEL_K4104A 5
#define VMK40XX_VAL_MODEL_K4105A 6
#define VMK40XX_VAL_MODEL_K4106A 7
#define VMK40XX_VAL_MODEL_K4107A 8
#define VMK40XX_VAL_MODEL_K4108A 9
#define VMK40XX_VAL_MODEL_K4109A 10
#define VMK40XX_VAL_MODEL_K4201A 11
#define VMK40XX_VAL_MODEL_K4202A 12
#define VMK40XX_VAL_MODEL_K4203A 13
#define VMK40XX_VAL_MODEL_K4204A 14
#define VMK40XX_VAL_MODEL_NONE_SUPPORT 99 /* an instrument model the driver has no entry for */

/* =============================================================================================
   Sessions */

/* Opens a session, as VmK40xx_InitWithOptions does with an empty option string.
   resourceName  in   a VISA resource or a logical name of the IVI configuration store
   idQuery       in   VI_TRUE: check that the instrument is a model the driver knows
   reset         in   VI_TRUE: reset the instrument after connecting
   vi            out  the new session; VI_NULL when the call fails
   Returns VI_SUCCESS, a warning of the initialization, or an error whose description
   VmK40xx_GetError(VI_NULL, ...) gives on the same thread. */
VMK40XX_EXPORT ViStatus _VI_FUNC VmK40xx_init(ViConstString resourceName, ViBoolean idQuery,
                                             ViBoolean reset, ViSession* vi);

/* Opens a session: creates a driver object, initializes it and binds it to a new handle.
   resourceName  in   a VISA resource ("TCPIP0::host::5025::SOCKET", "ASRL/dev/ttyUSB0::INSTR") or
                      a logical name of the IVI configuration store
   idQuery       in   VI_TRUE: check that the instrument is a model the driver knows
   reset         in   VI_TRUE: reset the instrument after connecting
   optionString  in   "Name=value" pairs separated by commas: RangeCheck, QueryInstrStatus, Cache,
                      Simulate, RecordCoercions, InterchangeCheck, and DriverSetup= with the rest
                      of the string (for example "Simulate=true, DriverSetup=Model=K4201A")
   vi            out  the new session; VI_NULL when the call fails
   Returns VI_SUCCESS, a warning of the initialization, or an error whose description
   VmK40xx_GetError(VI_NULL, ...) gives on the same thread; VMK40XX_ERROR_FAILURE for a null vi. */
VMK40XX_EXPORT ViStatus _VI_FUNC VmK40xx_InitWithOptions(ViConstString resourceName,
                                                        ViBoolean idQuery, ViBoolean reset,
                                                        ViConstString optionString, ViSession* vi);

/* Closes the instrument connection, releases the driver object and ends the session; the handle
   is invalid afterwards, even when closing the connection reported an error.
   Returns the status of closing the connection, else that of ending the session. */
VMK40XX_EXPORT ViStatus _VI_FUNC VmK40xx_close(ViSession vi);

/* The session's driver object, for use through its COM interfaces (vmk40xx/vmk40xx.h).
   unknown  out  the object's IUnknown, with a reference the caller releases
   Returns VI_SUCCESS, or VMK40XX_ERROR_FAILURE for a null unknown. */
VMK40XX_EXPORT ViStatus _VI_FUNC VmK40xx_GetNativeIUnknownPtr(ViSession vi,
                                                             struct IUnknown** unknown);

/* Makes a session for a driver object that the caller created and initialized through COM. The
   session holds its own reference; VmK40xx_close closes the object.
   existing  in   the driver object (any of its interfaces)
   vi        out  the new session
   Returns VI_SUCCESS, or VMK40XX_ERROR_FAILURE for a null pointer. */
VMK40XX_EXPORT ViStatus _VI_FUNC VmK40xx_AttachToExistingCOMSession(struct IUnknown* existing,
                                                                   ViSession* vi);

/* Takes the session's lock, so that a sequence of calls from this thread is not interleaved with
   another thread's calls on the same session (each of which must take the lock too). Nested calls
   on one thread are counted; the call waits while another thread holds the lock.
   callerHasLock  in/out  may be VI_NULL. When it points to VI_TRUE nothing is done; otherwise the
                          lock is taken and VI_TRUE stored, so that a function that locks and
                          unlocks with its own flag leaves a caller's lock alone
   Returns VI_SUCCESS, or VMK40XX_ERROR_INVALID_SESSION_HANDLE (also when the session is closed
   while the call waits). */
VMK40XX_EXPORT ViStatus _VI_FUNC VmK40xx_LockSession(ViSession vi, ViBoolean* callerHasLock);

/* Releases one level of the session's lock.
   callerHasLock  in/out  may be VI_NULL. When it points to VI_FALSE nothing is done; when it
                          points to VI_TRUE one level is released and VI_FALSE stored
   Returns VI_SUCCESS, or VMK40XX_ERROR_FAILURE when this thread does not hold the lock. */
VMK40XX_EXPORT ViStatus _VI_FUNC VmK40xx_UnlockSession(ViSession vi, ViBoolean* callerHasLock);

/* Reads the error recorded with the session, and clears it. An error is kept over later errors
   and over warnings, a warning over later warnings, until it is read.
   vi           in   the session, or VI_NULL for the calling thread's record: a failed
                     VmK40xx_init, and the first error of any session used on this thread since
                     the record was last read
   errorCode    out  the recorded status, VI_SUCCESS when there is none; may be VI_NULL
   bufferSize   in   size of description in bytes (buffer rule)
   description  out  the description, "" when there is none; may be VI_NULL with bufferSize 0
   Returns VI_SUCCESS, or the size needed when the description did not fit. When nothing could be
   written (bufferSize 0 or a null description) the record is kept. */
VMK40XX_EXPORT ViStatus _VI_FUNC VmK40xx_GetError(ViSession vi, ViStatus* errorCode,
                                                 ViInt32 bufferSize, ViChar description[]);

/* Clears the recorded error without reading it.
   vi  in  the session, or VI_NULL for the calling thread's record
   Returns VI_SUCCESS or VMK40XX_ERROR_INVALID_SESSION_HANDLE. */
VMK40XX_EXPORT ViStatus _VI_FUNC VmK40xx_ClearError(ViSession vi);

/* The text of a status code that the driver object returns, with its placeholders (%1) unexpanded;
   "" for any other code. Needs no session.
   vi          in   ignored; VI_NULL is fine
   statusCode  in   the status
   message     out  at least 256 bytes
   Returns VI_SUCCESS, or VMK40XX_ERROR_FAILURE for a null message. */
VMK40XX_EXPORT ViStatus _VI_FUNC VmK40xx_error_message(ViSession vi, ViStatus statusCode,
                                                      ViChar message[256]);

/* =============================================================================================
   Attributes by identifier (VMK40XX_ATTR_). Each function checks, before looking at the session,
   that the identifier exists (else VMK40XX_ERROR_INVALID_ATTRIBUTE), that it has the function's
   type (else VMK40XX_ERROR_TYPES_DO_NOT_MATCH) and that it may be set (else
   VMK40XX_ERROR_ATTR_NOT_WRITEABLE) or read (else VMK40XX_ERROR_ATTR_NOT_READABLE); these
   refusals are recorded with vi, or with the thread when vi is no session. The other failures
   are those of the COM property behind the attribute. */

/* Reads a ViInt32 attribute (enumerations give the VMK40XX_VAL_ values).
   channelName  in   the output of a per-output attribute; ignored by the others
   attributeId  in   a VMK40XX_ATTR_ value of type ViInt32
   value        out  the value
   Returns VI_SUCCESS or an error; VMK40XX_ERROR_FAILURE for a null value. The two
   SPECIFIC_DRIVER_CLASS_SPEC versions may be read with vi VI_NULL. */
VMK40XX_EXPORT ViStatus _VI_FUNC VmK40xx_GetAttributeViInt32(ViSession vi,
                                                            ViConstString channelName,
                                                            ViAttr attributeId, ViInt32* value);
/* Sets a ViInt32 attribute.
   channelName  in  the output of a per-output attribute; ignored by the others
   attributeId  in  a read-write VMK40XX_ATTR_ value of type ViInt32
   value        in  the value
   Returns VI_SUCCESS or an error. */
VMK40XX_EXPORT ViStatus _VI_FUNC VmK40xx_SetAttributeViInt32(ViSession vi,
                                                            ViConstString channelName,
                                                            ViAttr attributeId, ViInt32 value);
/* Reads a ViReal64 attribute (volts, amperes or seconds).
   channelName  in   the output or trigger
   attributeId  in   a VMK40XX_ATTR_ value of type ViReal64
   value        out  the value
   Returns VI_SUCCESS or an error; VMK40XX_ERROR_FAILURE for a null value. */
VMK40XX_EXPORT ViStatus _VI_FUNC VmK40xx_GetAttributeViReal64(ViSession vi,
                                                             ViConstString channelName,
                                                             ViAttr attributeId, ViReal64* value);
/* Sets a ViReal64 attribute.
   channelName  in  the output or trigger
   attributeId  in  a read-write VMK40XX_ATTR_ value of type ViReal64
   value        in  the value
   Returns VI_SUCCESS or an error. */
VMK40XX_EXPORT ViStatus _VI_FUNC VmK40xx_SetAttributeViReal64(ViSession vi,
                                                             ViConstString channelName,
                                                             ViAttr attributeId, ViReal64 value);
/* Reads a ViBoolean attribute.
   channelName  in   the output of a per-output attribute; ignored by the others
   attributeId  in   a VMK40XX_ATTR_ value of type ViBoolean
   value        out  VI_TRUE or VI_FALSE
   Returns VI_SUCCESS or an error; VMK40XX_ERROR_FAILURE for a null value. */
VMK40XX_EXPORT ViStatus _VI_FUNC VmK40xx_GetAttributeViBoolean(ViSession vi,
                                                              ViConstString channelName,
                                                              ViAttr attributeId,
                                                              ViBoolean* value);
/* Sets a ViBoolean attribute.
   channelName  in  the output of a per-output attribute; ignored by the others
   attributeId  in  a read-write VMK40XX_ATTR_ value of type ViBoolean
   value        in  any non-zero value sets true
   Returns VI_SUCCESS or an error. */
VMK40XX_EXPORT ViStatus _VI_FUNC VmK40xx_SetAttributeViBoolean(ViSession vi,
                                                              ViConstString channelName,
                                                              ViAttr attributeId,
                                                              ViBoolean value);
/* Reads a ViString attribute. SPECIFIC_DRIVER_PREFIX ("VmK40xx") needs no session.
   channelName  in   ignored (no text attribute is per output or per trigger)
   attributeId  in   a readable VMK40XX_ATTR_ value of type ViString
   bufferSize   in   size of value in bytes (buffer rule)
   value        out  the text, UTF-8
   Returns VI_SUCCESS, the size needed when the text did not fit, or an error. */
VMK40XX_EXPORT ViStatus _VI_FUNC VmK40xx_GetAttributeViString(ViSession vi,
                                                             ViConstString channelName,
                                                             ViAttr attributeId,
                                                             ViInt32 bufferSize, ViChar value[]);
/* Sets a ViString attribute.
   channelName  in  ignored
   attributeId  in  a writable VMK40XX_ATTR_ value of type ViString
   value        in  the text, UTF-8; VI_NULL is the empty text
   Returns VI_SUCCESS or an error. */
VMK40XX_EXPORT ViStatus _VI_FUNC VmK40xx_SetAttributeViString(ViSession vi,
                                                             ViConstString channelName,
                                                             ViAttr attributeId,
                                                             ViConstString value);
/* No attribute is of type ViSession: the ViSession pair belongs to the IVI-C function set and
   always gives VMK40XX_ERROR_TYPES_DO_NOT_MATCH, or VMK40XX_ERROR_INVALID_ATTRIBUTE for an
   unknown identifier; value is not touched. */
VMK40XX_EXPORT ViStatus _VI_FUNC VmK40xx_GetAttributeViSession(ViSession vi,
                                                              ViConstString channelName,
                                                              ViAttr attributeId,
                                                              ViSession* value);
VMK40XX_EXPORT ViStatus _VI_FUNC VmK40xx_SetAttributeViSession(ViSession vi,
                                                              ViConstString channelName,
                                                              ViAttr attributeId,
                                                              ViSession value);

/* =============================================================================================
   Inherent operations. Unless a comment says otherwise, these return VI_SUCCESS or an error;
   in simulation they send nothing. */

/* Resets the instrument ("*RST") and forgets every cached setting. */
VMK40XX_EXPORT ViStatus _VI_FUNC VmK40xx_reset(ViSession vi);
/* As VmK40xx_reset, then restores the session's initial RangeCheck, Cache, Simulate and the other
   option settings. */
VMK40XX_EXPORT ViStatus _VI_FUNC VmK40xx_ResetWithDefaults(ViSession vi);
/* Puts the instrument in a state where it produces no output ("*RST"); cached settings are
   kept. */
VMK40XX_EXPORT ViStatus _VI_FUNC VmK40xx_Disable(ViSession vi);

/* Runs the instrument's self-test ("*TST?"; up to 30 s).
   testResult   out  0 when it passed
   testMessage  out  at least 1024 bytes: "Selftest passed" or "Selftest failed"
   Returns VI_SUCCESS or an error; VMK40XX_ERROR_FAILURE for a null pointer. */
VMK40XX_EXPORT ViStatus _VI_FUNC VmK40xx_self_test(ViSession vi, ViInt16* testResult,
                                                  ViChar testMessage[1024]);

/* Reads the oldest error of the instrument's error queue ("SYST:ERR?"), which removes it there.
   errorCode     out  the instrument's error number, 0 for none
   errorMessage  out  at least 1024 bytes: the instrument's text ("No error." in simulation)
   Returns VI_SUCCESS; VMK40XX_ERROR_UNEXPECTED_RESPONSE for a reply that is no error entry;
   VMK40XX_ERROR_FAILURE for a null pointer. */
VMK40XX_EXPORT ViStatus _VI_FUNC VmK40xx_error_query(ViSession vi, ViInt32* errorCode,
                                                    ViChar errorMessage[1024]);

/* The driver's revision and the instrument's firmware revision.
   driverRev  out  at least 256 bytes, for example "1.1.5.0"
   instrRev   out  at least 256 bytes: the firmware field of "*IDN?" ("Sim1.1.5.0" in simulation)
   Returns VI_SUCCESS or an error; VMK40XX_ERROR_FAILURE for a null pointer. */
VMK40XX_EXPORT ViStatus _VI_FUNC VmK40xx_revision_query(ViSession vi, ViChar driverRev[256],
                                                       ViChar instrRev[256]);

/* Forgets every cached setting: the next read of each asks the instrument. Always succeeds on a
   session. */
VMK40XX_EXPORT ViStatus _VI_FUNC VmK40xx_InvalidateAllAttributes(ViSession vi);

/* Interchangeability checking is not offered: these three return
   VMK40XX_ERROR_FUNCTION_NOT_SUPPORTED. VmK40xx_GetNextInterchangeWarning writes nothing to
   warning (bufferSize, buffer rule). */
VMK40XX_EXPORT ViStatus _VI_FUNC VmK40xx_ResetInterchangeCheck(ViSession vi);
VMK40XX_EXPORT ViStatus _VI_FUNC VmK40xx_ClearInterchangeWarnings(ViSession vi);
VMK40XX_EXPORT ViStatus _VI_FUNC VmK40xx_GetNextInterchangeWarning(ViSession vi,
                                                                  ViInt32 bufferSize,
                                                                  ViChar warning[]);

/* Takes the oldest record of a value the driver coerced (with VMK40XX_ATTR_RECORD_COERCIONS on).
   bufferSize  in   size of record in bytes (buffer rule)
   record      out  the record, "" when there is none; taken also when it did not fit
   Returns VI_SUCCESS, the size needed when the record did not fit, or an error. */
VMK40XX_EXPORT ViStatus _VI_FUNC VmK40xx_GetNextCoercionRecord(ViSession vi, ViInt32 bufferSize,
                                                              ViChar record[]);

/* The name of the output (VmK40xx_GetChannelName, VmK40xx_GetOutputName), trigger or
   calibration instance at a position.
   index       in   1 to the count (VMK40XX_ATTR_CHANNEL_COUNT, _OUTPUT_COUNT, _TRIGGER_COUNT,
                    _CALIBRATION_COUNT)
   bufferSize  in   size of name in bytes (buffer rule)
   name        out  "Output1", "Trigger2", "Calibration3", ...
   Returns VI_SUCCESS, the size needed when the name did not fit, or
   VMK40XX_ERROR_INVALID_VALUE for another index. */
VMK40XX_EXPORT ViStatus _VI_FUNC VmK40xx_GetChannelName(ViSession vi, ViInt32 index,
                                                       ViInt32 bufferSize, ViChar name[]);
VMK40XX_EXPORT ViStatus _VI_FUNC VmK40xx_GetOutputName(ViSession vi, ViInt32 index,
                                                      ViInt32 bufferSize, ViChar name[]);
VMK40XX_EXPORT ViStatus _VI_FUNC VmK40xx_GetTriggerName(ViSession vi, ViInt32 index,
                                                       ViInt32 bufferSize, ViChar name[]);
VMK40XX_EXPORT ViStatus _VI_FUNC VmK40xx_GetCalibrationName(ViSession vi, ViInt32 index,
                                                           ViInt32 bufferSize, ViChar name[]);

/* =============================================================================================
   IviDCPwr class functions. channelName names the output. Unless a comment says otherwise,
   these return VI_SUCCESS or an error; a feature the model lacks gives
   VMK40XX_ERROR_MODEL_NOT_SUPPORTED. */

/* Sets the output's voltage level.
   level  in  volts */
VMK40XX_EXPORT ViStatus _VI_FUNC VmK40xx_ConfigureVoltageLevel(ViSession vi,
                                                              ViConstString channelName,
                                                              ViReal64 level);
/* Sets the current limit and what the output does when it reaches it.
   behavior  in  VMK40XX_VAL_CURRENT_REGULATE, or VMK40XX_VAL_CURRENT_TRIP on the K4101A to
                 K4103A only (else VMK40XX_ERROR_INVALID_VALUE)
   limit     in  amperes */
VMK40XX_EXPORT ViStatus _VI_FUNC VmK40xx_ConfigureCurrentLimit(ViSession vi,
                                                              ViConstString channelName,
                                                              ViInt32 behavior, ViReal64 limit);
/* Switches over-voltage protection on or off and sets its limit (not on the K4301A).
   enabled  in  VI_TRUE: on
   limit    in  volts */
VMK40XX_EXPORT ViStatus _VI_FUNC VmK40xx_ConfigureOVP(ViSession vi, ViConstString channelName,
                                                     ViBoolean enabled, ViReal64 limit);
/* Programs the voltage level or the current limit; the instrument picks its range from it.
   rangeType  in  VMK40XX_VAL_RANGE_VOLTAGE or VMK40XX_VAL_RANGE_CURRENT
   range      in  volts or amperes */
VMK40XX_EXPORT ViStatus _VI_FUNC VmK40xx_ConfigureOutputRange(ViSession vi,
                                                             ViConstString channelName,
                                                             ViInt32 rangeType, ViReal64 range);
/* Switches the outputs on or off. The instrument has one switch for all its outputs: every
   channelName reaches the same setting.
   enabled  in  VI_TRUE: on */
VMK40XX_EXPORT ViStatus _VI_FUNC VmK40xx_ConfigureOutputEnabled(ViSession vi,
                                                               ViConstString channelName,
                                                               ViBoolean enabled);
/* What applies the triggered levels.
   source  in  VMK40XX_VAL_TRIG_IMMEDIATE or VMK40XX_VAL_SOFTWARE_TRIG; the other class values
               give VMK40XX_ERROR_VALUE_NOT_SUPPORTED */
VMK40XX_EXPORT ViStatus _VI_FUNC VmK40xx_ConfigureTriggerSource(ViSession vi,
                                                               ViConstString channelName,
                                                               ViInt32 source);
/* The voltage level that a trigger applies.
   level  in  volts */
VMK40XX_EXPORT ViStatus _VI_FUNC VmK40xx_ConfigureTriggeredVoltageLevel(ViSession vi,
                                                                       ViConstString channelName,
                                                                       ViReal64 level);
/* The current limit that a trigger applies.
   limit  in  amperes */
VMK40XX_EXPORT ViStatus _VI_FUNC VmK40xx_ConfigureTriggeredCurrentLimit(ViSession vi,
                                                                       ViConstString channelName,
                                                                       ViReal64 limit);
/* The highest voltage level the output can give with a current limit, from the model's ranges
   (the instrument is not asked).
   currentLimit     in   amperes
   maxVoltageLevel  out  volts
   Returns VI_SUCCESS; VMK40XX_ERROR_INVALID_VALUE for a limit outside the model's ranges;
   VMK40XX_ERROR_FAILURE for a null maxVoltageLevel. */
VMK40XX_EXPORT ViStatus _VI_FUNC VmK40xx_QueryMaxVoltageLevel(ViSession vi,
                                                             ViConstString channelName,
                                                             ViReal64 currentLimit,
                                                             ViReal64* maxVoltageLevel);
/* The highest current limit the output can give at a voltage level, from the model's ranges.
   voltageLevel     in   volts
   maxCurrentLimit  out  amperes
   Returns VI_SUCCESS; VMK40XX_ERROR_INVALID_VALUE for a level outside the model's ranges;
   VMK40XX_ERROR_FAILURE for a null maxCurrentLimit. */
VMK40XX_EXPORT ViStatus _VI_FUNC VmK40xx_QueryMaxCurrentLimit(ViSession vi,
                                                             ViConstString channelName,
                                                             ViReal64 voltageLevel,
                                                             ViReal64* maxCurrentLimit);
/* Whether the output is in a state.
   outputState  in   VMK40XX_VAL_OUTPUT_CONSTANT_VOLTAGE ... VMK40XX_VAL_OUTPUT_UNREGULATED
   inState      out  VI_TRUE or VI_FALSE
   Returns VI_SUCCESS or an error; VMK40XX_ERROR_FAILURE for a null inState. */
VMK40XX_EXPORT ViStatus _VI_FUNC VmK40xx_QueryOutputState(ViSession vi,
                                                         ViConstString channelName,
                                                         ViInt32 outputState, ViBoolean* inState);
/* Measures the output.
   measurementType  in   VMK40XX_VAL_MEASURE_VOLTAGE or VMK40XX_VAL_MEASURE_CURRENT
   measurement      out  volts or amperes
   Returns VI_SUCCESS or an error; VMK40XX_ERROR_FAILURE for a null measurement. */
VMK40XX_EXPORT ViStatus _VI_FUNC VmK40xx_Measure(ViSession vi, ViConstString channelName,
                                                ViInt32 measurementType, ViReal64* measurement);
/* Clears a tripped over-voltage, and where the model has it over-current, protection of the
   output (not on the K4301A). */
VMK40XX_EXPORT ViStatus _VI_FUNC VmK40xx_ResetOutputProtection(ViSession vi,
                                                              ViConstString channelName);
/* Arms the trigger system ("INIT"). */
VMK40XX_EXPORT ViStatus _VI_FUNC VmK40xx_Initiate(ViSession vi);
/* Disarms the trigger system ("ABOR"). */
VMK40XX_EXPORT ViStatus _VI_FUNC VmK40xx_Abort(ViSession vi);
/* Sends a bus trigger ("*TRG"), whatever the trigger sources are set to. */
VMK40XX_EXPORT ViStatus _VI_FUNC VmK40xx_SendSoftwareTrigger(ViSession vi);

/* =============================================================================================
   Instrument-specific functions. channelName names the output, or for the VmK40xx_Calibration
   functions the calibration instance ("Calibration1", ...). Unless a comment says otherwise,
   these return VI_SUCCESS or an error; a feature the model lacks gives
   VMK40XX_ERROR_MODEL_NOT_SUPPORTED. */

/* Sets voltage level and current limit in one command.
   voltageLevel  in  volts (negative for the third output of the K4301A)
   currentLimit  in  amperes */
VMK40XX_EXPORT ViStatus _VI_FUNC VmK40xx_OutputApplyVoltageCurrent(ViSession vi,
                                                                  ViConstString channelName,
                                                                  ViReal64 voltageLevel,
                                                                  ViReal64 currentLimit);
/* Whether the output is in a state.
   outputState  in   VMK40XX_VAL_OUTPUT_CONSTANT_VOLTAGE ... VMK40XX_VAL_OUTPUT_OFF
   result       out  VI_TRUE or VI_FALSE
   Returns VI_SUCCESS or an error; VMK40XX_ERROR_FAILURE for a null result. */
VMK40XX_EXPORT ViStatus _VI_FUNC VmK40xx_OutputQueryState(ViSession vi,
                                                         ViConstString channelName,
                                                         ViInt32 outputState, ViBoolean* result);
/* Moves the voltage level or current limit one step (single- and dual-output models).
   direction  in  VMK40XX_VAL_VOLTAGE_STEP_UP ... VMK40XX_VAL_CURRENT_STEP_DOWN */
VMK40XX_EXPORT ViStatus _VI_FUNC VmK40xx_OutputRunStep(ViSession vi, ViConstString channelName,
                                                      ViInt32 direction);
/* Reads a step size (single- and dual-output models).
   stepType  in   VMK40XX_VAL_VOLTAGE_STEP ... VMK40XX_VAL_DEFAULT_CURRENT_STEP
   value     out  volts or amperes
   Returns VI_SUCCESS or an error; VMK40XX_ERROR_FAILURE for a null value. */
VMK40XX_EXPORT ViStatus _VI_FUNC VmK40xx_OutputGetStep(ViSession vi, ViConstString channelName,
                                                      ViInt32 stepType, ViReal64* value);
/* Sets a step size (single- and dual-output models).
   stepType  in  VMK40XX_VAL_VOLTAGE_STEP or VMK40XX_VAL_CURRENT_STEP; the two DEFAULT types
                 restore the instrument's default step and ignore value
   value     in  volts or amperes */
VMK40XX_EXPORT ViStatus _VI_FUNC VmK40xx_OutputSetStep(ViSession vi, ViConstString channelName,
                                                      ViInt32 stepType, ViReal64 value);
/* Switches over-current protection on or off and sets its limit (K4101A to K4103A).
   enabled  in  VI_TRUE: on
   limit    in  amperes */
VMK40XX_EXPORT ViStatus _VI_FUNC VmK40xx_OutputProtectionConfigureOCP(ViSession vi,
                                                                     ViConstString channelName,
                                                                     ViBoolean enabled,
                                                                     ViReal64 limit);
/* Switches over-voltage protection on or off and sets its limit (not on the K4301A).
   enabled  in  VI_TRUE: on
   limit    in  volts */
VMK40XX_EXPORT ViStatus _VI_FUNC VmK40xx_OutputProtectionConfigureOVP(ViSession vi,
                                                                     ViConstString channelName,
                                                                     ViBoolean enabled,
                                                                     ViReal64 limit);
/* The highest over-current protection limit of the model (K4101A to K4103A).
   value  out  amperes
   Returns VI_SUCCESS or an error; VMK40XX_ERROR_FAILURE for a null value. */
VMK40XX_EXPORT ViStatus _VI_FUNC VmK40xx_OutputProtectionQueryOCPLimitMax(
    ViSession vi, ViConstString channelName, ViReal64* value);
/* The highest over-voltage protection limit of the model (not on the K4301A).
   value  out  volts
   Returns VI_SUCCESS or an error; VMK40XX_ERROR_FAILURE for a null value. */
VMK40XX_EXPORT ViStatus _VI_FUNC VmK40xx_OutputProtectionQueryOVPLimitMax(
    ViSession vi, ViConstString channelName, ViReal64* value);
/* Clears a tripped over-current protection (K4101A to K4103A). */
VMK40XX_EXPORT ViStatus _VI_FUNC VmK40xx_OutputProtectionResetOCP(ViSession vi,
                                                                 ViConstString channelName);
/* Clears a tripped over-voltage protection (not on the K4301A). */
VMK40XX_EXPORT ViStatus _VI_FUNC VmK40xx_OutputProtectionResetOVP(ViSession vi,
                                                                 ViConstString channelName);
/* Clears both protections, as far as the model has them (not on the K4301A). */
VMK40XX_EXPORT ViStatus _VI_FUNC VmK40xx_OutputProtectionResetOutputProtection(
    ViSession vi, ViConstString channelName);

/* Calibration steps. The instrument must be unsecured first (VmK40xx_CalibrationsSetState), else
   it refuses them; with QueryInstrStatus on that is VMK40XX_ERROR_INSTRUMENT_STATUS. In
   simulation they send nothing. */
/* Enters the measured current of the current calibration point.
   current  in  amperes */
VMK40XX_EXPORT ViStatus _VI_FUNC VmK40xx_CalibrationCurrentData(ViSession vi,
                                                               ViConstString channelName,
                                                               ViReal64 current);
/* Moves to a current calibration point, with the output's protections switched off first.
   level  in  VMK40XX_VAL_CALIBRATION_LEVEL_MIN, _MID (not on the K4301A) or _MAX */
VMK40XX_EXPORT ViStatus _VI_FUNC VmK40xx_CalibrationCurrentLevel(ViSession vi,
                                                                ViConstString channelName,
                                                                ViInt32 level);
/* Calibrates the over-current protection (K4101A to K4103A; up to 15 s). */
VMK40XX_EXPORT ViStatus _VI_FUNC VmK40xx_CalibrationCurrentProtection(ViSession vi,
                                                                     ViConstString channelName);
/* Enters the measured voltage of the voltage calibration point.
   voltage  in  volts */
VMK40XX_EXPORT ViStatus _VI_FUNC VmK40xx_CalibrationVoltageData(ViSession vi,
                                                               ViConstString channelName,
                                                               ViReal64 voltage);
/* Moves to a voltage calibration point, with the output's protections switched off first.
   level  in  VMK40XX_VAL_CALIBRATION_LEVEL_MIN, _MID (not on the K4301A) or _MAX */
VMK40XX_EXPORT ViStatus _VI_FUNC VmK40xx_CalibrationVoltageLevel(ViSession vi,
                                                                ViConstString channelName,
                                                                ViInt32 level);
/* Calibrates the over-voltage protection (not on the K4301A; up to 15 s). */
VMK40XX_EXPORT ViStatus _VI_FUNC VmK40xx_CalibrationVoltageProtection(ViSession vi,
                                                                     ViConstString channelName);
/* Calibrates the instrument's DAC error (K4101A to K4103A; up to 45 s). */
VMK40XX_EXPORT ViStatus _VI_FUNC VmK40xx_CalibrationsDACError(ViSession vi);
/* Secures or unsecures calibration.
   enabled   in  VI_TRUE unsecures (calibration allowed), VI_FALSE secures
   password  in  the instrument's calibration security code, sent as given */
VMK40XX_EXPORT ViStatus _VI_FUNC VmK40xx_CalibrationsSetState(ViSession vi, ViBoolean enabled,
                                                             ViConstString password);

/* Clears the text shown on the front panel. */
VMK40XX_EXPORT ViStatus _VI_FUNC VmK40xx_DisplayClear(ViSession vi);

/* Clears the status event registers and the error queue ("*CLS"). */
VMK40XX_EXPORT ViStatus _VI_FUNC VmK40xx_StatusClear(ViSession vi);
/* Writes a status register's enable mask.
   reg          in  VMK40XX_VAL_STATUS_REGISTER_ (INSTRUMENT to INSTRUMENT2 on dual- and
                    three-output models, INSTRUMENT3 on the K4301A; else
                    VMK40XX_ERROR_INVALID_VALUE)
   subRegister  in  VMK40XX_VAL_STATUS_SUB_REGISTER_; not used, only enable masks are written
   data         in  the mask: 0 to 56 for the status byte, 0 to 255 for the standard event
                    register (else VMK40XX_ERROR_INVALID_VALUE) */
VMK40XX_EXPORT ViStatus _VI_FUNC VmK40xx_StatusConfigureRegister(ViSession vi, ViInt32 reg,
                                                                ViInt32 subRegister,
                                                                ViInt32 data);
/* Reads a status register: its enable mask (VMK40XX_VAL_STATUS_SUB_REGISTER_ENABLE) or its
   event register (_EVENT, _SUMMARY). 0 in simulation.
   reg          in   as for VmK40xx_StatusConfigureRegister
   subRegister  in   VMK40XX_VAL_STATUS_SUB_REGISTER_
   value        out  the register's bits
   Returns VI_SUCCESS or an error; VMK40XX_ERROR_FAILURE for a null value. */
VMK40XX_EXPORT ViStatus _VI_FUNC VmK40xx_StatusGetRegister(ViSession vi, ViInt32 reg,
                                                          ViInt32 subRegister, ViInt32* value);
/* Writes a status register's enable mask, as VmK40xx_StatusConfigureRegister.
   reg, subRegister  in  as for VmK40xx_StatusConfigureRegister
   value             in  the mask */
VMK40XX_EXPORT ViStatus _VI_FUNC VmK40xx_StatusSetRegister(ViSession vi, ViInt32 reg,
                                                          ViInt32 subRegister, ViInt32 value);
/* Reads a status register, as VmK40xx_StatusGetRegister.
   reg, subRegister  in   as for VmK40xx_StatusGetRegister
   value             out  the register's bits
   Returns VI_SUCCESS or an error; VMK40XX_ERROR_FAILURE for a null value. */
VMK40XX_EXPORT ViStatus _VI_FUNC VmK40xx_StatusQueryRegister(ViSession vi, ViInt32 reg,
                                                            ViInt32 subRegister, ViInt32* value);

/* Sounds the instrument's beeper. */
VMK40XX_EXPORT ViStatus _VI_FUNC VmK40xx_SystemBeep(ViSession vi);
/* Gives control back to the front panel (serial and GPIB connections; on others
   VMK40XX_ERROR_FUNCTION_NOT_SUPPORTED). */
VMK40XX_EXPORT ViStatus _VI_FUNC VmK40xx_SystemEnableLocalControls(ViSession vi);
/* Locks the front panel out (remote control; serial and GPIB connections). */
VMK40XX_EXPORT ViStatus _VI_FUNC VmK40xx_SystemDisableLocalControls(ViSession vi);
/* The name of a state memory (dual-output models and K4104A to K4109A).
   index       in   1 to 5 (else VMK40XX_ERROR_INVALID_VALUE)
   bufferSize  in   size of name in bytes (buffer rule)
   name        out  the name, UTF-8
   Returns VI_SUCCESS, the size needed when the name did not fit, or an error. */
VMK40XX_EXPORT ViStatus _VI_FUNC VmK40xx_SystemGetMemoryName(ViSession vi, ViInt32 index,
                                                            ViInt32 bufferSize, ViChar name[]);
/* Names a state memory (dual-output models and K4104A to K4109A).
   index  in  1 to 5 (else VMK40XX_ERROR_INVALID_VALUE)
   name   in  the name, UTF-8, sent as given */
VMK40XX_EXPORT ViStatus _VI_FUNC VmK40xx_SystemSetMemoryName(ViSession vi, ViInt32 index,
                                                            ViConstString name);
/* Saves the instrument's settings in a state memory ("*SAV").
   identifier  in  the memory as the instrument takes it, for example "1"; sent unchecked */
VMK40XX_EXPORT ViStatus _VI_FUNC VmK40xx_SystemSaveState(ViSession vi, ViConstString identifier);
/* Recalls settings saved with VmK40xx_SystemSaveState ("*RCL").
   identifier  in  the memory, as for VmK40xx_SystemSaveState */
VMK40XX_EXPORT ViStatus _VI_FUNC VmK40xx_SystemRecallState(ViSession vi,
                                                          ViConstString identifier);
/* Waits until the instrument has finished its pending operations ("*OPC?").
   maxTimeMilliseconds  in  the longest wait, at least 100 ms
   Returns VI_SUCCESS, VMK40XX_ERROR_MAX_TIME_EXCEEDED when the instrument did not answer in
   time, or an error. */
VMK40XX_EXPORT ViStatus _VI_FUNC VmK40xx_SystemWaitForOperationComplete(
    ViSession vi, ViInt32 maxTimeMilliseconds);

/* Direct I/O: sends text to the instrument unchanged, with no terminator added and no status
   check.
   text  in  the bytes to send, UTF-8
   Returns VI_SUCCESS or an error; in simulation VMK40XX_ERROR_IO_GENERAL ("Direct I/O not
   available while Simulating"). */
VMK40XX_EXPORT ViStatus _VI_FUNC VmK40xx_SystemWrite(ViSession vi, ViConstString text);
/* Direct I/O: reads what the instrument sends, up to its terminator or size - 1 bytes, so that
   the text and its terminating zero fit in buffer; what did not fit is left for the next read.
   size        in   size of buffer in bytes; 0 and 1 read nothing
   buffer      out  the text read
   actualSize  out  the number of bytes stored, without the zero
   Returns VI_SUCCESS or an error; VMK40XX_ERROR_INVALID_VALUE for a negative size,
   VMK40XX_ERROR_FAILURE for a null buffer or actualSize; in simulation
   VMK40XX_ERROR_IO_GENERAL. */
VMK40XX_EXPORT ViStatus _VI_FUNC VmK40xx_SystemRead(ViSession vi, ViInt32 size, ViChar buffer[],
                                                   ViInt32* actualSize);

#ifdef __cplusplus
}
#endif

#endif /* VMK40XX_C_H */
