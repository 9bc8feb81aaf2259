#include "platform/linux_mutex.h"

LinuxMutex::LinuxMutex() { sem_init(&semaphore_, 0, 1); }

LinuxMutex::~LinuxMutex() { sem_destroy(&semaphore_); }

int LinuxMutex::Lock() { return sem_wait(&semaphore_); }

int LinuxMutex::Unlock() { return sem_post(&semaphore_); }
