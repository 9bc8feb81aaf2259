#include "tool/device_line.h"

#include <cctype>
#include <sstream>

#include "tool/link/device_list.h"
#include "tool/link/service_connection.h"

bool ParseDeviceLine(const std::string& line, DeviceLine* device) {
  std::istringstream stream(line);
  DeviceLine parsed;
  char separator = 0;
  if (!(stream >> parsed.type >> separator >> parsed.index >> separator >>
        parsed.name)) {
    return false;
  }
  *device = parsed;
  return true;
}

bool PortNameMatches(const std::string& name, const std::string& wanted) {
  if (name.size() != wanted.size()) return false;
  for (size_t i = 0; i < name.size(); ++i) {
    const auto a = static_cast<unsigned char>(name[i]);
    const auto b = static_cast<unsigned char>(wanted[i]);
    if (std::tolower(a) != std::tolower(b)) return false;
  }
  return true;
}

int32_t GetPortChoices(ServiceConnection* connection, DeviceList* devices,
                       int32_t* type, int32_t* index) {
  int32_t result = connection->GetPropMediaDevices(devices);
  if (result == 0) result = connection->GetPropMediaType(type);
  if (result == 0) result = connection->GetPropMediaIndex(index);
  return result;
}
