#pragma once

#include <cstdint>

#include "service/agent_reply.h"
#include "service/power_fail_monitor.h"
#include "service/shutdown_actions.h"

class AgentCommands;

// A UPS told to switch off sooner than this after the shutdown command
// starts may cut the power before a common system has finished going down.
constexpr int32_t kShortUpsOffDelayS = 60;

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
// watch the power (PowerFailMonitor), or begin at once when a primary host
// forces it; once begun (begun() is the flag other hosts on the UPS see),
// run the save hooks when asked to while other hosts get up to
// secondary_wait_s from the beginning to log out, then tell the UPS to
// switch off after a delay and on again after the utility returns (C1, or
// the plain C2 on a unit without it), and only once the UPS has answered
// run the shutdown command, so the UPS has its orders before the system
// goes down. Once begun, it is never taken back. Every step is written to
// the diagnostics.
class ShutdownSequence final {
 public:
  enum class Stage {
    kWatching,     // nothing to do, or armed and waiting for the delay
    kSavingFiles,  // the save hooks run
    kWaitingForSecondaries,  // other hosts still logged in get their time
    kTellingUps,             // waiting for the UPS to take its orders
    kShuttingDown,           // the shutdown command was started
  };

  // agent and actions must outlive the sequence.
  ShutdownSequence(AgentCommands* agent, ShutdownActions* actions);
  ShutdownSequence(const ShutdownSequence&) = delete;
  ShutdownSequence& operator=(const ShutdownSequence&) = delete;

  // One look at the inputs; may begin the shutdown.
  void Tick(int64_t now, const ShutdownInputs& inputs);

  // The save hooks have ended: the UPS is told next (once the other hosts
  // logged out or their time is over).
  void OnSaveHooksDone();

  Stage stage() const { return stage_; }
  // True once the shutdown has begun: the forced-shutdown flag other hosts
  // see.
  bool begun() const { return stage_ != Stage::kWatching; }

 private:
  void Begin(int64_t now, const char* why);
  // After the save hooks: wait for the other hosts or tell the UPS.
  void AfterSaveHooks(int64_t now);
  void WaitForSecondaries(int64_t now);
  void TellUps();
  void OnRestoreShutdownReply(const AgentReply& reply);
  void OnPlainShutdownReply(const AgentReply& reply);
  void Finish();

  AgentCommands* agent_;
  ShutdownActions* actions_;
  PowerFailMonitor monitor_;
  ShutdownInputs inputs_;
  Stage stage_ = Stage::kWatching;
  int64_t now_ = 0;       // of the last tick
  int64_t begun_ms_ = 0;  // when the shutdown began
};
