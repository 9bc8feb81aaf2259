#include "agent/media/platform_factory.h"

#include <sstream>

bool ParseDeviceEntry(const std::string& entry, int32_t* type, int32_t* index) {
  std::istringstream in(entry);
  int32_t entry_type = -1;
  int32_t entry_index = -1;
  char separator = 0;
  in >> entry_type >> separator >> entry_index;
  if (in.fail()) return false;
  *type = entry_type;
  *index = entry_index;
  return true;
}
