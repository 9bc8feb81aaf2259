#pragma once

#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <string>

#include "service/child_runner.h"
#include "service/save_hook_run.h"
#include "service/shutdown_actions.h"

class Clock;
class LogStore;

struct ShutdownRunnerConfig {
  std::string save_hooks_dir;
  std::string shutdown_command;  // empty: only say what would happen
  int32_t hook_timeout_ms = 20000;
  int32_t save_hooks_budget_ms = 60000;  // all hooks together
  int32_t max_saved_lines = 1000;
  // The shutdown command normally only asks the system to go down and
  // ends at once; one that hangs is stopped after this long.
  int64_t command_limit_ms = 300000;
  // The user besides root whose save hooks are trusted.
  uid_t service_uid = 0;
};

// The operating-system side of the shutdown, without threads: the save
// hooks (SaveHookRun) and the shutdown command (ChildRunner, its output
// joining standard error) run as children supervised by the service's loop,
// which polls fd() and calls Tick() by NextWakeMs(). Whatever a child does,
// the loop never waits for it, and a service that stops stops its children
// with their process groups.
class ShutdownRunner final : public ShutdownActions {
 public:
  // logs may be null and must otherwise outlive the runner, as the clock.
  ShutdownRunner(const ShutdownRunnerConfig& config, LogStore* logs,
                 Clock* clock);
  ShutdownRunner(const ShutdownRunner&) = delete;
  ShutdownRunner& operator=(const ShutdownRunner&) = delete;
  ~ShutdownRunner() override;

  void StartSaveHooks() override;
  void RunShutdownCommand() override;

  // Reads the hooks' output, enforces the limits, reaps what ended, and
  // stores the saved-file lines of finished save hooks. Never blocks.
  // Returns true when the save hooks finished since the last call.
  bool Tick(int64_t now);

  // The descriptor to poll for reading while a save hook runs, or -1.
  int fd() const;
  // When Tick() must run next at the latest, or -1 when nothing runs.
  int64_t NextWakeMs(int64_t now) const;

  // True while hooks or the shutdown command run.
  bool busy() const;

 private:
  void FinishHooks();

  ShutdownRunnerConfig config_;
  LogStore* logs_;
  Clock* clock_;
  std::unique_ptr<SaveHookRun> hooks_;
  bool hooks_reported_ = false;
  std::unique_ptr<ChildRunner> command_;
};
