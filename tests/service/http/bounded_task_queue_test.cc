#include "service/http/bounded_task_queue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <thread>

namespace {

constexpr auto kBound = std::chrono::seconds(10);

TEST(BoundedTaskQueueTest, FullQueueIsServedByTheCallerAndShutdownDrains) {
  BoundedTaskQueue queue(1, 1, 0);
  std::promise<void> started;
  std::promise<void> release;
  std::shared_future<void> released = release.get_future().share();
  queue.enqueue([&started, released] {
    started.set_value();
    released.wait_for(kBound);
  });
  // The one thread is busy from here on.
  ASSERT_EQ(std::future_status::ready, started.get_future().wait_for(kBound));

  std::atomic<bool> queued_ran(false);
  queue.enqueue([&queued_ran] { queued_ran = true; });
  std::thread::id inline_thread;
  queue.enqueue(
      [&inline_thread] { inline_thread = std::this_thread::get_id(); });
  EXPECT_EQ(std::this_thread::get_id(), inline_thread)
      << "the job past the bound runs on the accepting thread";
  EXPECT_FALSE(queued_ran);

  release.set_value();
  queue.shutdown();
  EXPECT_TRUE(queued_ran) << "a queued connection is still served and closed";
}

TEST(BoundedTaskQueueTest, AfterShutdownJobsStillRun) {
  BoundedTaskQueue queue(2, 4, 0);
  queue.shutdown();
  bool ran = false;
  queue.enqueue([&ran] { ran = true; });
  EXPECT_TRUE(ran) << "a dropped job would leak its socket";
}

}  // namespace
