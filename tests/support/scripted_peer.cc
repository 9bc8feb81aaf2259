#include "tests/support/scripted_peer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

ScriptedPeer::~ScriptedPeer() { Stop(); }

bool ScriptedPeer::Start() {
  if (pipe(wake_fds_) != 0) return false;
  listen_fd_ = socket(AF_INET, SOCK_STREAM, 0);
  if (listen_fd_ < 0) return false;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = 0;
  socklen_t size = sizeof(address);
  if (bind(listen_fd_, reinterpret_cast<sockaddr*>(&address), size) != 0 ||
      listen(listen_fd_, 8) != 0 ||
      getsockname(listen_fd_, reinterpret_cast<sockaddr*>(&address), &size) !=
          0) {
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

void ScriptedPeer::Expect(const std::string& request, PeerReply reply) {
  std::lock_guard<std::mutex> lock(mutex_);
  steps_.push_back(Step{request, std::move(reply)});
}

void ScriptedPeer::SetHandler(Handler handler) {
  std::lock_guard<std::mutex> lock(mutex_);
  handler_ = std::move(handler);
}

std::vector<std::string> ScriptedPeer::requests() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return requests_;
}

std::vector<std::string> ScriptedPeer::mismatches() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return mismatches_;
}

size_t ScriptedPeer::pending_steps() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return steps_.size();
}

size_t ScriptedPeer::connections() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return connections_;
}

bool ScriptedPeer::WaitForRequests(size_t count, int32_t timeout_millis) {
  std::unique_lock<std::mutex> lock(mutex_);
  return changed_.wait_for(lock, std::chrono::milliseconds(timeout_millis),
                           [&] { return requests_.size() >= count; });
}

bool ScriptedPeer::WaitReadable(int fd, int32_t timeout_millis,
                                bool* timed_out) {
  pollfd fds[2] = {{fd, POLLIN, 0}, {wake_fds_[0], POLLIN, 0}};
  *timed_out = false;
  while (true) {
    int ready = poll(fds, 2, timeout_millis);
    if (ready < 0 && errno == EINTR) continue;
    if (ready < 0) return false;
    if (ready == 0) {
      *timed_out = true;
      return true;
    }
    if (fds[1].revents != 0) return false;
    return true;
  }
}

void ScriptedPeer::Serve() {
  while (true) {
    bool timed_out = false;
    if (!WaitReadable(listen_fd_, -1, &timed_out)) return;
    int fd = accept(listen_fd_, nullptr, nullptr);
    if (fd < 0) continue;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      ++connections_;
    }
    ServeConnection(fd);
    close(fd);
  }
}

bool ScriptedPeer::NextReply(const std::string& request, PeerReply* reply) {
  std::lock_guard<std::mutex> lock(mutex_);
  requests_.push_back(request);
  changed_.notify_all();
  if (!steps_.empty()) {
    Step step = std::move(steps_.front());
    steps_.pop_front();
    if (step.request != request) {
      mismatches_.push_back("expected [" + step.request + "] got [" + request +
                            "]");
    }
    *reply = std::move(step.reply);
    return true;
  }
  if (handler_) {
    *reply = handler_(request);
    return true;
  }
  mismatches_.push_back("unexpected [" + request + "]");
  return false;
}

bool ScriptedPeer::SendAll(int fd, const std::string& bytes) {
  size_t sent = 0;
  while (sent < bytes.size()) {
    // Waits for room without blocking in send, so Stop always gets through
    // even when the client has stopped reading.
    pollfd fds[2] = {{fd, POLLOUT, 0}, {wake_fds_[0], POLLIN, 0}};
    int ready = poll(fds, 2, -1);
    if (ready < 0 && errno == EINTR) continue;
    if (ready < 0 || fds[1].revents != 0) return false;
    ssize_t count = send(fd, bytes.data() + sent, bytes.size() - sent,
                         MSG_NOSIGNAL | MSG_DONTWAIT);
    if (count < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (count <= 0) return false;
    sent += static_cast<size_t>(count);
  }
  return true;
}

void ScriptedPeer::ServeConnection(int fd) {
  std::string pending;
  bool timed_out = false;
  while (true) {
    if (!read_requests_) {
      // Hold the connection open without reading until the peer stops.
      WaitReadable(-1, -1, &timed_out);
      return;
    }
    if (!WaitReadable(fd, -1, &timed_out)) return;
    char buffer[4096];
    ssize_t count = recv(fd, buffer, sizeof(buffer), 0);
    if (count < 0 && errno == EINTR) continue;
    if (count <= 0) return;
    pending.append(buffer, static_cast<size_t>(count));
    size_t cr;
    while ((cr = pending.find('\r')) != std::string::npos) {
      std::string request = pending.substr(0, cr + 1);
      pending.erase(0, cr + 1);
      PeerReply reply;
      if (!NextReply(request, &reply)) return;
      for (size_t i = 0; i < reply.pieces.size(); ++i) {
        if (i > 0 && reply.gap_millis > 0) {
          if (!WaitReadable(-1, reply.gap_millis, &timed_out)) return;
        }
        if (!SendAll(fd, reply.pieces[i])) return;
      }
      if (reply.close_after) return;
    }
  }
}
