#pragma once

#include <cstdint>
#include <string>

#include "service/dev_request.h"
#include "service/line_session.h"

class ServiceCore;

// The kovra protocol on one connection: the fixed login first ("USR NAME",
// "USR PASS"; three failures before a login close the connection), then
// DEV requests (from the snapshot, the property cache or the agent), PTC
// and POL parameters and LOG paging. One request line in, one reply out;
// errors are "ERR n".
class KovraRequestHandler final : public LineSession {
 public:
  // core must outlive the handler and every reply it still owes.
  explicit KovraRequestHandler(ServiceCore* core);

  void HandleLine(const std::string& line, Respond respond) override;
  std::string OverlongReply() const override;
  bool authenticated() const override { return logged_in_; }

 private:
  LineReply Login(const std::string& line);
  void Dev(const std::string& text, Respond respond);
  std::string Parameter(bool ptc, const std::string& text);
  std::string Log(const std::string& text);

  ServiceCore* core_;
  bool name_ok_ = false;
  bool logged_in_ = false;
  int32_t failures_ = 0;
};
