#pragma once

#include <cstdint>
#include <string>

#include "service/front_end_settings.h"

// Readers of the values that the configuration file and the command line
// share, so both accept and refuse the same texts. Each returns false and
// leaves its output alone on a bad value.

// "ADDR:PORT", ADDR a numeric IPv4 address or localhost, PORT 0 to 65535.
bool ParseIpv4HostPort(const std::string& text, std::string* host,
                       uint16_t* port);

// "off", "ADDR:PORT" as above, or "[IPV6]:PORT".
bool ParseListenAddress(const std::string& text, ListenAddress* address);

// yes/no, true/false, on/off, 1/0.
bool ParseBoolean(const std::string& text, bool* value);

// Whole seconds from 0 to maximum, digits only.
bool ParseSeconds(const std::string& text, int32_t maximum, int32_t* value);

// The text form of an address: "off", "ADDR:PORT" or "[IPV6]:PORT".
std::string ListenAddressText(const ListenAddress& address);
