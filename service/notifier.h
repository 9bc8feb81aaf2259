#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "service/child_runner.h"
#include "service/status_snapshot.h"

// What one notification tells the command.
struct NotifyEvent {
  int32_t code = 0;
  std::string text;  // the event's text
  std::string time;  // local time as the event log writes it
  // "KOVRA_NAME=value" entries with the present status (NotifyStatusValues).
  std::vector<std::string> status;
};

// The status values of a snapshot as environment entries: KOVRA_CONNECTED
// (1 or 0) always, and while the snapshot is fresh and the unit connected
// each value the unit reports, as the agent reports it (the numbers of the
// status records): KOVRA_INPUT_VOLTAGE, KOVRA_OUTPUT_VOLTAGE,
// KOVRA_CAPACITY, KOVRA_LOAD, KOVRA_TEMPERATURE, KOVRA_FREQUENCY,
// KOVRA_BACKUP, KOVRA_POWER_FAIL, KOVRA_BATTERY_LOW, KOVRA_TEST.
std::vector<std::string> NotifyStatusValues(const StatusSnapshot& snapshot,
                                            bool fresh);

// Runs the notify command ("/bin/sh -c CMD") once for every event, with
// KOVRA_EVENT (the code), KOVRA_EVENT_TEXT, KOVRA_TIME and the status values
// in its environment and its output joining the service's standard error.
// Never blocks: a few run at once, more wait in a bounded queue (events past
// it are dropped with a diagnostic), each is stopped with its process group
// at its time limit. Failures (could not start, non-zero exit, stopped) are
// reported as diagnostic lines.
class Notifier final {
 public:
  struct Limits {
    size_t max_running = 2;
    size_t max_queued = 32;
    int64_t timeout_ms = 30000;
    int64_t kill_grace_ms = 2000;
  };

  // An empty command notifies nothing.
  Notifier(const std::string& command, const Limits& limits);
  Notifier(const Notifier&) = delete;
  Notifier& operator=(const Notifier&) = delete;
  ~Notifier();

  bool enabled() const { return !command_.empty(); }

  // Queues the event and starts what may start.
  void Notify(const NotifyEvent& event, int64_t now);

  // Reaps, enforces limits and starts queued events. Never blocks.
  void Tick(int64_t now);

  // When Tick() must be called next at the latest (about once a second
  // while a command runs), or -1 when nothing runs or waits.
  int64_t NextWakeMs(int64_t now) const;
  bool Idle() const { return running_.empty() && queue_.empty(); }
  size_t running() const { return running_.size(); }
  size_t queued() const { return queue_.size(); }

  // The diagnostic lines gathered since the last call.
  std::vector<std::string> TakeDiagnostics();

 private:
  struct Running {
    int32_t code;
    std::unique_ptr<ChildRunner> runner;
  };

  void StartQueued(int64_t now);

  std::string command_;
  Limits limits_;
  std::deque<NotifyEvent> queue_;
  std::vector<Running> running_;
  std::vector<std::string> diagnostics_;
};
