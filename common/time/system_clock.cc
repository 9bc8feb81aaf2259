#include "common/time/system_clock.h"

#include <time.h>
#include <unistd.h>

SystemClock* SystemClock::Instance() {
  static SystemClock* instance = new SystemClock;
  return instance;
}

int64_t SystemClock::MonotonicMillis() {
  struct timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

void SystemClock::Pause(int32_t millis) {
  if (millis <= 0) return;
  if (millis >= 1000) sleep(static_cast<unsigned>(millis / 1000));
  if (millis % 1000 != 0) usleep(static_cast<useconds_t>(millis % 1000) * 1000);
}
