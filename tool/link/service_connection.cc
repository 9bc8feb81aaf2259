#include "tool/link/service_connection.h"

#include <sys/socket.h>

#include <cerrno>
#include <cstring>
#include <sstream>
#include <string_view>

#include "common/integer_text.h"
#include "platform/inet_address.h"
#include "platform/linux_platform.h"
#include "platform/socket.h"
#include "platform/socket_selector.h"

namespace {

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
  if (request_template == nullptr) return kBadTemplate;
  if (std::strchr(request_template, kCr) == nullptr) return kBadTemplate;
  const LinkArg* next = args.begin();

  // The request, checking each argument against its conversion. Nothing
  // touches the caller's objects until the template is known to fit. The
  // walk stops at the CR, so a '%' here is always followed by a character.
  std::string request;
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
        AppendRequestValue(letter, *next++, &request);
        continue;
      }
      c = letter;
    } else {
      ++p;
    }
    request.push_back(c);
    if (c == kCr) break;
  }

  // The reply pattern's conversions, in order, each checked against its
  // output.
  const LinkArg* first_output = next;
  std::string conversions;
  for (const char* q = p; *q != '\0'; ++q) {
    if (*q != '%' || q[1] == '\0') continue;
    ++q;
    if (!IsReplyConversion(*q)) continue;
    if (next == args.end() || !Fits(*q, false, *next)) return kBadTemplate;
    conversions.push_back(*q);
    ++next;
  }
  if (next != args.end()) return kBadTemplate;

  int32_t result = SendRequest(request);
  if (result != kSuccess) return result;
  std::string reply;
  result = ReceiveReply(&reply);
  if (result != kSuccess) return result;
  // The reply ends at its CR; the service sends nothing after it.
  reply.erase(reply.find(kCr));

  if (reply.compare(0, 4, "ERR ") == 0) return ServiceError(reply);

  std::istringstream in(reply);
  next = first_output;
  for (char c : conversions) ReadReplyValue(c, *next++, reply, in);
  return kSuccess;
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
    if (std::memchr(buffer, kCr, length) != nullptr) return kSuccess;
  }
}
