#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "tests/e2e/child_process.h"
#include "tests/e2e/temp_folder.h"

// The real upssim and upsagent, joined through the simulator's link in a
// temporary folder (the agent finds it through UPSAGENT_SERIAL_PATTERN), for
// end-to-end tests. The agent is driven through its pipe commands, the
// simulator through its control commands, and the simulator's wire log shows
// the bytes exchanged. Every wait is bounded.
class SimAgentRig final {
 public:
  // Longest wait for one agent reply: detection and a slow exchange (the
  // agent's serial reads end with a 1 s quiet time-out) may come first.
  static constexpr int kReplyTimeoutMs = 20000;
  // Longest wait for the simulator's answer or its link.
  static constexpr int kSimTimeoutMs = 5000;

  SimAgentRig() = default;
  SimAgentRig(const SimAgentRig&) = delete;
  SimAgentRig& operator=(const SimAgentRig&) = delete;

  // Starts upssim with the link DIR/ttyS0, the wire log DIR/wire.log and the
  // extra arguments, and waits until the link exists. False (with a message
  // in *error) when it did not come up.
  bool StartSim(const std::vector<std::string>& extra_args, std::string* error);

  // Starts upsagent with the media type and index given, pointed at the
  // folder with UPSAGENT_SERIAL_PATTERN=DIR/ttyS%d.
  bool StartAgent(const std::vector<std::string>& args, std::string* error);

  // Sends one pipe command and returns the agent's reply line ("" when none
  // came within kReplyTimeoutMs).
  std::string Agent(const std::string& command);

  // Sends the command every poll_ms until accept(reply) holds or timeout_ms
  // passed; returns whether it held. *last gets the last reply.
  bool AgentUntil(const std::string& command,
                  const std::function<bool(const std::string&)>& accept,
                  int timeout_ms, std::string* last, int poll_ms = 500);

  // Sends one control line and returns the simulator's answer: all lines up
  // to "ok" or an "error: " line, joined with newlines.
  std::string Sim(const std::string& line);

  // The wire log so far, and a bounded wait for a text to appear in it.
  std::string WireLogText() const;
  bool WireLogHas(const std::string& text, int timeout_ms) const;

  // Both programs' standard error, for failure messages.
  std::string Diagnostics() const;

  const TempFolder& folder() const { return folder_; }
  ChildProcess& sim() { return sim_; }
  ChildProcess& agent() { return agent_; }

  // The number of a reply "ECHO N" to the command echo ECHO; false for an
  // error reply or another form.
  static bool ReplyNumber(const std::string& reply, const std::string& echo,
                          int64_t* value);

 private:
  TempFolder folder_;
  ChildProcess sim_;
  ChildProcess agent_;
};
