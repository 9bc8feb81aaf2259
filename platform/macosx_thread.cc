#include "platform/macosx_thread.h"

MacosxThread::~MacosxThread() {
  if (started_) pthread_join(handle_, nullptr);
}

void* MacosxThread::Trampoline(void* self) {
  MacosxThread* thread = static_cast<MacosxThread*>(self);
  void* result = thread->entry_(thread->argument_);
  thread->state_ = 0;
  return result;
}

bool MacosxThread::Start(Entry entry, void* argument, int32_t /*unused*/) {
  if (started_ || entry == nullptr) return false;
  entry_ = entry;
  argument_ = argument;
  if (pthread_create(&handle_, nullptr, &Trampoline, this) != 0) return false;
  started_ = true;
  return true;
}

bool MacosxThread::Cancel() {
  if (!started_) return false;
  return pthread_cancel(handle_) == 0;
}

bool MacosxThread::Join(int32_t timeout_millis) {
  if (timeout_millis != -1 || !started_) return false;
  bool joined = pthread_join(handle_, nullptr) == 0;
  started_ = false;
  return joined;
}

pthread_t MacosxThread::CurrentThread() const { return pthread_self(); }
