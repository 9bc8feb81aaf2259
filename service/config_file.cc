#include "service/config_file.h"

#include <ini.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <vector>

#include "service/agent_process.h"
#include "service/setting_values.h"

namespace {

// libinih reads lines into a buffer of 200 bytes and cuts section names at
// 50; longer ones would be cut silently, so they are refused first.
constexpr size_t kMaxLineChars = 198;
constexpr size_t kMaxSectionChars = 49;
constexpr size_t kMaxFileBytes = 256 * 1024;

bool IsNameChar(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
         (c >= '0' && c <= '9') || c == '_' || c == '-' || c == '.';
}

bool IsName(const std::string& text) {
  if (text.empty()) return false;
  for (char c : text) {
    if (!IsNameChar(c)) return false;
  }
  return true;
}

std::string Trim(const std::string& text) {
  const char* kBlanks = " \t\r\n\f\v";
  size_t first = text.find_first_not_of(kBlanks);
  if (first == std::string::npos) return std::string();
  size_t last = text.find_last_not_of(kBlanks);
  return text.substr(first, last - first + 1);
}

class ConfigParser final {
 public:
  ConfigParser(const std::string& text, ServiceOptions* options)
      : text_(text), options_(options) {}

  // Returns the first faulty line (0 when none) with its reason in *error.
  int32_t Parse(std::string* error) {
    ScanLines();
    int result = ini_parse_stream(&ConfigParser::Read, this,
                                  &ConfigParser::Handle, this);
    if (result == -2) Fail(1, "out of memory");
    if (result > 0) {
      Fail(result,
           "expected [section], KEY = VALUE, a comment or a blank line");
    }
    for (const UserSection& user : users_) {
      if (!user.has_password) {
        Fail(user.line, "[user " + user.name + "] has no password");
      }
    }
    if (error_line_ > 0) *error = error_;
    return error_line_;
  }

 private:
  struct UserSection {
    std::string name;
    int32_t line = 0;
    bool has_password = false;
  };

  // Keeps the fault of the earliest line.
  void Fail(int32_t line, const std::string& reason) {
    if (error_line_ == 0 || line < error_line_) {
      error_line_ = line;
      error_ = reason;
    }
  }

  // Splits the text into lines, refuses those libinih would cut, and checks
  // every section header, so that sections without keys are checked too.
  void ScanLines() {
    std::string line;
    std::istringstream in(text_);
    while (std::getline(in, line)) {
      // libinih skips a UTF-8 byte order mark at the start.
      if (lines_.empty() && line.compare(0, 3, "\xEF\xBB\xBF") == 0) {
        line.erase(0, 3);
      }
      lines_.push_back(line);
      int32_t number = static_cast<int32_t>(lines_.size());
      if (line.find('\0') != std::string::npos) {
        Fail(number, "the line holds a NUL byte");
      }
      if (line.size() > kMaxLineChars) {
        Fail(number, "the line is longer than " +
                         std::to_string(kMaxLineChars) + " characters");
        continue;
      }
      std::string trimmed = Trim(line);
      if (trimmed.empty() || trimmed[0] != '[') continue;
      size_t close = trimmed.find(']');
      if (close == std::string::npos) continue;  // libinih reports it
      CheckSection(number, trimmed.substr(1, close - 1));
    }
  }

  void CheckSection(int32_t line, const std::string& section) {
    if (section.size() > kMaxSectionChars) {
      Fail(line, "section name longer than " +
                     std::to_string(kMaxSectionChars) + " characters");
      return;
    }
    if (section == "kovrad" || section == "nut" || section == "http") return;
    if (section.compare(0, 5, "user ") != 0) {
      Fail(line, "unknown section [" + section + "]");
      return;
    }
    std::string name = section.substr(5);
    if (!IsName(name)) {
      Fail(line, "a user name is letters, digits, '_', '-' and '.', not '" +
                     name + "'");
      return;
    }
    for (const UserSection& user : users_) {
      if (user.name == name) {
        Fail(line, "[user " + name + "] appears twice");
        return;
      }
    }
    users_.push_back(UserSection{name, line, false});
    NutUser user;
    user.name = name;
    options_->config.nut.users.push_back(user);
  }

