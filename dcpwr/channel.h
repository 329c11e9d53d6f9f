// What the per-output members have in common: the instance that stands for one output sends its
// commands after selecting that output, and the value checks that refuse an argument before
// anything is sent or stored.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "dcpwr/keyword_tables.h"
#include "dcpwr/models.h"
#include "dcpwr/velmora_k40xx.h"
#include "driver/rep_cap.h"

namespace vmk {

// A repeated-capability instance bound to one output of the instrument.
class CChannel : public CRepCap {
 public:
  // The session root; members run only while the session is open, so it is there.
  VelmoraK40xx& Driver() { return *static_cast<VelmoraK40xx*>(Root()); }

  // The selection's own failure does not stop the command after it: the instrument reports
  // that command's fate, which is what the caller asked about. Without a status poll between
  // them, the selection and the command go out in one send.
  HRESULT Select() { return Driver().SelectOutput(*this, OutputIndex(), false); }
  // The selection sent at once, for a member whose result is the selection's when nothing
  // follows it.
  HRESULT SelectNow() { return Driver().SelectOutput(*this, OutputIndex(), true); }
  HRESULT SelectThenSend() {
    Select();
    return IO().InstrPrintCommand();
  }
  HRESULT SelectThenQuery(double* val) {
    Select();
    return IO().InstrQueryCommand(val);
  }
  HRESULT SelectThenQuery(VARIANT_BOOL* val) {
    Select();
    return IO().InstrQueryCommandBool(val);
  }

 protected:
  using CRepCap::CRepCap;
};

// Calls a member of another interface of `object` as any caller would, so that the member runs
// in its own frame with its own checks, simulation and error texts.
template <class Itf, class Call>
HRESULT CallInterface(CComObject& object, REFIID iid, Call&& call) {
  Itf* itf = nullptr;
  HRESULT hr = object.QueryInterface(iid, reinterpret_cast<void**>(&itf));
  if (FAILED(hr)) return hr;
  hr = call(itf);
  itf->Release();
  return hr;
}

// Refuses a value outside [first, last] of its enumeration: such a value has no command, and
// sending nothing while answering success would hide the caller's mistake.
HRESULT CheckEnumValue(CNode& node, const Member& m, int32_t value, int32_t first, int32_t last,
                       const char* param = "val");

// Both checks, in that order: a value the enumeration has, then one the session's model has
// (`models` lists the values only some models have).
HRESULT CheckEnumAndModelValue(CNode& node, const Member& m, int32_t value, int32_t first,
                               int32_t last, std::span<const EnumModels> models,
                               const char* param = "val");

}  // namespace vmk
