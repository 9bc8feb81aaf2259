#include "service/child_runner.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

extern char** environ;

namespace {

// The service's environment with the extra entries replacing those of the
// same name.
std::vector<std::string> MergedEnvironment(
    const std::vector<std::string>& extra) {
  std::vector<std::string> merged;
  for (char** entry = environ; entry != nullptr && *entry != nullptr;
       ++entry) {
    std::string text = *entry;
    std::string name = text.substr(0, text.find('='));
    bool replaced = false;
    for (const std::string& added : extra) {
      if (added.compare(0, name.size() + 1, name + "=") == 0) replaced = true;
    }
    if (!replaced) merged.push_back(text);
  }
  merged.insert(merged.end(), extra.begin(), extra.end());
  return merged;
}

std::vector<char*> Pointers(std::vector<std::string>* texts) {
  std::vector<char*> pointers;
  for (std::string& text : *texts) pointers.push_back(&text[0]);
  pointers.push_back(nullptr);
  return pointers;
}

}  // namespace

ChildRunner::~ChildRunner() {
  CloseOutput();
  if (pid_ > 0 && Running()) {
    kill(-pid_, SIGKILL);
    // SIGKILL ends the child promptly; a child stuck in the kernel is not
    // waited for.
    waitpid(pid_, nullptr, WNOHANG);
  }
}

std::vector<std::string> ChildRunner::ShellArgv(const std::string& command) {
  return {"/bin/sh", "-c", command};
}

bool ChildRunner::Start(const Options& options, int64_t now) {
  if (Running()) return false;
  options_ = options;
  output_.clear();
  outcome_ = Outcome();
  killed_ = false;
  pid_ = -1;
  state_ = State::kDone;
  if (options_.argv.empty()) {
    outcome_.error = "no program";
    return false;
  }
  int pipe_fds[2] = {-1, -1};
  if (options_.output == Output::kCapture &&
      pipe2(pipe_fds, O_CLOEXEC | O_NONBLOCK) != 0) {
    outcome_.error = std::string("pipe2 failed: ") + std::strerror(errno);
    return false;
  }

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null",
                                   O_RDONLY, 0);
  switch (options_.output) {
    case Output::kDiscard:
      posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null",
                                       O_WRONLY, 0);
      break;
    case Output::kCapture:
      // dup2 clears close-on-exec on the child's copy only.
      posix_spawn_file_actions_adddup2(&actions, pipe_fds[1], STDOUT_FILENO);
      break;
    case Output::kToStderr:
      posix_spawn_file_actions_adddup2(&actions, STDERR_FILENO, STDOUT_FILENO);
      break;
  }
#if defined(__GLIBC__) && (__GLIBC__ > 2 || __GLIBC_MINOR__ >= 34)
  // Whatever the service has open (sockets, the database) stays out of the
  // child even where a descriptor lacks close-on-exec.
  posix_spawn_file_actions_addclosefrom_np(&actions, 3);
#endif

  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  // A group of its own, so a limit stops everything the child started.
  posix_spawnattr_setpgroup(&attributes, 0);
  sigset_t defaults;
  sigemptyset(&defaults);
  // The service ignores these; a child must not inherit that.
  sigaddset(&defaults, SIGPIPE);
  sigaddset(&defaults, SIGHUP);
  sigaddset(&defaults, SIGTERM);
  sigaddset(&defaults, SIGINT);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  sigset_t no_mask;
  sigemptyset(&no_mask);
  posix_spawnattr_setsigmask(&attributes, &no_mask);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP |
                                            POSIX_SPAWN_SETSIGDEF |
                                            POSIX_SPAWN_SETSIGMASK);

  std::vector<std::string> argv = options_.argv;
  std::vector<std::string> env = MergedEnvironment(options_.env);
  std::vector<char*> argv_pointers = Pointers(&argv);
  std::vector<char*> env_pointers = Pointers(&env);
  pid_t pid = -1;
  int rc = posix_spawn(&pid, argv[0].c_str(), &actions, &attributes,
                       argv_pointers.data(), env_pointers.data());
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  if (pipe_fds[1] >= 0) close(pipe_fds[1]);
  if (rc != 0) {
    if (pipe_fds[0] >= 0) close(pipe_fds[0]);
    outcome_.error = "cannot run " + argv[0] + ": " + std::strerror(rc);
    return false;
  }
  pid_ = pid;
  out_fd_ = pipe_fds[0];
  outcome_.started = true;
  state_ = State::kRunning;
  deadline_ms_ = now + options_.limit_ms;
  return true;
}

