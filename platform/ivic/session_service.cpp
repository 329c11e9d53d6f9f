#include "platform/ivic/session_service.h"

#include <atomic>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <random>
#include <shared_mutex>
#include <string>
#include <thread>
#include <unordered_map>

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

struct Session {
  std::atomic<void*> data{nullptr};
  std::mutex mutex;  // guards everything below
  std::condition_variable released;
  std::thread::id owner;
  uint32_t depth = 0;
  bool disposed = false;
  ErrorRecord error;
};

// A bijection of 32-bit values (the finalizer of MurmurHash3): successive counters give
// scattered handles, and distinct counters never give the same handle.
constexpr uint32_t Scatter(uint32_t x) {
  x ^= x >> 16;
  x *= 0x85EBCA6Bu;
  x ^= x >> 13;
  x *= 0xC2B2AE35u;
  x ^= x >> 16;
  return x;
}

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
      std::unique_lock lock(mutex_);
      Handle h;
      do h = Scatter(next_++);
      while (h == kNoSession || sessions_.contains(h));
      sessions_.emplace(h, std::move(session));
      *handle = h;
      return kSuccess;
    } catch (const std::bad_alloc&) {
      return kOutOfMemory;
    }
  }

  Status Dispose(Handle handle) {
    std::shared_ptr<Session> session;
    {
      std::unique_lock lock(mutex_);
      auto it = sessions_.find(handle);
      if (it == sessions_.end()) return kInvalidSessionHandle;
      session = std::move(it->second);
      sessions_.erase(it);
    }
    {
      std::lock_guard lock(session->mutex);
      session->disposed = true;
    }
    session->released.notify_all();
    return kSuccess;
  }

  // The data pointer, read (and retained) under the table's shared lock: Dispose takes the lock
  // exclusively, so the session cannot go in between.
  Status DataPtr(Handle handle, void** data, void (*retain)(void*)) {
    std::shared_lock lock(mutex_);
    auto it = sessions_.find(handle);
    if (it == sessions_.end()) return kInvalidSessionHandle;
    void* p = it->second->data.load(std::memory_order_acquire);
    if (p && retain) retain(p);
    *data = p;
    return kSuccess;
  }

  std::shared_ptr<Session> Find(Handle handle) {
    std::shared_lock lock(mutex_);
    auto it = sessions_.find(handle);
    return it == sessions_.end() ? nullptr : it->second;
  }

 private:
  // Seeded per process, so that handles of one run mean nothing in another.
  SessionTable() : next_(std::random_device{}()) {}

  std::shared_mutex mutex_;
  std::unordered_map<Handle, std::shared_ptr<Session>> sessions_;
  uint32_t next_;
};

}  // namespace

Status SessionNew(Handle* handle) {
  return SessionTable::Get().New(handle);
}

Status SessionDispose(Handle handle) {
  return SessionTable::Get().Dispose(handle);
}

Status SessionSetDataPtr(Handle handle, void* data) {
  auto session = SessionTable::Get().Find(handle);
  if (!session) return kInvalidSessionHandle;
  session->data.store(data, std::memory_order_release);
  return kSuccess;
}

Status SessionGetDataPtr(Handle handle, void** data, void (*retain)(void*)) {
  void* ignored;
  return SessionTable::Get().DataPtr(handle, data ? data : &ignored, retain);
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
