#include "tests/support/scripted_peer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

bool ScriptedPeer::Start(bool read_requests) {
  read_requests_ = read_requests;
  if (pipe(wake_fds_) != 0) return false;
  listen_fd_ = socket(AF_INET, SOCK_STREAM, 0);
  if (listen_fd_ < 0) return false;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof(address);
  sockaddr* raw = reinterpret_cast<sockaddr*>(&address);
  if (bind(listen_fd_, raw, size) != 0 || listen(listen_fd_, 8) != 0 ||
      getsockname(listen_fd_, raw, &size) != 0) {
    return false;
  }
  port_ = ntohs(address.sin_port);
  thread_ = std::thread(&ScriptedPeer::Serve, this);
  return true;
}

void ScriptedPeer::Stop() {
  if (thread_.joinable()) {
    char byte = 1;
    ssize_t ignored = write(wake_fds_[1], &byte, 1);
    (void)ignored;
    thread_.join();
  }
  for (int* fd : {&listen_fd_, &wake_fds_[0], &wake_fds_[1]}) {
    if (*fd >= 0) close(*fd);
    *fd = -1;
  }
}

void ScriptedPeer::Reply(PeerReply reply) {
  std::lock_guard<std::mutex> lock(mutex_);
  replies_.push_back(std::move(reply));
}

void ScriptedPeer::SetHandler(Handler handler) {
  std::lock_guard<std::mutex> lock(mutex_);
  handler_ = std::move(handler);
}

std::vector<std::string> ScriptedPeer::requests() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return requests_;
}

bool ScriptedPeer::Wait(int fd, int16_t events, int32_t timeout_millis) {
  pollfd fds[2] = {{fd, events, 0}, {wake_fds_[0], POLLIN, 0}};
  int ready;
  do {
    ready = poll(fds, 2, timeout_millis);
  } while (ready < 0 && errno == EINTR);
  return ready >= 0 && fds[1].revents == 0;
}

void ScriptedPeer::Serve() {
  while (Wait(listen_fd_, POLLIN, -1)) {
    int fd = accept(listen_fd_, nullptr, nullptr);
    if (fd < 0) continue;
    ServeConnection(fd);
    close(fd);
  }
}

bool ScriptedPeer::NextReply(const std::string& request, PeerReply* reply) {
  std::lock_guard<std::mutex> lock(mutex_);
  requests_.push_back(request);
  if (!replies_.empty()) {
    *reply = std::move(replies_.front());
    replies_.pop_front();
    return true;
  }
  if (handler_) {
    *reply = handler_(request);
    return true;
  }
  return false;
}

bool ScriptedPeer::SendAll(int fd, const std::string& bytes) {
  size_t sent = 0;
  // Waits for room rather than blocking in send, so Stop always gets through
  // even when the client has stopped reading.
  while (sent < bytes.size() && Wait(fd, POLLOUT, -1)) {
    ssize_t count = send(fd, bytes.data() + sent, bytes.size() - sent,
                         MSG_NOSIGNAL | MSG_DONTWAIT);
    if (count < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (count <= 0) return false;
    sent += static_cast<size_t>(count);
  }
  return sent == bytes.size();
}

void ScriptedPeer::ServeConnection(int fd) {
  if (!read_requests_) {
    Wait(-1, 0, -1);  // hold the connection open until the peer stops
    return;
  }
  std::string pending;
  char buffer[4096];
  while (Wait(fd, POLLIN, -1)) {
    ssize_t count = recv(fd, buffer, sizeof(buffer), 0);
    if (count < 0 && errno == EINTR) continue;
    if (count <= 0) return;
    pending.append(buffer, static_cast<size_t>(count));
    for (size_t cr; (cr = pending.find('\r')) != std::string::npos;) {
      PeerReply reply;
      if (!NextReply(pending.substr(0, cr + 1), &reply)) return;
      pending.erase(0, cr + 1);
      for (size_t i = 0; i < reply.pieces.size(); ++i) {
        if (i > 0 && !Wait(-1, 0, reply.gap_millis)) return;
        if (!SendAll(fd, reply.pieces[i])) return;
      }
      if (reply.close_after) return;
    }
  }
}
