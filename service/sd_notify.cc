#include "service/sd_notify.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstddef>
#include <cstdlib>
#include <cstring>

bool SendServiceManagerState(const std::string& socket_path,
                             const std::string& state) {
  struct sockaddr_un address;
  std::memset(&address, 0, sizeof(address));
  address.sun_family = AF_UNIX;
  if (socket_path.size() < 2 ||
      socket_path.size() >= sizeof(address.sun_path)) {
    return false;
  }
  if (socket_path[0] != '/' && socket_path[0] != '@') return false;
  std::memcpy(address.sun_path, socket_path.data(), socket_path.size());
  if (socket_path[0] == '@') address.sun_path[0] = '\0';
  socklen_t length = static_cast<socklen_t>(
      offsetof(struct sockaddr_un, sun_path) + socket_path.size() +
      (socket_path[0] == '@' ? 0 : 1));

  int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  ssize_t sent = sendto(fd, state.data(), state.size(), MSG_NOSIGNAL,
                        reinterpret_cast<struct sockaddr*>(&address), length);
  close(fd);
  return sent == static_cast<ssize_t>(state.size());
}

bool NotifyServiceManager(const std::string& state) {
  const char* path = std::getenv("NOTIFY_SOCKET");
  if (path == nullptr) return false;
  return SendServiceManagerState(path, state);
}
