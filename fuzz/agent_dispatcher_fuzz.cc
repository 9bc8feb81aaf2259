// The agent's pipe command dispatcher fed arbitrary standard-input bytes,
// through today's Device::Attach path: a fake pipe delivers the input, a
// fake protocol answers every operation, a fake clock keeps time standing
// still. Checks: one reply line per command line, each echoing the command's
// letter, and every reply either a success or "E n" with a known code.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "agent/device.h"
#include "agent/protocol/result_codes.h"
#include "tests/support/fake_clock.h"
#include "tests/support/fake_pipe.h"
#include "tests/support/fake_platform_factory.h"
#include "tests/support/fake_protocol.h"

namespace {

void Check(bool condition, const char* what) {
  if (!condition) {
    fprintf(stderr, "dispatcher invariant broken: %s\n", what);
    abort();
  }
}

FakeProtocol* MakeProtocol() {
  auto* protocol = new FakeProtocol;
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
  // A size beyond what the dispatcher accepts.
  protocol->SetAnswer("GetText33", result::kBufferTooSmall, 1 << 30);
  return protocol;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  FakeClock clock;
  FakePlatformFactory platform;
  platform.SetDeviceList({"0.0.None", "1.0.Auto", "3.1./dev/ttyS0", "bad"});
  Device device(&platform, 0, 0, &clock);
  auto* pipe = new FakePipe(&clock);
  pipe->AddInput(input);
  device.Attach(pipe, MakeProtocol());

  // Every call takes at least one byte or reports the end of the input.
  int32_t code = 0;
  while ((code = device.ProcessCommand(Device::kPollPeriodMillis)) !=
         result::kPipeClosed) {
    Check(code != result::kTimeout, "a time-out without any waiting");
  }

  std::vector<std::string> commands;
  size_t start = 0;
  for (size_t end; (end = input.find('\n', start)) != std::string::npos;
       start = end + 1) {
    commands.push_back(input.substr(start, end - start));
  }
  const std::string& written = pipe->written();
  Check(written.empty() || written.back() == '\n', "a reply without newline");
  const std::vector<std::string> replies = pipe->Lines();
  Check(replies.size() == commands.size(), "one reply line per command line");
  for (size_t i = 0; i < replies.size(); ++i) {
    const std::string& command = commands[i];
    const std::string& reply = replies[i];
    Check(!reply.empty(), "an empty reply");
    if (!command.empty()) Check(reply[0] == command[0], "the letter echoed");
    const size_t error = reply.rfind("E ");
    if (error != std::string::npos && error + 2 < reply.size() &&
        reply.find(' ') == error + 1) {
      const long number = std::strtol(reply.c_str() + error + 2, nullptr, 10);
      Check(number >= 1 && number <= 20, "a known result code");
    }
  }
  return 0;
}
