#pragma once

#include <memory>

#include "platform/platform.h"

// The platform objects of Linux: MacosxThread, LinuxMutex, LinuxMutexLight,
// LinuxSynchronize, Socket and MacosxSound.
class LinuxPlatform final : public Platform {
 public:
  std::unique_ptr<Thread> CreateThread() override;
  std::unique_ptr<Mutex> CreateMutex() override;
  std::unique_ptr<Mutex> CreateLightMutex() override;
  std::unique_ptr<Synchronize> CreateSynchronize() override;
  // A socket with no descriptor yet.
  std::unique_ptr<Socket> CreateSocket() override;
  // The single sound object, made on first use and never freed.
  Sound* GetSound() override;
};

// The process's LinuxPlatform, made on first use and never freed.
Platform* GetPlatform();
