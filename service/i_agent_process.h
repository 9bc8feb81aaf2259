#pragma once

#include <cstdint>
#include <string>

// IAgentProcess is the service's boundary to its agent child: it starts the
// agent with a media selection and hands out the two pipe ends the event
// loop polls. AgentProcess is the real one (fork and exec of upsagent);
// tests use an in-process fake that answers from a script.
class IAgentProcess {
 public:
  IAgentProcess() = default;
  IAgentProcess(const IAgentProcess&) = delete;
  IAgentProcess& operator=(const IAgentProcess&) = delete;
  virtual ~IAgentProcess() = default;

  // Starts the agent with the media type and index as its arguments. On
  // success CommandFd() and ReplyFd() are valid, non-blocking descriptors;
  // on failure returns false with the cause in *error.
  virtual bool Start(int32_t media_type, int32_t media_index,
                     std::string* error) = 0;

  // Where command lines go (the agent's standard input), or -1.
  virtual int CommandFd() const = 0;

  // Where reply lines come from (the agent's standard output), or -1.
  virtual int ReplyFd() const = 0;

  // Ends a broken agent at once and releases the pipes. Returns a short
  // description of how the agent ended, for the diagnostics.
  virtual std::string Kill() = 0;

  // Ends the agent politely: closes its standard input, waits up to
  // grace_ms for it to exit, then kills it.
  virtual void Stop(int32_t grace_ms) = 0;
};