  // libinih's reader: one line per call (ScanLines made sure each fits).
  static char* Read(char* buffer, int size, void* stream) {
    ConfigParser* self = static_cast<ConfigParser*>(stream);
    if (self->pos_ >= self->text_.size() || size < 2) return nullptr;
    size_t end = self->text_.find('\n', self->pos_);
    end = end == std::string::npos ? self->text_.size() : end + 1;
    size_t length = std::min(end - self->pos_, static_cast<size_t>(size - 1));
    // Pieces of a line too long for the buffer all count as that line.
    if (self->pos_ == 0 || self->text_[self->pos_ - 1] == '\n') ++self->line_;
    std::memcpy(buffer, self->text_.data() + self->pos_, length);
    buffer[length] = '\0';
    self->pos_ += length;
    return buffer;
  }

  static int Handle(void* user, const char* section, const char* name,
                    const char* value) {
    ConfigParser* self = static_cast<ConfigParser*>(user);
    return self->HandleKey(section, name, value) ? 1 : 0;
  }

  bool HandleKey(const std::string& section, const std::string& key,
                 const std::string& value) {
    int32_t line = line_;
    if (section.empty()) {
      Fail(line, "KEY = VALUE before the first [section]");
      return false;
    }
    if (!seen_.insert(section + '\n' + key).second) {
      Fail(line, key + " given twice in [" + section + "]");
      return false;
    }
    // libinih drops " ;..." from a value as a comment; a shell command cut
    // short that way must not pass unnoticed.
    if (line >= 1 && static_cast<size_t>(line) <= lines_.size()) {
      const std::string& raw = lines_[static_cast<size_t>(line) - 1];
      size_t separator = raw.find_first_of("=:");
      if (separator != std::string::npos &&
          Trim(raw.substr(separator + 1)) != value) {
        Fail(line,
             "a ';' after a blank starts a comment, which a value cannot "
             "hold; put the comment on a line of its own");
        return false;
      }
    }
    std::string reason;
    bool ok = false;
    if (section == "kovrad") {
      ok = SetKovrad(key, value, &reason);
    } else if (section == "nut") {
      ok = SetNut(key, value, &reason);
    } else if (section == "http") {
      ok = SetHttp(key, value, &reason);
    } else if (section.compare(0, 5, "user ") == 0) {
      ok = SetUser(section.substr(5), key, value, &reason);
    } else {
      // ScanLines has reported the section already.
      return false;
    }
    if (!ok) Fail(line, reason);
    return ok;
  }

  static std::string Unknown(const std::string& key,
                             const std::string& section) {
    return "unknown key " + key + " in [" + section + "]";
  }

  bool SetKovrad(const std::string& key, const std::string& value,
                 std::string* reason) {
    ServiceConfig& config = options_->config;
    if (key == "listen") {
      if (ParseIpv4HostPort(value, &config.listen_host, &config.listen_port)) {
        return true;
      }
      *reason = "listen wants IPV4-ADDRESS:PORT, not '" + value + "'";
    } else if (key == "allow-remote") {
      if (ParseBoolean(value, &config.allow_remote)) return true;
      *reason = "allow-remote wants yes or no, not '" + value + "'";
    } else if (key == "agent") {
      options_->agent_path = value;
      return true;
    } else if (key == "state-dir") {
      if (!value.empty()) {
        options_->state_dir = value;
        return true;
      }
      *reason = "state-dir wants a folder";
    } else if (key == "save-hooks") {
      config.save_hooks_dir = value;
      return true;
    } else if (key == "shutdown-command") {
      config.shutdown_command = value;
      return true;
    } else if (key == "notify-command") {
      config.notify_command = value;
      return true;
    } else if (key == "restore-after") {
      if (ParseSeconds(value, 86400, &config.restore_after_s)) return true;
      *reason = "restore-after wants seconds from 0 to 86400, not '" + value +
                "'";
    } else if (key == "save-hooks-budget") {
      int32_t seconds = 0;
      if (ParseSeconds(value, 3600, &seconds) && seconds >= 1) {
        options_->config.save_hooks_budget_s = seconds;
        return true;
      }
      *reason = "save-hooks-budget wants seconds from 1 to 3600, not '" +
                value + "'";
    } else {
      *reason = Unknown(key, "kovrad");
    }
    return false;
  }

