#include "service/http/bounded_task_queue.h"

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

BoundedTaskQueue::BoundedTaskQueue(size_t threads, size_t max_queued,
                                   int niceness)
    : max_queued_(max_queued), niceness_(niceness) {
  if (threads < 1) threads = 1;
  try {
    for (size_t i = 0; i < threads; ++i)
      threads_.emplace_back([this] { Work(); });
  } catch (...) {
    shutdown();
    throw;
  }
}

void BoundedTaskQueue::LowerThisThread(int niceness) {
  if (niceness == 0) return;
  // On Linux the nice value is per thread; a refusal only leaves the thread
  // at the service's priority.
  id_t thread = static_cast<id_t>(syscall(SYS_gettid));
  setpriority(PRIO_PROCESS, thread,
              getpriority(PRIO_PROCESS, thread) + niceness);
}

BoundedTaskQueue::~BoundedTaskQueue() { shutdown(); }

void BoundedTaskQueue::enqueue(std::function<void()> job) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!shutdown_ && jobs_.size() < max_queued_) {
      jobs_.push_back(std::move(job));
      wake_.notify_one();
      return;
    }
  }
  // Full: serve it here, which holds up the accepting loop meanwhile.
  job();
}

void BoundedTaskQueue::shutdown() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    shutdown_ = true;
  }
  wake_.notify_all();
  for (std::thread& thread : threads_) {
    if (thread.joinable()) thread.join();
  }
  threads_.clear();
}

void BoundedTaskQueue::Work() {
  LowerThisThread(niceness_);
  for (;;) {
    std::function<void()> job;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      wake_.wait(lock, [this] { return shutdown_ || !jobs_.empty(); });
      // Queued connections are still served (and so closed) at shutdown.
      if (jobs_.empty()) return;
      job = std::move(jobs_.front());
      jobs_.pop_front();
    }
    job();
  }
}
