#pragma once

#include <cstdint>
#include <string>

// One reply line of the agent, checked against the command it answers.
struct AgentReply {
  enum class Kind {
    kValue,     // success; text holds what followed the echo and a blank
    kNoValue,   // success of a command that returns nothing
    kError,     // the agent's "E n": code holds n
    kMismatch,  // not an answer to this command: the agent is out of step
  };
  Kind kind = Kind::kMismatch;
  int32_t code = 0;
  std::string text;
};

// Checks that line (without its newline) starts with the echo of command
// (its letter and number, as the agent writes them back) and splits off the
// rest. An error code that is not a positive 32-bit decimal number counts
// as a mismatch.
AgentReply ParseAgentReply(const std::string& command, const std::string& line);
