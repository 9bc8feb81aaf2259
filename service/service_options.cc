#include "service/service_options.h"

#include <cstring>

#include "service/setting_values.h"

#ifndef KOVRAD_CONFIG_PATH
#define KOVRAD_CONFIG_PATH "/etc/kovra/kovrad.conf"
#endif

const char* DefaultConfigPath() { return KOVRAD_CONFIG_PATH; }

namespace {

// "NAME:PASSWORD:RIGHTS": the password runs from the first colon to the
// last, so it may hold colons itself. RIGHTS is a comma-separated list of
// monitor, primary, set, instcmds (every instant command) and single
// instant command names; a user may always monitor.
bool ParseNutUser(const std::string& text, NutUser* user) {
  size_t first = text.find(':');
  size_t last = text.rfind(':');
  if (first == std::string::npos || first == 0 || last == first) return false;
  user->name = text.substr(0, first);
  user->password = text.substr(first + 1, last - first - 1);
  std::string rights = text.substr(last + 1);
  size_t start = 0;
  while (start < rights.size()) {
    size_t comma = rights.find(',', start);
    if (comma == std::string::npos) comma = rights.size();
    std::string right = rights.substr(start, comma - start);
    start = comma + 1;
    if (right.empty() || right == "monitor") continue;
    if (right == "primary") {
      user->primary = true;
    } else if (right == "set") {
      user->may_set = true;
    } else if (right == "instcmds") {
      user->all_instcmds = true;
    } else if (right.find('.') != std::string::npos) {
      user->instcmds.push_back(right);
    } else {
      return false;
    }
  }
  return true;
}

}  // namespace

const char* ServiceUsage() {
  return "usage: kovrad [options]\n"
         "  --listen ADDR:PORT        where clients connect "
         "(default 127.0.0.1:8855)\n"
         "  --allow-remote            allow a listen address outside "
         "127.0.0.0/8\n"
         "  --agent PATH              the upsagent program to run\n"
         "  --state-dir DIR           settings and logs "
         "(default /var/lib/kovrad)\n"
         "  --save-hooks DIR          programs run to save files before a "
         "power-failure shutdown\n"
         "  --shutdown-command CMD    shell command that shuts the system "
         "down (default: none, only logged)\n"
         "  --restore-after SECONDS   UPS restore time after a shutdown "
         "(default 60)\n"
         "  --save-hooks-budget SECONDS  time for all save hooks together "
         "(default 60)\n"
         "  --notify-command CMD      shell command run for each event "
         "(default: none)\n"
         "  --nut-listen ADDR:PORT|off  the NUT-protocol listener "
         "(default 127.0.0.1:3493)\n"
         "  --http-listen ADDR:PORT|off serve metrics, JSON and a status "
         "page over HTTP\n"
         "                            (default off)\n"
         "  --config FILE             the configuration file (default "
         KOVRAD_CONFIG_PATH ")\n"
         "  --check-config            read the configuration, print it and "
         "exit\n"
         "  --nut-user NAME:PASSWORD:RIGHTS  a NUT user (repeatable); RIGHTS: "
         "comma-separated\n"
         "                            primary, set, instcmds or instant "
         "command names\n"
         "  --check-shutdown          print what a power failure would do "
         "now, and exit\n"
         "  --help, --version\n";
}

bool ParseServiceOptions(int argc, const char* const* argv,
                         ServiceOptions* options, std::string* error) {
  for (int i = 0; i < argc; ++i) {
    std::string arg = argv[i];
    std::string value;
    bool has_value = false;
    size_t equals = arg.find('=');
    if (arg.compare(0, 2, "--") == 0 && equals != std::string::npos) {
      value = arg.substr(equals + 1);
      arg = arg.substr(0, equals);
      has_value = true;
    }
    if (arg == "--help" || arg == "-h") {
      options->help = true;
      continue;
    }
    if (arg == "--check-shutdown") {
      options->check_shutdown = true;
      continue;
    }
    if (arg == "--version") {
      options->version = true;
      continue;
    }
    if (arg == "--check-config") {
      options->check_config = true;
      continue;
    }
    if (arg == "--allow-remote") {
      options->config.allow_remote = true;
      continue;
    }
    if (arg != "--listen" && arg != "--agent" && arg != "--state-dir" &&
        arg != "--save-hooks" && arg != "--shutdown-command" &&
        arg != "--restore-after" && arg != "--notify-command" &&
        arg != "--nut-listen" && arg != "--http-listen" &&
        arg != "--config" && arg != "--save-hooks-budget" &&
        arg != "--nut-user") {
      *error = "unknown option " + arg;
      return false;
    }
    if (!has_value) {
      if (i + 1 >= argc) {
        *error = "option " + arg + " needs a value";
        return false;
      }
      value = argv[++i];
    }
    if (arg == "--listen") {
      if (!ParseIpv4HostPort(value, &options->config.listen_host,
                             &options->config.listen_port)) {
        *error = "--listen wants ADDR:PORT, not " + value;
        return false;
      }
    } else if (arg == "--nut-user") {
      NutUser user;
      if (!ParseNutUser(value, &user)) {
        // The value holds a password: it is not repeated.
        *error = "--nut-user wants NAME:PASSWORD:RIGHTS";
        return false;
      }
      options->config.nut.users.push_back(user);
    } else if (arg == "--agent") {
      options->agent_path = value;
    } else if (arg == "--state-dir") {
      options->state_dir = value;
    } else if (arg == "--save-hooks") {
      options->config.save_hooks_dir = value;
    } else if (arg == "--shutdown-command") {
      options->config.shutdown_command = value;
    } else if (arg == "--notify-command") {
      options->config.notify_command = value;
    } else if (arg == "--nut-listen" || arg == "--http-listen") {
      ListenAddress* address = arg == "--nut-listen" ? &options->config.nut.listen
                                                     : &options->config.http.listen;
      if (!ParseListenAddress(value, address)) {
        *error = arg + " wants ADDR:PORT or off, not " + value;
        return false;
      }
    } else if (arg == "--config") {
      if (value.empty()) {
        *error = "--config wants a file";
        return false;
      }
      options->config_path = value;
      options->config_given = true;
    } else if (arg == "--save-hooks-budget") {
      if (!ParseSeconds(value, 3600, &options->config.save_hooks_budget_s) ||
          options->config.save_hooks_budget_s < 1) {
        *error = "--save-hooks-budget wants seconds from 1 to 3600";
        return false;
      }
    } else {
      int32_t seconds = 0;
      if (!ParseSeconds(value, 86400, &seconds)) {
        *error = "--restore-after wants seconds from 0 to 86400";
        return false;
      }
      options->config.restore_after_s = seconds;
    }
  }
  return true;
}
