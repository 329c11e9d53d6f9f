#include "platform/ivic/session_service.h"

#include <atomic>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <new>
#include <random>
#include <string>
#include <thread>

namespace vmk::ivic {

namespace {

struct ErrorRecord {
  Status code = kSuccess;
  std::string description;
};

int Severity(Status code) {
  return code < 0 ? 2 : code > 0 ? 1 : 0;
}

Status Apply(ErrorRecord& record, Status code, const char* description) {
  const bool replace = Severity(code) > Severity(record.code);
  const bool fill = replace || (code == record.code && record.description.empty());
  if (replace) record.code = code;
  if (!fill) return kSuccess;
  try {
    record.description = description ? description : "";
  } catch (const std::bad_alloc&) {
    record.description.clear();
    return kOutOfMemory;
  }
  return kSuccess;
}

Status Take(ErrorRecord& record, int32_t bufferSize, Status* code, char* description) {
  if (code) *code = record.code;
  const Status copied = CopyText(record.description, bufferSize, description);
  // Nothing could be written: the caller is asking for the size, and must still find the error.
  if (!description || bufferSize == 0) return copied;
  record = ErrorRecord{};
  return copied;
}

thread_local ErrorRecord t_error;

// What a session has besides its data pointer: the caller's lock and the error record.
struct Session {
  std::mutex mutex;  // guards everything below
  std::condition_variable released;
  std::thread::id owner;
  uint32_t depth = 0;
  bool disposed = false;
  ErrorRecord error;
};

// A handle is a slot index and that slot's generation, put through a fixed permutation of 32-bit
// values (the finalizer of MurmurHash3) after a per-process seed, so that handles look unrelated
// and mean nothing in another run. The permutation is undone to find the slot.
constexpr uint32_t Scatter(uint32_t x) {
  x ^= x >> 16;
  x *= 0x85EBCA6Bu;
  x ^= x >> 13;
  x *= 0xC2B2AE35u;
  x ^= x >> 16;
  return x;
}
constexpr uint32_t Gather(uint32_t x) {
  x ^= x >> 16;
  x *= 0x7ED1B41Du;  // the inverse of 0xC2B2AE35 modulo 2^32
  x ^= (x >> 13) ^ (x >> 26);
  x *= 0xA5CB9243u;  // the inverse of 0x85EBCA6B
  x ^= x >> 16;
  return x;
}
static_assert(Gather(Scatter(0)) == 0 && Gather(Scatter(0xDEADBEEFu)) == 0xDEADBEEFu &&
              Gather(Scatter(0x0001FFFFu)) == 0x0001FFFFu);

constexpr uint32_t kIndexBits = 16;
constexpr uint32_t kChunkSlots = 256;
constexpr uint32_t kMaxSlots = 1u << kIndexBits;
// A freed slot is taken again only once this many others are free: with the FIFO of free slots
// and 16 bits of generation, a handle value comes back after some 67 million sessions.
constexpr size_t kReserve = 1024;

struct Slot {
  std::atomic<Handle> handle{kNoSession};  // the live handle; kNoSession while free
  std::atomic<uint32_t> readers{0};        // data-pointer lookups in progress
  std::atomic<void*> data{nullptr};
  uint16_t generation = 0;           // guarded by the table's mutex
  std::shared_ptr<Session> session;  // likewise
};

class SessionTable {
 public:
  static SessionTable& Get() {
    static SessionTable table;
    return table;
  }

  Status New(Handle* handle) {
    if (!handle) return kFailure;
    *handle = kNoSession;
    try {
      auto session = std::make_shared<Session>();
      std::lock_guard lock(mutex_);
      Slot* slot = nullptr;
      uint32_t index = 0;
      if (free_.size() > kReserve || (count_ == kMaxSlots && !free_.empty())) {
        index = free_.front();
        free_.pop_front();
        slot = &At(index);
      } else if (count_ < kMaxSlots) {
        index = count_;
        if (index % kChunkSlots == 0) chunks_[index / kChunkSlots].store(new Slot[kChunkSlots]);
        slot = &At(index);
        count_.store(index + 1, std::memory_order_release);
      } else {
        return kOutOfMemory;  // 65,536 sessions open at once
      }
      Handle h;
      do h = Scatter(((uint32_t{++slot->generation} << kIndexBits) | index) ^ seed_);
      while (h == kNoSession);
      slot->session = std::move(session);
      slot->data.store(nullptr);
      slot->handle.store(h);
      *handle = h;
      return kSuccess;
    } catch (const std::bad_alloc&) {
      return kOutOfMemory;
    }
  }

  Status Dispose(Handle handle) {
    std::shared_ptr<Session> session;
    {
      std::lock_guard lock(mutex_);
      Slot* slot = Live(handle);
      if (!slot) return kInvalidSessionHandle;
      // From here no lookup starts on the handle; the ones under way finish before the slot is
      // freed, so whatever they retained was retained while the session still held it.
      slot->handle.store(kNoSession);
      while (slot->readers.load() != 0) std::this_thread::yield();
      slot->data.store(nullptr);
      session = std::move(slot->session);
      free_.push_back(IndexOf(handle));
    }
    {
      std::lock_guard lock(session->mutex);
      session->disposed = true;
    }
    session->released.notify_all();
    return kSuccess;
  }

  Status SetData(Handle handle, void* data) {
    std::lock_guard lock(mutex_);
    Slot* slot = Live(handle);
    if (!slot) return kInvalidSessionHandle;
    slot->data.store(data);
    return kSuccess;
  }

