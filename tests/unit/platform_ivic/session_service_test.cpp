// The session service: handles, data pointers, the per-thread re-entrant lock, the error record
// with its severity and buffer rules, and the thread's own record.
#include "platform/ivic/session_service.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>

namespace vmk::ivic {
namespace {

constexpr Status kInvalid = Status(0xBFFA1190u);
constexpr Status kError = Status(0xBFFA0010u);
constexpr Status kOtherError = Status(0xBFFA0020u);
constexpr Status kWarning = Status(0x3FFA0066u);

class Service : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(SessionNew(&h), kSuccess);
    SessionClearError(kNoSession);
  }
  void TearDown() override { SessionDispose(h); }

  // Reads and clears the session's record.
  std::pair<Status, std::string> Take(Handle handle) {
    Status code = 12345;
    char text[256];
    std::memset(text, 'x', sizeof text);
    EXPECT_EQ(SessionGetError(handle, sizeof text, &code, text), kSuccess);
    return {code, text};
  }

  Handle h = kNoSession;
};

TEST_F(Service, NewSessionsHaveTheirOwnHandleAndNoDataPointer) {
  Handle other = kNoSession;
  ASSERT_EQ(SessionNew(&other), kSuccess);
  EXPECT_NE(other, kNoSession);
  EXPECT_NE(other, h);
  void* data = &data;
  EXPECT_EQ(SessionGetDataPtr(h, &data), kSuccess);
  EXPECT_EQ(data, nullptr);

  int a = 0, b = 0;
  EXPECT_EQ(SessionSetDataPtr(h, &a), kSuccess);
  EXPECT_EQ(SessionSetDataPtr(other, &b), kSuccess);
  EXPECT_EQ(SessionGetDataPtr(h, &data), kSuccess);
  EXPECT_EQ(data, &a);
  EXPECT_EQ(SessionGetDataPtr(other, &data), kSuccess);
  EXPECT_EQ(data, &b);
  EXPECT_EQ(SessionDispose(other), kSuccess);
  EXPECT_EQ(SessionNew(nullptr), Status(0x80000000u));
}

TEST_F(Service, RetainRunsOnTheDataPointerOnly) {
  int retained = 0;
  void* seen = nullptr;
  auto retain = [](void* p, void* context) {
    ++*static_cast<int*>(p);
    *static_cast<void**>(context) = p;
  };
  void* data = nullptr;
  EXPECT_EQ(SessionGetDataPtr(h, &data, retain, &seen), kSuccess);  // no pointer: nothing to do
  EXPECT_EQ(seen, nullptr);
  ASSERT_EQ(SessionSetDataPtr(h, &retained), kSuccess);
  EXPECT_EQ(SessionGetDataPtr(h, &data, retain, &seen), kSuccess);
  EXPECT_EQ(retained, 1);
  EXPECT_EQ(seen, &retained);
}

TEST_F(Service, ADisposedZeroOrUnknownHandleChangesNothing) {
  Handle gone = kNoSession;
  ASSERT_EQ(SessionNew(&gone), kSuccess);
  ASSERT_EQ(SessionDispose(gone), kSuccess);
  for (Handle bad : {gone, kNoSession, gone ^ 0x5A5A5A5Au}) {
    if (bad == h) continue;
    void* data = nullptr;
    Boolean has = 0;
    EXPECT_EQ(SessionGetDataPtr(bad, &data), kInvalid);
    EXPECT_EQ(SessionSetDataPtr(bad, &data), kInvalid);
    EXPECT_EQ(SessionLock(bad, &has), kInvalid);
    EXPECT_EQ(has, 0);
    EXPECT_EQ(SessionUnlock(bad, nullptr), kInvalid);
    EXPECT_EQ(SessionDispose(bad), kInvalid);
    if (bad == kNoSession) continue;  // 0 names the thread's record for the error functions
    Status code = 0;
    char text[8];
    EXPECT_EQ(SessionGetError(bad, sizeof text, &code, text), kInvalid);
    EXPECT_EQ(SessionClearError(bad), kInvalid);
  }
}

TEST_F(Service, AnErrorSetOnAnInvalidHandleStillReachesTheThread) {
  Handle gone = kNoSession;
  ASSERT_EQ(SessionNew(&gone), kSuccess);
  ASSERT_EQ(SessionDispose(gone), kSuccess);
  EXPECT_EQ(SessionSetError(gone, kError, "lost session"), kInvalid);
  EXPECT_EQ(Take(kNoSession), (std::pair<Status, std::string>{kError, "lost session"}));
}

TEST_F(Service, ASessionErrorIsAlsoTheThreadsAndReadingClearsIt) {
  EXPECT_EQ(SessionSetError(h, kError, "bad value"), kSuccess);
  EXPECT_EQ(Take(h), (std::pair<Status, std::string>{kError, "bad value"}));
  EXPECT_EQ(Take(h), (std::pair<Status, std::string>{kSuccess, ""}));
  EXPECT_EQ(Take(kNoSession), (std::pair<Status, std::string>{kError, "bad value"}));
  // The thread's record with no session leaves the session alone.
  EXPECT_EQ(SessionSetError(kNoSession, kWarning, "thread only"), kSuccess);
  EXPECT_EQ(Take(h).first, kSuccess);
}

