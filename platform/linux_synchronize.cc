#include "platform/linux_synchronize.h"

LinuxSynchronize::LinuxSynchronize() : mutex_(std::make_unique<LinuxMutex>()) {}

LinuxSynchronize::~LinuxSynchronize() = default;

int LinuxSynchronize::Leave() { return mutex_->Unlock(); }

int LinuxSynchronize::Enter() {
  mutex_->Lock();
  return 1;
}
