#pragma once

#include <pthread.h>

#include <atomic>
#include <cstdint>

// A thread of execution, so that code can start one without naming the POSIX
// calls. MacosxThread is the real one. Nothing in the programs uses threads;
// the class completes the platform library.
class Thread {
 public:
  using Entry = void* (*)(void*);

  Thread() = default;
  Thread(const Thread&) = delete;
  Thread& operator=(const Thread&) = delete;
  virtual ~Thread() = default;

  // Runs entry(argument) on a new thread; the third value is ignored. True
  // when the thread was created.
  virtual bool Start(Entry entry, void* argument, int32_t unused) = 0;
  virtual void Reserved1() {}
  virtual void Reserved2() {}
  virtual bool Cancel() = 0;
  // Only -1 (wait for ever) is supported; any other time-out gives false.
  virtual bool Join(int32_t timeout_millis) = 0;
  virtual int32_t Reserved5() { return 1; }
  virtual int32_t Reserved6() { return 3; }
  virtual pthread_t NativeHandle() const = 0;
  virtual pthread_t CurrentThread() const = 0;
  virtual void Reserved9() {}
  // 0 at construction and again after the entry has returned.
  int32_t State() const { return state_.load(); }

 protected:
  // Written by the started thread, read by others.
  std::atomic<int32_t> state_{0};
};
