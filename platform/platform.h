#pragma once

#include <memory>

class Mutex;
class Socket;
class Sound;
class Synchronize;
class Thread;

// The factory of platform objects (threads, locks, sockets, sound), so that
// code obtains them without naming their POSIX classes. This base makes
// nothing (every operation gives null); LinuxPlatform is the real one, and
// GetPlatform (linux_platform.h) gives the process's instance. Created
// objects belong to the caller; the sound object belongs to the platform.
class Platform {
 public:
  Platform() = default;
  Platform(const Platform&) = delete;
  Platform& operator=(const Platform&) = delete;
  virtual ~Platform() = default;

  virtual void* Reserved0() { return nullptr; }
  virtual std::unique_ptr<Thread> CreateThread();
  virtual std::unique_ptr<Mutex> CreateMutex();
  virtual std::unique_ptr<Mutex> CreateLightMutex();
  virtual std::unique_ptr<Synchronize> CreateSynchronize();
  virtual std::unique_ptr<Socket> CreateSocket();
  virtual void* Reserved6() { return nullptr; }
  virtual Sound* GetSound() { return nullptr; }
  virtual void* Reserved8() { return nullptr; }
};
