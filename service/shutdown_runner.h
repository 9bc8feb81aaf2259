#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "service/save_hooks.h"
#include "service/shutdown_actions.h"

class LogStore;

struct ShutdownRunnerConfig {
  std::string save_hooks_dir;
  std::string shutdown_command;  // empty: only say what would happen
  int32_t hook_timeout_ms = 20000;
  int32_t max_saved_lines = 1000;
};

// The operating-system side of the shutdown: the save hooks run on a worker
// thread (they block for up to their time-out each), the shutdown command
// as a child that is reaped without waiting. Single-threaded apart from the
// worker, whose end is signalled through wake and collected by Poll().
class ShutdownRunner final : public ShutdownActions {
 public:
  // logs may be null and must otherwise outlive the runner. wake makes the
  // loop call Poll() soon; it is called from the worker thread.
  ShutdownRunner(const ShutdownRunnerConfig& config, LogStore* logs,
                 std::function<void()> wake);
  ShutdownRunner(const ShutdownRunner&) = delete;
  ShutdownRunner& operator=(const ShutdownRunner&) = delete;
  ~ShutdownRunner() override;

  void StartSaveHooks() override;
  void RunShutdownCommand() override;

  // Reaps the shutdown command once it ended, and collects the result of
  // finished save hooks: their lines go to the saved-file list. Returns true
  // when the save hooks finished since the last call.
  bool Poll();

  // True while hooks or the shutdown command run (the loop then looks in
  // once a second).
  bool busy() const { return hooks_running_ || shutdown_pid_ > 0; }

  // Waits for the save hooks' worker, if any.
  void Join();

 private:
  ShutdownRunnerConfig config_;
  LogStore* logs_;
  std::function<void()> wake_;

  std::thread hook_thread_;
  std::mutex hook_mutex_;
  SaveHookResult hook_result_;
  std::atomic<bool> hook_done_{false};
  bool hooks_running_ = false;
  int shutdown_pid_ = -1;
};
