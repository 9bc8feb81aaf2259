// kovrad's parsing of the agent's reply lines. The input gives a command
// (letter, number, maybe an argument) and a reply line. Checks: a value
// reply is the echo, a blank and its text; a reply without value is the
// echo alone; an error has a positive code and is the echo, "E " and that
// code; and the agent's own reply forms, written for the same command,
// parse back to what they carry.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "service/agent_reply.h"

namespace {

void Check(bool condition, const char* what) {
  if (!condition) {
    fprintf(stderr, "agent reply invariant broken: %s\n", what);
    abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 3) return 0;
  const char letters[] = {'S', 'W', 'R', 'C'};
  std::string echo = std::string(1, letters[data[0] % 4]) +
                     std::to_string(static_cast<int32_t>(data[1]) - 2);
  std::string command = echo;
  if (data[2] & 1) command += " " + std::to_string(data[2]);
  const std::string line(reinterpret_cast<const char*>(data) + 3, size - 3);

  const AgentReply reply = ParseAgentReply(command, line);
  switch (reply.kind) {
    case AgentReply::Kind::kValue:
      Check(line == echo + " " + reply.text, "a value reply misread");
      break;
    case AgentReply::Kind::kNoValue:
      Check(line == echo, "a reply without value misread");
      break;
    case AgentReply::Kind::kError:
      Check(reply.code > 0, "an error code not positive");
      Check(line.compare(0, echo.size() + 2, echo + "E ") == 0,
            "an error reply without the echo and E");
      break;
    case AgentReply::Kind::kMismatch:
      Check(
          line.compare(0, echo.size(), echo) != 0 || line.size() > echo.size(),
          "the bare echo taken as a mismatch");
      break;
  }

  // The agent's reply forms for this command round-trip.
  const AgentReply value = ParseAgentReply(command, echo + " " + line);
  Check(value.kind == AgentReply::Kind::kValue && value.text == line,
        "a value reply does not round-trip");
  const int32_t code = 1 + static_cast<int32_t>(size % 20);
  const AgentReply error =
      ParseAgentReply(command, echo + "E " + std::to_string(code));
  Check(error.kind == AgentReply::Kind::kError && error.code == code,
        "an error reply does not round-trip");
  return 0;
}
