#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "service/nut/nut_unit_data.h"

// The NUT instant commands the front end offers and the action each one
// maps to: an agent command line, or the service's buzzer setting.

struct NutCommandInfo {
  const char* name;
  const char* description;
  bool needs_full_unit;  // only on a unit with the full command set
};

// Every instant command the front end knows, in name order.
const std::vector<NutCommandInfo>& NutCommandTable();

// The command of that exact name, or null.
const NutCommandInfo* FindNutCommand(std::string_view name);

// The names of the commands the unit offers now, in name order.
std::vector<std::string> NutAvailableCommands(const NutUnitData& data);

// What running a command does.
struct NutCommandAction {
  enum class Kind { kAgentLine, kBuzzer };
  Kind kind = Kind::kAgentLine;
  std::string agent_line;  // for kAgentLine: "C0 10", "C1 120 60", ...
  bool buzzer_on = false;  // for kBuzzer
};

enum class NutCommandResult { kOk, kNotSupported, kInvalidArgument };

// The length of a battery test that names none, in seconds (a quick test;
// the tool's default too), and the longest one accepted.
constexpr int32_t kNutQuickTestSeconds = 10;
constexpr int32_t kNutMaxTestSeconds = 7200;

// The action of the command with an optional parameter (empty when none was
// given), in *action on kOk. kNotSupported for a command the unit does not
// offer; kInvalidArgument for a parameter the command does not take or
// that is out of range. test.battery.start takes a test length in seconds
// (1 to kNutMaxTestSeconds).
NutCommandResult NutCommandActionOf(const NutUnitData& data,
                                    std::string_view name,
                                    std::string_view param,
                                    NutCommandAction* action);
