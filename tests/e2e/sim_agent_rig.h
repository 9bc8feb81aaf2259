#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "tests/support/child_process.h"
#include "tests/support/temp_dir.h"

// The real upssim and upsagent, joined through the simulator's link DIR/ttyS0
// in a temporary folder (the agent finds it through UPSAGENT_SERIAL_PATTERN).
// The agent is driven through its pipe commands, the simulator through its
// control commands; its wire log DIR/wire.log shows the bytes exchanged.
// Every wait is bounded.
class SimAgentRig final {
 public:
  // Longest wait for one agent reply: detection and a slow exchange (serial
  // reads end with a 1 s quiet time-out) may come first.
  static constexpr int kReplyTimeoutMs = 20000;

  // Starts upssim with the extra arguments and waits until its link exists.
  // False, with a message in *error, when it did not come up.
  bool StartSim(const std::vector<std::string>& extra_args, std::string* error);
  // Starts upsagent with the arguments (media type and index).
  bool StartAgent(const std::vector<std::string>& args, std::string* error);
  // Starts upsagent with its standard input closed.
  bool StartAgentWithInputClosed(const std::vector<std::string>& args,
                                 std::string* error);
  // Waits at most timeout_ms for the agent to end; *status is its exit
  // status.
  bool WaitAgent(int timeout_ms, int* status) {
    return agent_.Wait(timeout_ms, status);
  }
  // The wire log as it stands.
  std::string WireLog() const;

  // One pipe command; the agent's reply line, "" when none came in time.
  std::string Agent(const std::string& command);
  // Sends the command every half second until accept(reply) holds or
  // timeout_ms passed; *last gets the last reply.
  bool AgentUntil(const std::string& command,
                  const std::function<bool(const std::string&)>& accept,
                  int timeout_ms, std::string* last);
  // One control line; the simulator's answer lines up to "ok" or an
  // "error: " line, joined with newlines.
  std::string Sim(const std::string& line);

  // Waits at most timeout_ms for the text to appear in the wire log.
  bool WireLogHas(const std::string& text, int timeout_ms) const;
  // Both programs' standard error and the wire log, for failure messages.
  std::string Diagnostics() const;

  const TempDir& folder() const { return folder_; }
  ChildProcess& sim() { return sim_; }

  // The number N of a reply "ECHO N"; false for an error reply or another
  // form.
  static bool ReplyNumber(const std::string& reply, const std::string& echo,
                          int64_t* value);

 private:
  bool LaunchAgent(const std::vector<std::string>& args, bool with_input,
                   std::string* error);

  TempDir folder_;
  ChildProcess sim_;
  ChildProcess agent_;
};
