#pragma once

#include <memory>

#include "platform/linux_mutex.h"
#include "platform/synchronize.h"

// A critical section over an owned LinuxMutex.
class LinuxSynchronize final : public Synchronize {
 public:
  LinuxSynchronize();
  ~LinuxSynchronize() override;

  int Leave() override;
  int Enter() override;

 private:
  std::unique_ptr<LinuxMutex> mutex_;
};
