#pragma once

#include <sys/types.h>

#include <string>

#include "service/i_agent_process.h"

// The real agent child: upsagent run with fork and exec, its standard input
// and output on pipes, its standard error and environment inherited from the
// service.
class AgentProcess final : public IAgentProcess {
 public:
  explicit AgentProcess(const std::string& program);
  ~AgentProcess() override;

  bool Start(int32_t media_type, int32_t media_index,
             std::string* error) override;
  int CommandFd() const override { return command_fd_; }
  int ReplyFd() const override { return reply_fd_; }
  std::string Kill() override;
  void Stop(int32_t grace_ms) override;

 private:
  // Waits up to millis for the child to exit; true (and the exit described
  // in *how) once it was reaped.
  bool WaitExit(int32_t millis, std::string* how);
  void ClosePipes();

  std::string program_;
  pid_t pid_ = -1;
  int command_fd_ = -1;
  int reply_fd_ = -1;
};

// The agent program to run when none is named: the upsagent beside the
// running kovrad, the installed one, else the one of the build tree.
std::string DefaultAgentPath();
