// The driver's public COM surface: its own interfaces, their identifiers and enumerations, on top
// of the IVI Foundation's inherent and DC power supply interfaces.
//
// The member order of every interface below is its vtable and must never change once released:
// clients compiled against an earlier copy of this header call by slot. A new member means a new
// interface with a new identifier. The identifiers are likewise fixed for good.
//
// Property getters come before setters here (as in IviDriverTypeLib, unlike IviDCPwrTypeLib).
// Getters and methods with a result hand it back through a final pointer named `val`; setters
// take the new value last, also named `val`. Interface results come with a reference added.
#pragma once

#include <cstdint>

#include "vmk40xx/com.h"
#include "vmk40xx/errors.h"
#include "vmk40xx/ivi_dcpwr.h"
#include "vmk40xx/ivi_driver.h"

// VISA-COM's formatted I/O interface, handed out for direct I/O. Declared with the I/O layer; a
// client that only drives the supply never needs its members.
struct IFormattedIO488;

// ---------------------------------------------------------------------------------------------
// Identifiers

// {7b04df95-a844-413e-8531-89743ede77cc}
inline constexpr IID IID_IVelmoraK40xx{
    0x7b04df95, 0xa844, 0x413e, {0x85, 0x31, 0x89, 0x74, 0x3e, 0xde, 0x77, 0xcc}};
// {cc4c50c7-254d-41c4-aaac-a5acbf8fe6d3}
inline constexpr IID IID_IVelmoraK40xxOutputs{
    0xcc4c50c7, 0x254d, 0x41c4, {0xaa, 0xac, 0xa5, 0xac, 0xbf, 0x8f, 0xe6, 0xd3}};
// {e5243ff5-9fa0-454b-ab31-f298e57753f4}
inline constexpr IID IID_IVelmoraK40xxOutput{
    0xe5243ff5, 0x9fa0, 0x454b, {0xab, 0x31, 0xf2, 0x98, 0xe5, 0x77, 0x53, 0xf4}};
// {1d2512c6-2e42-40c4-ac49-4cda20ad1571}
inline constexpr IID IID_IVelmoraK40xxProtection{
    0x1d2512c6, 0x2e42, 0x40c4, {0xac, 0x49, 0x4c, 0xda, 0x20, 0xad, 0x15, 0x71}};
// {6ffa5c02-609b-4d2d-b3fb-9004e731c2f6}
inline constexpr IID IID_IVelmoraK40xxDisplay{
    0x6ffa5c02, 0x609b, 0x4d2d, {0xb3, 0xfb, 0x90, 0x04, 0xe7, 0x31, 0xc2, 0xf6}};
// {619c088b-f74f-4f10-a6b0-e67c5153c60a}
inline constexpr IID IID_IVelmoraK40xxStatus{
    0x619c088b, 0xf74f, 0x4f10, {0xa6, 0xb0, 0xe6, 0x7c, 0x51, 0x53, 0xc6, 0x0a}};
// {5d46e11b-51b1-458a-bb60-32286b16096c}
inline constexpr IID IID_IVelmoraK40xxSystem{
    0x5d46e11b, 0x51b1, 0x458a, {0xbb, 0x60, 0x32, 0x28, 0x6b, 0x16, 0x09, 0x6c}};
// {edce640f-e0ca-43a7-b8b9-271aa4df7009}
inline constexpr IID IID_IVelmoraK40xxCalibrations{
    0xedce640f, 0xe0ca, 0x43a7, {0xb8, 0xb9, 0x27, 0x1a, 0xa4, 0xdf, 0x70, 0x09}};
// {202d1b74-7d34-4758-b790-e00885bd19a5}
inline constexpr IID IID_IVelmoraK40xxCalibration{
    0x202d1b74, 0x7d34, 0x4758, {0xb7, 0x90, 0xe0, 0x08, 0x85, 0xbd, 0x19, 0xa5}};
// {e2fe2f4d-01c2-4420-a69c-e31c5e59278d}
inline constexpr IID IID_IVelmoraK40xxTriggers{
    0xe2fe2f4d, 0x01c2, 0x4420, {0xa6, 0x9c, 0xe3, 0x1c, 0x5e, 0x59, 0x27, 0x8d}};
// {38e0eee3-0472-4beb-83b7-063515587d16}
inline constexpr IID IID_IVelmoraK40xxTrigger{
    0x38e0eee3, 0x0472, 0x4beb, {0x83, 0xb7, 0x06, 0x35, 0x15, 0x58, 0x7d, 0x16}};

