#pragma once

#include <cstdint>
#include <ostream>
#include <string>

class Clock;
class ServiceConnection;

// Exit status of a run that stopped before its command: a bad command line,
// no connection to the UPS service, or a refused login.
constexpr int kToolFailureStatus = 255;

// Where the run connects and what it writes to. The program uses the UPS
// service's fixed address, standard output and the system clock; tests use
// their own peer, a string stream and a fake clock. Pointers are borrowed.
struct ToolTarget {
  ServiceConnection* connection = nullptr;
  std::string host;
  uint16_t port = 0;
  std::ostream* out = nullptr;
  Clock* clock = nullptr;
};

// One run of kovra: parses the arguments, connects, logs in and runs the
// selected command. Returns the exit status: 0 once the command has run,
// whatever its requests returned, else kToolFailureStatus.
int RunTool(int argc, const char* const* argv, const ToolTarget& target);
