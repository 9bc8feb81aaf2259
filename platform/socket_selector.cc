#include "platform/socket_selector.h"

#include <sys/time.h>
#include <unistd.h>

#include <algorithm>

#include "platform/socket.h"

SocketSelector::SocketSelector() {
  for (int i = 0; i < 3; ++i) {
    FD_ZERO(&master_[i]);
    FD_ZERO(&result_[i]);
  }
}

SocketSelector& SocketSelector::Instance() {
  static SocketSelector* selector = new SocketSelector();
  return *selector;
}

bool SocketSelector::Fits(int set, int descriptor) {
  return set >= 0 && set < 3 && descriptor >= 0 && descriptor < FD_SETSIZE;
}

bool SocketSelector::Add(int set, const Socket& socket) {
  if (!Fits(set, socket.descriptor())) return false;
  FD_SET(socket.descriptor(), &master_[set]);
  return true;
}

void SocketSelector::Remove(int set, const Socket& socket) {
  if (!Fits(set, socket.descriptor())) return;
  FD_CLR(socket.descriptor(), &master_[set]);
}

bool SocketSelector::Wait(int32_t millis) {
  if (millis < 0) millis = 0;
  for (int i = 0; i < 3; ++i) result_[i] = master_[i];
  timeval timeout{};
  timeout.tv_sec = millis / 1000;
  timeout.tv_usec = (millis % 1000) * 1000;
  // The sets hold FD_SETSIZE bits; a larger descriptor table must not make
  // select look past them.
  int count = std::min(getdtablesize(), static_cast<int>(FD_SETSIZE));
  int ready = select(count, &result_[kRead], &result_[kWrite], &result_[kError],
                     &timeout);
  if (ready <= 0) {
    // Time-out or error: nothing is ready.
    for (int i = 0; i < 3; ++i) FD_ZERO(&result_[i]);
    return false;
  }
  return true;
}

bool SocketSelector::IsSet(int set, const Socket& socket) const {
  if (!Fits(set, socket.descriptor())) return false;
  return FD_ISSET(socket.descriptor(), &result_[set]) != 0;
}
