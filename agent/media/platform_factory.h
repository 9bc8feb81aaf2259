#pragma once

#include <cstdint>
#include <string>
#include <vector>

class IMedia;
class IPipe;

// Media types, the vocabulary of the whole agent.
namespace media_type {
constexpr int32_t kNone = 0;
constexpr int32_t kAutomatic = 1;
constexpr int32_t kSerial = 2;
constexpr int32_t kSecondKind = 3;  // not provided on Linux
}  // namespace media_type

// PlatformFactory is the agent's only door to the operating system's
// objects: the pipe to the UPS service, the media, and the list of selectable
// devices. LinuxFactory is the real one; tests pass a fake.
//
// A device list entry is "type.index.name", for example "2.1.ttyS0".
class PlatformFactory {
 public:
  PlatformFactory() = default;
  PlatformFactory(const PlatformFactory&) = delete;
  PlatformFactory& operator=(const PlatformFactory&) = delete;

  // A pipe over the two descriptors, which it owns from then on.
  virtual IPipe* CreatePipe(int32_t input_fd, int32_t output_fd) = 0;

  // An opened media owned by the caller, or null.
  virtual IMedia* CreateMedia(int32_t type, int32_t index) = 0;

  // Replaces *list with the selectable devices; false leaves it unchanged.
  virtual bool GetDeviceList(std::vector<std::string>* list) = 0;

  // Deletes this object.
  virtual void Release() = 0;
  virtual ~PlatformFactory() = default;
};

// Reads "type.index" from the front of a device list entry such as
// "2.1.ttyS0". False, with the outputs untouched, when the entry does not
// start that way.
bool ParseDeviceEntry(const std::string& entry, int32_t* type, int32_t* index);
