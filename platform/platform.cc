#include "platform/platform.h"

#include "platform/mutex.h"
#include "platform/socket.h"
#include "platform/synchronize.h"
#include "platform/thread.h"

std::unique_ptr<Thread> Platform::CreateThread() { return nullptr; }
std::unique_ptr<Mutex> Platform::CreateMutex() { return nullptr; }
std::unique_ptr<Mutex> Platform::CreateLightMutex() { return nullptr; }
std::unique_ptr<Synchronize> Platform::CreateSynchronize() { return nullptr; }
std::unique_ptr<Socket> Platform::CreateSocket() { return nullptr; }
