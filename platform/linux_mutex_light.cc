#include "platform/linux_mutex_light.h"

LinuxMutexLight::LinuxMutexLight() { pthread_mutex_init(&mutex_, nullptr); }

LinuxMutexLight::~LinuxMutexLight() { pthread_mutex_destroy(&mutex_); }

int LinuxMutexLight::Lock() { return pthread_mutex_lock(&mutex_); }

int LinuxMutexLight::Unlock() { return pthread_mutex_unlock(&mutex_); }
