#include "service/nut/nut_request_handler.h"

#include <algorithm>
#include <utility>

#include "service/nut/nut_commands.h"
#include "service/nut/nut_line.h"
#include "service/nut/nut_variables.h"

namespace {

constexpr char kProtocolVersion[] = "1.3";
constexpr char kHelpText[] =
    "Commands: HELP VER NETVER PROTVER GET LIST SET INSTCMD LOGIN LOGOUT "
    "USERNAME PASSWORD PRIMARY MASTER FSD STARTTLS";

NutReply Line(std::string text) { return NutReply{std::move(text) + "\n"}; }

NutReply Error(const char* name) { return Line(std::string("ERR ") + name); }

std::string Upper(std::string text) {
  for (char& c : text) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return text;
}

// Compares without stopping at the first difference, so the time taken
// does not tell how much of a guess was right.
bool SameSecret(const std::string& a, const std::string& b) {
  unsigned char diff = a.size() == b.size() ? 0 : 1;
  const size_t n = std::max(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    const unsigned char x = i < a.size() ? a[i] : 0;
    const unsigned char y = i < b.size() ? b[i] : 0;
    diff |= static_cast<unsigned char>(x ^ y);
  }
  return diff == 0;
}

bool MayRun(const NutUser& user, const std::string& command) {
  return user.all_instcmds ||
         std::find(user.instcmds.begin(), user.instcmds.end(), command) !=
             user.instcmds.end();
}

class ListBuilder {
 public:
  explicit ListBuilder(std::string what) : what_(std::move(what)) {
    reply_.text = "BEGIN LIST " + what_ + "\n";
  }
  void Add(const std::string& line) { reply_.text += line + "\n"; }
  NutReply Finish() {
    reply_.text += "END LIST " + what_ + "\n";
    return std::move(reply_);
  }

 private:
  std::string what_;
  NutReply reply_;
};

}  // namespace

NutRequestHandler::NutRequestHandler(const NutServerInfo& info,
                                     NutBackend* backend, std::string peer)
    : info_(info), backend_(backend), peer_(std::move(peer)) {}

NutReply NutRequestHandler::Handle(std::string_view line) {
  Words words;
  switch (NutSplitWords(line, &words)) {
    case NutLineResult::kOk:
      break;
    case NutLineResult::kTooLong:
      return Error("TOO-LONG");
    default:
      return Error("INVALID-ARGUMENT");
  }
  if (words.empty()) return NutReply{};
  return Dispatch(words);
}

NutReply NutRequestHandler::Dispatch(const Words& words) {
  const std::string command = Upper(words[0]);
  const size_t n = words.size();
  if (command == "VER") return Line(info_.server_text);
  if (command == "NETVER" || command == "PROTVER") {
    return Line(kProtocolVersion);
  }
  if (command == "HELP") return Line(kHelpText);
  if (command == "STARTTLS") return Error("FEATURE-NOT-CONFIGURED");
  if (command == "LIST") return List(words);
  if (command == "GET") return Get(words);
  if (command == "SET") return Set(words);
  if (command == "INSTCMD") return InstCmd(words);
  if (command == "USERNAME") return Username(words);
  if (command == "PASSWORD") return Password(words);
  if (command == "LOGIN") return Login(words);
  if (command == "PRIMARY") return Primary(words, false);
  if (command == "MASTER") return Primary(words, true);
  if (command == "FSD") return ForcedShutdown(words);
  if (command == "LOGOUT") {
    if (n != 1) return Error("INVALID-ARGUMENT");
    logged_in_ = false;
    primary_ = false;
    NutReply reply = Line("OK Goodbye");
    reply.close = true;
    return reply;
  }
  return Error("UNKNOWN-COMMAND");
}

const char* NutRequestHandler::ReadBlocked() const {
  if (!backend_->AgentRunning()) return "DRIVER-NOT-CONNECTED";
  // A snapshot that never completed, or one in which the agent says it
  // lost the unit, is as good as none, whatever the backend's clock says.
  const StatusSnapshot& snapshot = backend_->Data().snapshot;
  if (backend_->Stale() || !snapshot.valid || !snapshot.Connected()) {
    return "DATA-STALE";
  }
  return nullptr;
}

