#include "common/integer_text.h"
#include "service/agent_reply.h"

#include <cstddef>

#include "service/parameter_store.h"

namespace {

// The echo of a command: its letter and its number in plain decimal. The
// service only sends commands written that way, so the echo is the command
// up to the first blank.
std::string EchoOf(const std::string& command) {
  return command.substr(0, command.find(' '));
}

}  // namespace

AgentReply ParseAgentReply(const std::string& command,
                           const std::string& line) {
  AgentReply reply;
  std::string echo = EchoOf(command);
  if (echo.empty() || line.compare(0, echo.size(), echo) != 0) return reply;
  std::string rest = line.substr(echo.size());
  if (rest.empty()) {
    reply.kind = AgentReply::Kind::kNoValue;
  } else if (rest[0] == ' ') {
    reply.kind = AgentReply::Kind::kValue;
    reply.text = rest.substr(1);
  } else if (rest.size() > 2 && rest[0] == 'E' && rest[1] == ' ') {
    int32_t code = 0;
    if (ParseWholeInt32(rest.substr(2), &code) && code > 0) {
      reply.kind = AgentReply::Kind::kError;
      reply.code = code;
    }
  }
  // Anything else (for example the reply "S13 1" to the command "S1") is
  // the answer to some other command.
  return reply;
}
