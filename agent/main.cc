#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdlib>

#include "agent/device.h"
#include "agent/media/linux_factory.h"

namespace {

// A program argument as a number, the way atoi reads it, but without its
// undefined overflow: text that is no number in the 32-bit range gives 0.
int32_t ArgumentValue(const char* text) {
  char* end = nullptr;
  errno = 0;
  long value = std::strtol(text, &end, 10);
  // Where long has 32 bits, strtol saturates and reports ERANGE instead.
  if (end == text || errno == ERANGE || value < INT32_MIN ||
      value > INT32_MAX) {
    return 0;
  }
  return static_cast<int32_t>(value);
}

}  // namespace

int main(int argc, char** argv) {
  // A reader that has gone away must make the reply write fail (and the
  // agent stop) rather than kill the process.
  std::signal(SIGPIPE, SIG_IGN);

  int32_t media_type = argc > 1 ? ArgumentValue(argv[1]) : 0;
  int32_t media_index = argc > 2 ? ArgumentValue(argv[2]) : 0;

  PlatformFactory* platform = new LinuxFactory;
  Device* device = new Device(platform, media_type, media_index);
  device->Run();
  platform->Release();
  device->Release();
  return 0;
}