NutReply NutRequestHandler::List(const Words& words) {
  if (words.size() < 2) return Error("INVALID-ARGUMENT");
  const std::string what = Upper(words[1]);
  const size_t n = words.size();
  if (what == "UPS") {
    if (n != 2) return Error("INVALID-ARGUMENT");
    ListBuilder list("UPS");
    list.Add("UPS " + info_.ups_name + " " + NutQuote(info_.description));
    return list.Finish();
  }
  const bool per_ups =
      what == "VAR" || what == "RW" || what == "CMD" || what == "CLIENT";
  const bool per_var = what == "ENUM" || what == "RANGE";
  if ((!per_ups && !per_var) || n != (per_ups ? 3u : 4u)) {
    return Error("INVALID-ARGUMENT");
  }
  const std::string& ups = words[2];
  if (!KnownUps(ups)) return Error("UNKNOWN-UPS");

  if (what == "CLIENT") {
    ListBuilder list("CLIENT " + ups);
    for (const std::string& address : backend_->LoginAddresses()) {
      list.Add("CLIENT " + ups + " " + address);
    }
    return list.Finish();
  }
  if (const char* blocked = ReadBlocked()) return Error(blocked);
  const NutUnitData& data = backend_->Data();

  if (what == "VAR" || what == "RW") {
    const bool rw_only = what == "RW";
    ListBuilder list(what + " " + ups);
    for (const NutVariableValue& var : NutPresentVariables(data)) {
      if (rw_only && !NutWritable(data, *var.info)) continue;
      list.Add(what + " " + ups + " " + var.info->name + " " +
               NutQuote(var.value));
    }
    return list.Finish();
  }
  if (what == "CMD") {
    ListBuilder list("CMD " + ups);
    for (const std::string& name : NutAvailableCommands(data)) {
      list.Add("CMD " + ups + " " + name);
    }
    return list.Finish();
  }

  const std::string& name = words[3];
  const NutVariableInfo* var = FindNutVariable(name);
  std::string value;
  if (var == nullptr || !var->read(data, &value)) {
    return Error("VAR-NOT-SUPPORTED");
  }
  ListBuilder list(what + " " + ups + " " + name);
  if (what == "ENUM") {
    for (const std::string& allowed : NutEnumValues(data, *var)) {
      list.Add("ENUM " + ups + " " + name + " " + NutQuote(allowed));
    }
  }
  // No variable here is a RANGE: the allowed values are lists.
  return list.Finish();
}

NutReply NutRequestHandler::Get(const Words& words) {
  if (words.size() < 2) return Error("INVALID-ARGUMENT");
  const std::string what = Upper(words[1]);
  const size_t n = words.size();
  if (what == "TRACKING") {
    if (n == 2) return Line("OFF");
    return Error("FEATURE-NOT-SUPPORTED");
  }
  if (what == "VAR") return GetVar(words);
  if (what == "TYPE") return GetType(words);
  if (what == "UPSDESC" || what == "NUMLOGINS") {
    if (n != 3) return Error("INVALID-ARGUMENT");
    if (!KnownUps(words[2])) return Error("UNKNOWN-UPS");
    if (what == "UPSDESC") {
      return Line("UPSDESC " + words[2] + " " + NutQuote(info_.description));
    }
    return Line("NUMLOGINS " + words[2] + " " +
                std::to_string(backend_->LoginCount()));
  }
  if (what == "DESC" || what == "CMDDESC") {
    if (n != 4) return Error("INVALID-ARGUMENT");
    if (!KnownUps(words[2])) return Error("UNKNOWN-UPS");
    const char* description = nullptr;
    if (what == "DESC") {
      const NutVariableInfo* var = FindNutVariable(words[3]);
      if (var == nullptr) return Error("VAR-NOT-SUPPORTED");
      description = var->description;
    } else {
      const NutCommandInfo* command = FindNutCommand(words[3]);
      if (command == nullptr) return Error("CMD-NOT-SUPPORTED");
      description = command->description;
    }
    return Line(what + " " + words[2] + " " + words[3] + " " +
                NutQuote(description));
  }
  return Error("INVALID-ARGUMENT");
}

