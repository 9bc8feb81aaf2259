#include "tool/device_line.h"

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

int32_t GetPortChoices(ServiceConnection* connection, DeviceList* devices,
                       int32_t* type, int32_t* index) {
  int32_t result = connection->GetPropMediaDevices(devices);
  if (result == 0) result = connection->GetPropMediaType(type);
  if (result == 0) result = connection->GetPropMediaIndex(index);
  return result;
}
