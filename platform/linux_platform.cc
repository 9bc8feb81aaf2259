#include "platform/linux_platform.h"

#include "platform/linux_mutex.h"
#include "platform/linux_mutex_light.h"
#include "platform/linux_synchronize.h"
#include "platform/macosx_sound.h"
#include "platform/macosx_thread.h"
#include "platform/socket.h"

std::unique_ptr<Thread> LinuxPlatform::CreateThread() {
  return std::make_unique<MacosxThread>();
}

std::unique_ptr<Mutex> LinuxPlatform::CreateMutex() {
  return std::make_unique<LinuxMutex>();
}

std::unique_ptr<Mutex> LinuxPlatform::CreateLightMutex() {
  return std::make_unique<LinuxMutexLight>();
}

std::unique_ptr<Synchronize> LinuxPlatform::CreateSynchronize() {
  return std::make_unique<LinuxSynchronize>();
}

std::unique_ptr<Socket> LinuxPlatform::CreateSocket() {
  return std::make_unique<Socket>();
}

Sound* LinuxPlatform::GetSound() {
  static Sound* sound = new MacosxSound();
  return sound;
}

Platform* GetPlatform() {
  static Platform* platform = new LinuxPlatform();
  return platform;
}
