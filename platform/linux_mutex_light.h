#pragma once

#include <pthread.h>

#include "platform/mutex.h"

// A lock made of one pthread mutex with default attributes.
class LinuxMutexLight final : public Mutex {
 public:
  LinuxMutexLight();
  ~LinuxMutexLight() override;

  int Lock() override;
  int Unlock() override;

 private:
  pthread_mutex_t mutex_;
};