NutReply NutRequestHandler::GetVar(const Words& words) {
  if (words.size() != 4) return Error("INVALID-ARGUMENT");
  const std::string& ups = words[2];
  if (!KnownUps(ups)) return Error("UNKNOWN-UPS");
  if (const char* blocked = ReadBlocked()) return Error(blocked);
  const NutVariableInfo* var = FindNutVariable(words[3]);
  std::string value;
  if (var == nullptr || !var->read(backend_->Data(), &value)) {
    return Error("VAR-NOT-SUPPORTED");
  }
  return Line("VAR " + ups + " " + var->name + " " + NutQuote(value));
}

NutReply NutRequestHandler::GetType(const Words& words) {
  if (words.size() != 4) return Error("INVALID-ARGUMENT");
  const std::string& ups = words[2];
  if (!KnownUps(ups)) return Error("UNKNOWN-UPS");
  if (const char* blocked = ReadBlocked()) return Error(blocked);
  const NutUnitData& data = backend_->Data();
  const NutVariableInfo* var = FindNutVariable(words[3]);
  std::string value;
  if (var == nullptr || !var->read(data, &value)) {
    return Error("VAR-NOT-SUPPORTED");
  }
  std::string type;
  if (NutWritable(data, *var)) {
    type = "RW ENUM";
  } else if (var->kind == NutValueKind::kNumber) {
    type = "NUMBER";
  } else {
    type = "STRING:" + std::to_string(var->string_length);
  }
  return Line("TYPE " + ups + " " + var->name + " " + type);
}

NutReply NutRequestHandler::Set(const Words& words) {
  if (words.size() < 2) return Error("INVALID-ARGUMENT");
  const std::string what = Upper(words[1]);
  if (what == "TRACKING") {
    if (words.size() != 3) return Error("INVALID-ARGUMENT");
    const std::string mode = Upper(words[2]);
    if (mode == "OFF") return Line("OK");
    if (mode == "ON") return Error("FEATURE-NOT-SUPPORTED");
    return Error("INVALID-ARGUMENT");
  }
  if (what == "VAR") return SetVar(words);
  return Error("INVALID-ARGUMENT");
}

const NutUser* NutRequestHandler::Authorize(
    const std::function<bool(const NutUser&)>& allowed, const char** error) {
  if (!username_set_) {
    *error = "USERNAME-REQUIRED";
    return nullptr;
  }
  if (!password_set_) {
    *error = "PASSWORD-REQUIRED";
    return nullptr;
  }
  const NutUser* found = nullptr;
  for (const NutUser& user : backend_->Users()) {
    if (user.name == username_) found = &user;
  }
  // An unknown user, a wrong password and a missing right get one answer.
  if (found == nullptr || !SameSecret(found->password, password_) ||
      !allowed(*found)) {
    if (!refusal_logged_) {
      backend_->Log("NUT: access denied to user " + username_ + " from " +
                    peer_);
      refusal_logged_ = true;
    }
    *error = "ACCESS-DENIED";
    return nullptr;
  }
  return found;
}

std::function<void(bool)> NutRequestHandler::LogOutcome(
    std::string what) const {
  NutBackend* backend = backend_;
  return [backend, what = std::move(what)](bool ok) {
    backend->Log(what + (ok ? ": done" : ": failed"));
  };
}

NutReply NutRequestHandler::SetVar(const Words& words) {
  if (words.size() != 5) return Error("INVALID-ARGUMENT");
  const std::string& ups = words[2];
  const std::string& name = words[3];
  const std::string& value = words[4];
  if (!KnownUps(ups)) return Error("UNKNOWN-UPS");
  const char* error = nullptr;
  const NutUser* user =
      Authorize([](const NutUser& u) { return u.may_set; }, &error);
  if (user == nullptr) return Error(error);
  if (const char* blocked = ReadBlocked()) return Error(blocked);
  const NutUnitData& data = backend_->Data();
  const NutVariableInfo* var = FindNutVariable(name);
  std::string current;
  if (var == nullptr || !var->read(data, &current)) {
    return Error("VAR-NOT-SUPPORTED");
  }
  if (value.size() > kMaxValueBytes) return Error("TOO-LONG");
  std::string agent_line;
  switch (NutWriteCommand(data, *var, value, &agent_line)) {
    case NutWriteResult::kOk:
      break;
    case NutWriteResult::kReadOnly:
      return Error("READONLY");
    case NutWriteResult::kInvalidValue:
      return Error("INVALID-VALUE");
  }
  const std::string what = "NUT: user " + user->name + " from " + peer_ +
                           " sets " + name + " to " + value;
  backend_->Log(what);
  backend_->SendAgentLine(agent_line, LogOutcome(what));
  return Line("OK");
}