  bool SetNut(const std::string& key, const std::string& value,
              std::string* reason) {
    NutSettings& nut = options_->config.nut;
    if (key == "listen") {
      if (ParseListenAddress(value, &nut.listen)) return true;
      *reason = "listen wants ADDRESS:PORT or off, not '" + value + "'";
    } else if (key == "ups-name") {
      if (IsName(value)) {
        nut.ups_name = value;
        return true;
      }
      *reason = "ups-name is letters, digits, '_', '-' and '.', not '" +
                value + "'";
    } else if (key == "secondary-wait") {
      if (ParseSeconds(value, 3600, &nut.secondary_wait_s)) return true;
      *reason = "secondary-wait wants seconds from 0 to 3600, not '" + value +
                "'";
    } else {
      *reason = Unknown(key, "nut");
    }
    return false;
  }

  bool SetHttp(const std::string& key, const std::string& value,
               std::string* reason) {
    if (key == "listen") {
      if (ParseListenAddress(value, &options_->config.http.listen)) return true;
      *reason = "listen wants ADDRESS:PORT or off, not '" + value + "'";
    } else {
      *reason = Unknown(key, "http");
    }
    return false;
  }

  bool SetUser(const std::string& name, const std::string& key,
               const std::string& value, std::string* reason) {
    size_t index = 0;
    while (index < users_.size() && users_[index].name != name) ++index;
    if (index == users_.size()) return false;  // a refused section
    NutUser& user = options_->config.nut.users[index];
    if (key == "password") {
      users_[index].has_password = true;  // a bad one is reported as such
      if (!value.empty()) {
        user.password = value;
        return true;
      }
      *reason = "password must not be empty";
    } else if (key == "upsmon") {
      if (value == "secondary" || value == "primary" || value == "none") {
        user.may_monitor = value != "none";
        user.primary = value == "primary";
        return true;
      }
      *reason = "upsmon wants secondary, primary or none, not '" + value + "'";
    } else if (key == "set") {
      if (ParseBoolean(value, &user.may_set)) return true;
      *reason = "set wants yes or no, not '" + value + "'";
    } else if (key == "instcmds") {
      return SetInstcmds(value, &user, reason);
    } else {
      *reason = Unknown(key, "user " + name);
    }
    return false;
  }

  static bool SetInstcmds(const std::string& value, NutUser* user,
                          std::string* reason) {
    if (value == "all") {
      user->all_instcmds = true;
      user->instcmds.clear();
      return true;
    }
    std::vector<std::string> commands;
    std::istringstream words(value);
    std::string word;
    while (words >> word) {
      if (!IsName(word)) {
        *reason = "instcmds wants all or command names, not '" + word + "'";
        return false;
      }
      commands.push_back(word);
    }
    user->all_instcmds = false;
    user->instcmds = commands;
    return true;
  }

