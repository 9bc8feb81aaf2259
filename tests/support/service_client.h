#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstring>
#include <string>
#include <thread>

#include "common/service_wire.h"

// A client of the service for tests: a real TCP connection to 127.0.0.1 on
// the given port, one request and one CR-ended reply at a time (LF-ended
// for the NUT listener), every wait bounded.
class ServiceClient final {
 public:
  explicit ServiceClient(char line_end = '\r') : line_end_(line_end) {}
  ServiceClient(const ServiceClient&) = delete;
  ServiceClient& operator=(const ServiceClient&) = delete;
  ~ServiceClient() { Close(); }

  bool Connect(uint16_t port) {
    Close();
    fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    struct sockaddr_in address;
    std::memset(&address, 0, sizeof(address));
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd_ >= 0 && connect(fd_, reinterpret_cast<struct sockaddr*>(&address),
                            sizeof(address)) == 0) {
      return true;
    }
    Close();
    return false;
  }

  void Close() {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
    buffer_.clear();
  }

  // Sends raw bytes; false on failure.
  bool SendRaw(const std::string& bytes) {
    for (size_t sent = 0; sent < bytes.size();) {
      struct pollfd entry = {fd_, POLLOUT, 0};
      if (poll(&entry, 1, 5000) <= 0) return false;
      ssize_t done =
          send(fd_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
      if (done <= 0) return false;
      sent += static_cast<size_t>(done);
    }
    return true;
  }

  // Sends request and the line end, then reads the reply up to its line end
  // (which is removed). Returns "<no reply>" when nothing complete came within
  // millis, "<closed>" when the service closed the connection.
  std::string Transact(const std::string& request, int32_t millis = 5000) {
    return SendRaw(request + line_end_) ? ReadReply(millis) : "<closed>";
  }

  std::string ReadReply(int32_t millis = 5000) {
    auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(millis);
    for (;;) {
      size_t cr = buffer_.find(line_end_);
      if (cr != std::string::npos) {
        std::string reply = buffer_.substr(0, cr);
        buffer_.erase(0, cr + 1);
        return reply;
      }
      int64_t left = std::chrono::duration_cast<std::chrono::milliseconds>(
                         deadline - std::chrono::steady_clock::now())
                         .count();
      if (left <= 0) return "<no reply>";
      struct pollfd entry = {fd_, POLLIN, 0};
      if (poll(&entry, 1, static_cast<int>(left)) <= 0) continue;
      char chunk[4096];
      ssize_t got = recv(fd_, chunk, sizeof(chunk), 0);
      if (got <= 0) return "<closed>";  // end of stream or reset
      buffer_.append(chunk, static_cast<size_t>(got));
    }
  }

  // Sends the two login requests; true when both succeeded.
  bool Login() {
    return Transact(std::string("USR NAME ") + service_wire::kLoginUser)
                   .compare(0, 4, "ERR ") != 0 &&
           Transact(std::string("USR PASS ") + service_wire::kLoginPassword)
                   .compare(0, 4, "ERR ") != 0;
  }

  // True when the service closed the connection within about millis
  // (replies it still sent are dropped).
  bool WaitClosed(int32_t millis = 5000) {
    for (int32_t replies = 0; replies < 100; ++replies) {
      std::string reply = ReadReply(millis);
      if (reply == "<closed>") return true;
      if (reply == "<no reply>") return false;
    }
    return false;
  }

 private:
  char line_end_;
  int fd_ = -1;
  std::string buffer_;
};

// Checks condition every step_ms until it holds or millis passed.
template <typename Condition>
bool Eventually(Condition condition, int32_t millis = 5000,
                int32_t step_ms = 2) {
  auto deadline =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(millis);
  for (;;) {
    if (condition()) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(step_ms));
  }
}