  // Lock-free: every C call passes through here. The reader count and the handle check pair with
  // Dispose's store and wait (both sequentially consistent): either this lookup sees the session
  // gone, or Dispose waits for it to finish.
  Status Data(Handle handle, void** data, Retain retain, void* context) {
    const uint32_t index = IndexOf(handle);
    if (handle == kNoSession || index >= count_.load(std::memory_order_acquire))
      return kInvalidSessionHandle;
    Slot& slot = At(index);
    slot.readers.fetch_add(1);
    Status status = kInvalidSessionHandle;
    if (slot.handle.load() == handle) {
      void* p = slot.data.load();
      if (p && retain) retain(p, context);
      *data = p;
      status = kSuccess;
    }
    slot.readers.fetch_sub(1);
    return status;
  }

  std::shared_ptr<Session> Find(Handle handle) {
    std::lock_guard lock(mutex_);
    Slot* slot = Live(handle);
    return slot ? slot->session : nullptr;
  }

 private:
  SessionTable() : seed_(std::random_device{}()) {}
  ~SessionTable() {
    for (auto& chunk : chunks_) delete[] chunk.load();
  }

  uint32_t IndexOf(Handle handle) const { return (Gather(handle) ^ seed_) & (kMaxSlots - 1); }
  Slot& At(uint32_t index) {
    return chunks_[index / kChunkSlots].load(std::memory_order_acquire)[index % kChunkSlots];
  }
  // The slot of a live handle; under mutex_.
  Slot* Live(Handle handle) {
    if (handle == kNoSession) return nullptr;
    const uint32_t index = IndexOf(handle);
    if (index >= count_.load()) return nullptr;
    Slot& slot = At(index);
    return slot.handle.load() == handle ? &slot : nullptr;
  }

  const uint32_t seed_;
  std::mutex mutex_;  // New, Dispose and the slots' sessions
  std::atomic<uint32_t> count_{0};
  std::atomic<Slot*> chunks_[kMaxSlots / kChunkSlots] = {};
  std::deque<uint32_t> free_;
};

}  // namespace

Status SessionNew(Handle* handle) {
  return SessionTable::Get().New(handle);
}

Status SessionDispose(Handle handle) {
  return SessionTable::Get().Dispose(handle);
}

Status SessionSetDataPtr(Handle handle, void* data) {
  return SessionTable::Get().SetData(handle, data);
}

Status SessionGetDataPtr(Handle handle, void** data, Retain retain, void* context) {
  void* ignored;
  return SessionTable::Get().Data(handle, data ? data : &ignored, retain, context);
}

Status SessionLock(Handle handle, Boolean* hasLock) {
  auto session = SessionTable::Get().Find(handle);
  if (!session) return kInvalidSessionHandle;
  if (hasLock && *hasLock) return kSuccess;
  const auto me = std::this_thread::get_id();
  std::unique_lock lock(session->mutex);
  if (session->depth == 0 || session->owner != me) {
    session->released.wait(lock, [&] { return session->depth == 0 || session->disposed; });
    if (session->disposed) return kInvalidSessionHandle;
    session->owner = me;
  }
  ++session->depth;
  if (hasLock) *hasLock = 1;
  return kSuccess;
}

Status SessionUnlock(Handle handle, Boolean* hasLock) {
  auto session = SessionTable::Get().Find(handle);
  if (!session) return kInvalidSessionHandle;
  if (hasLock && !*hasLock) return kSuccess;
  {
    std::lock_guard lock(session->mutex);
    if (session->depth == 0 || session->owner != std::this_thread::get_id()) return kLockNotHeld;
    if (--session->depth == 0) session->owner = {};
  }
  if (hasLock) *hasLock = 0;
  session->released.notify_one();
  return kSuccess;
}

Status SessionSetError(Handle handle, Status code, const char* description) {
  const Status thread = Apply(t_error, code, description);
  if (handle == kNoSession) return thread;
  auto session = SessionTable::Get().Find(handle);
  if (!session) return kInvalidSessionHandle;
  std::lock_guard lock(session->mutex);
  const Status own = Apply(session->error, code, description);
  return own != kSuccess ? own : thread;
}

Status SessionGetError(Handle handle, int32_t bufferSize, Status* code, char* description) {
  if (handle == kNoSession) return Take(t_error, bufferSize, code, description);
  auto session = SessionTable::Get().Find(handle);
  if (!session) return kInvalidSessionHandle;
  std::lock_guard lock(session->mutex);
  return Take(session->error, bufferSize, code, description);
}

Status SessionClearError(Handle handle) {
  if (handle == kNoSession) {
    t_error = ErrorRecord{};
    return kSuccess;
  }
  auto session = SessionTable::Get().Find(handle);
  if (!session) return kInvalidSessionHandle;
  std::lock_guard lock(session->mutex);
  session->error = ErrorRecord{};
  return kSuccess;
}

Status CopyText(std::string_view text, int32_t bufferSize, char* buffer) {
  const auto needed = static_cast<int64_t>(text.size()) + 1;
  const Status required = needed > INT32_MAX ? INT32_MAX : static_cast<Status>(needed);
  if (!buffer || bufferSize == 0) return required;
  if (bufferSize < 0 || bufferSize >= needed) {
    std::memcpy(buffer, text.data(), text.size());
    buffer[text.size()] = '\0';
    return kSuccess;
  }
  std::memcpy(buffer, text.data(), static_cast<size_t>(bufferSize) - 1);
  buffer[bufferSize - 1] = '\0';
  return required;
}

}  // namespace vmk::ivic
