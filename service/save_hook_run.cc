#include "service/save_hook_run.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace {

// Why a file or folder may not be trusted to run as the service, or empty
// when it may.
std::string Distrust(const struct stat& info, uid_t service_uid) {
  if (info.st_uid != 0 && info.st_uid != service_uid) {
    return "owned by uid " + std::to_string(info.st_uid) +
           ", not by root or the service's user";
  }
  if ((info.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
    return "writable by group or others";
  }
  return std::string();
}

}  // namespace

bool IsSavedFileLine(const std::string& line) {
  size_t tab = line.find('\t');
  if (tab == std::string::npos || tab == 0 || tab + 1 >= line.size()) {
    return false;
  }
  if (line[0] == ' ' || line.find('\t', tab + 1) != std::string::npos) {
    return false;
  }
  for (char c : line) {
    if (static_cast<unsigned char>(c) < 0x20 && c != '\t') return false;
  }
  return true;
}

void CollectSavedFileLines(const std::string& path, const std::string& output,
                           int32_t max_lines, SaveHookResult* result) {
  size_t start = 0;
  while (start < output.size()) {
    size_t end = output.find('\n', start);
    if (end == std::string::npos) end = output.size();
    std::string line = output.substr(start, end - start);
    start = end + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty()) continue;
    if (!IsSavedFileLine(line)) {
      result->diagnostics.push_back("save hook " + path +
                                    " printed a line that is not "
                                    "program<TAB>file; ignored");
      continue;
    }
    if (static_cast<int32_t>(result->saved.size()) >= max_lines) {
      result->diagnostics.push_back("save hook " + path +
                                    ": too many lines; the rest is ignored");
      break;
    }
    result->saved.push_back(line);
  }
}

SaveHookRun::SaveHookRun(const std::string& dir, const SaveHookLimits& limits,
                         uid_t service_uid)
    : dir_(dir), limits_(limits), service_uid_(service_uid) {}

SaveHookRun::~SaveHookRun() = default;

void SaveHookRun::Start(int64_t now) {
  if (started_) return;
  started_ = true;
  budget_end_ms_ = now + limits_.budget_ms;
  struct stat folder_info;
  errno = 0;
  if (stat(dir_.c_str(), &folder_info) != 0 || !S_ISDIR(folder_info.st_mode)) {
    result_.diagnostics.push_back(
        "cannot open save-hooks folder " + dir_ + ": " +
        (errno != 0 ? std::strerror(errno) : "not a folder"));
    done_ = true;
    return;
  }
  std::string why = Distrust(folder_info, service_uid_);
  if (!why.empty()) {
    result_.diagnostics.push_back("save-hooks folder " + dir_ + " is " + why +
                                  "; no hooks run");
    done_ = true;
    return;
  }
  DIR* folder = opendir(dir_.c_str());
  if (folder == nullptr) {
    result_.diagnostics.push_back("cannot open save-hooks folder " + dir_ +
                                  ": " + std::strerror(errno));
    done_ = true;
    return;
  }
  std::vector<std::string> names;
  while (struct dirent* entry = readdir(folder)) {
    std::string name = entry->d_name;
    if (!name.empty() && name[0] != '.') names.push_back(name);
  }
  closedir(folder);
  std::sort(names.begin(), names.end());
  for (const std::string& name : names) {
    std::string path = dir_ + "/" + name;
    struct stat info;
    // A file that is not executable is a hook switched off: no diagnostic.
    if (stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode) ||
        access(path.c_str(), X_OK) != 0) {
      continue;
    }
    why = Distrust(info, service_uid_);
    if (!why.empty()) {
      result_.diagnostics.push_back("save hook " + path + " skipped: " + why);
      continue;
    }
    hooks_.push_back(path);
  }
  StartNext(now);
}

void SaveHookRun::Tick(int64_t now) {
  if (!started_) Start(now);
  if (done_) return;
  if (running_) {
    running_->Poll(now);
    if (!running_->Done()) return;
    FinishHook();
  }
  StartNext(now);
}

int SaveHookRun::fd() const { return running_ ? running_->fd() : -1; }

int64_t SaveHookRun::NextWakeMs(int64_t now) const {
  if (done_) return -1;
  if (!running_) return now;
  int64_t deadline = running_->NextDeadline();
  int64_t soon = now + 1000;
  return deadline >= 0 && deadline < soon ? deadline : soon;
}

void SaveHookRun::StartNext(int64_t now) {
  while (!running_ && next_ < hooks_.size()) {
    int64_t left = budget_end_ms_ - now;
    if (left <= 0) {
      std::string skipped;
      for (size_t i = next_; i < hooks_.size(); ++i) {
        skipped += (skipped.empty() ? "" : ", ") + hooks_[i];
      }
      result_.diagnostics.push_back(
          "save hooks used their budget of " +
          std::to_string(limits_.budget_ms) + " ms; not run: " + skipped);
      next_ = hooks_.size();
      break;
    }
    ChildRunner::Options options;
    options.argv = {hooks_[next_]};
    options.output = ChildRunner::Output::kCapture;
    options.max_output = limits_.max_output;
    options.limit_ms = std::min<int64_t>(limits_.hook_timeout_ms, left);
    options.kill_grace_ms = limits_.kill_grace_ms;
    // What a hook leaves running after it ended must not outlive the
    // shutdown's saving step either.
    options.stop_group_on_exit = true;
    running_path_ = hooks_[next_];
    ++next_;
    running_.reset(new ChildRunner());
    if (!running_->Start(options, now)) {
      result_.diagnostics.push_back("save hook " + running_path_ + ": " +
                                    running_->Describe());
      running_.reset();
    }
  }
  if (!running_ && next_ >= hooks_.size()) done_ = true;
}

void SaveHookRun::FinishHook() {
  const ChildRunner::Outcome& outcome = running_->outcome();
  const std::string& path = running_path_;
  if (outcome.timed_out) {
    result_.diagnostics.push_back("save hook " + path +
                                  " took too long and was stopped (" +
                                  running_->Describe() + ")");
  } else if (!outcome.exited || outcome.exit_code != 0) {
    result_.diagnostics.push_back("save hook " + path + " failed (" +
                                  running_->Describe() + ")");
  }
  CollectSavedFileLines(path, running_->output(), limits_.max_lines,
                        &result_);
  running_.reset();
}
