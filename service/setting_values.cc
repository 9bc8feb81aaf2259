#include "service/setting_values.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include "common/integer_text.h"

namespace {

bool ParsePort(const std::string& text, uint16_t* port) {
  int32_t value = 0;
  if (text.empty() || text[0] == '-' ||
      !ParseWholeInt32(text, 0, 65535, &value)) {
    return false;
  }
  *port = static_cast<uint16_t>(value);
  return true;
}

bool IsIpv4(const std::string& host) {
  struct in_addr address;
  return host == "localhost" || inet_pton(AF_INET, host.c_str(), &address) == 1;
}

bool IsIpv6(const std::string& host) {
  struct in6_addr address;
  return inet_pton(AF_INET6, host.c_str(), &address) == 1;
}

}  // namespace

bool ParseIpv4HostPort(const std::string& text, std::string* host,
                       uint16_t* port) {
  size_t colon = text.rfind(':');
  if (colon == std::string::npos || colon == 0) return false;
  std::string host_text = text.substr(0, colon);
  uint16_t parsed_port = 0;
  if (!IsIpv4(host_text) || !ParsePort(text.substr(colon + 1), &parsed_port)) {
    return false;
  }
  *host = host_text;
  *port = parsed_port;
  return true;
}

bool ParseListenAddress(const std::string& text, ListenAddress* address) {
  if (text == "off") {
    *address = ListenAddress();
    return true;
  }
  ListenAddress parsed;
  parsed.enabled = true;
  if (!text.empty() && text[0] == '[') {
    size_t close = text.find("]:");
    if (close == std::string::npos) return false;
    parsed.host = text.substr(1, close - 1);
    if (!IsIpv6(parsed.host) ||
        !ParsePort(text.substr(close + 2), &parsed.port)) {
      return false;
    }
  } else if (!ParseIpv4HostPort(text, &parsed.host, &parsed.port)) {
    return false;
  }
  *address = parsed;
  return true;
}

bool ParseBoolean(const std::string& text, bool* value) {
  if (text == "yes" || text == "true" || text == "on" || text == "1") {
    *value = true;
    return true;
  }
  if (text == "no" || text == "false" || text == "off" || text == "0") {
    *value = false;
    return true;
  }
  return false;
}

bool ParseSeconds(const std::string& text, int32_t maximum, int32_t* value) {
  if (text.empty() || text[0] == '-') return false;
  return ParseWholeInt32(text, 0, maximum, value);
}

std::string ListenAddressText(const ListenAddress& address) {
  if (!address.enabled) return "off";
  std::string port = std::to_string(address.port);
  if (address.host.find(':') != std::string::npos) {
    return "[" + address.host + "]:" + port;
  }
  return address.host + ":" + port;
}
