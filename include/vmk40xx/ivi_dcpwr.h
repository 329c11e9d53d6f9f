// The IVI Foundation's DC power supply class interfaces (IviDCPwrTypeLib), with the slot order,
// parameter types, identifiers and enumeration values of the published type library.
//
// This library orders members differently from IviDriverTypeLib: methods come before properties,
// and a property's setter comes before its getter. The class documentation lists members in
// another order still; only the declaration order below decides the slots.
//
// The class error code E_IVIDCPWR_TRIGGER_NOT_SOFTWARE lives with the other codes in errors.h.
#pragma once

#include <cstdint>

#include "vmk40xx/com.h"
#include "vmk40xx/ivi_driver.h"

inline constexpr GUID LIBID_IviDCPwrLib{
    0x47ed5121, 0xa398, 0x11d4, {0xba, 0x58, 0x00, 0x00, 0x64, 0x65, 0x73, 0x74}};

inline constexpr IID IID_IIviDCPwr{
    0x47ed51b6, 0xa398, 0x11d4, {0xba, 0x58, 0x00, 0x00, 0x64, 0x65, 0x73, 0x74}};
inline constexpr IID IID_IIviDCPwrOutputs{
    0x47ed51b7, 0xa398, 0x11d4, {0xba, 0x58, 0x00, 0x00, 0x64, 0x65, 0x73, 0x74}};
inline constexpr IID IID_IIviDCPwrOutput{
    0x47ed51b8, 0xa398, 0x11d4, {0xba, 0x58, 0x00, 0x00, 0x64, 0x65, 0x73, 0x74}};
inline constexpr IID IID_IIviDCPwrTrigger{
    0x47ed51b9, 0xa398, 0x11d4, {0xba, 0x58, 0x00, 0x00, 0x64, 0x65, 0x73, 0x74}};

// v1_enum in the type library: 32 bits on the wire, whatever the values would allow.
enum IviDCPwrCurrentLimitBehaviorEnum : int32_t {
  IviDCPwrCurrentLimitRegulate = 0,
  IviDCPwrCurrentLimitTrip = 1,
};

enum IviDCPwrMeasurementTypeEnum : int32_t {
  IviDCPwrMeasurementCurrent = 0,
  IviDCPwrMeasurementVoltage = 1,
};

enum IviDCPwrRangeTypeEnum : int32_t {
  IviDCPwrRangeCurrent = 0,
  IviDCPwrRangeVoltage = 1,
};

enum IviDCPwrTriggerSourceEnum : int32_t {
  IviDCPwrTriggerSourceImmediate = 0,
  IviDCPwrTriggerSourceExternal = 1,
  IviDCPwrTriggerSourceSwTrigFunc = 2,
  IviDCPwrTriggerSourceTTL0 = 3,
  IviDCPwrTriggerSourceTTL1 = 4,
  IviDCPwrTriggerSourceTTL2 = 5,
  IviDCPwrTriggerSourceTTL3 = 6,
  IviDCPwrTriggerSourceTTL4 = 7,
  IviDCPwrTriggerSourceTTL5 = 8,
  IviDCPwrTriggerSourceTTL6 = 9,
  IviDCPwrTriggerSourceTTL7 = 10,
  IviDCPwrTriggerSourceECL0 = 11,
  IviDCPwrTriggerSourceECL1 = 12,
  IviDCPwrTriggerSourcePXIStar = 13,
  IviDCPwrTriggerSourceRTSI0 = 14,
  IviDCPwrTriggerSourceRTSI1 = 15,
  IviDCPwrTriggerSourceRTSI2 = 16,
  IviDCPwrTriggerSourceRTSI3 = 17,
  IviDCPwrTriggerSourceRTSI4 = 18,
  IviDCPwrTriggerSourceRTSI5 = 19,
  IviDCPwrTriggerSourceRTSI6 = 20,
};

enum IviDCPwrOutputStateEnum : int32_t {
  IviDCPwrOutputConstantVoltage = 0,
  IviDCPwrOutputConstantCurrent = 1,
  IviDCPwrOutputOverVoltage = 2,
  IviDCPwrOutputOverCurrent = 3,
  IviDCPwrOutputUnregulated = 4,
};

