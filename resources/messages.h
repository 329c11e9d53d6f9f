// The driver's message table: ids 4 to 50, each with its HRESULT and its text. Texts use %1 to
// %3 for their inserts and keep the trailing "\r\n" of a message-table resource; composing a
// message trims it away.
#pragma once

#include <cstdint>
#include <span>

#include "vmk40xx/com.h"

namespace vmk {

struct MessageEntry {
  int32_t id;
  HRESULT hr;
  const char* text;
};

std::span<const MessageEntry> MessageTable();

}  // namespace vmk
