#pragma once

#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "service/i_agent_process.h"

// An agent that lives in the test process: a thread on the far side of two
// pipes reads command lines and answers them from a script. It records
// every line and every start, can hold a reply back until released, and
// can crash or fail to start on request.
//
// Without a script entry an "S" command answers 0 and every other command
// answers error 1, as an agent does for what its unit lacks.
class FakeAgent final : public IAgentProcess {
 public:
  FakeAgent() = default;
  ~FakeAgent() override;

  bool Start(int32_t media_type, int32_t media_index,
             std::string* error) override;
  int CommandFd() const override { return service_command_fd_; }
  int ReplyFd() const override { return service_reply_fd_; }
  std::string Kill() override;
  void Stop(int32_t grace_ms) override;

  // Script: the whole reply line (without newline) to a command line.
  void SetReply(const std::string& command, const std::string& reply);
  // Shorthands: "command value" and "commandE code" replies.
  void SetValue(const std::string& command, const std::string& value);
  void SetError(const std::string& command, int32_t code);

  // The next time the command arrives its reply waits for Release().
  void Hold(const std::string& command);
  void Release();
  // The next time the command arrives the agent exits without replying.
  void CrashOn(const std::string& command);
  // Makes the next starts fail.
  void FailStarts(bool fail);

  // Waits up to millis until the command has been received count times in
  // all; true when it has.
  bool WaitForCommand(const std::string& command, int32_t count,
                      int32_t millis);
  int32_t CountOf(const std::string& command);
  std::vector<std::string> Received();
  // Every start as (media type, media index).
  std::vector<std::pair<int32_t, int32_t>> Starts();
  // Waits up to millis until there were at least count starts.
  bool WaitForStarts(size_t count, int32_t millis);

 private:
  void Serve(int command_fd, int reply_fd);
  std::string Answer(const std::string& command);
  void EndThread();

  std::mutex mutex_;
  std::condition_variable changed_;
  std::map<std::string, std::string> replies_;
  std::set<std::string> holds_;
  std::set<std::string> crashes_;
  bool holding_ = false;
  bool stopping_ = false;
  bool fail_starts_ = false;
  std::vector<std::string> received_;
  std::vector<std::pair<int32_t, int32_t>> starts_;

  std::thread thread_;
  int service_command_fd_ = -1;
  int service_reply_fd_ = -1;
};