TEST_F(Service, TheMoreSevereCodeWinsAndItsTextFollowsIt) {
  struct Case {
    Status stored, incoming, kept;
    const char* text;
  };
  // The stored success has no text, so an incoming success fills it.
  const Case cases[] = {
      {kError, kOtherError, kError, "first"},
      {kError, kWarning, kError, "first"},
      {kError, 0, kError, "first"},
      {kWarning, kError, kError, "second"},
      {kWarning, 0x3FFA0067, kWarning, "first"},
      {kWarning, 0, kWarning, "first"},
      {0, kError, kError, "second"},
      {0, kWarning, kWarning, "second"},
      {0, 0, 0, "second"},
  };
  for (const Case& c : cases) {
    SessionClearError(h);
    SessionSetError(h, c.stored, c.stored ? "first" : nullptr);
    SessionSetError(h, c.incoming, "second");
    EXPECT_EQ(Take(h), (std::pair<Status, std::string>{c.kept, c.text}))
        << std::hex << c.stored << " then " << c.incoming;
  }
}

TEST_F(Service, AnEqualCodeFillsAnEmptyDescriptionOnly) {
  SessionSetError(h, kError, nullptr);
  SessionSetError(h, kError, "");
  SessionSetError(h, kError, "why");
  SessionSetError(h, kError, "not this");
  EXPECT_EQ(Take(h), (std::pair<Status, std::string>{kError, "why"}));
}

TEST_F(Service, GetErrorFollowsTheBufferRule) {
  SessionSetError(h, kError, "123456");
  Status code = 0;
  char text[16];

  // Size 0 and a null buffer ask for the size and keep the record.
  EXPECT_EQ(SessionGetError(h, 0, &code, nullptr), 7);
  EXPECT_EQ(code, kError);
  std::strcpy(text, "untouched");
  EXPECT_EQ(SessionGetError(h, 0, nullptr, text), 7);
  EXPECT_STREQ(text, "untouched");
  EXPECT_EQ(SessionGetError(h, 16, &code, nullptr), 7);

  // Too small: cut with a terminating zero, the size needed returned, the record taken.
  EXPECT_EQ(SessionGetError(h, 4, &code, text), 7);
  EXPECT_STREQ(text, "123");
  EXPECT_EQ(Take(h).first, kSuccess);

  SessionSetError(h, kError, "123456");
  EXPECT_EQ(SessionGetError(h, 7, &code, text), kSuccess);
  EXPECT_STREQ(text, "123456");

  SessionSetError(h, kError, "123456");
  EXPECT_EQ(SessionGetError(h, -1, nullptr, text), kSuccess);
  EXPECT_STREQ(text, "123456");
}

TEST(CopyText, TheBufferRule) {
  char b[8];
  std::strcpy(b, "keep");
  EXPECT_EQ(CopyText("Output1", 0, b), 8);
  EXPECT_STREQ(b, "keep");
  EXPECT_EQ(CopyText("Output1", 5, nullptr), 8);
  EXPECT_EQ(CopyText("Output1", 8, b), kSuccess);
  EXPECT_STREQ(b, "Output1");
  EXPECT_EQ(CopyText("Output1", 7, b), 8);
  EXPECT_STREQ(b, "Output");
  EXPECT_EQ(CopyText("Output1", 1, b), 8);
  EXPECT_STREQ(b, "");
  EXPECT_EQ(CopyText("Out", -5, b), kSuccess);
  EXPECT_STREQ(b, "Out");
  EXPECT_EQ(CopyText("", 0, nullptr), 1);
}

TEST_F(Service, TheThreadRecordBelongsToItsThread) {
  SessionSetError(kNoSession, kError, "mine");
  std::pair<Status, std::string> seen;
  std::thread other([&] {
    Status code = 1;
    char text[16] = "x";
    SessionGetError(kNoSession, sizeof text, &code, text);
    seen = {code, text};
  });
  other.join();
  EXPECT_EQ(seen, (std::pair<Status, std::string>{kSuccess, ""}));
  EXPECT_EQ(Take(kNoSession).second, "mine");
}

TEST_F(Service, TheLockIsReentrantAndHonoursCallerHasLock) {
  Boolean has = 0;
  EXPECT_EQ(SessionLock(h, &has), kSuccess);
  EXPECT_EQ(has, 1);
  EXPECT_EQ(SessionLock(h, &has), kSuccess);     // already held through this flag: nothing
  EXPECT_EQ(SessionLock(h, nullptr), kSuccess);  // a nested level
  EXPECT_EQ(SessionUnlock(h, nullptr), kSuccess);
  EXPECT_EQ(SessionUnlock(h, &has), kSuccess);
  EXPECT_EQ(has, 0);
  EXPECT_EQ(SessionUnlock(h, &has), kSuccess);  // flag false: nothing
  EXPECT_EQ(SessionUnlock(h, nullptr), kLockNotHeld);
}

TEST_F(Service, AnotherThreadWaitsForTheLockAndCannotReleaseIt) {
  ASSERT_EQ(SessionLock(h, nullptr), kSuccess);
  std::atomic<bool> acquired{false};
  Status foreign_unlock = kSuccess;
  std::thread other([&] {
    foreign_unlock = SessionUnlock(h, nullptr);
    SessionLock(h, nullptr);
    acquired = true;
    SessionUnlock(h, nullptr);
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_FALSE(acquired);
  ASSERT_EQ(SessionUnlock(h, nullptr), kSuccess);
  other.join();
  EXPECT_TRUE(acquired);
  EXPECT_EQ(foreign_unlock, kLockNotHeld);
}

TEST_F(Service, DisposingWakesAThreadWaitingForTheLock) {
  ASSERT_EQ(SessionLock(h, nullptr), kSuccess);
  Status waited = kSuccess;
  std::thread other([&] { waited = SessionLock(h, nullptr); });
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  ASSERT_EQ(SessionDispose(h), kSuccess);
  other.join();
  EXPECT_EQ(waited, kInvalid);
}

}  // namespace
}  // namespace vmk::ivic
