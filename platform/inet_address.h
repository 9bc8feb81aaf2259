#pragma once

#include <netinet/in.h>

#include <cstdint>
#include <string>

#include "platform/address.h"

// An IPv4 address and port with a cached host name. A new one is 0.0.0.0
// port 0 with no name.
class InetAddress final : public Address {
 public:
  InetAddress();

  // "host" or "host:port". A port suffix that reads as an unsigned 16-bit
  // decimal number sets the port; the suffix is dropped in any case (even when
  // the result is false). The host is "255.255.255.255", a dotted quad, or a
  // name, which is resolved and remembered as the cached name. False when the
  // name does not resolve; the address is then unchanged.
  bool SetHost(const std::string& text) override;
  const sockaddr* GetSockAddr() const override;
  sockaddr* GetSockAddr() override;
  socklen_t GetSockAddrSize() const override;

  // a.b.c.d; clears the cached name.
  void SetAddress(uint8_t a, uint8_t b, uint8_t c, uint8_t d);
  // ip in host byte order; clears the cached name.
  void SetAddress(uint32_t ip);
  // port in host byte order.
  void SetPort(uint16_t port);

  // The host name of the address: the cached one unless refresh is set or
  // none is cached, else a reverse lookup (which empties the cache first and
  // fills it on success). False when the lookup fails; out is then unchanged.
  bool GetHostName(std::string* out, bool refresh);

  // In host byte order.
  uint32_t GetAddress() const;
  uint16_t GetPort() const;
  // Dotted quad.
  std::string ToString() const;
  void ToString(std::string* out) const;

  const std::string& cached_name() const { return cached_name_; }

 private:
  sockaddr_in address_;
  std::string cached_name_;
};