// The creatable root class.
// {6e6f7ded-9115-4851-aa4f-5250e57c132a}
inline constexpr CLSID CLSID_VelmoraK40xx{
    0x6e6f7ded, 0x9115, 0x4851, {0xaa, 0x4f, 0x52, 0x50, 0xe5, 0x7c, 0x13, 0x2a}};
// {9f722314-e428-4e18-ba72-2551ff4989f9}
inline constexpr GUID LIBID_VelmoraK40xxLib{
    0x9f722314, 0xe428, 0x4e18, {0xba, 0x72, 0x25, 0x51, 0xff, 0x49, 0x89, 0xf9}};

// ---------------------------------------------------------------------------------------------
// Enumerations. All 32 bits wide, as the type library declares them; the values are what crosses
// the interface and what the instrument keyword tables are keyed by, so they are written out.

enum VelmoraK40xxModelEnum : int32_t {
  VelmoraK40xxNotAssigned = 0,
  VelmoraK40xxModelK4301A = 1,
  VelmoraK40xxModelK4101A = 2,
  VelmoraK40xxModelK4102A = 3,
  VelmoraK40xxModelK4103A = 4,
  VelmoraK40xxModelK4104A = 5,
  VelmoraK40xxModelK4105A = 6,
  VelmoraK40xxModelK4106A = 7,
  VelmoraK40xxModelK4107A = 8,
  VelmoraK40xxModelK4108A = 9,
  VelmoraK40xxModelK4109A = 10,
  VelmoraK40xxModelK4201A = 11,
  VelmoraK40xxModelK4202A = 12,
  VelmoraK40xxModelK4203A = 13,
  VelmoraK40xxModelK4204A = 14,
  // What Model reports for an instrument model the driver has no entry for.
  VelmoraK40xxModelNoneSupport = 99,
};

// Numbered from 1 so that the value is the instrument's own channel number.
enum VelmoraK40xxOutputEnum : int32_t {
  VelmoraK40xxOutput1 = 1,
  VelmoraK40xxOutput2 = 2,
  VelmoraK40xxOutput3 = 3,
};

enum VelmoraK40xxCurrentLimitBehaviorEnum : int32_t {
  VelmoraK40xxCurrentLimitRegulate = 0,
  VelmoraK40xxCurrentLimitTrip = 1,
};

enum VelmoraK40xxRangeTypeEnum : int32_t {
  VelmoraK40xxRangeCurrent = 0,
  VelmoraK40xxRangeVoltage = 1,
};

enum VelmoraK40xxMeasurementTypeEnum : int32_t {
  VelmoraK40xxMeasurementCurrent = 0,
  VelmoraK40xxMeasurementVoltage = 1,
};

// The first five share their numbers with IviDCPwrOutputStateEnum, so the class interface can
// pass a state through unchanged; OutputOff is the driver's own addition.
enum VelmoraK40xxOutputStateEnum : int32_t {
  VelmoraK40xxOutputConstantVoltage = 0,
  VelmoraK40xxOutputConstantCurrent = 1,
  VelmoraK40xxOutputOverVoltage = 2,
  VelmoraK40xxOutputOverCurrent = 3,
  VelmoraK40xxOutputUnregulated = 4,
  VelmoraK40xxOutputStateOutputOff = 5,
};

enum VelmoraK40xxStepDirectionEnum : int32_t {
  VelmoraK40xxVoltageStepDirectionUp = 0,
  VelmoraK40xxVoltageStepDirectionDown = 1,
  VelmoraK40xxCurrentStepDirectionUp = 2,
  VelmoraK40xxCurrentStepDirectionDown = 3,
};

enum VelmoraK40xxStepEnum : int32_t {
  VelmoraK40xxVoltageStep = 0,
  VelmoraK40xxDefaultVoltageStep = 1,
  VelmoraK40xxCurrentStep = 2,
  VelmoraK40xxDefaultCurrentStep = 3,
};

enum VelmoraK40xxVoltageRangeEnum : int32_t {
  VelmoraK40xxVoltageRangeLow = 0,
  VelmoraK40xxVoltageRangeHigh = 1,
};

enum VelmoraK40xxTriggerSourceEnum : int32_t {
  VelmoraK40xxTriggerSourceImmediate = 0,
  VelmoraK40xxTriggerSourceSwTrigFunc = 1,
};

