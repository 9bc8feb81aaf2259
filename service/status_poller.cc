#include "common/integer_text.h"
#include "service/status_poller.h"

#include <algorithm>
#include <vector>

#include "common/service_wire.h"
#include "common/time/clock.h"
#include "service/agent_commands.h"
#include "service/diagnostics.h"
#include "service/event_log.h"
#include "service/log_store.h"
#include "service/parameter_store.h"

StatusPoller::StatusPoller(const StatusPollerConfig& config,
                           AgentCommands* agent, Clock* clock,
                           const ParameterStore* params, LogStore* logs,
                           Listener listener)
    : config_(config),
      agent_(agent),
      clock_(clock),
      params_(params),
      logs_(logs),
      listener_(std::move(listener)),
      detector_(config.thresholds) {}

int64_t StatusPoller::RecordPeriodMs() const {
  return static_cast<int64_t>(params_->Value(kKeyRecordRate)) * 1000;
}

void StatusPoller::Start(int64_t now) {
  snapshot_.taken_ms = now;
  next_poll_ms_ = now;
  next_record_ms_ = now + RecordPeriodMs();
}

void StatusPoller::Tick(int64_t now) {
  if (now >= next_poll_ms_) {
    next_poll_ms_ = now + config_.poll_period_ms;
    if (agent_->running()) {
      // A pass still under way is finished first; the next one follows it
      // at once.
      if (pass_active_) {
        pass_due_ = true;
      } else {
        StartPass();
      }
    }
    if (!Fresh(now)) Feed(StatusSnapshot());
    if (listener_.on_states) listener_.on_states(now);
  }
  if (now >= next_record_ms_) {
    next_record_ms_ = now + RecordPeriodMs();
    if (params_->Value(kKeyRecByPeriod) == 1) WriteStatusRecord(now);
  }
}

void StatusPoller::OnAgentReset() {
  pass_active_ = false;
  pass_due_ = false;
}

void StatusPoller::RescheduleRecords(int64_t now) {
  next_record_ms_ = now + RecordPeriodMs();
}

int64_t StatusPoller::NextDeadline(int64_t far) const {
  int64_t next = std::min(far, next_poll_ms_);
  if (params_->Value(kKeyRecByPeriod) == 1) {
    next = std::min(next, next_record_ms_);
  }
  return next;
}

int32_t StatusPoller::Read(int32_t slot, int64_t now, int32_t* value) const {
  if (!snapshot_.valid || !Fresh(now)) return service_wire::kErrNoContact;
  if (slot < 0 || slot >= StatusSnapshot::kSlots) {
    return service_wire::kErrUnknownRequest;
  }
  if (snapshot_.error[slot] != 0) return snapshot_.error[slot];
  *value = snapshot_.value[slot];
  return 0;
}

void StatusPoller::StartPass() {
  pass_active_ = true;
  pass_due_ = false;
  pending_ = StatusSnapshot();
  for (int32_t slot = 0; slot < StatusSnapshot::kSlots; ++slot) {
    agent_->Enqueue(StatusSnapshot::CommandOf(slot),
                    [this, slot](const AgentReply& reply) {
                      OnSnapshotReply(slot, reply);
                    });
  }
}

void StatusPoller::OnSnapshotReply(int32_t slot, const AgentReply& reply) {
  if (!pass_active_) return;
  int32_t value = 0;
  if (reply.kind == AgentReply::Kind::kError) {
    pending_.error[slot] = reply.code;
  } else if (reply.kind == AgentReply::Kind::kValue &&
             ParseWholeInt32(reply.text, &value)) {
    pending_.value[slot] = value;
  } else {
    pending_.error[slot] = service_wire::kErrMalformed;
  }
  if (slot != StatusSnapshot::kSlots - 1) return;
  int64_t now = clock_->MonotonicMillis();
  pass_active_ = false;
  pending_.valid = true;
  pending_.taken_ms = now;
  snapshot_ = pending_;
  Feed(snapshot_);
  if (listener_.on_states) listener_.on_states(now);
  if (pass_due_ && agent_->running()) StartPass();
}

bool StatusPoller::Fresh(int64_t now) const {
  return now - snapshot_.taken_ms <= config_.snapshot_max_age_ms;
}

void StatusPoller::Feed(const StatusSnapshot& pass) {
  std::vector<int32_t> events;
  detector_.Feed(pass, &events);
  for (int32_t code : events) {
    RecordEvent(logs_, code);
    if (listener_.on_event) listener_.on_event(code);
  }
  bool connected = detector_.connected();
  if (connected != was_connected_) {
    was_connected_ = connected;
    if (listener_.on_contact) listener_.on_contact(connected);
  }
}

void StatusPoller::WriteStatusRecord(int64_t now) {
  if (logs_ == nullptr || !snapshot_.valid || !Fresh(now) ||
      !snapshot_.Connected()) {
    return;
  }
  // In, out, capacity, load, frequency, temperature; a value the unit does
  // not report is written as 0.
  static const int32_t kSlots[] = {
      StatusSnapshot::kSlotInputVoltage, StatusSnapshot::kSlotOutputVoltage,
      StatusSnapshot::kSlotCapacity,     StatusSnapshot::kSlotLoad,
      StatusSnapshot::kSlotFrequency,    StatusSnapshot::kSlotTemperature};
  std::string record = LocalTimeText();
  for (int32_t slot : kSlots) {
    int32_t value = 0;
    if (!snapshot_.Get(slot, &value)) value = 0;
    record += " " + std::to_string(value);
  }
  if (!logs_->Append(kStatusRecordLog, record)) {
    Diag("cannot store a status record");
  }
}
