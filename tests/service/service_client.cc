#include "tests/service/service_client.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

ServiceClient::~ServiceClient() { Close(); }

bool ServiceClient::Connect(uint16_t port) {
  Close();
  fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd_ < 0) return false;
  struct sockaddr_in address;
  std::memset(&address, 0, sizeof(address));
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(fd_, reinterpret_cast<struct sockaddr*>(&address),
              sizeof(address)) != 0) {
    Close();
    return false;
  }
  return true;
}

void ServiceClient::Close() {
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
  buffer_.clear();
}

bool ServiceClient::SendRaw(const std::string& bytes) {
  size_t sent = 0;
  while (sent < bytes.size()) {
    struct pollfd entry = {fd_, POLLOUT, 0};
    if (poll(&entry, 1, 5000) <= 0) return false;
    ssize_t done =
        send(fd_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
    if (done <= 0) return false;
    sent += static_cast<size_t>(done);
  }
  return true;
}

std::string ServiceClient::Transact(const std::string& request,
                                    int32_t millis) {
  if (!SendRaw(request + "\r")) return "<closed>";
  return ReadReply(millis);
}

std::string ServiceClient::ReadReply(int32_t millis) {
  auto deadline =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(millis);
  for (;;) {
    size_t cr = buffer_.find('\r');
    if (cr != std::string::npos) {
      std::string reply = buffer_.substr(0, cr);
      buffer_.erase(0, cr + 1);
      return reply;
    }
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                    deadline - std::chrono::steady_clock::now())
                    .count();
    if (left <= 0) return "<no reply>";
    struct pollfd entry = {fd_, POLLIN, 0};
    if (poll(&entry, 1, static_cast<int>(left)) <= 0) continue;
    char chunk[4096];
    ssize_t got = recv(fd_, chunk, sizeof(chunk), 0);
    if (got <= 0) return "<closed>";
    buffer_.append(chunk, static_cast<size_t>(got));
  }
}

bool ServiceClient::Login() {
  return Transact("USR NAME manager").compare(0, 4, "ERR ") != 0 &&
         Transact("USR PASS quiet gate").compare(0, 4, "ERR ") != 0;
}

bool ServiceClient::WaitClosed(int32_t millis) {
  auto deadline =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(millis);
  for (;;) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                    deadline - std::chrono::steady_clock::now())
                    .count();
    if (left <= 0) return false;
    struct pollfd entry = {fd_, POLLIN, 0};
    if (poll(&entry, 1, static_cast<int>(left)) <= 0) continue;
    char chunk[4096];
    ssize_t got = recv(fd_, chunk, sizeof(chunk), 0);
    if (got == 0 || (got < 0 && errno == ECONNRESET)) return true;
    if (got < 0) return false;
  }
}

TempDir::TempDir() {
  char pattern[] = "/tmp/kovrad-test-XXXXXX";
  char* made = mkdtemp(pattern);
  path_ = made != nullptr ? made : "";
}

TempDir::~TempDir() {
  if (path_.empty()) return;
  std::string command = "rm -rf '" + path_ + "'";
  int ignored = system(command.c_str());
  (void)ignored;
}
