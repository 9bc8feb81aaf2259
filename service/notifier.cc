#include "service/notifier.h"

#include <utility>

std::vector<std::string> NotifyStatusValues(const StatusSnapshot& snapshot,
                                            bool fresh) {
  bool connected = snapshot.valid && fresh && snapshot.Connected();
  std::vector<std::string> values;
  values.push_back(std::string("KOVRA_CONNECTED=") + (connected ? "1" : "0"));
  if (!connected) return values;
  // Slots 6 and 9 hold S6 (backup) and S9 (test).
  static const struct {
    int32_t slot;
    const char* name;
  } kNames[] = {
      {StatusSnapshot::kSlotInputVoltage, "KOVRA_INPUT_VOLTAGE"},
      {StatusSnapshot::kSlotOutputVoltage, "KOVRA_OUTPUT_VOLTAGE"},
      {StatusSnapshot::kSlotCapacity, "KOVRA_CAPACITY"},
      {StatusSnapshot::kSlotLoad, "KOVRA_LOAD"},
      {StatusSnapshot::kSlotTemperature, "KOVRA_TEMPERATURE"},
      {StatusSnapshot::kSlotFrequency, "KOVRA_FREQUENCY"},
      {6, "KOVRA_BACKUP"},
      {StatusSnapshot::kSlotPowerFail, "KOVRA_POWER_FAIL"},
      {StatusSnapshot::kSlotBatteryLow, "KOVRA_BATTERY_LOW"},
      {9, "KOVRA_TEST"},
  };
  for (const auto& entry : kNames) {
    int32_t value = 0;
    if (snapshot.Get(entry.slot, &value)) {
      values.push_back(std::string(entry.name) + "=" + std::to_string(value));
    }
  }
  return values;
}

Notifier::Notifier(const std::string& command, const Limits& limits)
    : command_(command), limits_(limits) {}

Notifier::~Notifier() = default;

void Notifier::Notify(const NotifyEvent& event, int64_t now) {
  if (!enabled()) return;
  if (queue_.size() >= limits_.max_queued) {
    diagnostics_.push_back("notify command: " +
                           std::to_string(queue_.size()) +
                           " events waiting; event " +
                           std::to_string(event.code) + " not notified");
    return;
  }
  queue_.push_back(event);
  StartQueued(now);
}

void Notifier::Tick(int64_t now) {
  for (size_t i = 0; i < running_.size();) {
    ChildRunner* runner = running_[i].runner.get();
    runner->Poll(now);
    if (!runner->Done()) {
      ++i;
      continue;
    }
    const ChildRunner::Outcome& outcome = runner->outcome();
    if (outcome.timed_out || !outcome.exited || outcome.exit_code != 0) {
      diagnostics_.push_back("notify command for event " +
                             std::to_string(running_[i].code) + " " +
                             runner->Describe());
    }
    running_.erase(running_.begin() + static_cast<std::ptrdiff_t>(i));
  }
  StartQueued(now);
}

int64_t Notifier::NextWakeMs(int64_t now) const {
  if (Idle()) return -1;
  int64_t next = now + 1000;
  for (const Running& entry : running_) {
    int64_t deadline = entry.runner->NextDeadline();
    if (deadline >= 0 && deadline < next) next = deadline;
  }
  return next;
}

std::vector<std::string> Notifier::TakeDiagnostics() {
  std::vector<std::string> lines;
  lines.swap(diagnostics_);
  return lines;
}

void Notifier::StartQueued(int64_t now) {
  while (!queue_.empty() && running_.size() < limits_.max_running) {
    NotifyEvent event = std::move(queue_.front());
    queue_.pop_front();
    ChildRunner::Options options;
    options.argv = ChildRunner::ShellArgv(command_);
    options.output = ChildRunner::Output::kToStderr;
    options.limit_ms = limits_.timeout_ms;
    options.kill_grace_ms = limits_.kill_grace_ms;
    options.env = {"KOVRA_EVENT=" + std::to_string(event.code),
                   "KOVRA_EVENT_TEXT=" + event.text,
                   "KOVRA_TIME=" + event.time};
    options.env.insert(options.env.end(), event.status.begin(),
                       event.status.end());
    std::unique_ptr<ChildRunner> runner(new ChildRunner());
    if (!runner->Start(options, now)) {
      diagnostics_.push_back("notify command for event " +
                             std::to_string(event.code) +
                             " could not start: " + runner->Describe());
      continue;
    }
    running_.push_back(Running{event.code, std::move(runner)});
  }
}
