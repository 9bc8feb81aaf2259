#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <string>

#include "service/agent_commands.h"
#include "service/agent_reply.h"

class IAgentProcess;

// Timing of the agent link. Milliseconds.
struct AgentLinkConfig {
  // A reply that takes longer marks the agent as broken. A contact-closure
  // shutdown blocks the agent for up to 24 s, so the bound lies above that.
  int64_t reply_timeout_ms = 30000;
  // The first reply after a start or a port change may wait for the agent
  // to probe its ports.
  int64_t detect_timeout_ms = 120000;
  int64_t restart_backoff_min_ms = 1000;
  int64_t restart_backoff_max_ms = 30000;
  // An agent that ran this long restarts after the shortest back-off again.
  int64_t stable_ms = 60000;
};

// The service's link to its agent child: a queue of command lines sent one
// at a time, each reply matched by its exact echo, a bound on every reply,
// and a restart with doubling back-off when the agent breaks (exits, falls
// silent, answers out of step or writes an endless line). Every command
// gets exactly one answer through its done callback; while the agent is
// down that answer is error 8, "not in contact". Time is an input, so the
// link is driven without threads: Tick() from the loop's timers and
// OnReadable() when the agent's reply descriptor is readable.
class AgentLink final : public AgentCommands {
 public:
  // The media type and index the agent is started with.
  using MediaSelection = std::function<void(int32_t* type, int32_t* index)>;

  // agent must outlive the link.
  AgentLink(const AgentLinkConfig& config, IAgentProcess* agent,
            MediaSelection media);
  AgentLink(const AgentLink&) = delete;
  AgentLink& operator=(const AgentLink&) = delete;

  // Called after every start and after every break, before the commands
  // that waited are failed, so the owner can forget what it knew of the
  // unit and stop waiting for a pass.
  void SetOnReset(std::function<void()> on_reset) {
    on_reset_ = std::move(on_reset);
  }

  void Enqueue(const std::string& line, Done done) override;

  // Starts the agent when its restart is due, breaks an agent whose reply
  // is late, resets the back-off of an agent that ran long enough, and
  // sends the next queued command when none is in flight.
  void Tick(int64_t now);

  // Sends the next queued command when none is in flight (for commands
  // queued after this turn's Tick).
  void SendQueued(int64_t now);

  // Reads what the agent wrote and answers the command in flight.
  void OnReadable(int64_t now);

  // The next time Tick() has something to do, at most far.
  int64_t NextDeadline(int64_t far) const;

  void ExpectDetection() override { awaiting_first_reply_ = true; }

  // Ends the agent politely; commands still queued are dropped unanswered.
  void Stop(int32_t grace_ms);

  bool running() const override { return running_; }
  // How often the agent was started again after its first start.
  int64_t restarts() const { return starts_ > 0 ? starts_ - 1 : 0; }
  // The descriptor to poll for replies, or -1.
  int ReplyFd() const;

 private:
  struct Command {
    std::string line;
    Done done;
  };

  void Start(int64_t now);
  void Break(int64_t now, const std::string& reason);
  void HandleLine(int64_t now, const std::string& line);
  int64_t ReplyBound() const;

  AgentLinkConfig config_;
  IAgentProcess* agent_;
  MediaSelection media_;
  std::function<void()> on_reset_;

  bool running_ = false;
  int64_t started_ms_ = 0;
  int64_t starts_ = 0;
  int64_t restart_at_ms_ = 0;
  int64_t backoff_ms_;
  bool awaiting_first_reply_ = false;
  std::string in_;
  std::deque<Command> queue_;
  std::optional<Command> in_flight_;
  int64_t in_flight_sent_ms_ = 0;
};
