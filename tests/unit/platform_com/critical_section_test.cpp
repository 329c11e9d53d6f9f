// The objects' lock: taken again by its holder, kept from every other thread until the holder has
// given back every time it took it, and a sleeper woken when it is free.
#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/com/critical_section.h"

namespace vmk::com {
namespace {

TEST(CriticalSection, TheHolderTakesItAgainAndOthersWaitUntilItIsGivenBackAsOftenAsTaken) {
  CriticalSection cs;
  cs.lock();
  cs.lock();
  EXPECT_TRUE(cs.try_lock());
  bool other = true;
  std::thread([&] { other = cs.try_lock(); }).join();
  EXPECT_FALSE(other);
  cs.unlock();
  cs.unlock();
  std::thread([&] { other = cs.try_lock(); }).join();
  EXPECT_FALSE(other) << "free after two of three unlocks";
  cs.unlock();
  std::thread([&] {
    other = cs.try_lock();
    if (other) cs.unlock();
  }).join();
  EXPECT_TRUE(other);
}

// Four threads add to plain counters under the lock, each time nested two deep, while the others
// wait: no increment is lost, and every waiter is woken (the test would hang otherwise).
TEST(CriticalSection, ThreadsThatWaitForItAreWokenAndNeverHoldItTogether) {
  CriticalSection cs;
  long long total = 0;
  int inside = 0;
  std::atomic<bool> overlap{false};
  constexpr int kThreads = 4, kRounds = 20000;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < kRounds; ++i) {
        std::lock_guard outer(cs);
        if (++inside != 1) overlap = true;
        {
          std::lock_guard inner(cs);
          ++total;
        }
        if (i % 512 == 0) std::this_thread::yield();  // let a waiter find it taken and sleep
        --inside;
      }
    });
  }
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(total, 80000);
  EXPECT_FALSE(overlap);
}

}  // namespace
}  // namespace vmk::com
