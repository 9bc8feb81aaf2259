#pragma once

#include <cstdint>
#include <functional>

#include "service/agent_reply.h"
#include "service/event_detector.h"
#include "service/status_snapshot.h"

class AgentCommands;
class Clock;
class LogStore;
class ParameterStore;

struct StatusPollerConfig {
  // How often the snapshot is read from the agent. The agent itself reads
  // the unit every 3 s; reading it more often keeps a change visible to
  // clients within about 4 s.
  int64_t poll_period_ms = 1000;
  // A snapshot older than this answers as "not in contact".
  int64_t snapshot_max_age_ms = 15000;
  EventThresholds thresholds;
};

// Keeps the status snapshot: every poll period it asks the agent for every
// slot in one pass, and a completed pass becomes the snapshot that status
// requests are answered from. Each pass (or, while no fresh pass comes, an
// empty one) feeds the event detector, whose events go to the event log;
// at the record rate the snapshot is written as a status record. A slow
// reply delays a pass but never drops one.
class StatusPoller final {
 public:
  struct Listener {
    // Contact with the unit was confirmed or lost.
    std::function<void(bool connected)> on_contact;
    // The confirmed states may have changed (after each poll tick and
    // each completed pass).
    std::function<void(int64_t now)> on_states;
    // An event was recorded (after it went to the event log).
    std::function<void(int32_t code)> on_event;
  };

  // Every pointer must outlive the poller; logs may be null.
  StatusPoller(const StatusPollerConfig& config, AgentCommands* agent,
               Clock* clock, const ParameterStore* params, LogStore* logs,
               Listener listener);
  StatusPoller(const StatusPoller&) = delete;
  StatusPoller& operator=(const StatusPoller&) = delete;

  // Schedules the first pass at now and the first record one record rate
  // later.
  void Start(int64_t now);

  // Starts a pass when one is due and writes a status record when due.
  void Tick(int64_t now);

  // The agent restarted or broke: a pass under way is abandoned.
  void OnAgentReset();

  // The record rate or switch changed: the next record is one rate away.
  void RescheduleRecords(int64_t now);

  // The next time Tick() has something to do, at most far.
  int64_t NextDeadline(int64_t far) const;

  // 0 with the slot's value in *value; or the error number of the answer:
  // 8 while there is no fresh snapshot, else the agent's error for it.
  int32_t Read(int32_t slot, int64_t now, int32_t* value) const;

  const StatusSnapshot& snapshot() const { return snapshot_; }
  const EventDetector& detector() const { return detector_; }
  // Whether the snapshot is recent enough to answer from.
  bool Fresh(int64_t now) const;

 private:
  void StartPass();
  void OnSnapshotReply(int32_t slot, const AgentReply& reply);
  void Feed(const StatusSnapshot& pass);
  void WriteStatusRecord(int64_t now);
  int64_t RecordPeriodMs() const;

  StatusPollerConfig config_;
  AgentCommands* agent_;
  Clock* clock_;
  const ParameterStore* params_;
  LogStore* logs_;
  Listener listener_;

  StatusSnapshot snapshot_;
  StatusSnapshot pending_;
  bool pass_active_ = false;
  bool pass_due_ = false;  // a poll tick came while a pass was under way
  int64_t next_poll_ms_ = 0;
  int64_t next_record_ms_ = 0;
  EventDetector detector_;
  bool was_connected_ = false;
};
