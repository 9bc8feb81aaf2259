// kovrad's kovra protocol fed request lines: KovraRequestHandler over
// FakeServiceCore, the lines cut at each CR as the transport cuts them (a
// LF right after a CR dropped, a line over the transport's bound answered
// with the handler's overlong reply). The first byte picks the core's state
// (agent running, snapshot values or errors, logs in an in-memory database
// or none, whether the login is done first); agent commands are answered
// with the bytes of the next line, as the agent's reply line. Checks:
// exactly one reply per request, given at once or when its agent reply
// arrives; an error reply is "ERR " and a non-zero number; replies hold no
// CR (the line end) and stay within the bound; before the login only the
// login is served, and the third failure closes.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "common/service_wire.h"
#include "service/database.h"
#include "service/kovra_request_handler.h"
#include "service/line_session.h"
#include "service/log_store.h"
#include "tests/support/fake_service_core.h"

namespace {

void Check(bool condition, const char* what) {
  if (!condition) {
    fprintf(stderr, "kovra request invariant broken: %s\n", what);
    abort();
  }
}

// The transport's request bound (LineServerConfig::max_request_bytes).
constexpr size_t kMaxRequestBytes = 4096;
// No reply is longer: a page of 40 log entries of the bounded entry length,
// a device list, or a text the agent sent in one line of its bounded length.
constexpr size_t kMaxReplyBytes = 64 * 1024;

std::unique_ptr<Database> g_db;
std::unique_ptr<LogStore> g_logs;
std::string g_folder;

void WriteEntries() {
  for (int32_t list = 0; list < kLogListCount; ++list) {
    g_logs->Clear(list);
    for (int i = 0; i < 4; ++i) {
      g_logs->Append(list, "2026/01/0" + std::to_string(i + 1) + " 00:00:00 " +
                               std::to_string(list * 10 + i));
    }
  }
}

void RemoveDatabase() {
  g_logs.reset();
  g_db.reset();
  if (g_folder.empty()) return;
  std::remove((g_folder + "/kovrad.db").c_str());
  std::remove((g_folder + "/kovrad.db-journal").c_str());
  std::remove((g_folder + "/kovrad.db-wal").c_str());
  std::remove((g_folder + "/kovrad.db-shm").c_str());
  std::remove(g_folder.c_str());
}

bool IsErrorReply(const std::string& text) {
  if (text.compare(0, 4, "ERR ") != 0) return false;
  const std::string number = text.substr(4);
  Check(!number.empty() && number.size() <= 10 &&
            number.find_first_not_of("0123456789") == std::string::npos &&
            number[0] != '0',
        "an error reply without its non-zero number");
  return true;
}

void CheckReply(const LineReply& reply) {
  Check(reply.text.find('\r') == std::string::npos, "a CR inside a reply");
  Check(reply.text.size() <= kMaxReplyBytes, "a reply beyond the bound");
  IsErrorReply(reply.text);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // A database file of this process's own, in a fresh temporary folder.
  char folder[] = "/tmp/kovra-request-fuzz-XXXXXX";
  std::string error = "no temporary folder";
  if (mkdtemp(folder) != nullptr) {
    g_folder = folder;
    g_db = Database::Open(g_folder + "/kovrad.db", &error);
  }
  if (!g_db) {
    fprintf(stderr, "no database: %s\n", error.c_str());
    abort();
  }
  atexit(RemoveDatabase);
  LogStore::Limits limits;
  limits.page_size = 3;
  g_logs = std::make_unique<LogStore>(g_db.get(), limits);
  WriteEntries();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const uint8_t state = data[0];
  const std::string_view input(reinterpret_cast<const char*>(data) + 1,
                               size - 1);

  FakeServiceCore core;
  core.fake_agent().set_running((state & 1) == 0);
  if ((state & 2) == 0) {
    for (int32_t slot = 0; slot < 13; ++slot) core.SetStatus(slot, slot * 100);
    core.SetStatusError(4, 9);
  }
  // The entries are written once; an input that may erase them writes them
  // again after it (writing them for every input would be slow).
  if ((state & 4) == 0) core.set_logs(g_logs.get());
  const bool may_clear = input.find("CLR") != std::string_view::npos;

  std::vector<std::string> lines;
  std::string rest(input);
  for (size_t start = 0;;) {
    // A LF right after a CR ends no request.
    while (start < rest.size() && rest[start] == '\n') ++start;
    const size_t end = rest.find('\r', start);
    if (end == std::string::npos) {
      if (rest.size() - start > kMaxRequestBytes)
        lines.push_back(rest.substr(start));
      break;
    }
    lines.push_back(rest.substr(start, end - start));
    start = end + 1;
  }
  if ((state & 8) == 0) {
    lines.insert(lines.begin(),
                 {std::string("USR NAME ") + service_wire::kLoginUser,
                  std::string("USR PASS ") + service_wire::kLoginPassword});
  }

  KovraRequestHandler handler(&core);
  int32_t failures = 0;
  for (size_t i = 0; i < lines.size(); ++i) {
    const std::string& line = lines[i];
    if (line.size() > kMaxRequestBytes) {
      const std::string overlong = handler.OverlongReply();
      CheckReply({overlong});
      Check(IsErrorReply(overlong), "an overlong request not refused");
      break;  // the connection is closed after it
    }
    const bool logged_in_before = handler.authenticated();
    int32_t replies = 0;
    LineReply reply;
    handler.HandleLine(line, [&replies, &reply](const LineReply& r) {
      ++replies;
      reply = r;
    });
    // An agent command waits for its reply line: the next line is it.
    if (replies == 0) {
      Check(core.fake_agent().waiting() == 1,
            "a request neither answered "
            "nor waiting for the agent");
      const std::string agent_line =
          i + 1 < lines.size() ? lines[++i] : std::string();
      core.fake_agent().Reply(agent_line);
    }
    Check(replies == 1, "not exactly one reply per request");
    Check(core.fake_agent().waiting() == 0, "an agent command left waiting");
    CheckReply(reply);
    if (!logged_in_before && line.compare(0, 4, "USR ") != 0) {
      Check(reply.text == "ERR " + std::to_string(service_wire::kErrLogin),
            "a request served before the login");
    }
    if (!handler.authenticated() && IsErrorReply(reply.text)) ++failures;
    Check(reply.close == (!handler.authenticated() && failures >= 3),
          "a close other than after the third failed login");
    if (reply.close) break;
  }
  if (may_clear) WriteEntries();
  return 0;
}
