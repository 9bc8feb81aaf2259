// The tool's template engine (template_codec.h) in memory: the service's
// replies to kovra are the fuzz input, cut after each CR, one per exchange;
// each exchange is a request template of the tool formatted with
// FormatRequest and its reply read with ReadReply, using each reply
// conversion in turn (%d, %l with %u, %s, %v, %m, %t, %u into a device
// list). Checks: an "ERR " reply is an error and writes no output, any other
// reply succeeds; a plain decimal number reads back exactly; a text is read
// whole. Where the request side writes the same conversion (%d, %s, %u, %m,
// %t), what a reply gave is formatted into a request and read back as a
// reply, and must give the same value.

#include <cerrno>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "common/time/timestamp.h"
#include "tool/link/device_list.h"
#include "tool/link/link_arg.h"
#include "tool/link/service_connection.h"
#include "tool/link/template_codec.h"
#include "tool/link/value_range.h"

namespace {

void Check(bool condition, const char* what) {
  if (!condition) {
    fprintf(stderr, "tool reply invariant broken: %s\n", what);
    abort();
  }
}

// A request argument borrowing value (the request side takes const
// pointers; a plain pointer would be a reply output).
template <typename T>
const T* In(const T& value) {
  return &value;
}

bool IsError(std::string_view reply) { return reply.substr(0, 4) == "ERR "; }

// One exchange answered with reply (its CR included). The tool's templates
// always fit their arguments.
int32_t Exchange(std::string_view reply, const char* request_template,
                 std::initializer_list<LinkArg> args) {
  std::string request;
  ReplyPattern pattern;
  Check(FormatRequest(request_template, args, &request, &pattern) ==
            ServiceConnection::kSuccess,
        "a template of the tool refused");
  Check(!request.empty() && request.back() == '\r', "a request without CR");
  const int32_t code = ReadReply(reply, pattern);
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

// What the request side writes for one input argument, without the
// request's leading "X " and its CR.
std::string Written(std::initializer_list<LinkArg> args, const char* format) {
  std::string request;
  ReplyPattern pattern;
  Check(FormatRequest(format, args, &request, &pattern) ==
            ServiceConnection::kSuccess,
        "a request template refused");
  Check(request.size() >= 3 && request.back() == '\r', "a request without CR");
  return request.substr(2, request.size() - 3);
}

// The written text, as a reply, unless it holds a CR (the reply would end
// there) or reads as an error reply.
bool UsableAsReply(const std::string& text) {
  return text.find('\r') == std::string::npos && !IsError(text);
}

void CheckNumber(const std::string& reply) {
  int32_t number = -4711;
  const int32_t code = Exchange(reply, "DEV STATUS_INVOLT\r%d", {&number});
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
  if (number == -4711) return;
  const std::string written = Written({number}, "X %d\r");
  int32_t again = -4711;
  Exchange(written + "\r", "DEV STATUS_INVOLT\r%d", {&again});
  Check(again == number, "a number does not round-trip through its text");
}

void CheckText(const std::string& reply) {
  std::string text = "unset";
  if (Exchange(reply, "DEV PROP_MODEL\r%s", {&text}) !=
      ServiceConnection::kSuccess) {
    Check(text == "unset", "an error reply wrote the text");
    return;
  }
  Check(text == reply.substr(0, reply.size() - 1),
        "a text reply not read whole");
  // The request side writes a text up to its first NUL.
  const std::string written = Written({text}, "X %s\r");
  Check(written == text.substr(0, text.find('\0')),
        "a text written differently");
}

void CheckLines(const std::string& reply) {
  int32_t key = -1;
  LinkArg::Lines entries;
  if (Exchange(reply, "LOG PRV 0 0\r%l%u", {&key, &entries}) !=
      ServiceConnection::kSuccess) {
    Check(key == -1 && entries.empty(), "an error reply wrote the page");
    return;
  }
  const std::string written = Written({In(entries)}, "X %u\r");
  if (!UsableAsReply(written)) return;
  LinkArg::Lines again;
  Exchange(written + "\r", "X\r%u", {&again});
  Check(again == entries, "lines do not round-trip through their text");
}

void CheckRange(const std::string& reply) {
  ValueRange range;
  if (Exchange(reply, "DEV PROP_INPUTHI_RANGE\r%v", {&range}) !=
      ServiceConnection::kSuccess) {
    Check(range.empty(), "an error reply wrote the range");
  }
  Check(range.size() <= reply.size(), "more values than bytes");
}

void CheckMaps(const std::string& reply) {
  LinkArg::TextMaps maps;
  Exchange(reply, "POL LIST\r%m", {&maps});
  if (maps.empty()) return;
  const std::string text = Written({In(maps)}, "X %m\r");
  // A first key that begins "ERR " would make the text an error reply.
  if (!UsableAsReply(text)) return;
  LinkArg::TextMaps again;
  Exchange(text + "\r", "POL LIST\r%m", {&again});
  Check(again == maps, "maps do not round-trip through their text");
}

void CheckTime(const std::string& reply) {
  const Timestamp unset(-1);
  Timestamp time = unset;
  Exchange(reply, "DEV TIME\r%t", {&time});
  if (time == unset || IsError(reply)) return;
  // What the request side writes of it reads back to it.
  const std::string text = Written({In(time)}, "X %t\r");
  Timestamp again = unset;
  Exchange(text + "\r", "DEV TIME\r%t", {&again});
  Check(again == time, "a time does not round-trip through its text");
}

void CheckDevices(const std::string& reply) {
  DeviceList devices;
  Exchange(reply, "DEV PROP_MEDIADEVICES\r%u", {&devices});
  Check(devices.size() <= reply.size(), "more lines than bytes");
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // Times are read and written in local time.
  setenv("TZ", "UTC", 1);
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
      case 1:
        CheckLines(next);
        break;
      case 2:
        CheckText(next);
        break;
      case 3:
        CheckRange(next);
        break;
      case 4:
        CheckMaps(next);
        break;
      case 5:
        CheckTime(next);
        break;
      default:
        CheckDevices(next);
        break;
    }
  }
  // The whole input as one reply: it ends at its first CR.
  const std::string whole(reinterpret_cast<const char*>(data), size);
  std::string first = "unset";
  if (Exchange(whole, "DEV PROP_MODEL\r%s", {&first}) ==
      ServiceConnection::kSuccess) {
    Check(first == whole.substr(0, whole.find('\r')),
          "a reply not cut at its CR");
  }
  return 0;
}
