#pragma once

#include <cstdint>
#include <string>

// A client of the service for tests: a real TCP connection to 127.0.0.1 on
// the given port, one request and one CR-ended reply at a time, every wait
// bounded.
class ServiceClient final {
 public:
  ServiceClient() = default;
  ServiceClient(const ServiceClient&) = delete;
  ServiceClient& operator=(const ServiceClient&) = delete;
  ~ServiceClient();

  bool Connect(uint16_t port);
  void Close();

  // Sends raw bytes; false on failure.
  bool SendRaw(const std::string& bytes);

  // Sends request and a CR, then reads the reply up to its CR (which is
  // removed). Returns "<no reply>" when nothing complete came within
  // millis, "<closed>" when the service closed the connection.
  std::string Transact(const std::string& request, int32_t millis = 5000);

  // Reads one reply without sending anything.
  std::string ReadReply(int32_t millis = 5000);

  // Sends the two login requests; true when both succeeded.
  bool Login();

  // True when the service closed the connection within millis (reading
  // and dropping anything it still sent).
  bool WaitClosed(int32_t millis = 5000);

 private:
  int fd_ = -1;
  std::string buffer_;
};

// An RAII temporary folder, removed with its content.
class TempDir final {
 public:
  TempDir();
  ~TempDir();
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// Polls condition every few milliseconds until it holds or millis passed.
template <typename Condition>
bool Eventually(Condition condition, int32_t millis = 5000);

#include <chrono>
#include <thread>

template <typename Condition>
bool Eventually(Condition condition, int32_t millis) {
  auto deadline =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(millis);
  for (;;) {
    if (condition()) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
}