  const std::string& text_;
  ServiceOptions* options_;
  std::vector<std::string> lines_;
  std::vector<UserSection> users_;  // parallel to options_->config.nut.users
  std::set<std::string> seen_;
  size_t pos_ = 0;
  int32_t line_ = 0;  // the line libinih is at
  int32_t error_line_ = 0;
  std::string error_;
};

const char* YesNo(bool value) { return value ? "yes" : "no"; }

// "KEY = VALUE", or "KEY =" for an empty value.
// "key = value" as the parser reads it back. A value that starts with ';'
// follows the '=' without a blank, since after a blank the parser takes
// ';' for the start of a comment.
std::string Line(const char* key, const std::string& value) {
  if (value.empty()) return std::string(key) + " =\n";
  const char* equals = value[0] == ';' ? " =" : " = ";
  return std::string(key) + equals + value + "\n";
}

}  // namespace

bool ParseConfigText(const std::string& text, const std::string& name,
                     ServiceOptions* options, std::string* error) {
  std::string reason;
  int32_t line = ConfigParser(text, options).Parse(&reason);
  if (line == 0) return true;
  *error = name + ":" + std::to_string(line) + ": " + reason;
  return false;
}

bool ReadConfigFile(const std::string& path, bool must_exist,
                    ServiceOptions* options, std::string* error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    int cause = errno;
    if (cause == ENOENT && !must_exist) return true;
    *error = "cannot read " + path + ": " + std::strerror(cause);
    return false;
  }
  std::string text;
  char chunk[4096];
  while (in.read(chunk, sizeof(chunk)) || in.gcount() > 0) {
    text.append(chunk, static_cast<size_t>(in.gcount()));
    if (text.size() > kMaxFileBytes) {
      *error = path + ": larger than " + std::to_string(kMaxFileBytes) +
               " bytes";
      return false;
    }
  }
  if (in.bad()) {
    *error = "cannot read " + path;
    return false;
  }
  return ParseConfigText(text, path, options, error);
}

bool LoadServiceSettings(int argc, const char* const* argv,
                         ServiceOptions* options, std::string* error) {
  // The first pass only finds the file (and refuses a bad command line
  // before the file is read); the second lets the command line win.
  ServiceOptions command_line;
  if (!ParseServiceOptions(argc, argv, &command_line, error)) return false;
  *options = ServiceOptions();
  if (command_line.help || command_line.version) {
    return ParseServiceOptions(argc, argv, options, error);
  }
  if (!ReadConfigFile(command_line.config_path, command_line.config_given,
                      options, error)) {
    return false;
  }
  return ParseServiceOptions(argc, argv, options, error);
}

std::string FormatSettings(const ServiceOptions& options) {
  const ServiceConfig& config = options.config;
  std::ostringstream out;
  out << "[kovrad]\n"
      << "listen = " << config.listen_host << ":" << config.listen_port << "\n"
      << "allow-remote = " << YesNo(config.allow_remote) << "\n"
      << Line("agent", options.agent_path.empty() ? DefaultAgentPath()
                                                  : options.agent_path)
      << Line("state-dir", options.state_dir)
      << Line("save-hooks", config.save_hooks_dir)
      << Line("shutdown-command", config.shutdown_command)
      << "restore-after = " << config.restore_after_s << "\n"
      << "save-hooks-budget = " << options.config.save_hooks_budget_s << "\n"
      << Line("notify-command", config.notify_command)
      << "\n[nut]\n"
      << "listen = " << ListenAddressText(options.config.nut.listen) << "\n"
      << "ups-name = " << options.config.nut.ups_name << "\n"
      << "secondary-wait = " << options.config.nut.secondary_wait_s << "\n"
      << "\n[http]\n"
      << "listen = " << ListenAddressText(options.config.http.listen) << "\n";
  for (const NutUser& user : options.config.nut.users) {
    out << "\n[user " << user.name << "]\n"
        << "# password set\n"
        << "upsmon = "
        << (user.primary ? "primary" : user.may_monitor ? "secondary" : "none")
        << "\n"
        << "set = " << YesNo(user.may_set) << "\n"
        << "instcmds =";
    if (user.all_instcmds) out << " all";
    for (const std::string& command : user.instcmds) out << " " << command;
    out << "\n";
  }
  return out.str();
}
