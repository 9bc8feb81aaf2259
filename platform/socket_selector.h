#pragma once

#include <sys/select.h>

#include <cstdint>

class Socket;

// The process-wide readiness wait over three registration sets (0 read,
// 1 write, 2 error). Each Wait copies them into result sets that IsSet then
// reads. Not locked: one thread uses it.
class SocketSelector final {
 public:
  enum Set { kRead = 0, kWrite = 1, kError = 2 };

  SocketSelector();
  SocketSelector(const SocketSelector&) = delete;
  SocketSelector& operator=(const SocketSelector&) = delete;

  // The single selector, made on first use and never freed.
  static SocketSelector& Instance();

  // Registers the socket's descriptor in a set. False, and nothing set, for
  // a bad set number or a descriptor outside 0 .. FD_SETSIZE - 1 (a
  // descriptor set has no room for it).
  bool Add(int set, const Socket& socket);
  // Clears the registration; does nothing for what Add would refuse.
  void Remove(int set, const Socket& socket);
  // Waits up to millis (negative counts as 0) for a registered descriptor to
  // become ready. True when at least one is; false on time-out or error.
  bool Wait(int32_t millis);
  // Whether the descriptor was ready in the given set at the last Wait.
  bool IsSet(int set, const Socket& socket) const;

 private:
  static bool Fits(int set, int descriptor);

  fd_set master_[3];
  fd_set result_[3];
};
