#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include <httplib.h>

// The HTTP server's connection queue: a fixed set of threads and a bounded
// queue of accepted connections waiting for one. The library's own pool
// queues without bound; here a connection that finds the queue full is
// served by the accepting thread itself, so the server accepts no more
// until it is done and further clients wait in the kernel's listen backlog.
class BoundedTaskQueue final : public httplib::TaskQueue {
 public:
  // Starts `threads` threads (at least 1), each lowered by `niceness` in
  // the scheduler's favour (0 leaves them as they are), so that busy HTTP
  // clients give way to the service loop. Thread start failures throw
  // std::system_error, as std::thread does; the endpoint catches it.
  BoundedTaskQueue(size_t threads, size_t max_queued, int niceness);
  BoundedTaskQueue(const BoundedTaskQueue&) = delete;
  BoundedTaskQueue& operator=(const BoundedTaskQueue&) = delete;
  ~BoundedTaskQueue() override;

  // Lowers the calling thread's priority by niceness (see above).
  static void LowerThisThread(int niceness);

  void enqueue(std::function<void()> job) override;

  // Runs the jobs still queued, then joins the threads.
  void shutdown() override;

 private:
  void Work();

  const size_t max_queued_;
  const int niceness_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<std::function<void()>> jobs_;
  bool shutdown_ = false;
  std::vector<std::thread> threads_;
};
