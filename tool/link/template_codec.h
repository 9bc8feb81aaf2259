#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "tool/link/link_arg.h"

// The request/reply template engine as pure functions over texts, apart
// from the socket transport of ServiceConnection. A request template is the
// request part up to and including its first CR, then the reply pattern:
// FormatRequest fills the request from the input arguments and keeps the
// reply pattern's conversions with their outputs; ReadReply reads a received
// reply into those outputs. Result codes are ServiceConnection's.

// The reply pattern of one exchange: each conversion letter with the output
// argument it fills, in order. The outputs are the caller's objects, which
// must outlive the ReadReply call.
class ReplyPattern {
 public:
  void Add(char conversion, const LinkArg& output) {
    conversions_.emplace_back(conversion, output);
  }
  const std::vector<std::pair<char, LinkArg>>& conversions() const {
    return conversions_;
  }

 private:
  std::vector<std::pair<char, LinkArg>> conversions_;
};

// Builds the request text of request_template from args (one per request
// conversion, then one output per reply conversion). Returns
// ServiceConnection::kSuccess and writes *request and *pattern, or
// kBadTemplate, touching neither, when the template is null, has no CR, or
// its conversions do not fit the arguments (too few, too many, wrong kind,
// null output). No argument's object is changed.
int32_t FormatRequest(const char* request_template,
                      std::initializer_list<LinkArg> args, std::string* request,
                      ReplyPattern* pattern);

// Reads the received bytes of one reply (they end at the first CR; a reply
// without one is read whole). A reply beginning with "ERR " gives the
// service's error number, or kServiceErrorNoCode when it carries no
// non-zero 32-bit number, and no output is touched. Otherwise the pattern's
// outputs are read from the reply text and the result is kSuccess: a value
// that cannot be read leaves its output as it was, and so does every later
// stream read of the same reply (%s always receives the whole text).
int32_t ReadReply(std::string_view received, const ReplyPattern& pattern);
