#pragma once

#include <string>

#include "service/service.h"

// The configuration file kovrad reads when --config names none. A missing
// file at this path means the built-in defaults.
const char* DefaultConfigPath();

// Everything kovrad is started with: the built-in defaults, then the
// configuration file, then the command line.
struct ServiceOptions {
  ServiceConfig config;
  std::string agent_path;  // empty: the default agent
  std::string state_dir = "/var/lib/kovrad";
  std::string config_path = DefaultConfigPath();
  bool config_given = false;  // --config named the file: it must exist
  bool check_config = false;
  // Print what a power failure would do now, and exit.
  bool check_shutdown = false;
  bool help = false;
  bool version = false;
};

// Parses the arguments after the program name. Options take their value as
// the next argument or after "=". On failure returns false with the reason
// in *error; *options may then be partly filled.
bool ParseServiceOptions(int argc, const char* const* argv,
                         ServiceOptions* options, std::string* error);

// The usage text printed by --help.
const char* ServiceUsage();
