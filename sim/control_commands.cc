#include "sim/control_commands.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <sstream>
#include <vector>

namespace {

const char kOk[] = "ok\n";

std::string Error(const std::string& message) {
  return "error: " + message + "\n";
}

// Parses a whole word as a finite number; false for anything else.
bool ParseNumber(const std::string& word, double* value) {
  if (word.empty()) return false;
  errno = 0;
  char* end = nullptr;
  double parsed = std::strtod(word.c_str(), &end);
  if (errno != 0 || end != word.c_str() + word.size() ||
      !std::isfinite(parsed)) {
    return false;
  }
  *value = parsed;
  return true;
}

// Accepts the two words of a switch, writing whether the first was given.
bool ParseSwitch(const std::string& word, const char* on, const char* off,
                 bool* value) {
  if (word == on) {
    *value = true;
    return true;
  }
  if (word == off) {
    *value = false;
    return true;
  }
  return false;
}

struct Quantity {
  const char* name;
  double minimum;
  double maximum;
  double SimState::*field;
};

const Quantity kQuantities[] = {
    {"input", 0, 400, &SimState::input_volts},
    {"output", 0, 400, &SimState::output_volts},
    {"load", 0, 200, &SimState::load_percent},
    {"capacity", 0, 100, &SimState::capacity_percent},
    {"temperature", -40, 150, &SimState::temperature_celsius},
    {"frequency", 0, 100, &SimState::frequency_hertz},
};

}  // namespace

ControlCommands::ControlCommands(SimState* state, const SimUnit* unit)
    : state_(state), unit_(unit) {}

const char* ControlCommands::Help() {
  return "set input V\n"
         "set output V\n"
         "set load PCT\n"
         "set capacity PCT\n"
         "set temperature C\n"
         "set frequency HZ\n"
         "utility fail|restore\n"
         "battery low|normal\n"
         "buzzer on|off\n"
         "silent on|off\n"
         "garbage on|off\n"
         "status\n"
         "help\n"
         "quit\n";
}

std::string ControlCommands::Execute(const std::string& line) {
  std::istringstream stream(line);
  std::vector<std::string> words;
  std::string word;
  while (stream >> word) words.push_back(word);
  if (words.empty()) return std::string();

  const std::string& command = words[0];
  size_t arguments = words.size() - 1;
  if (command == "set") {
    if (arguments != 2) return Error("usage: set QUANTITY VALUE");
    return Set(words[1], words[2]);
  }
  if (command == "status" && arguments == 0) {
    return state_->Describe() + (unit_ ? unit_->Describe() : "") + kOk;
  }
  if (command == "help" && arguments == 0) {
    return std::string(Help()) + kOk;
  }
  if (command == "quit" && arguments == 0) {
    quit_ = true;
    return kOk;
  }
  bool on = false;
  if (command == "utility" && arguments == 1 &&
      ParseSwitch(words[1], "fail", "restore", &on)) {
    state_->SetUtilityFail(on);
    return kOk;
  }
  if (command == "battery" && arguments == 1 &&
      ParseSwitch(words[1], "low", "normal", &on)) {
    state_->battery_low = on;
    return kOk;
  }
  bool* flag = command == "silent"    ? &state_->silent
               : command == "garbage" ? &state_->garbage
               : command == "buzzer"  ? &state_->buzzer
                                      : nullptr;
  if (flag != nullptr && arguments == 1 &&
      ParseSwitch(words[1], "on", "off", &on)) {
    *flag = on;
    return kOk;
  }
  return Error("unknown command: " + line);
}

std::string ControlCommands::Set(const std::string& what,
                                 const std::string& value) {
  for (const Quantity& quantity : kQuantities) {
    if (what != quantity.name) continue;
    double number = 0;
    if (!ParseNumber(value, &number)) {
      return Error("not a number: " + value);
    }
    if (number < quantity.minimum || number > quantity.maximum) {
      std::ostringstream message;
      message << what << " must be " << quantity.minimum << " to "
              << quantity.maximum;
      return Error(message.str());
    }
    double before = state_->*quantity.field;
    state_->*quantity.field = number;
    if (quantity.field == &SimState::capacity_percent) {
      // Moving the capacity across the battery-low level by hand switches
      // the flag like a discharge or recharge would.
      double level = state_->battery_low_level_percent;
      if (before > level && number <= level) state_->battery_low = true;
      if (before <= level && number > level) state_->battery_low = false;
    }
    return kOk;
  }
  return Error("unknown quantity: " + what);
}
