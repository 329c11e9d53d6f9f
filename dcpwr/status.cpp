#include "dcpwr/status.h"

#include <string>

#include "dcpwr/channel.h"
#include "io/driver_io_manager.h"
#include "vmk40xx/errors.h"

namespace vmk {

namespace {

namespace status {
constexpr Interface kItf{&IID_IVelmoraK40xxStatus, "IVelmoraK40xxStatus", kPowerSupply};
constexpr Param kRegister = In("Register", Enum);
constexpr Param kSubRegister = In("SubRegister", Enum);
constexpr Member QueryRegister =
    kItf.Method("QueryRegister", {kRegister, kSubRegister, Out("val", Long)});
constexpr Member ConfigureRegister =
    kItf.Method("ConfigureRegister", {kRegister, kSubRegister, In("Data", Long)});
constexpr Member Clear = kItf.Method("Clear", {}, {.command = "*CLS"});
// A simulated register reads clear whatever was written.
constexpr Property Register =
    kItf.Prop("Register", Long, {.sim = 0.0, .index = {kRegister, kSubRegister}, .fixed = true});
constexpr Property SerialPoll = kItf.Prop("SerialPoll", Long, {.sim = 0.0});
}  // namespace status

// Each register's event query and the command that writes its enable mask; the enable mask is
// read back by the same command with a question mark. Only the IEEE 488.2 registers have a
// fixed width the driver can check before writing.
struct RegisterCommands {
  const char* eventQuery;
  const char* enable;
  int32_t dataMax;  // negative: not checked
  const char* dataParam;
};

constexpr RegisterCommands kRegisters[] = {
    {"*STB?", "*SRE", 56, "Data, Range 0-56"},
    {"*ESR?", "*ESE", 255, "Data, Range 0-255"},
    {"STAT:QUES?", "STAT:QUES:ENAB", -1, nullptr},
    {"STAT:QUES:INST?", "STAT:QUES:INST:ENAB", -1, nullptr},
    {"STAT:QUES:INST:ISUM1?", "STAT:QUES:INST:ISUM1:ENAB", -1, nullptr},
    {"STAT:QUES:INST:ISUM2?", "STAT:QUES:INST:ISUM2:ENAB", -1, nullptr},
    {"STAT:QUES:INST:ISUM3?", "STAT:QUES:INST:ISUM3:ENAB", -1, nullptr},
};

// A register the enumeration does not name has no commands of its own; reading or writing the
// status byte in its place would touch a register the caller never asked for.
HRESULT CheckRegister(CNode& node, const Member& m, VelmoraK40xxStatusRegisterEnum reg) {
  return CheckEnumAndModelValue(node, m, reg, VelmoraK40xxStatusRegisterStatusByte,
                                VelmoraK40xxStatusRegisterInstrument3, kStatusRegisterValues,
                                "Register");
}

HRESULT CheckSubRegister(CNode& node, const Member& m, VelmoraK40xxStatusSubRegisterEnum sub) {
  return CheckEnumValue(node, m, sub, VelmoraK40xxStatusSubRegisterEvent,
                        VelmoraK40xxStatusSubRegisterSummary, "SubRegister");
}

const RegisterCommands& CommandsOf(VelmoraK40xxStatusRegisterEnum reg) {
  return kRegisters[static_cast<size_t>(reg)];
}

std::string QueryOf(VelmoraK40xxStatusRegisterEnum reg, VelmoraK40xxStatusSubRegisterEnum sub) {
  const RegisterCommands& c = CommandsOf(reg);
  // A register passes its event bits on as its summary, so both are read from the event query.
  return sub == VelmoraK40xxStatusSubRegisterEnable ? std::string(c.enable) + "?" : c.eventQuery;
}

}  // namespace

// The register's command is made here rather than from a template: which query reads a register
// depends on both arguments.
HRESULT StatusFacet::QueryRegister(VelmoraK40xxStatusRegisterEnum Register,
                                   VelmoraK40xxStatusSubRegisterEnum SubRegister, LONG* val) {
  const Member& m = status::QueryRegister;
  return owner_->ActOrSimulate(
      m, With(Register, SubRegister, val),
      [&] {
        HRESULT hr = CheckRegister(*owner_, m, Register);
        return FAILED(hr) ? hr : CheckSubRegister(*owner_, m, SubRegister);
      },
      [&] {
        *val = 0;
        return S_OK;
      },
      [&] { return owner_->IO().InstrQueryf(val, "%s", QueryOf(Register, SubRegister)); });
}

// Only enable registers can be written, so the sub-register has nothing to choose.
HRESULT StatusFacet::ConfigureRegister(VelmoraK40xxStatusRegisterEnum Register,
                                       VelmoraK40xxStatusSubRegisterEnum SubRegister, LONG Data) {
  const Member& m = status::ConfigureRegister;
  return owner_->Act(
      m, With(Register, SubRegister, Data), [&] { return CheckRegister(*owner_, m, Register); },
      [&] {
        // Bits the instrument does not have would be dropped silently; the caller hears of them
        // before anything is written, whatever the range-check setting.
        const RegisterCommands& c = CommandsOf(Register);
        if (c.dataMax >= 0 && (Data < 0 || Data > c.dataMax))
          return owner_->Errors().ReportInvalidValue(m.Name(), c.dataParam, Data);
        return owner_->IO().InstrPrintf("%s %d", c.enable, Data);
      });
}

HRESULT StatusFacet::Clear() {
  return owner_->Act(status::Clear, With(), NoCheck,
                     [&] { return owner_->IO().InstrPrintCommand(); });
}

// The indexed property is the two methods under another name: each call runs in the method's own
// frame, so its commands, checks and error texts are the method's.
HRESULT StatusFacet::get_Register(VelmoraK40xxStatusRegisterEnum Register,
                                  VelmoraK40xxStatusSubRegisterEnum SubRegister, LONG* val) {
  const Member& m = status::Register.get;
  return owner_->Frame(m, With(Register, SubRegister, val), [&]() -> HRESULT {
    if (HRESULT hr = CheckRegister(*owner_, m, Register); FAILED(hr)) return hr;
    if (owner_->Simulating()) return owner_->LoadSimulated(status::Register, val);
    return CallInterface<IVelmoraK40xxStatus>(
        *owner_, IID_IVelmoraK40xxStatus,
        [&](IVelmoraK40xxStatus* s) { return s->QueryRegister(Register, SubRegister, val); });
  });
}

HRESULT StatusFacet::put_Register(VelmoraK40xxStatusRegisterEnum Register,
                                  VelmoraK40xxStatusSubRegisterEnum SubRegister, LONG val) {
  return owner_->Put(
      status::Register, With(Register, SubRegister), val,
      [&] { return CheckRegister(*owner_, status::Register.put, Register); },
      [&] {
        return CallInterface<IVelmoraK40xxStatus>(
            *owner_, IID_IVelmoraK40xxStatus, [&](IVelmoraK40xxStatus* s) {
              return s->ConfigureRegister(Register, SubRegister, val);
            });
      });
}

// A serial poll, not "*STB?": the status byte is read even while the instrument has a reply
// waiting to be read or a command still to work through.
HRESULT StatusFacet::get_SerialPoll(LONG* val) {
  return owner_->Get(status::SerialPoll, val, [&] {
    *val = 0;
    int16_t stb = 0;
    const HRESULT hr = owner_->IO().ReadSTB(&stb);
    if (SUCCEEDED(hr)) *val = stb;
    return hr;
  });
}

}  // namespace vmk
