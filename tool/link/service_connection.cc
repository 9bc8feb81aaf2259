#include "tool/link/service_connection.h"

#include <sys/socket.h>

#include <cerrno>
#include <cstring>

#include "platform/inet_address.h"
#include "platform/linux_platform.h"
#include "platform/socket.h"
#include "platform/socket_selector.h"
#include "tool/link/template_codec.h"

namespace {

bool IsRetryable(int error) {
  return error == EINTR || error == EAGAIN || error == EWOULDBLOCK;
}

// Registers a socket in one set of the selector for the length of a scope,
// so every way out of an exchange leaves the set as it found it.
class Registration {
 public:
  Registration(SocketSelector* selector, SocketSelector::Set set,
               const Socket& socket)
      : selector_(selector),
        set_(set),
        socket_(socket),
        added_(selector->Add(set, socket)) {}
  ~Registration() {
    if (added_) selector_->Remove(set_, socket_);
  }
  Registration(const Registration&) = delete;
  Registration& operator=(const Registration&) = delete;

  bool added() const { return added_; }

 private:
  SocketSelector* selector_;
  SocketSelector::Set set_;
  const Socket& socket_;
  bool added_;
};

}  // namespace

ServiceConnection::ServiceConnection()
    : ServiceConnection(GetPlatform(), &SocketSelector::Instance()) {}

ServiceConnection::ServiceConnection(Platform* platform,
                                     SocketSelector* selector)
    : platform_(platform), selector_(selector) {}

ServiceConnection::~ServiceConnection() {
  if (socket_ != nullptr) socket_->Close();
}

bool ServiceConnection::Connect(const std::string& host, uint16_t port) {
  if (socket_ == nullptr) {
    if (platform_ == nullptr) return false;
    socket_ = platform_->CreateSocket();
    if (socket_ == nullptr) return false;
  }
  if (!socket_->Create(AF_INET, SOCK_STREAM, 0, true)) return false;
  InetAddress address;
  if (!address.SetHost(host)) return false;
  address.SetPort(port);
  if (!socket_->Connect(address)) {
    // A socket whose connect failed cannot be connected again.
    socket_->Close();
    return false;
  }
  return true;
}

bool ServiceConnection::IsConnected() const {
  return socket_ != nullptr && socket_->descriptor() != -1;
}

void ServiceConnection::SetTimeouts(int32_t send_millis,
                                    int32_t receive_millis) {
  send_timeout_millis_ = send_millis;
  receive_timeout_millis_ = receive_millis;
}

int32_t ServiceConnection::TransactList(const char* request_template,
                                        std::initializer_list<LinkArg> args) {
  std::string request;
  ReplyPattern pattern;
  int32_t result = FormatRequest(request_template, args, &request, &pattern);
  if (result != kSuccess) return result;
  result = SendRequest(request);
  if (result != kSuccess) return result;
  std::string reply;
  result = ReceiveReply(&reply);
  if (result != kSuccess) return result;
  return ReadReply(reply, pattern);
}

int32_t ServiceConnection::SendRequest(const std::string& request) {
  return DropOnFailure(SendAll(request));
}

int32_t ServiceConnection::ReceiveReply(std::string* reply) {
  return DropOnFailure(ReceiveUntilCr(reply));
}

int32_t ServiceConnection::DropOnFailure(int32_t result) {
  // After a failed send or receive the byte stream is out of step: a part
  // of the request may be unsent, or a late or cut-off reply may still be on
  // its way and would be taken as the answer to the next request. Closing
  // the connection makes every later exchange fail instead.
  if (result != kSuccess && socket_ != nullptr) socket_->Close();
  return result;
}

int32_t ServiceConnection::SendAll(const std::string& request) {
  if (!IsConnected() || selector_ == nullptr) return kCommFailure;
  Registration registration(selector_, SocketSelector::kWrite, *socket_);
  if (!registration.added()) return kCommFailure;
  size_t sent = 0;
  while (sent < request.size()) {
    if (!selector_->Wait(send_timeout_millis_) ||
        !selector_->IsSet(SocketSelector::kWrite, *socket_)) {
      return kCommFailure;
    }
    // Never blocks past the readiness wait, and a service that went away
    // gives an error instead of the broken-pipe signal.
    ssize_t count = socket_->Send(request.data() + sent, request.size() - sent,
                                  MSG_NOSIGNAL | MSG_DONTWAIT);
    if (count < 0) {
      if (IsRetryable(errno)) continue;
      return kCommFailure;
    }
    sent += static_cast<size_t>(count);
  }
  return kSuccess;
}

int32_t ServiceConnection::ReceiveUntilCr(std::string* reply) {
  if (!IsConnected() || selector_ == nullptr) return kCommFailure;
  Registration registration(selector_, SocketSelector::kRead, *socket_);
  if (!registration.added()) return kCommFailure;
  size_t received = 0;
  char buffer[kReceiveChunk];
  while (true) {
    if (!selector_->Wait(receive_timeout_millis_) ||
        !selector_->IsSet(SocketSelector::kRead, *socket_)) {
      return kCommFailure;
    }
    ssize_t count = socket_->Receive(buffer, sizeof(buffer), MSG_DONTWAIT);
    if (count < 0 && IsRetryable(errno)) continue;
    // An error, or 0 bytes: the service closed the connection.
    if (count <= 0) return kCommFailure;
    size_t length = static_cast<size_t>(count);
    received += length;
    if (received > kMaxReplyBytes) return kCommFailure;
    reply->append(buffer, length);
    if (std::memchr(buffer, '\r', length) != nullptr) return kSuccess;
  }
}