struct IIviDCPwrOutputs;
struct IIviDCPwrOutput;
struct IIviDCPwrTrigger;

struct IIviDCPwr : IIviDriver {
  virtual HRESULT get_Outputs(IIviDCPwrOutputs** pVal) = 0;
  virtual HRESULT get_Trigger(IIviDCPwrTrigger** pVal) = 0;
};

// Item before Count: the collection conventions list Count first, the type library does not.
struct IIviDCPwrOutputs : IUnknown {
  virtual HRESULT get_Item(BSTR OutputName, IIviDCPwrOutput** pVal) = 0;
  virtual HRESULT get_Count(LONG* pVal) = 0;
  virtual HRESULT get_Name(LONG Index, BSTR* Name) = 0;
};

struct IIviDCPwrOutput : IUnknown {
  virtual HRESULT ConfigureCurrentLimit(IviDCPwrCurrentLimitBehaviorEnum Behavior,
                                        DOUBLE Limit) = 0;
  virtual HRESULT ConfigureRange(IviDCPwrRangeTypeEnum RangeType, DOUBLE Range) = 0;
  virtual HRESULT ConfigureOVP(VARIANT_BOOL Enabled, DOUBLE Limit) = 0;
  virtual HRESULT Measure(IviDCPwrMeasurementTypeEnum MeasurementType, DOUBLE* Measurement) = 0;
  virtual HRESULT QueryCurrentLimitMax(DOUBLE VoltageLevel, DOUBLE* MaxCurrentLimit) = 0;
  virtual HRESULT QueryState(IviDCPwrOutputStateEnum OutputState, VARIANT_BOOL* InState) = 0;
  virtual HRESULT QueryVoltageLevelMax(DOUBLE CurrentLimit, DOUBLE* MaxVoltageLevel) = 0;
  virtual HRESULT ResetOutputProtection() = 0;
  virtual HRESULT put_Enabled(VARIANT_BOOL newVal) = 0;
  virtual HRESULT get_Enabled(VARIANT_BOOL* pVal) = 0;
  virtual HRESULT put_TriggerSource(IviDCPwrTriggerSourceEnum newVal) = 0;
  virtual HRESULT get_TriggerSource(IviDCPwrTriggerSourceEnum* pVal) = 0;
  virtual HRESULT put_TriggeredCurrentLimit(DOUBLE newVal) = 0;
  virtual HRESULT get_TriggeredCurrentLimit(DOUBLE* pVal) = 0;
  virtual HRESULT put_TriggeredVoltageLevel(DOUBLE newVal) = 0;
  virtual HRESULT get_TriggeredVoltageLevel(DOUBLE* pVal) = 0;
  virtual HRESULT put_VoltageLevel(DOUBLE newVal) = 0;
  virtual HRESULT get_VoltageLevel(DOUBLE* pVal) = 0;
  virtual HRESULT put_CurrentLimit(DOUBLE newVal) = 0;
  virtual HRESULT get_CurrentLimit(DOUBLE* pVal) = 0;
  virtual HRESULT put_CurrentLimitBehavior(IviDCPwrCurrentLimitBehaviorEnum newVal) = 0;
  virtual HRESULT get_CurrentLimitBehavior(IviDCPwrCurrentLimitBehaviorEnum* pVal) = 0;
  virtual HRESULT put_OVPLimit(DOUBLE newVal) = 0;
  virtual HRESULT get_OVPLimit(DOUBLE* pVal) = 0;
  virtual HRESULT put_OVPEnabled(VARIANT_BOOL newVal) = 0;
  virtual HRESULT get_OVPEnabled(VARIANT_BOOL* pVal) = 0;
};

struct IIviDCPwrTrigger : IUnknown {
  virtual HRESULT Abort() = 0;
  virtual HRESULT Initiate() = 0;
  virtual HRESULT SendSoftwareTrigger() = 0;
};
