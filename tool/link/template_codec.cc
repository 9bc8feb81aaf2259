#include "tool/link/template_codec.h"

#include <cstring>
#include <sstream>
#include <string_view>

#include "common/integer_text.h"
#include "tool/link/service_connection.h"

namespace {

constexpr int32_t kSuccess = ServiceConnection::kSuccess;
constexpr int32_t kBadTemplate = ServiceConnection::kBadTemplate;

constexpr char kCr = '\r';

bool IsRequestConversion(char c) {
  return c == 'd' || c == 'l' || c == 's' || c == 'u' || c == 'm' || c == 't';
}

bool IsReplyConversion(char c) { return IsRequestConversion(c) || c == 'v'; }

// Whether arg is a usable argument for conversion c on the given side.
bool Fits(char c, bool request, const LinkArg& arg) {
  using Kind = LinkArg::Kind;
  if (request) {
    switch (c) {
      case 'd':
      case 'l':
        return arg.kind() == Kind::kNumber;
      case 's':
        return arg.kind() == Kind::kText;
      case 'u':
        return arg.kind() == Kind::kLines && arg.lines() != nullptr;
      case 'm':
        return arg.kind() == Kind::kMaps && arg.maps() != nullptr;
      case 't':
        return arg.kind() == Kind::kTime && arg.time() != nullptr;
      default:
        return false;
    }
  }
  switch (c) {
    case 'd':
    case 'l':
      return arg.kind() == Kind::kNumberOut && arg.number_out() != nullptr;
    case 's':
      return arg.kind() == Kind::kTextOut && arg.text_out() != nullptr;
    case 'u':
      return (arg.kind() == Kind::kLinesOut && arg.lines_out() != nullptr) ||
             (arg.kind() == Kind::kDevicesOut && arg.devices_out() != nullptr);
    case 'v':
      return arg.kind() == Kind::kRangeOut && arg.range_out() != nullptr;
    case 'm':
      return arg.kind() == Kind::kMapsOut && arg.maps_out() != nullptr;
    case 't':
      return arg.kind() == Kind::kTimeOut && arg.time_out() != nullptr;
    default:
      return false;
  }
}

// Appends the request text of one conversion.
void AppendRequestValue(char c, const LinkArg& arg, std::string* request) {
  switch (c) {
    case 'd':
    case 'l':
      request->append(std::to_string(arg.number()));
      break;
    case 's':
      request->append(arg.text());
      break;
    case 'u':
      for (const std::string& line : *arg.lines()) {
        request->append(line);
        request->push_back('\n');
      }
      break;
    case 'm':
      for (const LinkArg::TextMap& map : *arg.maps()) {
        for (const auto& entry : map) {
          request->append(entry.first);
          request->push_back('=');
          request->append(entry.second);
          request->push_back('\n');
        }
        request->push_back('\n');
      }
      break;
    case 't': {
      std::ostringstream text;
      text << *arg.time();
      request->append(text.str());
      break;
    }
    default:
      break;
  }
}

// Reads one reply conversion from in. Outputs are written only from values
// that were read; a failed read leaves in failed, so every later read fails.
void ReadReplyValue(char c, const LinkArg& arg, const std::string& reply,
                    std::istringstream& in) {
  switch (c) {
    case 'd':
    case 'l': {
      int32_t value = 0;
      if (in >> value) {
        *arg.number_out() = value;
        if (c == 'l') in >> std::ws;
      }
      break;
    }
    case 's':
      *arg.text_out() = reply;
      break;
    case 'u': {
      std::vector<std::string>* lines =
          arg.kind() == LinkArg::Kind::kLinesOut
              ? arg.lines_out()
              : arg.devices_out()->mutable_lines();
      std::string line;
      while (std::getline(in, line)) lines->push_back(line);
      break;
    }
    case 'v': {
      int32_t value = 0;
      while (in >> value) {
        arg.range_out()->Add(value);
        in.get();
      }
      break;
    }
    case 'm': {
      LinkArg::TextMap map;
      std::string line;
      while (std::getline(in, line)) {
        if (line.empty()) {
          arg.maps_out()->push_back(map);
          map.clear();
          continue;
        }
        size_t equals = line.find('=');
        if (equals == std::string::npos) {
          map[line] = std::string();
        } else {
          map[line.substr(0, equals)] = line.substr(equals + 1);
        }
      }
      break;
    }
    case 't': {
      Timestamp value;
      if (in >> value) *arg.time_out() = value;
      break;
    }
    default:
      break;
  }
}

// The error number of a reply text that begins with "ERR ": a decimal number
// read like atoi (leading white space, a sign, digits up to the first other
// character). A missing number, 0, or one that does not fit 32 bits gives
// the no-code result.
int32_t ServiceError(const std::string& reply) {
  const LeadingInteger scan =
      ScanLeadingInteger(std::string_view(reply).substr(4));
  if (!scan.found || scan.beyond_int32 || scan.value == 0) {
    return ServiceConnection::kServiceErrorNoCode;
  }
  return static_cast<int32_t>(scan.value);
}

}  // namespace

int32_t FormatRequest(const char* request_template,
                      std::initializer_list<LinkArg> args, std::string* request,
                      ReplyPattern* pattern) {
  if (request_template == nullptr) return kBadTemplate;
  if (std::strchr(request_template, kCr) == nullptr) return kBadTemplate;
  const LinkArg* next = args.begin();

  // The request, checking each argument against its conversion. Nothing
  // touches the caller's objects until the template is known to fit. The
  // walk stops at the CR, so a '%' here is always followed by a character.
  std::string text;
  const char* p = request_template;
  while (true) {
    char c = *p;
    if (c == '%') {
      char letter = p[1];
      p += 2;
      if (IsRequestConversion(letter)) {
        if (next == args.end() || !Fits(letter, true, *next)) {
          return kBadTemplate;
        }
        AppendRequestValue(letter, *next++, &text);
        continue;
      }
      c = letter;
    } else {
      ++p;
    }
    text.push_back(c);
    if (c == kCr) break;
  }

  // The reply pattern's conversions, in order, each checked against its
  // output.
  ReplyPattern reply;
  for (const char* q = p; *q != '\0'; ++q) {
    if (*q != '%' || q[1] == '\0') continue;
    ++q;
    if (!IsReplyConversion(*q)) continue;
    if (next == args.end() || !Fits(*q, false, *next)) return kBadTemplate;
    reply.Add(*q, *next++);
  }
  if (next != args.end()) return kBadTemplate;
  *request = std::move(text);
  *pattern = std::move(reply);
  return kSuccess;
}

int32_t ReadReply(std::string_view received, const ReplyPattern& pattern) {
  // The reply ends at its CR; the service sends nothing after it.
  const std::string reply(received.substr(0, received.find(kCr)));
  if (reply.compare(0, 4, "ERR ") == 0) return ServiceError(reply);
  std::istringstream in(reply);
  for (const auto& [conversion, output] : pattern.conversions()) {
    ReadReplyValue(conversion, output, reply, in);
  }
  return kSuccess;
}
