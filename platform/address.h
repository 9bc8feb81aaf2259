#pragma once

#include <sys/socket.h>

#include <string>

// A socket address, so that Socket can bind, connect and accept without
// knowing the address family. InetAddress (IPv4) is the one real kind.
class Address {
 public:
  Address() = default;
  Address(const Address&) = delete;
  Address& operator=(const Address&) = delete;

  // Parses a host text (address or name, optionally with ":port"); true on
  // success.
  virtual bool SetHost(const std::string& text) = 0;
  virtual const sockaddr* GetSockAddr() const = 0;
  // Writable record, filled by accept, recvfrom and getpeername.
  virtual sockaddr* GetSockAddr() = 0;
  virtual socklen_t GetSockAddrSize() const = 0;

  virtual ~Address() = default;
};
