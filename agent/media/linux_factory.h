#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "agent/media/platform_factory.h"

// The platform factory of Linux: pipes over descriptors, serial ports as the
// only media (type 2), and a device list of None, Auto and the serial ports.
class LinuxFactory final : public PlatformFactory {
 public:
  LinuxFactory() = default;
  ~LinuxFactory() override = default;

  // A PipePipe over the two descriptors, which it then owns.
  IPipe* CreatePipe(int32_t input_fd, int32_t output_fd) override;

  // An opened LinuxSerialMedia for type 2, else null (also when the port
  // cannot be opened; the media reports why on standard error).
  IMedia* CreateMedia(int32_t type, int32_t index) override;

  // "0.0.None", "1.0.Auto", then one "2.n.name" per serial port.
  bool GetDeviceList(std::vector<std::string>* list) override;

  void Release() override;
};
