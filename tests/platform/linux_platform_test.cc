#include "platform/linux_platform.h"

#include <atomic>

#include "gtest/gtest.h"
#include "platform/linux_synchronize.h"
#include "platform/mutex.h"
#include "platform/socket.h"
#include "platform/sound.h"
#include "platform/synchronize.h"
#include "platform/thread.h"

namespace {

class LinuxPlatformTest : public ::testing::Test {
 protected:
  Platform* platform_ = GetPlatform();
};

TEST_F(LinuxPlatformTest, GetPlatformIsASingleton) {
  EXPECT_EQ(GetPlatform(), platform_);
  EXPECT_EQ(platform_->GetSound(), platform_->GetSound());
  EXPECT_EQ(1, platform_->GetSound()->Play1());
  EXPECT_EQ(1, platform_->GetSound()->Play3());
}

TEST_F(LinuxPlatformTest, CreateSocketHasNoDescriptor) {
  std::unique_ptr<Socket> socket = platform_->CreateSocket();
  ASSERT_NE(nullptr, socket);
  EXPECT_EQ(-1, socket->descriptor());
}

TEST_F(LinuxPlatformTest, MutexesLockAndUnlock) {
  std::unique_ptr<Mutex> mutexes[] = {platform_->CreateMutex(),
                                      platform_->CreateLightMutex()};
  for (const std::unique_ptr<Mutex>& mutex : mutexes) {
    ASSERT_NE(nullptr, mutex);
    EXPECT_EQ(0, mutex->Lock());
    EXPECT_EQ(0, mutex->Unlock());
  }
  std::unique_ptr<Synchronize> section = platform_->CreateSynchronize();
  ASSERT_NE(nullptr, section);
  EXPECT_EQ(1, section->Enter());
  EXPECT_EQ(0, section->Leave());
}

void* CountUp(void* argument) {
  static_cast<std::atomic<int>*>(argument)->fetch_add(1);
  return nullptr;
}

TEST_F(LinuxPlatformTest, ThreadRunsEntryAndJoins) {
  std::unique_ptr<Thread> thread = platform_->CreateThread();
  ASSERT_NE(nullptr, thread);
  std::atomic<int> counter{0};
  ASSERT_TRUE(thread->Start(&CountUp, &counter, 0));
  EXPECT_FALSE(thread->Join(5000));  // only waiting for ever is supported
  EXPECT_TRUE(thread->Join(-1));
  EXPECT_EQ(1, counter.load());
  EXPECT_EQ(0, thread->State());
  EXPECT_EQ(1, thread->Reserved5());
  EXPECT_EQ(3, thread->Reserved6());
}

TEST_F(LinuxPlatformTest, ThreadDestructorJoinsUnjoinedThread) {
  std::atomic<int> counter{0};
  {
    std::unique_ptr<Thread> thread = platform_->CreateThread();
    ASSERT_TRUE(thread->Start(&CountUp, &counter, 0));
  }
  EXPECT_EQ(1, counter.load());
}

}  // namespace
