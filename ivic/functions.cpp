// The inherent, class and instrument-specific functions: each names the COM method it wraps and
// passes its arguments through the frame. Their contracts are in vmk40xx_c.h.
#include <algorithm>
#include <string>

#include "ivic/frame.h"

using namespace vmk::ivic;
using vmk::com::ComPtr;

namespace {

// The message interface of the session's formatted-I/O object, for direct I/O.
ViStatus DirectIo(ViSession vi, IVelmoraK40xxSystem* system, ComPtr<IMessage>& message) {
  ComPtr<IFormattedIO488> io;
  HRESULT hr = system->get_IO(io.put());
  if (SUCCEEDED(hr) && io) hr = io->get_IO(message.put());
  if (FAILED(hr)) return MapAndRecord(vi, hr);
  return message ? VI_SUCCESS : Refuse(vi, kNoConnection);
}

}  // namespace

extern "C" {

// Inherent operations

VMK40XX_EXPORT ViStatus VmK40xx_reset(ViSession vi) {
  return Call(vi, &IIviDriverUtility::Reset);
}
VMK40XX_EXPORT ViStatus VmK40xx_ResetWithDefaults(ViSession vi) {
  return Call(vi, &IIviDriverUtility::ResetWithDefaults);
}
VMK40XX_EXPORT ViStatus VmK40xx_Disable(ViSession vi) {
  return Call(vi, &IIviDriverUtility::Disable);
}
VMK40XX_EXPORT ViStatus VmK40xx_self_test(ViSession vi, ViInt16* testResult,
                                          ViChar testMessage[1024]) {
  return Call(vi, &IIviDriverUtility::SelfTest, Out(testResult), FixedTextOut{testMessage, 1024});
}
VMK40XX_EXPORT ViStatus VmK40xx_error_query(ViSession vi, ViInt32* errorCode,
                                            ViChar errorMessage[1024]) {
  return Call(vi, &IIviDriverUtility::ErrorQuery, Out(errorCode), FixedTextOut{errorMessage, 1024});
}
VMK40XX_EXPORT ViStatus VmK40xx_revision_query(ViSession vi, ViChar driverRev[256],
                                               ViChar instrRev[256]) {
  return OnInterface<IIviDriverIdentity>(vi, nullptr, [&](IIviDriverIdentity* id) -> ViStatus {
    if (!driverRev || !instrRev) return Refuse(vi, kNullResult);
    const ViStatus driver =
        Invoke(vi, id, &IIviDriverIdentity::get_Revision, FixedTextOut{driverRev, 256});
    if (driver < 0) return driver;
    const ViStatus instrument = Invoke(vi, id, &IIviDriverIdentity::get_InstrumentFirmwareRevision,
                                       FixedTextOut{instrRev, 256});
    return instrument == VI_SUCCESS ? driver : instrument;
  });
}
VMK40XX_EXPORT ViStatus VmK40xx_InvalidateAllAttributes(ViSession vi) {
  return Call(vi, &IIviDriverOperation::InvalidateAllAttributes);
}
VMK40XX_EXPORT ViStatus VmK40xx_ResetInterchangeCheck(ViSession vi) {
  return Call(vi, &IIviDriverOperation::ResetInterchangeCheck);
}
VMK40XX_EXPORT ViStatus VmK40xx_ClearInterchangeWarnings(ViSession vi) {
  return Call(vi, &IIviDriverOperation::ClearInterchangeWarnings);
}
VMK40XX_EXPORT ViStatus VmK40xx_GetNextCoercionRecord(ViSession vi, ViInt32 bufferSize,
                                                      ViChar record[]) {
  return Call(vi, &IIviDriverOperation::GetNextCoercionRecord, TextOut{bufferSize, record});
}
VMK40XX_EXPORT ViStatus VmK40xx_GetNextInterchangeWarning(ViSession vi, ViInt32 bufferSize,
                                                          ViChar warning[]) {
  return Call(vi, &IIviDriverOperation::GetNextInterchangeWarning, TextOut{bufferSize, warning});
}
VMK40XX_EXPORT ViStatus VmK40xx_GetChannelName(ViSession vi, ViInt32 index, ViInt32 bufferSize,
                                               ViChar name[]) {
  return Call(vi, &IIviDCPwrOutputs::get_Name, index, TextOut{bufferSize, name});
}
VMK40XX_EXPORT ViStatus VmK40xx_GetOutputName(ViSession vi, ViInt32 index, ViInt32 bufferSize,
                                              ViChar name[]) {
  return Call(vi, &IVelmoraK40xxOutputs::get_Name, index, TextOut{bufferSize, name});
}
VMK40XX_EXPORT ViStatus VmK40xx_GetTriggerName(ViSession vi, ViInt32 index, ViInt32 bufferSize,
                                               ViChar name[]) {
  return Call(vi, &IVelmoraK40xxTriggers::get_Name, index, TextOut{bufferSize, name});
}
VMK40XX_EXPORT ViStatus VmK40xx_GetCalibrationName(ViSession vi, ViInt32 index, ViInt32 bufferSize,
                                                   ViChar name[]) {
  return Call(vi, &IVelmoraK40xxCalibrations::get_Name, index, TextOut{bufferSize, name});
}

// IviDCPwr class functions

VMK40XX_EXPORT ViStatus VmK40xx_ConfigureVoltageLevel(ViSession vi, ViConstString channelName,
                                                      ViReal64 level) {
  return CallOn(vi, channelName, &IIviDCPwrOutput::put_VoltageLevel, level);
}
VMK40XX_EXPORT ViStatus VmK40xx_ConfigureCurrentLimit(ViSession vi, ViConstString channelName,
                                                      ViInt32 behavior, ViReal64 limit) {
  return CallOn(vi, channelName, &IIviDCPwrOutput::ConfigureCurrentLimit, behavior, limit);
}
VMK40XX_EXPORT ViStatus VmK40xx_ConfigureOVP(ViSession vi, ViConstString channelName,
                                             ViBoolean enabled, ViReal64 limit) {
  return CallOn(vi, channelName, &IIviDCPwrOutput::ConfigureOVP, enabled, limit);
}
VMK40XX_EXPORT ViStatus VmK40xx_ConfigureOutputRange(ViSession vi, ViConstString channelName,
                                                     ViInt32 rangeType, ViReal64 range) {
  return CallOn(vi, channelName, &IIviDCPwrOutput::ConfigureRange, rangeType, range);
}
VMK40XX_EXPORT ViStatus VmK40xx_ConfigureOutputEnabled(ViSession vi, ViConstString channelName,
                                                       ViBoolean enabled) {
  return CallOn(vi, channelName, &IIviDCPwrOutput::put_Enabled, enabled);
}
VMK40XX_EXPORT ViStatus VmK40xx_ConfigureTriggerSource(ViSession vi, ViConstString channelName,
                                                       ViInt32 source) {
  return CallOn(vi, channelName, &IIviDCPwrOutput::put_TriggerSource, source);
}
VMK40XX_EXPORT ViStatus VmK40xx_ConfigureTriggeredVoltageLevel(ViSession vi,
                                                               ViConstString channelName,
                                                               ViReal64 level) {
  return CallOn(vi, channelName, &IIviDCPwrOutput::put_TriggeredVoltageLevel, level);
}
VMK40XX_EXPORT ViStatus VmK40xx_ConfigureTriggeredCurrentLimit(ViSession vi,
                                                               ViConstString channelName,
                                                               ViReal64 limit) {
  return CallOn(vi, channelName, &IIviDCPwrOutput::put_TriggeredCurrentLimit, limit);
}
VMK40XX_EXPORT ViStatus VmK40xx_QueryMaxVoltageLevel(ViSession vi, ViConstString channelName,
                                                     ViReal64 currentLimit,
                                                     ViReal64* maxVoltageLevel) {
  return CallOn(vi, channelName, &IIviDCPwrOutput::QueryVoltageLevelMax, currentLimit,
                Out(maxVoltageLevel));
}
VMK40XX_EXPORT ViStatus VmK40xx_QueryMaxCurrentLimit(ViSession vi, ViConstString channelName,
                                                     ViReal64 voltageLevel,
                                                     ViReal64* maxCurrentLimit) {
  return CallOn(vi, channelName, &IIviDCPwrOutput::QueryCurrentLimitMax, voltageLevel,
                Out(maxCurrentLimit));
}
VMK40XX_EXPORT ViStatus VmK40xx_QueryOutputState(ViSession vi, ViConstString channelName,
                                                 ViInt32 outputState, ViBoolean* inState) {
  return CallOn(vi, channelName, &IIviDCPwrOutput::QueryState, outputState, Out(inState));
}
VMK40XX_EXPORT ViStatus VmK40xx_Measure(ViSession vi, ViConstString channelName,
                                        ViInt32 measurementType, ViReal64* measurement) {
  return CallOn(vi, channelName, &IIviDCPwrOutput::Measure, measurementType, Out(measurement));
}
VMK40XX_EXPORT ViStatus VmK40xx_ResetOutputProtection(ViSession vi, ViConstString channelName) {
  return CallOn(vi, channelName, &IIviDCPwrOutput::ResetOutputProtection);
}
VMK40XX_EXPORT ViStatus VmK40xx_Initiate(ViSession vi) {
  return Call(vi, &IIviDCPwrTrigger::Initiate);
}
VMK40XX_EXPORT ViStatus VmK40xx_Abort(ViSession vi) {
  return Call(vi, &IIviDCPwrTrigger::Abort);
}
VMK40XX_EXPORT ViStatus VmK40xx_SendSoftwareTrigger(ViSession vi) {
  return Call(vi, &IIviDCPwrTrigger::SendSoftwareTrigger);
}

// Instrument-specific functions

VMK40XX_EXPORT ViStatus VmK40xx_OutputApplyVoltageCurrent(ViSession vi, ViConstString channelName,
                                                          ViReal64 voltageLevel,
                                                          ViReal64 currentLimit) {
  return CallOn(vi, channelName, &IVelmoraK40xxOutput::ApplyVoltageCurrent, voltageLevel,
                currentLimit);
}
VMK40XX_EXPORT ViStatus VmK40xx_OutputQueryState(ViSession vi, ViConstString channelName,
                                                 ViInt32 outputState, ViBoolean* result) {
  return CallOn(vi, channelName, &IVelmoraK40xxOutput::QueryState, outputState, Out(result));
}
VMK40XX_EXPORT ViStatus VmK40xx_OutputRunStep(ViSession vi, ViConstString channelName,
                                              ViInt32 direction) {
  return CallOn(vi, channelName, &IVelmoraK40xxOutput::RunStep, direction);
}
VMK40XX_EXPORT ViStatus VmK40xx_OutputGetStep(ViSession vi, ViConstString channelName,
                                              ViInt32 stepType, ViReal64* value) {
  return CallOn(vi, channelName, &IVelmoraK40xxOutput::get_Step, stepType, Out(value));
}
VMK40XX_EXPORT ViStatus VmK40xx_OutputSetStep(ViSession vi, ViConstString channelName,
                                              ViInt32 stepType, ViReal64 value) {
  return CallOn(vi, channelName, &IVelmoraK40xxOutput::put_Step, stepType, value);
}
VMK40XX_EXPORT ViStatus VmK40xx_OutputProtectionConfigureOCP(ViSession vi,
                                                             ViConstString channelName,
                                                             ViBoolean enabled, ViReal64 limit) {
  return CallOn(vi, channelName, &IVelmoraK40xxProtection::ConfigureOCP, enabled, limit);
}
VMK40XX_EXPORT ViStatus VmK40xx_OutputProtectionConfigureOVP(ViSession vi,
                                                             ViConstString channelName,
                                                             ViBoolean enabled, ViReal64 limit) {
  return CallOn(vi, channelName, &IVelmoraK40xxProtection::ConfigureOVP, enabled, limit);
}
VMK40XX_EXPORT ViStatus VmK40xx_OutputProtectionQueryOCPLimitMax(ViSession vi,
                                                                 ViConstString channelName,
                                                                 ViReal64* value) {
  return CallOn(vi, channelName, &IVelmoraK40xxProtection::QueryOCPLimitMax, Out(value));
}
VMK40XX_EXPORT ViStatus VmK40xx_OutputProtectionQueryOVPLimitMax(ViSession vi,
                                                                 ViConstString channelName,
                                                                 ViReal64* value) {
  return CallOn(vi, channelName, &IVelmoraK40xxProtection::QueryOVPLimitMax, Out(value));
}
VMK40XX_EXPORT ViStatus VmK40xx_OutputProtectionResetOCP(ViSession vi, ViConstString channelName) {
  return CallOn(vi, channelName, &IVelmoraK40xxProtection::ResetOCP);
}
VMK40XX_EXPORT ViStatus VmK40xx_OutputProtectionResetOVP(ViSession vi, ViConstString channelName) {
  return CallOn(vi, channelName, &IVelmoraK40xxProtection::ResetOVP);
}
VMK40XX_EXPORT ViStatus VmK40xx_OutputProtectionResetOutputProtection(ViSession vi,
                                                                      ViConstString channelName) {
  return CallOn(vi, channelName, &IVelmoraK40xxProtection::ResetOutputProtection);
}
VMK40XX_EXPORT ViStatus VmK40xx_CalibrationCurrentData(ViSession vi, ViConstString channelName,
                                                       ViReal64 current) {
  return CallOn(vi, channelName, &IVelmoraK40xxCalibration::CurrentData, current);
}
VMK40XX_EXPORT ViStatus VmK40xx_CalibrationCurrentLevel(ViSession vi, ViConstString channelName,
                                                        ViInt32 level) {
  return CallOn(vi, channelName, &IVelmoraK40xxCalibration::CurrentLevel, level);
}
VMK40XX_EXPORT ViStatus VmK40xx_CalibrationCurrentProtection(ViSession vi,
                                                             ViConstString channelName) {
  return CallOn(vi, channelName, &IVelmoraK40xxCalibration::CurrentProtection);
}
VMK40XX_EXPORT ViStatus VmK40xx_CalibrationVoltageData(ViSession vi, ViConstString channelName,
                                                       ViReal64 voltage) {
  return CallOn(vi, channelName, &IVelmoraK40xxCalibration::VoltageData, voltage);
}
VMK40XX_EXPORT ViStatus VmK40xx_CalibrationVoltageLevel(ViSession vi, ViConstString channelName,
                                                        ViInt32 level) {
  return CallOn(vi, channelName, &IVelmoraK40xxCalibration::VoltageLevel, level);
}
VMK40XX_EXPORT ViStatus VmK40xx_CalibrationVoltageProtection(ViSession vi,
                                                             ViConstString channelName) {
  return CallOn(vi, channelName, &IVelmoraK40xxCalibration::VoltageProtection);
}
VMK40XX_EXPORT ViStatus VmK40xx_CalibrationsDACError(ViSession vi) {
  return Call(vi, &IVelmoraK40xxCalibrations::DACError);
}
VMK40XX_EXPORT ViStatus VmK40xx_CalibrationsSetState(ViSession vi, ViBoolean enabled,
                                                     ViConstString password) {
  return Call(vi, &IVelmoraK40xxCalibrations::SetState, enabled, password);
}
VMK40XX_EXPORT ViStatus VmK40xx_DisplayClear(ViSession vi) {
  return Call(vi, &IVelmoraK40xxDisplay::Clear);
}
VMK40XX_EXPORT ViStatus VmK40xx_StatusClear(ViSession vi) {
  return Call(vi, &IVelmoraK40xxStatus::Clear);
}
VMK40XX_EXPORT ViStatus VmK40xx_StatusConfigureRegister(ViSession vi, ViInt32 reg,
                                                        ViInt32 subRegister, ViInt32 data) {
  return Call(vi, &IVelmoraK40xxStatus::ConfigureRegister, reg, subRegister, data);
}
VMK40XX_EXPORT ViStatus VmK40xx_StatusGetRegister(ViSession vi, ViInt32 reg, ViInt32 subRegister,
                                                  ViInt32* value) {
  return Call(vi, &IVelmoraK40xxStatus::get_Register, reg, subRegister, Out(value));
}
VMK40XX_EXPORT ViStatus VmK40xx_StatusSetRegister(ViSession vi, ViInt32 reg, ViInt32 subRegister,
                                                  ViInt32 value) {
  return Call(vi, &IVelmoraK40xxStatus::put_Register, reg, subRegister, value);
}
VMK40XX_EXPORT ViStatus VmK40xx_StatusQueryRegister(ViSession vi, ViInt32 reg, ViInt32 subRegister,
                                                    ViInt32* value) {
  return Call(vi, &IVelmoraK40xxStatus::QueryRegister, reg, subRegister, Out(value));
}
VMK40XX_EXPORT ViStatus VmK40xx_SystemBeep(ViSession vi) {
  return Call(vi, &IVelmoraK40xxSystem::Beep);
}
VMK40XX_EXPORT ViStatus VmK40xx_SystemEnableLocalControls(ViSession vi) {
  return Call(vi, &IVelmoraK40xxSystem::EnableLocalControls);
}
VMK40XX_EXPORT ViStatus VmK40xx_SystemDisableLocalControls(ViSession vi) {
  return Call(vi, &IVelmoraK40xxSystem::DisableLocalControls);
}
VMK40XX_EXPORT ViStatus VmK40xx_SystemGetMemoryName(ViSession vi, ViInt32 index, ViInt32 bufferSize,
                                                    ViChar name[]) {
  return Call(vi, &IVelmoraK40xxSystem::get_MemoryName, index, TextOut{bufferSize, name});
}
VMK40XX_EXPORT ViStatus VmK40xx_SystemSetMemoryName(ViSession vi, ViInt32 index,
                                                    ViConstString name) {
  return Call(vi, &IVelmoraK40xxSystem::put_MemoryName, index, name);
}
VMK40XX_EXPORT ViStatus VmK40xx_SystemSaveState(ViSession vi, ViConstString identifier) {
  return Call(vi, &IVelmoraK40xxSystem::SaveState, identifier);
}
VMK40XX_EXPORT ViStatus VmK40xx_SystemRecallState(ViSession vi, ViConstString identifier) {
  return Call(vi, &IVelmoraK40xxSystem::RecallState, identifier);
}
VMK40XX_EXPORT ViStatus VmK40xx_SystemWaitForOperationComplete(ViSession vi,
                                                               ViInt32 maxTimeMilliseconds) {
  return Call(vi, &IVelmoraK40xxSystem::WaitForOperationComplete, maxTimeMilliseconds);
}

// Direct I/O goes to the message interface of the session's formatted-I/O object, so what the
// caller writes is sent as it is: no terminator, no status check, no trace.
VMK40XX_EXPORT ViStatus VmK40xx_SystemWrite(ViSession vi, ViConstString text) {
  return OnInterface<IVelmoraK40xxSystem>(
      vi, nullptr, [&](IVelmoraK40xxSystem* system) -> ViStatus {
        ComPtr<IMessage> message;
        if (ViStatus s = DirectIo(vi, system, message)) return s;
        LONG written = 0;
        return MapAndRecord(vi, message->WriteString(InText(text).get(), &written));
      });
}

// Reads at most size - 1 bytes, so that everything read fits with its terminating zero: a byte
// read from the instrument and then cut off by the buffer would be lost for good.
VMK40XX_EXPORT ViStatus VmK40xx_SystemRead(ViSession vi, ViInt32 size, ViChar buffer[],
                                           ViInt32* actualSize) {
  return OnInterface<IVelmoraK40xxSystem>(
      vi, nullptr, [&](IVelmoraK40xxSystem* system) -> ViStatus {
        if (!actualSize || !buffer) return Refuse(vi, kNullResult);
        *actualSize = 0;
        if (size < 0)
          return Refuse(vi, VMK40XX_ERROR_INVALID_VALUE,
                        "Invalid value (" + std::to_string(size) +
                            ") for function VmK40xx_SystemRead, parameter size.");
        ComPtr<IMessage> message;
        if (ViStatus s = DirectIo(vi, system, message)) return s;
        if (size <= 1) {
          if (size == 1) buffer[0] = '\0';
          return VI_SUCCESS;
        }
        TextResult text;
        const ViStatus status = MapAndRecord(vi, message->ReadString(size - 1, text.get()));
        if (status < 0) return status;
        const std::string read = text.Utf8();
        const ViStatus copied = CopyText(read, size, buffer);
        *actualSize = static_cast<ViInt32>(std::min<size_t>(read.size(), size_t(size) - 1));
        return copied > 0 ? copied : status;
      });
}

}  // extern "C"
