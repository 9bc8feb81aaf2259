#pragma once

#include <cstdint>

#include "common/event_texts.h"
#include "service/http/status_board.h"

class AgentCommands;
class PropertyCache;
struct StatusSnapshot;

// Keeps the HTTP endpoint's StatusBoard up to date from the loop. After each
// poll tick and pass it publishes a view of the snapshot with the unit's
// texts and ratings (asked of the agent once per contact, kept in the
// property cache), the agent's restarts and the events counted since the
// service started. The endpoint's threads only read the board.
class StatusPublisher final {
 public:
  // agent and properties must outlive the publisher.
  StatusPublisher(AgentCommands* agent, PropertyCache* properties);
  StatusPublisher(const StatusPublisher&) = delete;
  StatusPublisher& operator=(const StatusPublisher&) = delete;

  // An event went to the event log.
  void CountEvent(int32_t code);

  // The property cache was cleared: the unit's properties are asked again.
  void ForgetProperties() { asked_ = false; }

  // Publishes the latest pass. connected: contact with the unit is
  // confirmed, so its properties may be asked for.
  void Publish(const StatusSnapshot& pass, bool connected,
               int64_t agent_restarts);

  const StatusBoard* board() const { return &board_; }

 private:
  void AskUnitProperties();

  AgentCommands* agent_;
  PropertyCache* properties_;
  StatusBoard board_;
  int64_t published_pass_ms_ = -1;
  int64_t published_pass_unix_ms_ = 0;
  int64_t event_counts_[kEventCount] = {};
  bool asked_ = false;
  bool properties_seen_ = false;  // the cache held answers at the last pass
};