// The three pairings exist only on the three-output model.
enum VelmoraK40xxCouplingEnum : int32_t {
  VelmoraK40xxCouplingOn = 0,
  VelmoraK40xxCouplingOff = 1,
  VelmoraK40xxCouplingAll = 2,
  VelmoraK40xxCouplingNone = 3,
  VelmoraK40xxCouplingP6P25 = 4,
  VelmoraK40xxCouplingP6N25 = 5,
  VelmoraK40xxCouplingP25N25 = 6,
};

enum VelmoraK40xxStatusRegisterEnum : int32_t {
  VelmoraK40xxStatusRegisterStatusByte = 0,
  VelmoraK40xxStatusRegisterStandardEvent = 1,
  VelmoraK40xxStatusRegisterQuestionable = 2,
  VelmoraK40xxStatusRegisterInstrument = 3,
  VelmoraK40xxStatusRegisterInstrument1 = 4,
  VelmoraK40xxStatusRegisterInstrument2 = 5,
  VelmoraK40xxStatusRegisterInstrument3 = 6,
};

enum VelmoraK40xxStatusSubRegisterEnum : int32_t {
  VelmoraK40xxStatusSubRegisterEvent = 0,
  VelmoraK40xxStatusSubRegisterEnable = 1,
  VelmoraK40xxStatusSubRegisterSummary = 2,
};

enum VelmoraK40xxDisplayModeEnum : int32_t {
  VelmoraK40xxDisplayModeVoltCurrent = 0,
  VelmoraK40xxDisplayModeVoltVolt = 1,
  VelmoraK40xxDisplayModeCurrentCurrent = 2,
};

enum VelmoraK40xxCalibrationLevelEnum : int32_t {
  VelmoraK40xxCalibrationLevelMin = 0,
  VelmoraK40xxCalibrationLevelMid = 1,
  VelmoraK40xxCalibrationLevelMax = 2,
};

// ---------------------------------------------------------------------------------------------
// Interfaces

struct IVelmoraK40xxOutputs;
struct IVelmoraK40xxOutput;
struct IVelmoraK40xxProtection;
struct IVelmoraK40xxDisplay;
struct IVelmoraK40xxStatus;
struct IVelmoraK40xxSystem;
struct IVelmoraK40xxCalibrations;
struct IVelmoraK40xxCalibration;
struct IVelmoraK40xxTriggers;
struct IVelmoraK40xxTrigger;

// Derives from IIviDriver so that a client holding only the driver's root interface can still
// Initialize and Close; its own members continue after IIviDriver's slots.
struct IVelmoraK40xx : IIviDriver {
  virtual HRESULT get_Outputs(IVelmoraK40xxOutputs** val) = 0;
  virtual HRESULT get_Display(IVelmoraK40xxDisplay** val) = 0;
  virtual HRESULT get_Status(IVelmoraK40xxStatus** val) = 0;
  virtual HRESULT get_System(IVelmoraK40xxSystem** val) = 0;
  virtual HRESULT get_IviDCPwr(IIviDCPwr** val) = 0;
  virtual HRESULT get_Calibrations(IVelmoraK40xxCalibrations** val) = 0;
  virtual HRESULT get_Triggers(IVelmoraK40xxTriggers** val) = 0;
};

// Instrument-wide output settings beside the collection of outputs.
struct IVelmoraK40xxOutputs : IUnknown {
  virtual HRESULT get_Count(LONG* val) = 0;
  virtual HRESULT get_Item(BSTR Name, IVelmoraK40xxOutput** val) = 0;
  // Index is one-based, as everywhere in IVI-COM.
  virtual HRESULT get_Name(LONG Index, BSTR* val) = 0;
  virtual HRESULT get_Channel(VelmoraK40xxOutputEnum* val) = 0;
  virtual HRESULT put_Channel(VelmoraK40xxOutputEnum val) = 0;
  virtual HRESULT get_Enabled(VARIANT_BOOL* val) = 0;
  virtual HRESULT put_Enabled(VARIANT_BOOL val) = 0;
  virtual HRESULT get_RelayEnabled(VARIANT_BOOL* val) = 0;
  virtual HRESULT put_RelayEnabled(VARIANT_BOOL val) = 0;
  virtual HRESULT get_TrackingEnabled(VARIANT_BOOL* val) = 0;
  virtual HRESULT put_TrackingEnabled(VARIANT_BOOL val) = 0;
};

