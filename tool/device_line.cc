#include "tool/device_line.h"

#include <sstream>

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
