#include "service/shutdown_runner.h"

#include <algorithm>
#include <utility>

#include "common/time/clock.h"
#include "service/diagnostics.h"
#include "service/log_store.h"

ShutdownRunner::ShutdownRunner(const ShutdownRunnerConfig& config,
                               LogStore* logs, Clock* clock)
    : config_(config), logs_(logs), clock_(clock) {}

ShutdownRunner::~ShutdownRunner() = default;

void ShutdownRunner::StartSaveHooks() {
  if (hooks_) return;
  int64_t now = clock_->MonotonicMillis();
  DiagAt(DiagLevel::kCritical,
         "running save hooks in %s (%d ms each, %d ms in all)",
         config_.save_hooks_dir.c_str(), config_.hook_timeout_ms,
         config_.save_hooks_budget_ms);
  SaveHookLimits limits;
  limits.hook_timeout_ms = config_.hook_timeout_ms;
  limits.budget_ms = config_.save_hooks_budget_ms;
  limits.max_lines = config_.max_saved_lines;
  hooks_.reset(
      new SaveHookRun(config_.save_hooks_dir, limits, config_.service_uid));
  hooks_->Start(now);
}

bool ShutdownRunner::Tick(int64_t now) {
  if (command_ && command_->Running()) {
    command_->Poll(now);
    if (command_->Done()) {
      Diag("shutdown command %s", command_->Describe().c_str());
    }
  }
  if (!hooks_ || hooks_reported_) return false;
  hooks_->Tick(now);
  if (!hooks_->Done()) return false;
  FinishHooks();
  return true;
}

void ShutdownRunner::FinishHooks() {
  hooks_reported_ = true;
  SaveHookResult result = hooks_->TakeResult();
  for (const std::string& line : result.diagnostics) {
    DiagAt(DiagLevel::kWarning, "%s", line.c_str());
  }
  for (const std::string& line : result.saved) {
    if (logs_ == nullptr || !logs_->Append(kSavedFileLog, line)) {
      Diag("cannot store saved-file entry");
    }
  }
  Diag("save hooks done: %zu files saved", result.saved.size());
}

int ShutdownRunner::fd() const {
  return hooks_ && !hooks_reported_ ? hooks_->fd() : -1;
}

int64_t ShutdownRunner::NextWakeMs(int64_t now) const {
  int64_t next = -1;
  if (hooks_ && !hooks_reported_) next = hooks_->NextWakeMs(now);
  if (command_ && command_->Running()) {
    // The command's end is not announced: look once a second.
    int64_t soon = now + 1000;
    int64_t deadline = command_->NextDeadline();
    if (deadline >= 0) soon = std::min(soon, deadline);
    next = next < 0 ? soon : std::min(next, soon);
  }
  return next;
}

bool ShutdownRunner::busy() const {
  return (hooks_ && !hooks_reported_) || (command_ && command_->Running());
}

void ShutdownRunner::RunShutdownCommand() {
  if (config_.shutdown_command.empty()) {
    DiagAt(DiagLevel::kCritical,
           "no shutdown command given: the system would be shut down now");
    return;
  }
  if (command_) return;
  DiagAt(DiagLevel::kCritical, "running the shutdown command: %s",
         config_.shutdown_command.c_str());
  ChildRunner::Options options;
  options.argv = ChildRunner::ShellArgv(config_.shutdown_command);
  options.output = ChildRunner::Output::kToStderr;
  options.limit_ms = config_.command_limit_ms;
  command_.reset(new ChildRunner());
  if (!command_->Start(options, clock_->MonotonicMillis())) {
    DiagAt(DiagLevel::kError, "cannot run the shutdown command: %s",
           command_->Describe().c_str());
  }
}
