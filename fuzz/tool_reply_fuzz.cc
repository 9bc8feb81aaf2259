// The tool's reply reception and every conversion of its template engine,
// over a real loopback connection to a peer that answers with the fuzz
// input. The input is cut after each CR into replies, one per exchange; a
// last reply without CR gets one, so no exchange waits. The exchanges use
// each reply conversion once (%d, %l with %u, %s, %v, %m, %t, %u into a
// device list). Checks: an "ERR " reply is an error and writes no output,
// any other reply succeeds; a plain decimal number reads back exactly; a
// time and a list of maps read from a reply are written by the request side
// in a form that reads back to the same value.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "common/time/timestamp.h"
#include "tool/link/service_connection.h"

namespace {

void Check(bool condition, const char* what) {
  if (!condition) {
    fprintf(stderr, "tool reply invariant broken: %s\n", what);
    abort();
  }
}

// The service's end of the connection, made once per process.
int g_peer = -1;
ServiceConnection* g_connection = nullptr;

bool Open() {
  setenv("TZ", "UTC", 1);
  int listener = socket(AF_INET, SOCK_STREAM, 0);
  if (listener < 0) return false;
  sockaddr_in address = {};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (bind(listener, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
      listen(listener, 1) != 0 ||
      getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) !=
          0) {
    return false;
  }
  g_connection = new ServiceConnection;
  g_connection->SetTimeouts(2000, 2000);
  if (!g_connection->Connect("127.0.0.1", ntohs(address.sin_port))) {
    return false;
  }
  g_peer = accept(listener, nullptr, nullptr);
  close(listener);
  return g_peer >= 0;
}

// The peer's reply to the next request, and what that request was.
void Queue(const std::string& reply) {
  size_t sent = 0;
  while (sent < reply.size()) {
    ssize_t count =
        send(g_peer, reply.data() + sent, reply.size() - sent, MSG_NOSIGNAL);
    Check(count > 0, "the peer cannot send");
    sent += static_cast<size_t>(count);
  }
}
std::string TakeRequest() {
  std::string request;
  char buffer[4096];
  for (;;) {
    ssize_t count = recv(g_peer, buffer, sizeof buffer, MSG_DONTWAIT);
    if (count <= 0) break;
    request.append(buffer, static_cast<size_t>(count));
  }
  return request;
}

bool IsError(const std::string& reply) {
  return reply.compare(0, 4, "ERR ") == 0;
}

// One exchange answered with reply (its CR included).
template <typename... Args>
int32_t Exchange(const std::string& reply, const char* request_template,
                 Args&&... args) {
  Queue(reply);
  const int32_t code =
      g_connection->Transact(request_template, std::forward<Args>(args)...);
  TakeRequest();
  // An "ERR n" reply gives n, whatever it is (the service's numbers may
  // coincide with the tool's own codes); anything else is a success.
  if (IsError(reply)) {
    Check(code != ServiceConnection::kSuccess, "an error reply not reported");
  } else {
    Check(code == ServiceConnection::kSuccess,
          "an exchange with a complete reply failed");
  }
  return code;
}

// What the request side writes for a conversion, without the CR.
std::string WrittenTime(const Timestamp* value) {
  Queue("OK\r");
  g_connection->Transact("X %t\r", value);
  std::string request = TakeRequest();
  Check(request.size() >= 3 && request.back() == '\r', "a request without CR");
  return request.substr(2, request.size() - 3);
}
std::string WrittenMaps(const LinkArg::TextMaps* maps) {
  Queue("OK\r");
  g_connection->Transact("X %m\r", maps);
  std::string request = TakeRequest();
  Check(request.size() >= 3 && request.back() == '\r', "a request without CR");
  return request.substr(2, request.size() - 3);
}

void CheckNumber(const std::string& reply) {
  int32_t number = -4711;
  const int32_t code = Exchange(reply, "DEV STATUS_INVOLT\r%d", &number);
  if (code != ServiceConnection::kSuccess) {
    Check(number == -4711, "an error reply wrote the number");
    return;
  }
  const std::string text = reply.substr(0, reply.size() - 1);
  errno = 0;
  char* end = nullptr;
  const long long parsed = std::strtoll(text.c_str(), &end, 10);
  if (!text.empty() && *end == '\0' && errno == 0 && parsed >= INT32_MIN &&
      parsed <= INT32_MAX && text == std::to_string(parsed)) {
    Check(number == parsed, "a plain number read back differently");
  }
}

void CheckTime(const std::string& reply) {
  const Timestamp unset(-1);
  Timestamp time = unset;
  Exchange(reply, "DEV TIME\r%t", &time);
  if (time == unset || IsError(reply)) return;
  // What the request side writes of it reads back to it.
  const std::string text = WrittenTime(&time);
  Timestamp again = unset;
  Exchange(text + "\r", "DEV TIME\r%t", &again);
  Check(again == time, "a time does not round-trip through its text");
}

void CheckMaps(const std::string& reply) {
  LinkArg::TextMaps maps;
  Exchange(reply, "POL LIST\r%m", &maps);
  if (maps.empty()) return;
  const std::string text = WrittenMaps(&maps);
  // A first key that begins "ERR " would make the text an error reply.
  if (IsError(text)) return;
  LinkArg::TextMaps again;
  Exchange(text + "\r", "POL LIST\r%m", &again);
  Check(again == maps, "maps do not round-trip through their text");
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  if (!Open()) {
    fprintf(stderr, "no loopback connection\n");
    abort();
  }
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<std::string> replies;
  std::string reply;
  for (size_t i = 0; i < size; ++i) {
    reply.push_back(static_cast<char>(data[i]));
    if (data[i] == '\r') {
      replies.push_back(reply);
      reply.clear();
    }
  }
  if (!reply.empty() || replies.empty()) replies.push_back(reply + "\r");

  for (size_t i = 0; i < replies.size() && i < 16; ++i) {
    const std::string& next = replies[i];
    switch (i % 7) {
      case 0:
        CheckNumber(next);
        break;
      case 1: {
        int32_t key = -1;
        std::vector<std::string> entries;
        Exchange(next, "LOG PRV 0 0\r%l%u", &key, &entries);
        break;
      }
      case 2: {
        std::string text = "unset";
        if (Exchange(next, "DEV PROP_MODEL\r%s", &text) ==
            ServiceConnection::kSuccess) {
          Check(text == next.substr(0, next.size() - 1),
                "a text reply not read whole");
        } else {
          Check(text == "unset", "an error reply wrote the text");
        }
        break;
      }
      case 3: {
        ValueRange range;
        Exchange(next, "DEV PROP_INPUTHI_RANGE\r%v", &range);
        break;
      }
      case 4:
        CheckMaps(next);
        break;
      case 5:
        CheckTime(next);
        break;
      default: {
        DeviceList devices;
        Exchange(next, "DEV PROP_MEDIADEVICES\r%u", &devices);
        Check(devices.size() <= next.size(), "more lines than bytes");
        break;
      }
    }
  }
  return 0;
}
