#include "service/nut/nut_commands.h"

#include <algorithm>

#include "common/integer_text.h"
#include "service/nut/nut_variables.h"

const std::vector<NutCommandInfo>& NutCommandTable() {
  // In name order.
  static const std::vector<NutCommandInfo> kCommands = {
      {"beeper.disable", "Disable the UPS beeper", true},
      {"beeper.enable", "Enable the UPS beeper", true},
      {"shutdown.return", "Turn off the load and return when power is back",
       false},
      {"shutdown.stayoff", "Turn off the load and remain off", false},
      {"shutdown.stop", "Stop a shutdown in progress", false},
      {"test.battery.start", "Start a battery test", true},
      {"test.battery.start.quick", "Start a quick battery test", true},
      {"test.battery.stop", "Stop the battery test", true},
  };
  return kCommands;
}

const NutCommandInfo* FindNutCommand(std::string_view name) {
  for (const NutCommandInfo& command : NutCommandTable()) {
    if (name == command.name) return &command;
  }
  return nullptr;
}

std::vector<std::string> NutAvailableCommands(const NutUnitData& data) {
  const bool full = NutFullUnit(data);
  std::vector<std::string> names;
  for (const NutCommandInfo& command : NutCommandTable()) {
    if (full || !command.needs_full_unit) names.push_back(command.name);
  }
  return names;
}

NutCommandResult NutCommandActionOf(const NutUnitData& data,
                                    std::string_view name,
                                    std::string_view param,
                                    NutCommandAction* action) {
  const NutCommandInfo* command = FindNutCommand(name);
  if (command == nullptr || (command->needs_full_unit && !NutFullUnit(data))) {
    return NutCommandResult::kNotSupported;
  }
  NutCommandAction result;
  if (name == "test.battery.start") {
    int32_t seconds = kNutQuickTestSeconds;
    if (!param.empty() &&
        !ParseWholeInt32(param, 1, kNutMaxTestSeconds, &seconds)) {
      return NutCommandResult::kInvalidArgument;
    }
    result.agent_line = "C0 " + std::to_string(seconds);
    *action = std::move(result);
    return NutCommandResult::kOk;
  }
  // No other command takes a parameter.
  if (!param.empty()) return NutCommandResult::kInvalidArgument;
  if (name == "test.battery.start.quick") {
    result.agent_line = "C0 " + std::to_string(kNutQuickTestSeconds);
  } else if (name == "test.battery.stop") {
    result.agent_line = "C0 -1";
  } else if (name == "shutdown.return") {
    result.agent_line = "C1 " + std::to_string(data.shutdown_delay_s) + " " +
                        std::to_string(data.restore_after_s);
  } else if (name == "shutdown.stayoff") {
    result.agent_line = "C2 " + std::to_string(data.shutdown_delay_s);
  } else if (name == "shutdown.stop") {
    result.agent_line = "C3";
  } else {
    result.kind = NutCommandAction::Kind::kBuzzer;
    result.buzzer_on = name == "beeper.enable";
  }
  *action = std::move(result);
  return NutCommandResult::kOk;
}
