#pragma once

#include <string>

#include "sim/p99_unit.h"
#include "sim/text_unit.h"

// The simulator's command line.
struct SimOptions {
  std::string link_path;         // --link PATH (required)
  std::string protocol = "p99";  // --protocol NAME
  std::string log_path;          // --log FILE (empty: no log)
  double speed = 1.0;            // --speed FACTOR: battery time runs faster
  P99UnitConfig p99;             // --model, --voltage-class, --rated-*, ...
  TextUnitConfig text;           // --text-* (with --protocol text)
  bool help = false;             // --help
};

// Parses argv into *options. On a bad command line writes one message line
// (without a newline) to *error and returns false.
bool ParseSimOptions(int argc, const char* const* argv, SimOptions* options,
                     std::string* error);

// Applies one --text-* option of the simulator's command line. Returns false
// when the option is not one of them; otherwise sets *error (non-empty) when
// the value is bad.
bool ParseTextUnitOption(const std::string& option, const char* value,
                         TextUnitConfig* config, std::string* error);

// The usage text, ending in a newline.
const char* SimUsage();
