#include "platform/inet_address.h"

#include <arpa/inet.h>
#include <netdb.h>

#include <cstring>

namespace {

// Reads an unsigned 16-bit decimal number that fills the whole text.
bool ParsePort(const std::string& text, uint16_t* port) {
  if (text.empty() || text.size() > 5) return false;
  uint32_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + static_cast<uint32_t>(c - '0');
  }
  if (value > 0xFFFF) return false;
  *port = static_cast<uint16_t>(value);
  return true;
}

// Whether text can be a host name at all: 1 to 253 letters, digits, '-',
// '_' and '.'. Anything else (a blank, a NUL, which would cut the name short
// for the resolver, any other byte) is refused without asking the resolver,
// so the answer never depends on what the machine's name service holds.
bool CanBeHostName(const std::string& text) {
  if (text.empty() || text.size() > 253) return false;
  for (char c : text) {
    const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                    (c >= '0' && c <= '9') || c == '-' || c == '_' || c == '.';
    if (!ok) return false;
  }
  return true;
}

}  // namespace

InetAddress::InetAddress() {
  std::memset(&address_, 0, sizeof(address_));
  address_.sin_family = AF_INET;
}

bool InetAddress::SetHost(const std::string& text) {
  std::string host = text;
  size_t colon = host.rfind(':');
  if (colon != std::string::npos) {
    uint16_t port = 0;
    if (ParsePort(host.substr(colon + 1), &port)) SetPort(port);
    host.erase(colon);
  }

  if (host == "255.255.255.255") {
    address_.sin_addr.s_addr = INADDR_BROADCAST;
    return true;
  }
  in_addr parsed{};
  if (inet_aton(host.c_str(), &parsed) != 0 &&
      parsed.s_addr != INADDR_BROADCAST) {
    address_.sin_addr = parsed;
    return true;
  }

  cached_name_ = host;
  if (!CanBeHostName(host)) return false;
  // gethostbyname answers with IPv4 addresses only and keeps its result in
  // static storage; the tool has one thread.
  hostent* entry = gethostbyname(host.c_str());
  if (entry == nullptr || entry->h_addrtype != AF_INET ||
      entry->h_length != static_cast<int>(sizeof(in_addr)) ||
      entry->h_addr_list == nullptr || entry->h_addr_list[0] == nullptr) {
    return false;
  }
  in_addr first{};
  std::memcpy(&first, entry->h_addr_list[0], sizeof(first));
  if (first.s_addr == INADDR_BROADCAST) return false;
  address_.sin_addr = first;
  return true;
}

const sockaddr* InetAddress::GetSockAddr() const {
  return reinterpret_cast<const sockaddr*>(&address_);
}

sockaddr* InetAddress::GetSockAddr() {
  return reinterpret_cast<sockaddr*>(&address_);
}

socklen_t InetAddress::GetSockAddrSize() const { return sizeof(address_); }

void InetAddress::SetAddress(uint8_t a, uint8_t b, uint8_t c, uint8_t d) {
  SetAddress((static_cast<uint32_t>(a) << 24) |
             (static_cast<uint32_t>(b) << 16) |
             (static_cast<uint32_t>(c) << 8) | static_cast<uint32_t>(d));
}

void InetAddress::SetAddress(uint32_t ip) {
  address_.sin_addr.s_addr = htonl(ip);
  cached_name_.clear();
}

void InetAddress::SetPort(uint16_t port) { address_.sin_port = htons(port); }

bool InetAddress::GetHostName(std::string* out, bool refresh) {
  if (!refresh && !cached_name_.empty()) {
    *out = cached_name_;
    return true;
  }
  cached_name_.clear();
  hostent* entry = gethostbyaddr(&address_.sin_addr, sizeof(in_addr), AF_INET);
  if (entry == nullptr || entry->h_name == nullptr) return false;
  cached_name_ = entry->h_name;
  *out = cached_name_;
  return true;
}

uint32_t InetAddress::GetAddress() const {
  return ntohl(address_.sin_addr.s_addr);
}

uint16_t InetAddress::GetPort() const { return ntohs(address_.sin_port); }

std::string InetAddress::ToString() const {
  std::string text;
  ToString(&text);
  return text;
}

void InetAddress::ToString(std::string* out) const {
  char buffer[INET_ADDRSTRLEN] = {};
  if (inet_ntop(AF_INET, &address_.sin_addr, buffer, sizeof(buffer)) ==
      nullptr) {
    out->clear();
    return;
  }
  *out = buffer;
}
