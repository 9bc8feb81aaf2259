#include "tests/e2e/child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

extern char** environ;

namespace {

int64_t NowMillis() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

}  // namespace

ChildProcess::~ChildProcess() {
  if (pid_ <= 0) return;
  CloseInput();
  int status = 0;
  if (!Wait(3000, &status)) {
    Signal(SIGKILL);
    Wait(3000, &status);
  }
  if (output_ >= 0) close(output_);
}

bool ChildProcess::Start(const std::vector<std::string>& argv,
                         const std::vector<std::string>& environment,
                         const std::string& stderr_path) {
  if (argv.empty() || pid_ > 0) return false;
  int to_child[2];
  int from_child[2];
  if (pipe2(to_child, O_CLOEXEC) != 0) return false;
  if (pipe2(from_child, O_CLOEXEC) != 0) {
    close(to_child[0]);
    close(to_child[1]);
    return false;
  }

  std::vector<std::string> env_strings;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    std::string text = *entry;
    bool replaced = false;
    for (const std::string& extra : environment) {
      size_t equals = extra.find('=');
      if (equals == std::string::npos) continue;
      if (text.compare(0, equals + 1, extra, 0, equals + 1) == 0) {
        replaced = true;
      }
    }
    if (!replaced) env_strings.push_back(text);
  }
  for (const std::string& extra : environment) env_strings.push_back(extra);
  std::vector<char*> env;
  for (std::string& text : env_strings) env.push_back(&text[0]);
  env.push_back(nullptr);
  std::vector<std::string> arg_strings = argv;
  std::vector<char*> args;
  for (std::string& text : arg_strings) args.push_back(&text[0]);
  args.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, to_child[0], STDIN_FILENO);
  posix_spawn_file_actions_adddup2(&actions, from_child[1], STDOUT_FILENO);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, stderr_path.c_str(),
                                   O_WRONLY | O_CREAT | O_APPEND, 0644);
  pid_t pid = -1;
  int failed =
      posix_spawn(&pid, args[0], &actions, nullptr, args.data(), env.data());
  posix_spawn_file_actions_destroy(&actions);
  close(to_child[0]);
  close(from_child[1]);
  if (failed != 0) {
    close(to_child[1]);
    close(from_child[0]);
    return false;
  }
  pid_ = pid;
  input_ = to_child[1];
  output_ = from_child[0];
  return true;
}

bool ChildProcess::WriteLine(const std::string& line) {
  if (input_ < 0) return false;
  std::string text = line + "\n";
  size_t written = 0;
  while (written < text.size()) {
    ssize_t count = write(input_, text.data() + written, text.size() - written);
    if (count < 0 && errno == EINTR) continue;
    if (count <= 0) return false;
    written += static_cast<size_t>(count);
  }
  return true;
}

bool ChildProcess::ReadLine(int timeout_ms, std::string* line) {
  int64_t deadline = NowMillis() + timeout_ms;
  while (true) {
    size_t newline = buffer_.find('\n');
    if (newline != std::string::npos) {
      *line = buffer_.substr(0, newline);
      buffer_.erase(0, newline + 1);
      return true;
    }
    int64_t left = deadline - NowMillis();
    if (left <= 0 || output_ < 0) return false;
    pollfd wait{output_, POLLIN, 0};
    int ready = poll(&wait, 1, static_cast<int>(left));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) return false;
    char chunk[512];
    ssize_t count = read(output_, chunk, sizeof(chunk));
    if (count < 0 && errno == EINTR) continue;
    if (count <= 0) return false;
    buffer_.append(chunk, static_cast<size_t>(count));
  }
}

void ChildProcess::CloseInput() {
  if (input_ >= 0) close(input_);
  input_ = -1;
}

bool ChildProcess::Wait(int timeout_ms, int* status) {
  if (pid_ <= 0) return false;
  int64_t deadline = NowMillis() + timeout_ms;
  while (!ended_) {
    int raw = 0;
    pid_t done = waitpid(pid_, &raw, WNOHANG);
    if (done == pid_) {
      ended_ = true;
      status_ = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
      break;
    }
    if (done < 0 && errno != EINTR) return false;
    if (NowMillis() >= deadline) return false;
    usleep(10000);
  }
  *status = status_;
  return true;
}

void ChildProcess::Signal(int signal_number) {
  if (pid_ > 0 && !ended_) kill(pid_, signal_number);
}
