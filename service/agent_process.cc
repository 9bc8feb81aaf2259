#include "service/agent_process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "common/time/system_clock.h"

namespace {

std::string ErrnoText(const char* call) {
  return std::string(call) + " failed: " + std::strerror(errno);
}

std::string DescribeStatus(int status) {
  if (WIFEXITED(status)) {
    return "exited with status " + std::to_string(WEXITSTATUS(status));
  }
  if (WIFSIGNALED(status)) {
    return "ended by signal " + std::to_string(WTERMSIG(status));
  }
  return "ended";
}

bool IsExecutable(const std::string& path) {
  return !path.empty() && access(path.c_str(), X_OK) == 0;
}

}  // namespace

AgentProcess::AgentProcess(const std::string& program) : program_(program) {}

AgentProcess::~AgentProcess() {
  if (pid_ > 0) Kill();
  ClosePipes();
}

bool AgentProcess::Start(int32_t media_type, int32_t media_index,
                         std::string* error) {
  if (pid_ > 0) Kill();
  int to_agent[2];
  int from_agent[2];
  if (pipe2(to_agent, O_CLOEXEC) != 0) {
    *error = ErrnoText("pipe2");
    return false;
  }
  if (pipe2(from_agent, O_CLOEXEC) != 0) {
    *error = ErrnoText("pipe2");
    close(to_agent[0]);
    close(to_agent[1]);
    return false;
  }
  std::string type_text = std::to_string(media_type);
  std::string index_text = std::to_string(media_index);
  pid_t pid = fork();
  if (pid < 0) {
    *error = ErrnoText("fork");
    close(to_agent[0]);
    close(to_agent[1]);
    close(from_agent[0]);
    close(from_agent[1]);
    return false;
  }
  if (pid == 0) {
    // Child: only async-signal-safe calls until exec.
    dup2(to_agent[0], STDIN_FILENO);
    dup2(from_agent[1], STDOUT_FILENO);
    signal(SIGPIPE, SIG_DFL);
    char* const argv[] = {const_cast<char*>(program_.c_str()),
                          const_cast<char*>(type_text.c_str()),
                          const_cast<char*>(index_text.c_str()), nullptr};
    execvp(program_.c_str(), argv);
    static const char kMessage[] = "kovrad: cannot run the agent\n";
    ssize_t ignored = write(STDERR_FILENO, kMessage, sizeof(kMessage) - 1);
    (void)ignored;
    _exit(127);
  }
  close(to_agent[0]);
  close(from_agent[1]);
  command_fd_ = to_agent[1];
  reply_fd_ = from_agent[0];
  fcntl(command_fd_, F_SETFL, fcntl(command_fd_, F_GETFL) | O_NONBLOCK);
  fcntl(reply_fd_, F_SETFL, fcntl(reply_fd_, F_GETFL) | O_NONBLOCK);
  pid_ = pid;
  return true;
}

std::string AgentProcess::Kill() {
  ClosePipes();
  if (pid_ <= 0) return "not running";
  kill(pid_, SIGKILL);
  std::string how = "did not end";
  WaitExit(5000, &how);
  pid_ = -1;
  return how;
}

void AgentProcess::Stop(int32_t grace_ms) {
  ClosePipes();
  if (pid_ <= 0) return;
  std::string how;
  if (!WaitExit(grace_ms, &how)) {
    kill(pid_, SIGTERM);
    if (!WaitExit(1000, &how)) {
      kill(pid_, SIGKILL);
      WaitExit(5000, &how);
    }
  }
  pid_ = -1;
}

bool AgentProcess::WaitExit(int32_t millis, std::string* how) {
  for (int32_t waited = 0;; waited += 10) {
    int status = 0;
    pid_t done = waitpid(pid_, &status, WNOHANG);
    if (done == pid_) {
      *how = DescribeStatus(status);
      return true;
    }
    if (done < 0 && errno != EINTR) {
      *how = "lost";
      return true;
    }
    if (waited >= millis) return false;
    SystemClock::Instance()->Pause(10);
  }
}

void AgentProcess::ClosePipes() {
  if (command_fd_ >= 0) close(command_fd_);
  if (reply_fd_ >= 0) close(reply_fd_);
  command_fd_ = -1;
  reply_fd_ = -1;
}

std::string DefaultAgentPath() {
  char self[4096];
  ssize_t length = readlink("/proc/self/exe", self, sizeof(self) - 1);
  if (length > 0) {
    std::string dir(self, static_cast<size_t>(length));
    dir = dir.substr(0, dir.rfind('/') + 1);
    if (IsExecutable(dir + "upsagent")) return dir + "upsagent";
    // In the build tree kovrad is in service/, the agent in agent/.
    if (IsExecutable(dir + "../agent/upsagent")) {
      return dir + "../agent/upsagent";
    }
#ifdef KOVRAD_AGENT_INSTALL_PATH
    if (IsExecutable(KOVRAD_AGENT_INSTALL_PATH)) {
      return KOVRAD_AGENT_INSTALL_PATH;
    }
#endif
#ifdef KOVRAD_AGENT_RELATIVE_DIR
    // Installed under another prefix than the configured one: the agent's
    // folder seen from kovrad's.
    std::string installed = dir + KOVRAD_AGENT_RELATIVE_DIR "/upsagent";
    if (IsExecutable(installed)) return installed;
#endif
  }
#ifdef KOVRAD_BUILD_AGENT_PATH
  if (IsExecutable(KOVRAD_BUILD_AGENT_PATH)) return KOVRAD_BUILD_AGENT_PATH;
#endif
  return "upsagent";
}
