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
  PowerFailMonitor::Action action =
      monitor_.Tick(now, inputs.on_battery, inputs.battery_low, inputs.enabled,
                    inputs.delay_s);
  switch (action) {
    case PowerFailMonitor::Action::kNone:
      break;
    case PowerFailMonitor::Action::kArmed:
      Diag("on battery: system shutdown in %d s unless the utility returns",
           inputs.delay_s);
      break;
    case PowerFailMonitor::Action::kCancelled:
      Diag("utility returned: system shutdown cancelled");
      break;
    case PowerFailMonitor::Action::kBeginShutdown:
      Begin();
      break;
  }
}

void ShutdownSequence::Begin() {
  Diag("power failure: system shutdown begins%s",
       inputs_.battery_low ? " (battery low)" : "");
  if (inputs_.save_files) {
    stage_ = Stage::kSavingFiles;
    actions_->StartSaveHooks();
    return;
  }
  TellUps();
}

void ShutdownSequence::OnSaveHooksDone() {
  if (stage_ == Stage::kSavingFiles) TellUps();
}

void ShutdownSequence::TellUps() {
  stage_ = Stage::kTellingUps;
  Diag(
      "telling the UPS to switch its output off in %d s and back on %d s "
      "after the utility returns",
      inputs_.ups_off_delay_s, inputs_.restore_after_s);
  agent_->Enqueue(
      "C1 " + std::to_string(inputs_.ups_off_delay_s) + " " +
          std::to_string(inputs_.restore_after_s),
      [this](const AgentReply& reply) { OnRestoreShutdownReply(reply); });
}

void ShutdownSequence::OnRestoreShutdownReply(const AgentReply& reply) {
  if (reply.kind == AgentReply::Kind::kError &&
      reply.code == kAgentErrNotSupported) {
    Diag("no shutdown with restore on this UPS; plain shutdown");
    agent_->Enqueue(
        "C2 " + std::to_string(inputs_.ups_off_delay_s),
        [this](const AgentReply& plain) { OnPlainShutdownReply(plain); });
    return;
  }
  OnPlainShutdownReply(reply);
}

void ShutdownSequence::OnPlainShutdownReply(const AgentReply& reply) {
  if (reply.kind == AgentReply::Kind::kError) {
    Diag("the UPS did not take the shutdown (agent error %d)", reply.code);
  }
  Finish();
}

void ShutdownSequence::Finish() {
  stage_ = Stage::kShuttingDown;
  actions_->RunShutdownCommand();
}
