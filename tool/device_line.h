#pragma once

#include <cstdint>
#include <string>

class DeviceList;
class ServiceConnection;

// One selectable port as the UPS service lists it: a type number, one
// separator character, an index, one separator character and a name, for
// example "2.1.ttyS0".
struct DeviceLine {
  int32_t type = 0;
  int32_t index = 0;
  std::string name;
};

// Reads `line` the way a text stream would (white space allowed before each
// part, the name ends at white space). False, with `device` unchanged, when
// a part is missing or a number does not fit in 32 bits.
bool ParseDeviceLine(const std::string& line, DeviceLine* device);

// Whether a device line's name is `wanted`, ignoring ASCII letter case. The
// whole names are compared, bytes after a NUL included.
bool PortNameMatches(const std::string& name, const std::string& wanted);

// Asks the service for its list of selectable ports, then the media type and
// media index in use, stopping at the first request that fails. Returns that
// request's result, or 0.
int32_t GetPortChoices(ServiceConnection* connection, DeviceList* devices,
                       int32_t* type, int32_t* index);
