#pragma once

#include <semaphore.h>

#include "platform/mutex.h"

// A lock made of one unnamed process-private semaphore with count 1.
class LinuxMutex final : public Mutex {
 public:
  LinuxMutex();
  ~LinuxMutex() override;

  int Lock() override;    // sem_wait
  int Unlock() override;  // sem_post

 private:
  sem_t semaphore_;
};