void ChildRunner::Poll(int64_t now) {
  if (!Running()) return;
  ReadOutput();
  if (Ended()) {
    // Signalled before the reaping, while the child's zombie still holds
    // the group's id, so the id cannot name another group.
    if (options_.stop_group_on_exit) Signal(SIGTERM);
    Reap();
    // The pipe may still hold the child's last lines.
    ReadOutput();
    Finish();
    return;
  }
  if (state_ == State::kRunning && now >= deadline_ms_) {
    outcome_.timed_out = true;
    Stop(now);
    return;
  }
  if (state_ == State::kStopping) {
    if (!killed_ && now >= kill_at_ms_) {
      Signal(SIGKILL);
      killed_ = true;
    } else if (killed_ && now >= give_up_at_ms_) {
      outcome_.abandoned = true;
      Finish();
    }
  }
}

void ChildRunner::Stop(int64_t now) {
  if (state_ != State::kRunning) return;
  Signal(SIGTERM);
  // A stopped group would never act on SIGTERM.
  Signal(SIGCONT);
  state_ = State::kStopping;
  kill_at_ms_ = now + options_.kill_grace_ms;
  give_up_at_ms_ = kill_at_ms_ + options_.kill_grace_ms;
}

int64_t ChildRunner::NextDeadline() const {
  switch (state_) {
    case State::kRunning:
      return deadline_ms_;
    case State::kStopping:
      return killed_ ? give_up_at_ms_ : kill_at_ms_;
    default:
      return -1;
  }
}

std::string ChildRunner::Describe() const {
  if (!outcome_.started) return outcome_.error;
  if (state_ != State::kDone) return "still running";
  std::string text;
  if (outcome_.timed_out) {
    text = "stopped after " + std::to_string(options_.limit_ms) + " ms";
  } else if (outcome_.exited) {
    text = "exited with status " + std::to_string(outcome_.exit_code);
  } else if (outcome_.signal != 0) {
    text = "ended by signal " + std::to_string(outcome_.signal);
  } else {
    text = "stopped";
  }
  if (outcome_.abandoned) text += "; it did not end even after SIGKILL";
  return text;
}

void ChildRunner::ReadOutput() {
  if (out_fd_ < 0) return;
  char buffer[4096];
  for (;;) {
    ssize_t got = read(out_fd_, buffer, sizeof(buffer));
    if (got > 0) {
      size_t room = options_.max_output > output_.size()
                        ? options_.max_output - output_.size()
                        : 0;
      size_t keep = static_cast<size_t>(got) < room ? static_cast<size_t>(got)
                                                    : room;
      output_.append(buffer, keep);
      if (keep < static_cast<size_t>(got)) outcome_.output_truncated = true;
      continue;
    }
    if (got < 0 && errno == EINTR) continue;
    if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
    // End of output (every writer closed it) or an error: nothing more
    // comes, but the child is still supervised until it ends.
    CloseOutput();
    return;
  }
}

void ChildRunner::CloseOutput() {
  if (out_fd_ >= 0) close(out_fd_);
  out_fd_ = -1;
}

bool ChildRunner::Ended() {
  siginfo_t info;
  std::memset(&info, 0, sizeof(info));
  int rc;
  do {
    rc = waitid(P_PID, static_cast<id_t>(pid_), &info,
                WEXITED | WNOHANG | WNOWAIT);
  } while (rc < 0 && errno == EINTR);
  // ECHILD: someone else reaped it; it has ended all the same.
  return rc < 0 || info.si_pid != 0;
}

bool ChildRunner::Reap() {
  int status = 0;
  pid_t got;
  do {
    got = waitpid(pid_, &status, WNOHANG);
  } while (got < 0 && errno == EINTR);
  if (got == 0) return false;
  if (got < 0) {
    // Someone else reaped it (ECHILD): its status is lost.
    return true;
  }
  if (WIFEXITED(status)) {
    outcome_.exited = true;
    outcome_.exit_code = WEXITSTATUS(status);
  } else if (WIFSIGNALED(status)) {
    outcome_.signal = WTERMSIG(status);
  }
  return true;
}

void ChildRunner::Signal(int signal) {
  // The group's id is the child's pid; while the child is unreaped (even a
  // zombie) that id cannot name another group.
  if (pid_ > 0) kill(-pid_, signal);
}

void ChildRunner::Finish() {
  CloseOutput();
  state_ = State::kDone;
}
