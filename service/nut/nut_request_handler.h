#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "service/nut/nut_backend.h"

// How the NUT front end names itself.
struct NutServerInfo {
  std::string ups_name = "ups";            // the <ups> of every request
  std::string description = "kovrad UPS";  // LIST UPS, GET UPSDESC
  std::string server_text = "kovrad NUT front end";  // VER
};

// The answer to one request line.
struct NutReply {
  std::string text;    // reply lines, each ended by LF; empty for a blank line
  bool close = false;  // close the connection once text has been sent
};

// One NUT connection's session and its requests: one request line in, the
// reply lines out. Reading (LIST, GET) needs no login; LOGIN, PRIMARY, FSD,
// SET and INSTCMD need the USERNAME and PASSWORD of a configured user with
// the right for it. SET VAR and INSTCMD are answered OK as soon as they are
// accepted; the change then goes to the agent through the backend, and both
// the request and its outcome are logged with the user's name. Value reads
// answer ERR DRIVER-NOT-CONNECTED while no agent runs and ERR DATA-STALE
// while the snapshot is stale, never an old value.
class NutRequestHandler final {
 public:
  // The longest value SET VAR accepts.
  static constexpr size_t kMaxValueBytes = 64;

  // backend must outlive the handler; peer is the client's address as LIST
  // CLIENT shows it.
  NutRequestHandler(const NutServerInfo& info, NutBackend* backend,
                    std::string peer);
  NutRequestHandler(const NutRequestHandler&) = delete;
  NutRequestHandler& operator=(const NutRequestHandler&) = delete;

  // Handles one request line, without its LF (a CR before it is dropped).
  // A line over kNutMaxLineBytes gets ERR TOO-LONG, so a transport that
  // bounds its buffer may pass the first kNutMaxLineBytes + 1 bytes of a
  // longer line and drop the rest up to the LF.
  NutReply Handle(std::string_view line);

  // True after a LOGIN, until LOGOUT: the connection counts in NUMLOGINS.
  bool logged_in() const { return logged_in_; }
  // True after PRIMARY (or MASTER) was granted.
  bool primary() const { return primary_; }
  const std::string& peer() const { return peer_; }

 private:
  using Words = std::vector<std::string>;

  NutReply Dispatch(const Words& words);
  NutReply List(const Words& words);
  NutReply Get(const Words& words);
  NutReply Set(const Words& words);
  NutReply GetVar(const Words& words);
  NutReply GetType(const Words& words);
  NutReply SetVar(const Words& words);
  NutReply InstCmd(const Words& words);
  NutReply Username(const Words& words);
  NutReply Password(const Words& words);
  NutReply Login(const Words& words);
  NutReply Primary(const Words& words, bool old_name);
  NutReply ForcedShutdown(const Words& words);

  bool KnownUps(const std::string& name) const {
    return name == info_.ups_name;
  }
  // The error name that keeps values from being read now, or null.
  const char* ReadBlocked() const;
  // The user behind USERNAME and PASSWORD when allowed(user) holds, or null
  // with the error name in *error (the first refusal on the connection is
  // logged, never with the password).
  const NutUser* Authorize(const std::function<bool(const NutUser&)>& allowed,
                           const char** error);
  // A done callback that logs the outcome of what; it holds no pointer to
  // the handler, which may be gone by then.
  std::function<void(bool)> LogOutcome(std::string what) const;

  NutServerInfo info_;
  NutBackend* backend_;
  std::string peer_;

  bool username_set_ = false;
  bool password_set_ = false;
  std::string username_;
  std::string password_;
  bool logged_in_ = false;
  bool primary_ = false;
  bool refusal_logged_ = false;  // one refusal per connection is logged
};
