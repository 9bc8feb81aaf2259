#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "tool/option_tables.h"

// What one run of kovra was asked to do: filled by ParseCommandLine, read by
// the commands. The initial values are those of a command line that named
// nothing.
struct ToolOptions {
  ToolOptions() { setting_values.fill(-1); }

  // Index in kCommandNames; -1 when no command was recognised.
  int32_t command = -1;

  // One value per item row 0-16 (configure uses rows 4-16); -1 until given.
  // Whether a row was given is kept apart in `setting_given`, so that no
  // value, -1 included, can be mistaken for "not given".
  std::array<int32_t, kSettingSlotCount> setting_values;
  std::array<bool, kSettingSlotCount> setting_given{};

  // Seconds between two status passes; 0 shows the status once.
  int32_t status_repeat_seconds = 0;

  // Length of the self-test in seconds; -1 cancels the running test.
  int32_t test_seconds = 10;

  // Bit n: status option row n given (bit 0 is set by the status command).
  uint32_t status_items = 0;

  // Bit n: item row n given to the information command.
  uint32_t information_items = 0;

  // Bit n: log list n to show, or to erase.
  uint32_t log_lists = 0;
  uint32_t log_erase = 0;

  // Command index whose help is shown; -1 for the general help.
  int32_t help_topic = -1;

  // The name given to -port (at most kMaxPortNameLength characters).
  std::string port_name;
};

// Longest port name the configure command accepts.
constexpr size_t kMaxPortNameLength = 255;
