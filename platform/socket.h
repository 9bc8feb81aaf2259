#pragma once

#include <sys/types.h>

#include <cstddef>
#include <memory>

class Address;

// One BSD socket descriptor and the calls on it; -1 while none is open.
// Results are true when the system call did not fail, or the call's byte
// count (-1 on failure); GetLastError tells why. The destructor does not
// close the descriptor: the owner calls Close.
class Socket final {
 public:
  Socket() = default;
  // Takes over an open descriptor (used by Accept).
  explicit Socket(int descriptor) : descriptor_(descriptor) {}
  Socket(const Socket&) = delete;
  Socket& operator=(const Socket&) = delete;

  // Opens socket(family, type, protocol) when no descriptor is open; with
  // blocking false switches it to non-blocking (closing it again when that
  // fails). True also when a descriptor was already open (nothing changes).
  bool Create(int family, int type, int protocol, bool blocking);

  bool Bind(const Address& address);
  bool Listen(int backlog);
  // The accepted connection, or null (after a line on standard error). The
  // peer's address goes into address when one is given.
  std::unique_ptr<Socket> Accept(Address* address);
  bool Connect(const Address& address);
  // True also when nothing was open; the descriptor is -1 afterwards.
  bool Close();

  ssize_t Receive(void* buffer, size_t size, int flags);
  ssize_t ReceivePeek(void* buffer, size_t size);
  ssize_t ReceiveFrom(void* buffer, size_t size, Address* address, int flags);
  ssize_t ReceiveOutOfBand(void* buffer, size_t size);
  ssize_t ReceiveOutOfBandPeek(void* buffer, size_t size);
  ssize_t ReceiveFromOutOfBand(void* buffer, size_t size, Address* address);
  ssize_t ReceiveFromOutOfBandPeek(void* buffer, size_t size, Address* address);

  ssize_t Send(const void* data, size_t length, int flags);
  // A null address sends on the connection, like Send.
  ssize_t SendTo(const void* data, size_t length, const Address* address,
                 int flags);
  ssize_t Send(const void* data, size_t length);
  ssize_t SendToOutOfBand(const void* data, size_t length,
                          const Address* address);

  bool GetPeerName(Address* address);
  // The local host's name, set as the host of address.
  bool GetHostName(Address* address);
  int GetLastError() const;

  int descriptor() const { return descriptor_; }

 private:
  int descriptor_ = -1;
};
