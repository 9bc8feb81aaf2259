#pragma once

#include <cstdint>
#include <ostream>

class Clock;
class ServiceConnection;
struct ToolOptions;

// What a kovra command works with. The program passes its parsed options,
// the process's one connection, standard output and the system clock; tests
// pass a connection to their own peer, a string stream and a fake clock. All
// pointers are borrowed and must outlive the command.
struct CommandContext {
  const ToolOptions* options = nullptr;
  ServiceConnection* connection = nullptr;
  std::ostream* out = nullptr;
  // Paces the repeated status passes.
  Clock* clock = nullptr;
  // Ends a repeating status after this many passes; 0 repeats until the
  // process is interrupted (the program's behaviour).
  int32_t max_status_passes = 0;
};
