#include "service/shutdown_sequence.h"

#include <string>

#include "service/agent_commands.h"
#include "service/diagnostics.h"

namespace {

// The agent's answer to a command the unit does not have.
constexpr int32_t kAgentErrNotSupported = 1;

}  // namespace

ShutdownSequence::ShutdownSequence(AgentCommands* agent,
                                   ShutdownActions* actions)
    : agent_(agent), actions_(actions) {}

void ShutdownSequence::Tick(int64_t now, const ShutdownInputs& inputs) {
  inputs_ = inputs;
  now_ = now;
  PowerFailMonitor::Action action =
      monitor_.Tick(now, inputs.on_battery, inputs.battery_low, inputs.enabled,
                    inputs.delay_s);
  if (stage_ != Stage::kWatching) {
    if (stage_ == Stage::kWaitingForSecondaries) WaitForSecondaries(now);
    return;
  }
  switch (action) {
    case PowerFailMonitor::Action::kNone:
      break;
    case PowerFailMonitor::Action::kArmed:
      DiagAt(DiagLevel::kWarning,
             "on battery: system shutdown in %d s unless the utility returns",
             inputs.delay_s);
      break;
    case PowerFailMonitor::Action::kCancelled:
      DiagAt(DiagLevel::kNotice, "utility returned: system shutdown cancelled");
      break;
    case PowerFailMonitor::Action::kBeginShutdown:
      Begin(now, inputs.battery_low ? "power failure, battery low"
                                    : "power failure");
      return;
  }
  // Another host that shares the UPS and commands it asked for the
  // shutdown: it begins as if the power policy had begun it.
  if (inputs.forced) Begin(now, "forced by the primary host of the UPS");
}

void ShutdownSequence::Begin(int64_t now, const char* why) {
  begun_ms_ = now;
  DiagAt(DiagLevel::kCritical, "system shutdown begins (%s)", why);
  if (inputs_.save_files) {
    stage_ = Stage::kSavingFiles;
    DiagAt(DiagLevel::kCritical, "shutdown step 1: running the save hooks");
    actions_->StartSaveHooks();
    return;
  }
  AfterSaveHooks(now);
}

void ShutdownSequence::OnSaveHooksDone() {
  if (stage_ != Stage::kSavingFiles) return;
  DiagAt(DiagLevel::kCritical, "save hooks ended after %lld s",
         static_cast<long long>((now_ - begun_ms_) / 1000));
  AfterSaveHooks(now_);
}

void ShutdownSequence::AfterSaveHooks(int64_t now) {
  if (inputs_.secondaries > 0) {
    stage_ = Stage::kWaitingForSecondaries;
    DiagAt(DiagLevel::kCritical,
           "shutdown step 2: waiting up to %d s from the beginning for %d "
           "other host(s) on the UPS to log out",
           inputs_.secondary_wait_s, inputs_.secondaries);
    WaitForSecondaries(now);
    return;
  }
  TellUps();
}

void ShutdownSequence::WaitForSecondaries(int64_t now) {
  if (inputs_.secondaries <= 0) {
    DiagAt(DiagLevel::kCritical, "the other hosts on the UPS logged out");
    TellUps();
    return;
  }
  if (now - begun_ms_ >=
      static_cast<int64_t>(inputs_.secondary_wait_s) * 1000) {
    DiagAt(DiagLevel::kCritical,
           "%d other host(s) still logged in after %d s: going on",
           inputs_.secondaries, inputs_.secondary_wait_s);
    TellUps();
  }
}

void ShutdownSequence::TellUps() {
  stage_ = Stage::kTellingUps;
  DiagAt(
      DiagLevel::kCritical,
      "shutdown step 3: telling the UPS to switch its output off in %d s and "
      "back on %d s after the utility returns",
      inputs_.ups_off_delay_s, inputs_.restore_after_s);
  if (inputs_.ups_off_delay_s < kShortUpsOffDelayS) {
    DiagAt(DiagLevel::kWarning,
           "the UPS switches off only %d s from now; the system may not have "
           "finished its shutdown by then (service.shutdown delay)",
           inputs_.ups_off_delay_s);
  }
  agent_->Enqueue(
      "C1 " + std::to_string(inputs_.ups_off_delay_s) + " " +
          std::to_string(inputs_.restore_after_s),
      [this](const AgentReply& reply) { OnRestoreShutdownReply(reply); });
}

void ShutdownSequence::OnRestoreShutdownReply(const AgentReply& reply) {
  if (reply.kind == AgentReply::Kind::kError &&
      reply.code == kAgentErrNotSupported) {
    DiagAt(DiagLevel::kCritical,
           "no shutdown with restore on this UPS; plain shutdown");
    agent_->Enqueue(
        "C2 " + std::to_string(inputs_.ups_off_delay_s),
        [this](const AgentReply& plain) { OnPlainShutdownReply(plain); });
    return;
  }
  OnPlainShutdownReply(reply);
}

void ShutdownSequence::OnPlainShutdownReply(const AgentReply& reply) {
  if (reply.kind == AgentReply::Kind::kError) {
    DiagAt(DiagLevel::kError,
           "the UPS did not take the shutdown (agent error %d)", reply.code);
  }
  Finish();
}

void ShutdownSequence::Finish() {
  stage_ = Stage::kShuttingDown;
  DiagAt(DiagLevel::kCritical, "shutdown step 4: shutting the system down");
  actions_->RunShutdownCommand();
}