struct IVelmoraK40xxOutput : IUnknown {
  virtual HRESULT ApplyVoltageCurrent(double VoltageLevel, double CurrentLimit) = 0;
  virtual HRESULT ConfigureCurrentLimit(VelmoraK40xxCurrentLimitBehaviorEnum Behavior,
                                        double Limit) = 0;
  virtual HRESULT ConfigureRange(VelmoraK40xxRangeTypeEnum RangeType, double Range) = 0;
  virtual HRESULT Measure(VelmoraK40xxMeasurementTypeEnum MeasurementType, double* val) = 0;
  virtual HRESULT QueryCurrentLimitMax(double VoltageLevel, double* val) = 0;
  virtual HRESULT QueryState(VelmoraK40xxOutputStateEnum OutputState, VARIANT_BOOL* val) = 0;
  virtual HRESULT QueryVoltageLevelMax(double CurrentLimit, double* val) = 0;
  virtual HRESULT RunStep(VelmoraK40xxStepDirectionEnum Direction) = 0;
  virtual HRESULT get_CurrentLimit(double* val) = 0;
  virtual HRESULT put_CurrentLimit(double val) = 0;
  virtual HRESULT get_CurrentLimitBehavior(VelmoraK40xxCurrentLimitBehaviorEnum* val) = 0;
  virtual HRESULT put_CurrentLimitBehavior(VelmoraK40xxCurrentLimitBehaviorEnum val) = 0;
  virtual HRESULT get_Step(VelmoraK40xxStepEnum StepType, double* val) = 0;
  virtual HRESULT put_Step(VelmoraK40xxStepEnum StepType, double val) = 0;
  virtual HRESULT get_VoltageLevel(double* val) = 0;
  virtual HRESULT put_VoltageLevel(double val) = 0;
  virtual HRESULT get_VoltageRange(VelmoraK40xxVoltageRangeEnum* val) = 0;
  virtual HRESULT put_VoltageRange(VelmoraK40xxVoltageRangeEnum val) = 0;
  // The same output object, seen through its protection interface.
  virtual HRESULT get_Protection(IVelmoraK40xxProtection** val) = 0;
};

struct IVelmoraK40xxProtection : IUnknown {
  virtual HRESULT ResetOVP() = 0;
  virtual HRESULT ResetOutputProtection() = 0;
  virtual HRESULT ResetOCP() = 0;
  virtual HRESULT QueryOVPLimitMax(double* val) = 0;
  virtual HRESULT QueryOCPLimitMax(double* val) = 0;
  virtual HRESULT ConfigureOVP(VARIANT_BOOL Enabled, double Limit) = 0;
  virtual HRESULT ConfigureOCP(VARIANT_BOOL Enabled, double Limit) = 0;
  virtual HRESULT get_OCPEnabled(VARIANT_BOOL* val) = 0;
  virtual HRESULT put_OCPEnabled(VARIANT_BOOL val) = 0;
  virtual HRESULT get_OCPLimit(double* val) = 0;
  virtual HRESULT put_OCPLimit(double val) = 0;
  virtual HRESULT get_OCPTripped(VARIANT_BOOL* val) = 0;
  virtual HRESULT get_OVPEnabled(VARIANT_BOOL* val) = 0;
  virtual HRESULT put_OVPEnabled(VARIANT_BOOL val) = 0;
  virtual HRESULT get_OVPLimit(double* val) = 0;
  virtual HRESULT put_OVPLimit(double val) = 0;
  virtual HRESULT get_OVPTripped(VARIANT_BOOL* val) = 0;
};

struct IVelmoraK40xxDisplay : IUnknown {
  virtual HRESULT Clear() = 0;
  virtual HRESULT get_Enabled(VARIANT_BOOL* val) = 0;
  virtual HRESULT put_Enabled(VARIANT_BOOL val) = 0;
  virtual HRESULT get_Mode(VelmoraK40xxDisplayModeEnum* val) = 0;
  virtual HRESULT put_Mode(VelmoraK40xxDisplayModeEnum val) = 0;
  virtual HRESULT get_Text(BSTR* val) = 0;
  virtual HRESULT put_Text(BSTR val) = 0;
};

struct IVelmoraK40xxStatus : IUnknown {
  virtual HRESULT QueryRegister(VelmoraK40xxStatusRegisterEnum Register,
                                VelmoraK40xxStatusSubRegisterEnum SubRegister, LONG* val) = 0;
  virtual HRESULT ConfigureRegister(VelmoraK40xxStatusRegisterEnum Register,
                                    VelmoraK40xxStatusSubRegisterEnum SubRegister, LONG Data) = 0;
  virtual HRESULT Clear() = 0;
  // An indexed property over the same registers as QueryRegister / ConfigureRegister.
  virtual HRESULT get_Register(VelmoraK40xxStatusRegisterEnum Register,
                               VelmoraK40xxStatusSubRegisterEnum SubRegister, LONG* val) = 0;
  virtual HRESULT put_Register(VelmoraK40xxStatusRegisterEnum Register,
                               VelmoraK40xxStatusSubRegisterEnum SubRegister, LONG val) = 0;
  virtual HRESULT get_SerialPoll(LONG* val) = 0;
};

