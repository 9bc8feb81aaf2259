#include "service/http/bounded_task_queue.h"

BoundedTaskQueue::BoundedTaskQueue(size_t threads, size_t max_queued)
    : max_queued_(max_queued) {
  if (threads < 1) threads = 1;
  try {
    for (size_t i = 0; i < threads; ++i) threads_.emplace_back([this] { Work(); });
  } catch (...) {
    shutdown();
    throw;
  }
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
