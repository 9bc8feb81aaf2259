#pragma once

#include <cstdint>
#include <string>

#include "sim/sim_state.h"
#include "sim/sim_unit.h"

// The simulator's control language on standard input: one command per line,
// each answered on standard output with "ok" or a line starting "error: ".
// "status" first prints the state, one "name value" line per field, and
// then "ok". Blank lines are skipped without an answer.
//
//   set input|output V, set load|capacity PCT, set temperature C,
//   set frequency HZ, utility fail|restore, battery low|normal,
//   buzzer on|off, silent on|off, garbage on|off, status, help, quit
class ControlCommands final {
 public:
  // state and unit are borrowed and must outlive this object.
  ControlCommands(SimState* state, const SimUnit* unit);

  // Runs one line (without its newline) and returns the answer lines, each
  // ending in a newline; empty for a blank line.
  std::string Execute(const std::string& line);

  // True once "quit" has been run.
  bool quit() const { return quit_; }

  // The help text, one line per command.
  static const char* Help();

 private:
  std::string Set(const std::string& what, const std::string& value);

  SimState* state_;
  const SimUnit* unit_;
  bool quit_ = false;
};
