// The IVI-C session service: integer handles that stand for a caller's object, each with a data
// pointer, a lock a caller may hold across calls, and an error record; beside them one error
// record per thread for calls made without a session. What the IVI shared components give a C
// driver on Windows, written here for this library. Every operation may be called from any thread.
//
// A handle names a slot and the slot's generation, scrambled: a freed slot is reused only once a
// thousand others are free, so a handle value comes back only after some 67 million further
// sessions, and consecutive sessions get unrelated values. Neither a stale handle nor a
// neighbour's off-by-one reaches another session. Looking up a data pointer takes no lock.
#pragma once

#include <cstdint>
#include <string_view>

namespace vmk::ivic {

using Status = int32_t;
using Handle = uint32_t;
using Boolean = uint16_t;  // ViBoolean: 0 or 1

inline constexpr Handle kNoSession = 0;

inline constexpr Status kSuccess = 0;
// "The session handle is not valid."
inline constexpr Status kInvalidSessionHandle = Status(0xBFFA1190u);
// "Could not allocate necessary memory."
inline constexpr Status kOutOfMemory = Status(0xBFFA0056u);
// The generic failure, for what no IVI code names: a null handle pointer to SessionNew, and
// unlocking a session lock the calling thread does not hold (the lock is left as it was).
inline constexpr Status kFailure = Status(0x80000000u);
inline constexpr Status kLockNotHeld = kFailure;

// Creates a session with no data pointer and an empty error record.
Status SessionNew(Handle* handle);
// Ends the session: its handle is invalid from now on, threads waiting for its lock return
// kInvalidSessionHandle. The data pointer is not freed; it belongs to the caller.
Status SessionDispose(Handle handle);

Status SessionSetDataPtr(Handle handle, void* data);
// The last pointer set, or null. When `retain` is given it runs on a non-null pointer, with
// `context`, while the session is still guaranteed to exist, so that a concurrent dispose cannot
// free the object between the lookup and the caller's reference. It must be short: a dispose of
// the session waits for it.
using Retain = void (*)(void* data, void* context);
Status SessionGetDataPtr(Handle handle, void** data, Retain retain = nullptr,
                         void* context = nullptr);

// Re-entrant per thread; blocks while another thread holds the lock. `hasLock` may be null.
// With *hasLock already true nothing is done; otherwise the lock is taken and *hasLock set.
Status SessionLock(Handle handle, Boolean* hasLock);
// With *hasLock true: one level is released and *hasLock cleared; false: nothing is done; null:
// one level is released. Releasing a lock the thread does not hold gives kLockNotHeld.
Status SessionUnlock(Handle handle, Boolean* hasLock);

// Records an error in the session and in the calling thread's record (kNoSession: the thread's
// only). A code replaces the stored one only when it is more severe: error > warning > success.
// The description follows a replaced code, or fills an empty one beside an equal code; a null or
// empty description is stored empty. An invalid handle still sets the thread's record.
Status SessionSetError(Handle handle, Status code, const char* description);
// Reads the record and clears it (kNoSession: the thread's). `code` may be null. The text is
// copied by CopyText below; when nothing can be written (size 0 or a null buffer) the record is
// kept and the size needed is returned.
Status SessionGetError(Handle handle, int32_t bufferSize, Status* code, char* description);
// Code back to success, description emptied.
Status SessionClearError(Handle handle);

// The buffer rule of every text a C caller receives, L being the text's length in bytes:
//   null buffer or size 0: nothing written, returns L + 1 (the size needed);
//   negative size: the whole text and its terminating zero, returns kSuccess;
//   size >= L + 1: the whole text, returns kSuccess;
//   0 < size <= L: the first size - 1 bytes and a zero, returns L + 1.
Status CopyText(std::string_view text, int32_t bufferSize, char* buffer);

}  // namespace vmk::ivic
