// kovra: the command-line front end of the UPS service. Connects to the
// service on this machine, logs in, runs one command and exits.

#include <iostream>

#include "common/time/system_clock.h"
#include "tool/link/service_connection.h"
#include "tool/tool_entry.h"

int main(int argc, char** argv) {
  static ServiceConnection connection;
  ToolTarget target;
  target.connection = &connection;
  target.host = ServiceConnection::kServiceHost;
  target.port = ServiceConnection::kServicePort;
  target.out = &std::cout;
  target.clock = SystemClock::Instance();
  return RunTool(argc, argv, target);
}
