#pragma once

#include <functional>
#include <string>

#include "service/agent_reply.h"

// Where the service's pieces send agent commands. AgentLink is the real one;
// tests use a fake that records the lines and lets the test answer them.
class AgentCommands {
 public:
  using Done = std::function<void(const AgentReply&)>;

  AgentCommands() = default;
  AgentCommands(const AgentCommands&) = delete;
  AgentCommands& operator=(const AgentCommands&) = delete;
  virtual ~AgentCommands() = default;

  // Queues a command line (without newline). done, which may be empty, is
  // called exactly once with the reply; without a running agent at once,
  // with error 8.
  virtual void Enqueue(const std::string& line, Done done) = 0;

  // True while an agent runs.
  virtual bool running() const = 0;

  // The next reply may wait for the agent to find its unit (after a port
  // change that the agent answered with error 20).
  virtual void ExpectDetection() = 0;
};
