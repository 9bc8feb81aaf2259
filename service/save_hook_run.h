#pragma once

#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "service/child_runner.h"

// What a run of the save hooks produced.
struct SaveHookResult {
  std::vector<std::string> saved;        // "program<TAB>file" lines
  std::vector<std::string> diagnostics;  // one line per problem, for stderr
};

// Bounds of one run of the save hooks.
struct SaveHookLimits {
  int32_t hook_timeout_ms = 20000;  // each hook
  int32_t budget_ms = 60000;        // all hooks together
  int32_t kill_grace_ms = 2000;     // SIGTERM to SIGKILL
  int32_t max_lines = 1000;         // saved-file lines kept in all
  size_t max_output = 1 << 20;      // bytes read from each hook
};

// One run of the save hooks of a folder, driven by the caller's loop: every
// executable regular file of the folder, in name order, one at a time, each
// in its own process group with its standard output on a pipe. A hook is
// stopped (with everything it started) when its own limit or the budget of
// the whole run passes, whatever it does with its output; once the budget
// is spent the hooks not yet started are skipped. Only hooks owned by root
// or by the service's user and not writable by group or others are run, in
// a folder that meets the same test; others are skipped with a diagnostic.
// Lines of the form "program<TAB>file" are collected; other lines are
// reported.
class SaveHookRun final {
 public:
  // service_uid is the user besides root whose hooks are trusted.
  SaveHookRun(const std::string& dir, const SaveHookLimits& limits,
              uid_t service_uid);
  SaveHookRun(const SaveHookRun&) = delete;
  SaveHookRun& operator=(const SaveHookRun&) = delete;
  ~SaveHookRun();

  // Lists and checks the hooks and starts the first; now starts the budget.
  void Start(int64_t now);

  // Reads output, reaps, enforces the limits and starts the next hook.
  // Never blocks.
  void Tick(int64_t now);

  bool Done() const { return done_; }

  // The output pipe of the running hook (for poll()), or -1.
  int fd() const;
  // When Tick() must be called next at the latest; -1 once done. A hook's
  // end is not announced on fd() when it closed its output: tick at least
  // once a second while running.
  int64_t NextWakeMs(int64_t now) const;

  const SaveHookResult& result() const { return result_; }
  SaveHookResult TakeResult() { return std::move(result_); }

 private:
  void StartNext(int64_t now);
  void FinishHook();

  std::string dir_;
  SaveHookLimits limits_;
  uid_t service_uid_;
  std::vector<std::string> hooks_;
  size_t next_ = 0;
  std::unique_ptr<ChildRunner> running_;
  std::string running_path_;
  int64_t budget_end_ms_ = 0;
  bool started_ = false;
  bool done_ = false;
  SaveHookResult result_;
};

// A saved-file line: "program<TAB>file", both parts non-empty, the program
// not starting with a blank, no control bytes but the one tab.
bool IsSavedFileLine(const std::string& line);

// Splits the output of the hook at path into lines (a CR before the newline
// is dropped, empty lines are skipped), appends those of the saved-file form
// to result->saved while fewer than max_lines are kept in all, and notes
// every other line and the first line over the limit in
// result->diagnostics.
void CollectSavedFileLines(const std::string& path, const std::string& output,
                           int32_t max_lines, SaveHookResult* result);
