#include "platform/socket.h"

#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <new>

#include "platform/address.h"

bool Socket::Create(int family, int type, int protocol, bool blocking) {
  if (descriptor_ != -1) return true;
  descriptor_ = socket(family, type, protocol);
  if (descriptor_ == -1) return false;
  if (!blocking) {
    int on = 1;
    if (ioctl(descriptor_, FIONBIO, &on) == -1) {
      int saved = errno;
      close(descriptor_);
      descriptor_ = -1;
      errno = saved;
      return false;
    }
  }
  return true;
}

bool Socket::Bind(const Address& address) {
  return bind(descriptor_, address.GetSockAddr(), address.GetSockAddrSize()) !=
         -1;
}

bool Socket::Listen(int backlog) { return listen(descriptor_, backlog) != -1; }

std::unique_ptr<Socket> Socket::Accept(Address* address) {
  sockaddr* record = nullptr;
  socklen_t size = 0;
  if (address != nullptr) {
    record = address->GetSockAddr();
    size = address->GetSockAddrSize();
  }
  int accepted =
      accept(descriptor_, record, address != nullptr ? &size : nullptr);
  if (accepted == -1) {
    std::fprintf(stderr, "Socket::Accept() call accept() get fail, err : %d \n",
                 errno);
    return nullptr;
  }
  std::unique_ptr<Socket> socket(new (std::nothrow) Socket(accepted));
  if (socket == nullptr) close(accepted);
  return socket;
}

bool Socket::Connect(const Address& address) {
  return connect(descriptor_, address.GetSockAddr(),
                 address.GetSockAddrSize()) != -1;
}

bool Socket::Close() {
  if (descriptor_ == -1) return true;
  int result = close(descriptor_);
  // The descriptor is gone even when close reports an error (Linux never
  // lets it be closed a second time).
  descriptor_ = -1;
  return result != -1;
}

ssize_t Socket::Receive(void* buffer, size_t size, int flags) {
  return recv(descriptor_, buffer, size, flags);
}

ssize_t Socket::ReceivePeek(void* buffer, size_t size) {
  return Receive(buffer, size, MSG_PEEK);
}

ssize_t Socket::ReceiveFrom(void* buffer, size_t size, Address* address,
                            int flags) {
  if (address == nullptr) {
    return recvfrom(descriptor_, buffer, size, flags, nullptr, nullptr);
  }
  socklen_t length = address->GetSockAddrSize();
  return recvfrom(descriptor_, buffer, size, flags, address->GetSockAddr(),
                  &length);
}

ssize_t Socket::ReceiveOutOfBand(void* buffer, size_t size) {
  return Receive(buffer, size, MSG_OOB);
}

ssize_t Socket::ReceiveOutOfBandPeek(void* buffer, size_t size) {
  return Receive(buffer, size, MSG_OOB | MSG_PEEK);
}

ssize_t Socket::ReceiveFromOutOfBand(void* buffer, size_t size,
                                     Address* address) {
  return ReceiveFrom(buffer, size, address, MSG_OOB);
}

ssize_t Socket::ReceiveFromOutOfBandPeek(void* buffer, size_t size,
                                         Address* address) {
  return ReceiveFrom(buffer, size, address, MSG_OOB | MSG_PEEK);
}

ssize_t Socket::Send(const void* data, size_t length, int flags) {
  return send(descriptor_, data, length, flags);
}

ssize_t Socket::SendTo(const void* data, size_t length, const Address* address,
                       int flags) {
  if (address == nullptr) return Send(data, length, flags);
  return sendto(descriptor_, data, length, flags, address->GetSockAddr(),
                address->GetSockAddrSize());
}

ssize_t Socket::Send(const void* data, size_t length) {
  return Send(data, length, 0);
}

ssize_t Socket::SendToOutOfBand(const void* data, size_t length,
                                const Address* address) {
  return SendTo(data, length, address, MSG_OOB);
}

bool Socket::GetPeerName(Address* address) {
  socklen_t length = address->GetSockAddrSize();
  return getpeername(descriptor_, address->GetSockAddr(), &length) != -1;
}

bool Socket::GetHostName(Address* address) {
  char name[128] = {};
  // gethostname does not promise a NUL when the name is cut; the last byte
  // stays 0.
  if (gethostname(name, sizeof(name) - 1) == -1) return false;
  return address->SetHost(name);
}

int Socket::GetLastError() const { return errno; }
