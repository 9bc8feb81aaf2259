#include "tool/test_command.h"

#include <cstdint>
#include <ostream>

#include "tool/link/service_connection.h"
#include "tool/option_tables.h"
#include "tool/tool_options.h"

void RunTest(const CommandContext& context) {
  std::ostream& out = *context.out;
  ServiceConnection* connection = context.connection;
  const int32_t seconds = context.options->test_seconds;
  // Starts at -1, a value no query has given: when both queries below fail
  // the contact query's own code is shown rather than a claim that the
  // service has no contact.
  int32_t value = -1;

  if (connection->GetPropPortType(&value) != 0) {
    int32_t result = connection->GetStatusConnect(&value);
    if (result == 0) return;
    if (result == ServiceConnection::kNoUnitError || value == 0) {
      out << "the service can't connect with UPS unit." << std::endl;
    } else {
      out << " error. (" << result << ")" << std::endl;
    }
    return;
  }
  if (value != kFullUpsPortType) {
    out << "this UPS is not support " << kCommandNames[kCommandTest]
        << " command." << std::endl;
    return;
  }
  if (seconds == -1) {
    out << "UPS diagnostic is canceled by user." << std::endl;
  } else {
    out << "diagnosing UPS within " << seconds << " seconds." << std::endl;
  }
  // Not looked at: the line above already told the user.
  connection->CommandSelfTest(seconds);
}
