#pragma once

#include <cstdint>

#include "service/agent_reply.h"
#include "service/power_fail_monitor.h"
#include "service/shutdown_actions.h"

class AgentCommands;

// What the shutdown sequence looks at on every tick: the confirmed power
// states and the settings that apply.
struct ShutdownInputs {
  bool on_battery = false;
  bool battery_low = false;
  bool enabled = false;          // shut down on a power failure at all
  int32_t delay_s = 0;           // seconds on battery before it begins
  bool save_files = false;       // run the save hooks first
  int32_t ups_off_delay_s = 0;   // the UPS switches off this much later
  int32_t restore_after_s = 60;  // and back on this long after the utility
  // Other hosts on the same UPS (NUT secondaries).
  bool forced = false;            // a primary client asked for the shutdown
  int32_t secondaries = 0;        // secondaries still logged in
  int32_t secondary_wait_s = 15;  // longest wait for them to log out
};

// The power-failure shutdown as one state machine with time as an input:
// watch the power (PowerFailMonitor), then run the save hooks when asked
// to, then tell the UPS to switch off after a delay and on again after the
// utility returns (C1, or the plain C2 on a unit without it), and only once
// the UPS has answered run the shutdown command, so the UPS has its orders
// before the system goes down. Once begun, it is never taken back.
class ShutdownSequence final {
 public:
  enum class Stage {
    kWatching,      // nothing to do, or armed and waiting for the delay
    kSavingFiles,   // the save hooks run
    kTellingUps,    // waiting for the UPS to take its orders
    kShuttingDown,  // the shutdown command was started
  };

  // agent and actions must outlive the sequence.
  ShutdownSequence(AgentCommands* agent, ShutdownActions* actions);
  ShutdownSequence(const ShutdownSequence&) = delete;
  ShutdownSequence& operator=(const ShutdownSequence&) = delete;

  // One look at the inputs; may begin the shutdown.
  void Tick(int64_t now, const ShutdownInputs& inputs);

  // The save hooks have ended: the UPS is told next.
  void OnSaveHooksDone();

  Stage stage() const { return stage_; }
  // True once the shutdown has begun: the forced-shutdown flag other hosts
  // see.
  bool begun() const { return stage_ != Stage::kWatching; }

 private:
  void Begin();
  void TellUps();
  void OnRestoreShutdownReply(const AgentReply& reply);
  void OnPlainShutdownReply(const AgentReply& reply);
  void Finish();

  AgentCommands* agent_;
  ShutdownActions* actions_;
  PowerFailMonitor monitor_;
  ShutdownInputs inputs_;
  Stage stage_ = Stage::kWatching;
};
