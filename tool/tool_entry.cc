#include "tool/tool_entry.h"

#include "tool/command_context.h"
#include "tool/command_line.h"
#include "tool/configure_command.h"
#include "tool/help_texts.h"
#include "tool/information_command.h"
#include "tool/link/service_connection.h"
#include "tool/log_command.h"
#include "tool/option_tables.h"
#include "tool/status_command.h"
#include "tool/test_command.h"
#include "tool/tool_options.h"

int RunTool(int argc, const char* const* argv, const ToolTarget& target) {
  std::ostream& out = *target.out;
  ToolOptions options;
  if (!ParseCommandLine(argc, argv, &options, out)) {
    PrintPleaseUse(options, out);
    return kToolFailureStatus;
  }
  ServiceConnection* connection = target.connection;
  if (!connection->Connect(target.host, target.port)) {
    out << "can't connect with UPS service." << std::endl;
    return kToolFailureStatus;
  }
  int32_t login = connection->Login();
  if (login != 0) {
    out << "login error : " << login << "." << std::endl;
    return kToolFailureStatus;
  }

  CommandContext context;
  context.options = &options;
  context.connection = connection;
  context.out = &out;
  context.clock = target.clock;
  switch (options.command) {
    case kCommandStatus:
      RunStatus(context);
      break;
    case kCommandInformation:
      RunInformation(context);
      break;
    case kCommandLog:
      RunLog(context);
      break;
    case kCommandConfigure:
      RunConfigure(context);
      break;
    case kCommandTest:
      RunTest(context);
      break;
    default:
      PrintHelp(options.help_topic, out);
      break;
  }
  return 0;
}
