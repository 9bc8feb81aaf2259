#include "agent/media/linux_factory.h"

#include <sstream>

#include "agent/media/linux_serial_media.h"
#include "agent/pipe_pipe.h"

namespace {

std::string FixedEntry(int32_t type, const char* name) {
  std::ostringstream entry;
  entry << type << ".0." << name;
  return entry.str();
}

}  // namespace

IPipe* LinuxFactory::CreatePipe(int32_t input_fd, int32_t output_fd) {
  return new PipePipe(input_fd, output_fd);
}

IMedia* LinuxFactory::CreateMedia(int32_t type, int32_t index) {
  // The second media kind does not exist on Linux.
  if (type != media_type::kSerial) return nullptr;
  LinuxSerialMedia* media = new LinuxSerialMedia;
  if (media->Create(static_cast<uint32_t>(index)) == 0) {
    media->Release();
    return nullptr;
  }
  return media;
}

bool LinuxFactory::GetDeviceList(std::vector<std::string>* list) {
  std::vector<std::string> devices;
  devices.push_back(FixedEntry(media_type::kNone, "None"));
  devices.push_back(FixedEntry(media_type::kAutomatic, "Auto"));
  if (!LinuxSerialMedia::GetDeviceEntries(&devices)) return false;
  list->swap(devices);
  return true;
}

void LinuxFactory::Release() { delete this; }
