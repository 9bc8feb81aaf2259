#pragma once

#include <string>

#include "service/service.h"

// The command line of kovrad.
struct ServiceOptions {
  ServiceConfig config;
  std::string agent_path;  // empty: the default agent
  std::string state_dir = "/var/lib/kovrad";
  // Run for every event (see Notifier); empty: none.
  std::string notify_command;
  // All save hooks together (see SaveHookLimits::budget_ms).
  int32_t save_hooks_budget_s = 60;
  bool help = false;
  bool version = false;
};

// Parses the arguments after the program name. Options take their value as
// the next argument or after "=". On failure returns false with the reason
// in *error; *options may then be partly filled.
bool ParseServiceOptions(int argc, const char* const* argv,
                         ServiceOptions* options, std::string* error);

// Splits "ADDR:PORT" at its last colon into *host and *port (0 to 65535).
// False when the text is not of that form.
bool SplitListenAddress(const std::string& text, std::string* host,
                        uint16_t* port);

// The usage text printed by --help.
const char* ServiceUsage();
