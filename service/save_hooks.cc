#include "service/save_hooks.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "common/time/system_clock.h"

namespace {

int64_t NowMillis() { return SystemClock::Instance()->MonotonicMillis(); }

// A saved-file line: "program<TAB>file", both parts non-empty, the program
// not starting with white space and no control bytes but the one tab.
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

std::vector<std::string> ListHooks(const std::string& dir,
                                   std::vector<std::string>* diagnostics) {
  std::vector<std::string> hooks;
  DIR* folder = opendir(dir.c_str());
  if (folder == nullptr) {
    diagnostics->push_back("cannot open save-hooks folder " + dir + ": " +
                           std::strerror(errno));
    return hooks;
  }
  while (struct dirent* entry = readdir(folder)) {
    std::string name = entry->d_name;
    if (name.empty() || name[0] == '.') continue;
    std::string path = dir + "/" + name;
    struct stat info;
    if (stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) continue;
    if (access(path.c_str(), X_OK) != 0) continue;
    hooks.push_back(path);
  }
  closedir(folder);
  std::sort(hooks.begin(), hooks.end());
  return hooks;
}

// Runs one hook; appends its saved-file lines.
void RunHook(const std::string& path, int32_t timeout_ms, int32_t max_lines,
             SaveHookResult* result) {
  int out[2];
  if (pipe2(out, O_CLOEXEC) != 0) {
    result->diagnostics.push_back("save hook " + path +
                                  ": pipe2 failed: " + std::strerror(errno));
    return;
  }
  pid_t pid = fork();
  if (pid < 0) {
    close(out[0]);
    close(out[1]);
    result->diagnostics.push_back("save hook " + path +
                                  ": fork failed: " + std::strerror(errno));
    return;
  }
  if (pid == 0) {
    dup2(out[1], STDOUT_FILENO);
    int null_fd = open("/dev/null", O_RDONLY);
    if (null_fd >= 0) dup2(null_fd, STDIN_FILENO);
    signal(SIGPIPE, SIG_DFL);
    char* const argv[] = {const_cast<char*>(path.c_str()), nullptr};
    execv(path.c_str(), argv);
    _exit(127);
  }
  close(out[1]);
  // Only the text up to a bound is kept, so a hook that prints without end
  // cannot make the service grow.
  const size_t kMaxOutput = 1 << 20;
  std::string output;
  int64_t deadline = NowMillis() + timeout_ms;
  bool timed_out = false;
  for (;;) {
    int64_t left = deadline - NowMillis();
    if (left <= 0) {
      timed_out = true;
      break;
    }
    struct pollfd entry = {out[0], POLLIN, 0};
    int ready =
        poll(&entry, 1, static_cast<int>(std::min<int64_t>(left, 1000)));
    if (ready < 0 && errno != EINTR) break;
    if (ready <= 0) continue;
    char buffer[4096];
    ssize_t got = read(out[0], buffer, sizeof(buffer));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    if (output.size() < kMaxOutput) {
      output.append(buffer, static_cast<size_t>(got));
    }
  }
  close(out[0]);
  if (timed_out) {
    kill(pid, SIGKILL);
    result->diagnostics.push_back("save hook " + path +
                                  " took too long and was stopped");
  }
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (!timed_out && (!WIFEXITED(status) || WEXITSTATUS(status) != 0)) {
    result->diagnostics.push_back("save hook " + path + " failed");
  }
  CollectSavedFileLines(path, output, max_lines, result);
}

}  // namespace

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

SaveHookResult RunSaveHooks(const std::string& dir, int32_t timeout_ms,
                            int32_t max_lines) {
  SaveHookResult result;
  for (const std::string& hook : ListHooks(dir, &result.diagnostics)) {
    RunHook(hook, timeout_ms, max_lines, &result);
  }
  return result;
}

int StartShellCommand(const std::string& command) {
  pid_t pid = fork();
  if (pid == 0) {
    signal(SIGPIPE, SIG_DFL);
    execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  return pid < 0 ? -1 : static_cast<int>(pid);
}
