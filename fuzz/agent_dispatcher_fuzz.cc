// The agent's pipe command dispatcher fed arbitrary standard-input bytes:
// the input is cut into command lines at each LF the way Device reads them
// (a line over Device::kMaxLineLength bytes is passed cut off), and each line
// goes straight to CommandDispatcher against a fake protocol, so nothing
// waits. A C4 that asks for a new protocol gets one, or none at all every
// other time (then every protocol operation answers 1). Checks: one reply
// line per command line, each echoing the command's letter and the number
// read from the line the way strtol reads it; a success reply is that echo
// alone or with " value"; an error reply ends in "E n" with the result the
// dispatcher returned, a known code; a cut-off line answers 16.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>

#include "agent/command_dispatcher.h"
#include "agent/device.h"
#include "agent/protocol/result_codes.h"
#include "tests/support/fake_platform_factory.h"
#include "tests/support/fake_protocol.h"

namespace {

void Check(bool condition, const char* what) {
  if (!condition) {
    fprintf(stderr, "dispatcher invariant broken: %s\n", what);
    abort();
  }
}

std::unique_ptr<FakeProtocol> MakeProtocol() {
  auto protocol = std::make_unique<FakeProtocol>();
  // A mix of answers: values, refusals and texts of both kinds.
  const char* values[] = {
      "GetInputVoltage", "GetBatteryCapacity", "GetPowerFail",
      "GetInputHigh",    "GetBuzzerSetting",   "GetRatedVA",
      "GetMediaType",    "GetMediaIndex",      "SetInputHigh",
      "SetBuzzer",       "StartTest",          "ShutdownRestore"};
  int32_t value = -2;
  for (const char* name : values)
    protocol->SetAnswer(name, result::kSuccess, value++);
  protocol->SetAnswer("GetLoad", result::kNoAnswer);
  protocol->SetAnswer("Shutdown", result::kInvalid);
  protocol->SetText("GetModelName", "MODEL 1000");
  protocol->SetText("GetFirmwareVersion", "two\nlines");
  protocol->SetText("GetText36", "");
  // A size beyond what the dispatcher accepts, and a negative one.
  protocol->SetAnswer("GetText33", result::kBufferTooSmall, 1 << 30);
  protocol->SetAnswer("GetInputHighRange", result::kBufferTooSmall, -7);
  return protocol;
}

// The command number as the pipe grammar reads it: strtol in base 10 from
// the second byte (blanks, a sign, digits), -1 without digits or beyond 32
// bits. Written apart from the dispatcher's reader so each checks the other.
int32_t ExpectedNumber(std::string_view line) {
  if (line.size() < 2) return -1;
  size_t i = 1;
  while (i < line.size() &&
         (line[i] == ' ' || (line[i] >= '\t' && line[i] <= '\r'))) {
    ++i;
  }
  bool negative = false;
  if (i < line.size() && (line[i] == '+' || line[i] == '-')) {
    negative = line[i] == '-';
    ++i;
  }
  int64_t value = 0;
  bool digits = false;
  for (; i < line.size() && line[i] >= '0' && line[i] <= '9'; ++i) {
    digits = true;
    value = value * 10 + (line[i] - '0');
    if (value > int64_t{INT32_MAX} + 1) return -1;
  }
  if (!digits) return -1;
  if (negative) value = -value;
  if (value < INT32_MIN || value > INT32_MAX) return -1;
  return static_cast<int32_t>(value);
}

bool KnownCode(int32_t code) {
  return code >= result::kNotSupported && code <= result::kMediaChanged &&
         code != 3 && code != 12;
}

void CheckReply(std::string_view line, bool cut_off, int32_t code,
                const std::string& reply) {
  Check(!reply.empty() && reply.back() == '\n', "a reply without newline");
  Check(reply.find('\n') == reply.size() - 1, "a reply of several lines");
  std::string echo;
  if (!line.empty()) echo.push_back(line[0]);
  echo += std::to_string(ExpectedNumber(line));
  Check(reply.compare(0, echo.size(), echo) == 0,
        "the letter and number echoed");
  const std::string rest =
      reply.substr(echo.size(), reply.size() - 1 - echo.size());
  if (cut_off) Check(code == result::kMalformedArgument, "a cut-off line run");
  if (code == result::kSuccess) {
    Check(rest.empty() || rest[0] == ' ', "a success reply's value");
    return;
  }
  Check(KnownCode(code), "a known result code");
  Check(rest == "E " + std::to_string(code), "the error reply's code");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  FakePlatformFactory platform;
  platform.SetDeviceList({"0.0.None", "1.0.Auto", "2.1./dev/ttyS0",
                          "2.2./dev/tty\nS1,x", "3.0.usb\x7f", "bad"});
  MediaSelection selection;
  CommandDispatcher dispatcher(&platform, &selection);
  std::unique_ptr<FakeProtocol> protocol = MakeProtocol();
  bool next_without_protocol = true;

  // The bytes after the last LF are a partial line, which Device keeps
  // until its LF arrives.
  size_t start = 0;
  for (size_t end; (end = input.find('\n', start)) != std::string_view::npos;
       start = end + 1) {
    std::string_view line = input.substr(start, end - start);
    const size_t kept = static_cast<size_t>(Device::kMaxLineLength);
    const bool cut_off = line.size() > kept;
    if (cut_off) line = line.substr(0, kept);

    std::string reply = "stale";
    const int32_t code =
        dispatcher.Dispatch(line, cut_off, protocol.get(), &reply);
    CheckReply(line, cut_off, code, reply);
    if (code == result::kMediaChanged) {
      protocol.reset();
      if (!next_without_protocol) protocol = MakeProtocol();
      next_without_protocol = !next_without_protocol;
    }
  }
  return 0;
}
