#pragma once

// A lock, so that code can lock without naming the POSIX calls. LinuxMutex
// (a semaphore) and LinuxMutexLight (a pthread mutex) are the real ones.
class Mutex {
 public:
  Mutex() = default;
  Mutex(const Mutex&) = delete;
  Mutex& operator=(const Mutex&) = delete;
  virtual ~Mutex() = default;

  // The system call's result: 0 on success.
  virtual int Lock() = 0;
  virtual int Unlock() = 0;
};