NutReply NutRequestHandler::InstCmd(const Words& words) {
  if (words.size() != 3 && words.size() != 4) {
    return Error("INVALID-ARGUMENT");
  }
  const std::string& ups = words[1];
  const std::string& name = words[2];
  const std::string param = words.size() == 4 ? words[3] : std::string();
  if (!KnownUps(ups)) return Error("UNKNOWN-UPS");
  const char* error = nullptr;
  const NutUser* user =
      Authorize([&name](const NutUser& u) { return MayRun(u, name); }, &error);
  if (user == nullptr) return Error(error);
  if (const char* blocked = ReadBlocked()) return Error(blocked);
  NutCommandAction action;
  switch (NutCommandActionOf(backend_->Data(), name, param, &action)) {
    case NutCommandResult::kOk:
      break;
    case NutCommandResult::kNotSupported:
      return Error("CMD-NOT-SUPPORTED");
    case NutCommandResult::kInvalidArgument:
      return Error("INVALID-ARGUMENT");
  }
  std::string what =
      "NUT: user " + user->name + " from " + peer_ + " runs " + name;
  if (!param.empty()) what += " " + param;
  backend_->Log(what);
  if (action.kind == NutCommandAction::Kind::kBuzzer) {
    backend_->SetBuzzer(action.buzzer_on, LogOutcome(what));
  } else {
    backend_->SendAgentLine(action.agent_line, LogOutcome(what));
  }
  return Line("OK");
}

NutReply NutRequestHandler::Username(const Words& words) {
  if (words.size() != 2) return Error("INVALID-ARGUMENT");
  if (username_set_) return Error("ALREADY-SET-USERNAME");
  username_ = words[1];
  username_set_ = true;
  return Line("OK");
}

NutReply NutRequestHandler::Password(const Words& words) {
  if (words.size() != 2) return Error("INVALID-ARGUMENT");
  if (password_set_) return Error("ALREADY-SET-PASSWORD");
  password_ = words[1];
  password_set_ = true;
  return Line("OK");
}

NutReply NutRequestHandler::Login(const Words& words) {
  if (words.size() != 2) return Error("INVALID-ARGUMENT");
  if (logged_in_) return Error("ALREADY-LOGGED-IN");
  if (!KnownUps(words[1])) return Error("UNKNOWN-UPS");
  const char* error = nullptr;
  const NutUser* user =
      Authorize([](const NutUser& u) { return u.may_monitor; }, &error);
  if (user == nullptr) return Error(error);
  logged_in_ = true;
  backend_->Log("NUT: user " + user->name + " logged in from " + peer_);
  return Line("OK");
}

NutReply NutRequestHandler::Primary(const Words& words, bool old_name) {
  if (words.size() != 2) return Error("INVALID-ARGUMENT");
  if (!KnownUps(words[1])) return Error("UNKNOWN-UPS");
  const char* error = nullptr;
  const NutUser* user =
      Authorize([](const NutUser& u) { return u.primary; }, &error);
  if (user == nullptr) return Error(error);
  primary_ = true;
  return Line(old_name ? "OK MASTER-GRANTED" : "OK PRIMARY-GRANTED");
}

NutReply NutRequestHandler::ForcedShutdown(const Words& words) {
  if (words.size() != 2) return Error("INVALID-ARGUMENT");
  if (!KnownUps(words[1])) return Error("UNKNOWN-UPS");
  const char* error = nullptr;
  const NutUser* user =
      Authorize([](const NutUser& u) { return u.primary; }, &error);
  if (user == nullptr) return Error(error);
  backend_->Log("NUT: user " + user->name + " from " + peer_ +
                " sets forced shutdown");
  backend_->SetForcedShutdown();
  return Line("OK FSD-SET");
}
