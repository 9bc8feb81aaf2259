#pragma once

#include <pthread.h>

#include <cstdint>

#include "platform/thread.h"

// A POSIX thread with default attributes.
class MacosxThread final : public Thread {
 public:
  MacosxThread() = default;
  // Joins a started thread that was neither joined nor cancelled, so the
  // entry never outlives the object whose state it writes.
  ~MacosxThread() override;

  bool Start(Entry entry, void* argument, int32_t unused) override;
  bool Cancel() override;
  bool Join(int32_t timeout_millis) override;
  pthread_t NativeHandle() const override { return handle_; }
  pthread_t CurrentThread() const override;

 private:
  static void* Trampoline(void* self);

  pthread_t handle_{};
  bool started_ = false;
  Entry entry_ = nullptr;
  void* argument_ = nullptr;
};
