#include "platform/linux_platform.h"

#include <atomic>

#include "gtest/gtest.h"
#include "platform/thread.h"

namespace {

void* CountUp(void* argument) {
  static_cast<std::atomic<int>*>(argument)->fetch_add(1);
  return nullptr;
}

TEST(LinuxPlatformTest, ThreadRunsItsEntryAndIsJoined) {
  std::atomic<int> counter{0};
  std::unique_ptr<Thread> thread = GetPlatform()->CreateThread();
  ASSERT_TRUE(thread->Start(&CountUp, &counter, 0));
  EXPECT_FALSE(thread->Join(5000));  // only waiting for ever is supported
  EXPECT_TRUE(thread->Join(-1));
  EXPECT_EQ(1, counter.load());
  EXPECT_EQ(0, thread->State());
  // The destructor joins a thread nobody joined.
  thread = GetPlatform()->CreateThread();
  ASSERT_TRUE(thread->Start(&CountUp, &counter, 0));
  thread.reset();
  EXPECT_EQ(2, counter.load());
}

}  // namespace
