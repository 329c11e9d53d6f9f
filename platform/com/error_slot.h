// The question every interface call asks before it clears the thread's error information: is
// there any to clear? Nearly always there is none, and asking costs one load of a count shared by
// all threads instead of a look into this thread's own slot. A thread always sees its own changes
// to the count, so a count of zero proves that its slot is empty; another thread's error
// information only sends it the long way, through SetErrorInfo.
#pragma once

#include <atomic>

#include "vmk40xx/com.h"

namespace vmk::com {

// How many threads have error information in their slot now; kept by SetErrorInfo and
// GetErrorInfo.
extern std::atomic<long> g_threadsWithErrorInfo;

inline void ClearErrorInfo() {
  if (g_threadsWithErrorInfo.load(std::memory_order_relaxed) != 0) SetErrorInfo(0, nullptr);
}

}  // namespace vmk::com
