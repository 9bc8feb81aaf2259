#include "service/save_hooks.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>

#include "common/time/system_clock.h"

SaveHookResult RunSaveHooks(const std::string& dir, int32_t timeout_ms,
                            int32_t max_lines) {
  Clock* clock = SystemClock::Instance();
  SaveHookLimits limits;
  limits.hook_timeout_ms = timeout_ms;
  limits.max_lines = max_lines;
  SaveHookRun run(dir, limits, geteuid());
  run.Start(clock->MonotonicMillis());
  while (!run.Done()) {
    int64_t now = clock->MonotonicMillis();
    int64_t wait = run.NextWakeMs(now) - now;
    // Short waits: a hook that closed its output ends unannounced.
    wait = std::max<int64_t>(0, std::min<int64_t>(wait, 100));
    struct pollfd entry = {run.fd(), POLLIN, 0};
    poll(&entry, entry.fd >= 0 ? 1 : 0, static_cast<int>(wait));
    run.Tick(clock->MonotonicMillis());
  }
  return run.TakeResult();
}
