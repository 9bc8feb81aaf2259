#include "service/shutdown_runner.h"

#include <sys/wait.h>

#include <utility>

#include "service/diagnostics.h"
#include "service/log_store.h"

ShutdownRunner::ShutdownRunner(const ShutdownRunnerConfig& config,
                               LogStore* logs, std::function<void()> wake)
    : config_(config), logs_(logs), wake_(std::move(wake)) {}

ShutdownRunner::~ShutdownRunner() { Join(); }

void ShutdownRunner::Join() {
  if (hook_thread_.joinable()) hook_thread_.join();
}

void ShutdownRunner::StartSaveHooks() {
  if (hooks_running_) return;
  Diag("running save hooks in %s", config_.save_hooks_dir.c_str());
  hooks_running_ = true;
  Join();
  std::string dir = config_.save_hooks_dir;
  int32_t timeout = config_.hook_timeout_ms;
  int32_t max_lines = config_.max_saved_lines;
  hook_thread_ = std::thread([this, dir, timeout, max_lines] {
    SaveHookResult result = RunSaveHooks(dir, timeout, max_lines);
    {
      std::lock_guard<std::mutex> lock(hook_mutex_);
      hook_result_ = std::move(result);
    }
    hook_done_.store(true);
    if (wake_) wake_();
  });
}

bool ShutdownRunner::Poll() {
  if (shutdown_pid_ > 0) {
    int status = 0;
    if (waitpid(shutdown_pid_, &status, WNOHANG) == shutdown_pid_) {
      Diag("shutdown command ended with status %d",
           WIFEXITED(status) ? WEXITSTATUS(status) : -1);
      shutdown_pid_ = -1;
    }
  }
  if (!hook_done_.load()) return false;
  hook_done_.store(false);
  Join();
  hooks_running_ = false;
  SaveHookResult result;
  {
    std::lock_guard<std::mutex> lock(hook_mutex_);
    result = std::move(hook_result_);
  }
  for (const std::string& line : result.diagnostics) {
    Diag("%s", line.c_str());
  }
  for (const std::string& line : result.saved) {
    if (logs_ == nullptr || !logs_->Append(kSavedFileLog, line)) {
      Diag("cannot store saved-file entry");
    }
  }
  Diag("save hooks done: %zu files saved", result.saved.size());
  return true;
}

void ShutdownRunner::RunShutdownCommand() {
  if (config_.shutdown_command.empty()) {
    Diag("no shutdown command given: the system would be shut down now");
    return;
  }
  Diag("running the shutdown command: %s", config_.shutdown_command.c_str());
  shutdown_pid_ = StartShellCommand(config_.shutdown_command);
  if (shutdown_pid_ < 0) Diag("cannot run the shutdown command");
}
