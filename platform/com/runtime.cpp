// CoInitializeEx and CoUninitialize. There is no apartment machinery behind them on Linux; what
// callers can observe is kept exact: the per-thread count and the refusal to change the model.
#include "vmk40xx/com.h"

namespace {

struct ThreadCom {
  ULONG inits = 0;
  DWORD model = COINIT_MULTITHREADED;
};
thread_local ThreadCom t_com;

}  // namespace

extern "C" {

HRESULT CoInitializeEx(void* pvReserved, DWORD dwCoInit) {
  if (pvReserved) return E_INVALIDARG;
  // Only the apartment bit decides the model; the other COINIT_ flags are hints.
  const DWORD model = dwCoInit & COINIT_APARTMENTTHREADED;
  if (t_com.inits == 0) {
    t_com.model = model;
    t_com.inits = 1;
    return S_OK;
  }
  if (t_com.model != model) return RPC_E_CHANGED_MODE;
  ++t_com.inits;
  return S_FALSE;
}

void CoUninitialize() {
  if (t_com.inits > 0) --t_com.inits;
}

}  // extern "C"