struct IVelmoraK40xxSystem : IUnknown {
  virtual HRESULT WaitForOperationComplete(LONG MaxTimeMilliseconds) = 0;
  virtual HRESULT SaveState(BSTR Identifier) = 0;
  virtual HRESULT RecallState(BSTR Identifier) = 0;
  virtual HRESULT EnableLocalControls() = 0;
  virtual HRESULT DisableLocalControls() = 0;
  virtual HRESULT Beep() = 0;
  virtual HRESULT get_AsyncEventsEnabled(VARIANT_BOOL* val) = 0;
  virtual HRESULT put_AsyncEventsEnabled(VARIANT_BOOL val) = 0;
  virtual HRESULT get_IO(IFormattedIO488** val) = 0;
  virtual HRESULT get_MemoryName(LONG Index, BSTR* val) = 0;
  virtual HRESULT put_MemoryName(LONG Index, BSTR val) = 0;
  virtual HRESULT get_Model(VelmoraK40xxModelEnum* val) = 0;
  virtual HRESULT put_Model(VelmoraK40xxModelEnum val) = 0;
  virtual HRESULT get_TimeoutMilliseconds(LONG* val) = 0;
  virtual HRESULT put_TimeoutMilliseconds(LONG val) = 0;
  virtual HRESULT get_TraceEnabled(VARIANT_BOOL* val) = 0;
  virtual HRESULT put_TraceEnabled(VARIANT_BOOL val) = 0;
};

// Instrument-wide calibration security and bookkeeping beside the per-output collection.
// Password has no getter: the calibration code is never read back from the instrument.
struct IVelmoraK40xxCalibrations : IUnknown {
  virtual HRESULT DACError() = 0;
  virtual HRESULT SetState(VARIANT_BOOL Enabled, BSTR Password) = 0;
  virtual HRESULT get_Count(LONG* val) = 0;
  virtual HRESULT get_Item(BSTR Name, IVelmoraK40xxCalibration** val) = 0;
  virtual HRESULT get_Name(LONG Index, BSTR* val) = 0;
  virtual HRESULT get_Enabled(VARIANT_BOOL* val) = 0;
  virtual HRESULT put_Password(BSTR val) = 0;
  virtual HRESULT get_String(BSTR* val) = 0;
  virtual HRESULT put_String(BSTR val) = 0;
  virtual HRESULT get_Times(LONG* val) = 0;
};

struct IVelmoraK40xxCalibration : IUnknown {
  virtual HRESULT CurrentData(double Current) = 0;
  virtual HRESULT CurrentLevel(VelmoraK40xxCalibrationLevelEnum Level) = 0;
  virtual HRESULT CurrentProtection() = 0;
  virtual HRESULT VoltageData(double Voltage) = 0;
  virtual HRESULT VoltageLevel(VelmoraK40xxCalibrationLevelEnum Level) = 0;
  virtual HRESULT VoltageProtection() = 0;
};

struct IVelmoraK40xxTriggers : IUnknown {
  virtual HRESULT Abort() = 0;
  virtual HRESULT Initiate() = 0;
  virtual HRESULT SendSoftwareTrigger() = 0;
  virtual HRESULT get_Count(LONG* val) = 0;
  virtual HRESULT get_Item(BSTR Name, IVelmoraK40xxTrigger** val) = 0;
  virtual HRESULT get_Name(LONG Index, BSTR* val) = 0;
  virtual HRESULT get_Coupling(VelmoraK40xxCouplingEnum* val) = 0;
  virtual HRESULT put_Coupling(VelmoraK40xxCouplingEnum val) = 0;
};

struct IVelmoraK40xxTrigger : IUnknown {
  virtual HRESULT get_CurrentLimit(double* val) = 0;
  virtual HRESULT put_CurrentLimit(double val) = 0;
  // Seconds.
  virtual HRESULT get_Delay(double* val) = 0;
  virtual HRESULT put_Delay(double val) = 0;
  virtual HRESULT get_Source(VelmoraK40xxTriggerSourceEnum* val) = 0;
  virtual HRESULT put_Source(VelmoraK40xxTriggerSourceEnum val) = 0;
  virtual HRESULT get_VoltageLevel(double* val) = 0;
  virtual HRESULT put_VoltageLevel(double val) = 0;
};
