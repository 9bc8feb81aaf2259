#include "tests/support/child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

#include "common/time/system_clock.h"

extern char** environ;

namespace {

int64_t NowMillis() { return SystemClock::Instance()->MonotonicMillis(); }

}  // namespace

ChildProcess::~ChildProcess() {
  if (pid_ <= 0) return;
  CloseInput();
  int status = 0;
  if (!Wait(3000, &status)) {
    Signal(SIGKILL);
    Wait(3000, &status);
  }
  close(output_);
}

bool ChildProcess::Start(const std::vector<std::string>& argv,
                         const std::string& stderr_path) {
  return Spawn(argv, stderr_path, true);
}

bool ChildProcess::StartWithInputClosed(const std::vector<std::string>& argv,
                                        const std::string& stderr_path) {
  return Spawn(argv, stderr_path, false);
}

bool ChildProcess::Spawn(const std::vector<std::string>& argv,
                         const std::string& stderr_path, bool with_input) {
  int to_child[2];
  int from_child[2];
  if (argv.empty() || pid_ > 0 || pipe2(to_child, O_CLOEXEC) != 0) return false;
  if (pipe2(from_child, O_CLOEXEC) != 0) {
    close(to_child[0]);
    close(to_child[1]);
    return false;
  }
  std::vector<std::string> strings = argv;
  std::vector<char*> args;
  for (std::string& text : strings) args.push_back(&text[0]);
  args.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (with_input) {
    posix_spawn_file_actions_adddup2(&actions, to_child[0], STDIN_FILENO);
  } else {
    posix_spawn_file_actions_addclose(&actions, STDIN_FILENO);
  }
  posix_spawn_file_actions_adddup2(&actions, from_child[1], STDOUT_FILENO);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, stderr_path.c_str(),
                                   O_WRONLY | O_CREAT | O_APPEND, 0644);
  pid_t pid = -1;
  int failed =
      posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ);
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
  std::string text = line + "\n";
  size_t written = 0;
  while (input_ >= 0 && written < text.size()) {
    ssize_t count = write(input_, text.data() + written, text.size() - written);
    if (count < 0 && errno == EINTR) continue;
    if (count <= 0) return false;
    written += static_cast<size_t>(count);
  }
  return written == text.size();
}

bool ChildProcess::ReadLine(int timeout_ms, std::string* line) {
  int64_t deadline = NowMillis() + timeout_ms;
  size_t newline;
  while ((newline = buffer_.find('\n')) == std::string::npos) {
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
  *line = buffer_.substr(0, newline);
  buffer_.erase(0, newline + 1);
  return true;
}

void ChildProcess::CloseInput() {
  if (input_ >= 0) close(input_);
  input_ = -1;
}

bool ChildProcess::Wait(int timeout_ms, int* status) {
  int64_t deadline = NowMillis() + timeout_ms;
  while (pid_ > 0 && !ended_) {
    int raw = 0;
    pid_t done = waitpid(pid_, &raw, WNOHANG);
    if (done == pid_) {
      ended_ = true;
      status_ = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
    } else if ((done < 0 && errno != EINTR) || NowMillis() >= deadline) {
      return false;
    } else {
      usleep(10000);
    }
  }
  *status = status_;
  return ended_;
}

void ChildProcess::Signal(int signal_number) {
  if (pid_ > 0 && !ended_) kill(pid_, signal_number);
}
