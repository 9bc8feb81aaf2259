// kovrad's NUT front end fed request lines: NutRequestHandler over a fake
// backend, one connection after another (LOGOUT closes one, the next line
// goes to a new one). The first byte picks the backend's state (agent
// running, snapshot stale, which user rights exist, agent commands that
// succeed or fail); the first line sets the unit's model text, as a unit
// may report any bytes; the other lines, cut at each LF, are requests.
// Checks: a blank line gets no reply and every other line exactly one; the
// reply is one line "OK..." or "ERR NAME" with a known name, a value line
// of the request's kind, or a BEGIN LIST ... END LIST block whose lines are
// of the list's kind; every reply line splits back into words, and its
// quoted values back to themselves; only LOGOUT closes; the diagnostics
// get no control bytes and never the password. Each request line is also
// quoted: NutSplitWords(NutQuote(x)) gives x back.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "service/nut/nut_line.h"
#include "service/nut/nut_request_handler.h"
#include "tests/support/fake_nut_backend.h"

namespace {

void Check(bool condition, const char* what) {
  if (!condition) {
    fprintf(stderr, "NUT invariant broken: %s\n", what);
    abort();
  }
}

constexpr char kPassword[] = "pw-7f3q!";

const std::set<std::string>& KnownErrors() {
  static const std::set<std::string> names = {"ACCESS-DENIED",
                                              "ALREADY-LOGGED-IN",
                                              "ALREADY-SET-PASSWORD",
                                              "ALREADY-SET-USERNAME",
                                              "CMD-NOT-SUPPORTED",
                                              "DATA-STALE",
                                              "DRIVER-NOT-CONNECTED",
                                              "FEATURE-NOT-CONFIGURED",
                                              "FEATURE-NOT-SUPPORTED",
                                              "INVALID-ARGUMENT",
                                              "INVALID-VALUE",
                                              "PASSWORD-REQUIRED",
                                              "READONLY",
                                              "TOO-LONG",
                                              "UNKNOWN-COMMAND",
                                              "UNKNOWN-UPS",
                                              "USERNAME-REQUIRED",
                                              "VAR-NOT-SUPPORTED"};
  return names;
}

bool HasControlByte(std::string_view text) {
  for (char c : text) {
    const unsigned char u = static_cast<unsigned char>(c);
    if ((u < 0x20 && c != '\t') || u == 0x7f) return true;
  }
  return false;
}

std::vector<std::string> Split(std::string_view line) {
  std::vector<std::string> words;
  if (NutSplitWords(line, &words) != NutLineResult::kOk) {
    fprintf(stderr, "reply line: %.*s\n", static_cast<int>(line.size()),
            line.data());
    Check(false, "a reply line that does not split into words");
  }
  return words;
}

std::string Upper(std::string text) {
  for (char& c : text) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return text;
}

// A quoted value at the end of a reply line, as the client reads it: the
// line must end with exactly NutQuote(value).
void CheckQuotedTail(std::string_view line, const std::string& value) {
  const std::string quoted = NutQuote(value);
  Check(line.size() >= quoted.size() &&
            line.substr(line.size() - quoted.size()) == quoted,
        "a value not quoted");
}

// One line of a list: its first word names the list's kind, the second the
// unit, and it has as many words as that kind has.
void CheckListLine(const std::string& kind, std::string_view line) {
  const std::vector<std::string> words = Split(line);
  Check(!words.empty() && words[0] == kind, "a list line of another kind");
  size_t expected = 0;
  if (kind == "UPS") expected = 3;
  if (kind == "CLIENT" || kind == "CMD") expected = 3;
  if (kind == "VAR" || kind == "RW" || kind == "ENUM") expected = 4;
  if (kind == "RANGE") expected = 5;
  Check(expected != 0 && words.size() == expected, "a list line's words");
  if (kind == "VAR" || kind == "RW" || kind == "ENUM" || kind == "UPS") {
    CheckQuotedTail(line, words.back());
  }
}

void CheckReply(const std::vector<std::string>& request,
                const NutReply& reply) {
  const std::string& text = reply.text;
  Check(!text.empty() && text.back() == '\n', "a reply not ended by LF");
  std::vector<std::string_view> lines;
  std::string_view rest(text);
  while (!rest.empty()) {
    const size_t end = rest.find('\n');
    lines.push_back(rest.substr(0, end));
    rest.remove_prefix(end + 1);
  }
  const std::string command = Upper(request[0]);
  // The server and help texts are free text, more words than a request.
  const bool free_text = command == "VER" || command == "HELP";
  for (std::string_view line : lines) {
    Check(!HasControlByte(line), "a control byte in a reply");
    if (!free_text) Split(line);
  }
  Check(reply.close == (command == "LOGOUT" && text == "OK Goodbye\n"),
        "a close other than LOGOUT's");

  const std::string_view first = lines[0];
  if (first.substr(0, 4) == "ERR ") {
    Check(lines.size() == 1, "an error of several lines");
    Check(KnownErrors().count(std::string(first.substr(4))) == 1,
          "an unknown error name");
    return;
  }
  if (first == "OK" || first.substr(0, 3) == "OK ") {
    Check(lines.size() == 1, "an OK of several lines");
    return;
  }
  if (first.substr(0, 11) == "BEGIN LIST ") {
    Check(command == "LIST" && request.size() >= 2, "a list not asked for");
    const std::string_view what = first.substr(11);
    Check(lines.size() >= 2 && lines.back().substr(0, 9) == "END LIST " &&
              lines.back().substr(9) == what,
          "a list not ended by its END LIST");
    const std::string kind(what.substr(0, what.find(' ')));
    Check(kind == Upper(request[1]), "a list of another kind");
    for (size_t i = 1; i + 1 < lines.size(); ++i) {
      CheckListLine(kind, lines[i]);
    }
    return;
  }
  Check(lines.size() == 1, "a value of several lines");
  if (free_text) return;
  const std::vector<std::string> words = Split(first);
  if (command == "NETVER" || command == "PROTVER") {
    Check(first == "1.3", "the protocol version");
    return;
  }
  Check(command == "GET", "a value line for no GET");
  const std::string what = Upper(request[1]);
  if (what == "TRACKING") {
    Check(first == "OFF", "the tracking state");
    return;
  }
  Check(!words.empty() && words[0] == what, "a value line of another kind");
  if (what == "VAR" || what == "DESC" || what == "CMDDESC") {
    Check(words.size() == 4, "a value line's words");
    CheckQuotedTail(first, words[3]);
  } else if (what == "UPSDESC") {
    Check(words.size() == 3, "a description line's words");
    CheckQuotedTail(first, words[2]);
  } else if (what == "NUMLOGINS") {
    Check(words.size() == 3 && !words[2].empty() &&
              words[2].find_first_not_of("0123456789") == std::string::npos,
          "a login count");
  } else {
    Check(what == "TYPE" && words.size() >= 4, "a value line's kind");
  }
}

// The quoting round trip for one text.
void CheckQuoting(std::string_view text) {
  const std::string quoted = NutQuote(text);
  std::vector<std::string> words;
  const NutLineResult result = NutSplitWords(quoted, &words);
  if (quoted.size() > kNutMaxLineBytes) {
    Check(result == NutLineResult::kTooLong, "a long quoted text accepted");
    return;
  }
  Check(result == NutLineResult::kOk && words.size() == 1,
        "a quoted text is not one word");
  if (!HasControlByte(text)) {
    Check(words[0] == text, "a quoted text reads back differently");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const uint8_t state = data[0];
  std::string_view input(reinterpret_cast<const char*>(data) + 1, size - 1);

  FakeNutBackend backend;
  backend.agent_running = (state & 1) == 0;
  backend.stale = (state & 2) != 0;
  NutUser admin;
  admin.name = "admin";
  admin.password = kPassword;
  admin.primary = true;
  admin.may_set = (state & 4) == 0;
  admin.all_instcmds = (state & 8) == 0;
  admin.instcmds = {"shutdown.stop", "test.battery.start"};
  NutUser monitor;
  monitor.name = "monitor";
  monitor.password = "";
  monitor.may_monitor = (state & 16) == 0;
  backend.users = {admin, monitor};
  backend.clients = {"127.0.0.1", "::1"};
  const bool commands_succeed = (state & 32) == 0;
  if ((state & 64) != 0) backend.data.snapshot.valid = false;

  // The first line is the model text the unit reported.
  const size_t model_end = input.find('\n');
  if (model_end == std::string_view::npos) return 0;
  backend.data.model =
      NutTextReading::Of(std::string(input.substr(0, model_end)));
  input.remove_prefix(model_end + 1);

  const NutServerInfo info;
  // A password the client sent other than with PASSWORD may show up in the
  // diagnostics (as a SET VAR value, say).
  bool password_elsewhere = false;
  auto handler = std::make_unique<NutRequestHandler>(info, &backend, "peer");
  size_t start = 0;
  for (size_t end; (end = input.find('\n', start)) != std::string_view::npos;
       start = end + 1) {
    const std::string_view line = input.substr(start, end - start);
    CheckQuoting(line);
    if (line.find(kPassword) != std::string_view::npos &&
        Upper(std::string(line.substr(0, 8))) != "PASSWORD") {
      password_elsewhere = true;
    }
    const NutReply reply = handler->Handle(line);
    std::vector<std::string> words;
    const NutLineResult split = NutSplitWords(line, &words);
    if (split == NutLineResult::kOk && words.empty()) {
      Check(reply.text.empty() && !reply.close, "a reply to a blank line");
    } else {
      if (split != NutLineResult::kOk) words = {"?"};
      CheckReply(words, reply);
    }
    while (!backend.pending.empty()) backend.Finish(commands_succeed);
    if (reply.close) {
      handler = std::make_unique<NutRequestHandler>(info, &backend, "peer");
    }
  }
  for (const std::string& log : backend.logs) {
    Check(!HasControlByte(log), "a control byte in the diagnostics");
    Check(password_elsewhere || log.find(kPassword) == std::string::npos,
          "the password in the diagnostics");
  }
  return 0;
}
