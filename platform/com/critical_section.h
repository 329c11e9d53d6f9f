// The lock of an object whose members call one another: the thread that holds it may take it
// again, as with a Windows critical section. Every interface call takes one or more of these, so
// the path without contention is one compare-exchange to take and one exchange to give back (a
// recursive pthread mutex costs several times that); a thread that finds the lock taken sleeps in
// the kernel until it is given back rather than spinning. It meets the standard's Lockable
// requirements, for std::lock_guard and std::unique_lock.
#pragma once

#include <pthread.h>

#include <atomic>

namespace vmk::com {

class CriticalSection {
 public:
  CriticalSection() = default;
  CriticalSection(const CriticalSection&) = delete;
  CriticalSection& operator=(const CriticalSection&) = delete;

  void lock() {
    const pthread_t self = pthread_self();
    if (Holds(self)) {
      ++depth_;
      return;
    }
    int expected = kFree;
    if (!state_.compare_exchange_strong(expected, kTaken, std::memory_order_acquire))
      Wait(expected);
    Own(self);
  }

  bool try_lock() {
    const pthread_t self = pthread_self();
    if (Holds(self)) {
      ++depth_;
      return true;
    }
    int expected = kFree;
    if (!state_.compare_exchange_strong(expected, kTaken, std::memory_order_acquire)) return false;
    Own(self);
    return true;
  }

  // Only by the thread that holds the lock.
  void unlock() {
    if (--depth_ != 0) return;
    owner_.store(pthread_t{}, std::memory_order_relaxed);
    if (state_.exchange(kFree, std::memory_order_release) == kContended) state_.notify_one();
  }

 private:
  enum : int { kFree, kTaken, kContended };

  // Another thread never reads its own identity here: only the holder stores its own, and it
  // clears it before it gives the lock back, so a relaxed load is enough for the question.
  bool Holds(pthread_t self) const {
    return pthread_equal(owner_.load(std::memory_order_relaxed), self) != 0;
  }
  void Own(pthread_t self) {
    owner_.store(self, std::memory_order_relaxed);
    depth_ = 1;
  }
  // Marks the lock as waited for, so that its holder wakes a sleeper when it gives it back, and
  // sleeps until it is free.
  void Wait(int seen) {
    if (seen != kContended) seen = state_.exchange(kContended, std::memory_order_acquire);
    while (seen != kFree) {
      state_.wait(kContended, std::memory_order_relaxed);
      seen = state_.exchange(kContended, std::memory_order_acquire);
    }
  }

  std::atomic<int> state_{kFree};
  std::atomic<pthread_t> owner_{};
  unsigned depth_ = 0;  // read and written only by the holder
};

}  // namespace vmk::com
