#include "common/integer_text.h"
#include "service/kovra_request_handler.h"

#include <algorithm>
#include <cstring>
#include <utility>
#include <vector>

#include "common/service_wire.h"
#include "service/agent_commands.h"
#include "service/diagnostics.h"
#include "service/log_store.h"
#include "service/property_cache.h"
#include "service/service_core.h"

namespace {

constexpr int32_t kMaxLoginFailures = 3;

std::string ErrorReply(int32_t code) { return "ERR " + std::to_string(code); }

bool StartsWith(const std::string& text, const char* prefix) {
  return text.compare(0, std::strlen(prefix), prefix) == 0;
}

// The client's answer to the agent's reply to a DEV request.
std::string DevAnswer(const DevRequest& request, const AgentReply& reply) {
  if (reply.kind == AgentReply::Kind::kError) return ErrorReply(reply.code);
  if (request.form == DevRequest::Form::kNone) return "OK";
  std::string answer = reply.text;
  if (request.form == DevRequest::Form::kDeviceList) {
    std::replace(answer.begin(), answer.end(), ',', '\n');
  }
  return answer;
}

}  // namespace

KovraRequestHandler::KovraRequestHandler(ServiceCore* core) : core_(core) {}

std::string KovraRequestHandler::OverlongReply() const {
  return ErrorReply(service_wire::kErrRequestTooLong);
}

void KovraRequestHandler::HandleLine(const std::string& line, Respond respond) {
  if (StartsWith(line, "USR ")) {
    respond(Login(line));
  } else if (!logged_in_) {
    ++failures_;
    respond(
        {ErrorReply(service_wire::kErrLogin), failures_ >= kMaxLoginFailures});
  } else if (StartsWith(line, "DEV ")) {
    Dev(line.substr(4), std::move(respond));
  } else if (StartsWith(line, "PTC ")) {
    respond({Parameter(true, line.substr(4))});
  } else if (StartsWith(line, "POL ")) {
    respond({Parameter(false, line.substr(4))});
  } else if (StartsWith(line, "LOG ")) {
    respond({Log(line.substr(4))});
  } else {
    respond({ErrorReply(service_wire::kErrUnknownRequest)});
  }
}

LineReply KovraRequestHandler::Login(const std::string& line) {
  bool ok = false;
  if (StartsWith(line, "USR NAME ")) {
    name_ok_ = line.substr(9) == service_wire::kLoginUser;
    ok = name_ok_;
  } else if (StartsWith(line, "USR PASS ")) {
    ok = name_ok_ && line.substr(9) == service_wire::kLoginPassword;
    if (ok) logged_in_ = true;
  }
  if (ok) return {"OK"};
  ++failures_;
  return {ErrorReply(service_wire::kErrLogin),
          failures_ >= kMaxLoginFailures && !logged_in_};
}

void KovraRequestHandler::Dev(const std::string& text, Respond respond) {
  DevRequest request;
  int32_t result = MapDevRequest(text, &request);
  if (result != 0) {
    respond({ErrorReply(result)});
    return;
  }
  if (request.source == DevRequest::Source::kSnapshot) {
    int32_t value = 0;
    result = core_->ReadStatus(request.snapshot_slot, &value);
    respond({result == 0 ? std::to_string(value) : ErrorReply(result)});
    return;
  }
  std::string cached;
  if (request.cacheable &&
      core_->properties()->Find(request.command, &cached)) {
    respond({cached});
    return;
  }
  // The callback may run after this handler has gone (the client left), so
  // it holds only the core. Without a running agent it runs at once.
  ServiceCore* core = core_;
  core_->agent()->Enqueue(
      request.command, [core, request, respond](const AgentReply& reply) {
        std::string answer = DevAnswer(request, reply);
        bool value = reply.kind != AgentReply::Kind::kError &&
                     request.form != DevRequest::Form::kNone;
        if (value && request.cacheable) {
          core->properties()->Store(request.command, answer);
        }
        if (request.changes_unit) core->properties()->Clear();
        respond({answer});
      });
}

std::string KovraRequestHandler::Parameter(bool ptc, const std::string& text) {
  ParameterSpace space = ptc ? ParameterSpace::kPtc : ParameterSpace::kPol;
  size_t equals = text.find('=');
  if (equals == std::string::npos) {
    int32_t value = 0;
    int32_t result = core_->GetParameter(space, text, &value);
    return result == 0 ? std::to_string(value) : ErrorReply(result);
  }
  int32_t result = core_->SetParameter(space, text.substr(0, equals),
                                       text.substr(equals + 1));
  return result == 0 ? "OK" : ErrorReply(result);
}

std::string KovraRequestHandler::Log(const std::string& text) {
  std::vector<std::string> words;
  size_t start = 0;
  while (start <= text.size()) {
    size_t blank = text.find(' ', start);
    if (blank == std::string::npos) blank = text.size();
    words.push_back(text.substr(start, blank - start));
    start = blank + 1;
  }
  const std::string& verb = words[0];
  size_t arguments = verb == "PRV" ? 3 : 2;
  if (verb != "KEY" && verb != "PRV" && verb != "CLR") {
    return ErrorReply(service_wire::kErrUnknownRequest);
  }
  int32_t list = -1;
  int32_t key = 0;
  if (words.size() != arguments || !ParseWholeInt32(words[1], &list) ||
      !LogStore::ValidList(list) ||
      (arguments == 3 && !ParseWholeInt32(words[2], &key))) {
    return ErrorReply(service_wire::kErrInvalidValue);
  }
  LogStore* logs = core_->logs();
  if (logs == nullptr) return ErrorReply(service_wire::kErrStoreFailed);
  if (verb == "KEY") {
    int32_t start_key = 0;
    return logs->StartKey(list, &start_key)
               ? std::to_string(start_key)
               : ErrorReply(service_wire::kErrStoreFailed);
  }
  if (verb == "PRV") {
    int32_t next_key = key;
    std::vector<std::string> entries;
    if (!logs->Page(list, key, &next_key, &entries)) {
      return ErrorReply(service_wire::kErrStoreFailed);
    }
    std::string answer = std::to_string(next_key);
    for (const std::string& entry : entries) answer += "\n" + entry;
    return answer;
  }
  bool cleared = logs->Clear(list);
  Diag("log list %d erased", list);
  return cleared ? "OK" : ErrorReply(service_wire::kErrStoreFailed);
}
