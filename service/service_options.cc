#include "service/service_options.h"

#include <cstring>

#include "service/parameter_store.h"

namespace {

// Splits "ADDR:PORT" at its last colon; the port is 0 to 65535.
bool ParseListen(const std::string& text, ServiceConfig* config) {
  size_t colon = text.rfind(':');
  if (colon == std::string::npos || colon == 0) return false;
  int32_t port = 0;
  std::string port_text = text.substr(colon + 1);
  if (port_text.find_first_not_of("0123456789") != std::string::npos ||
      !ParseInt32(port_text, &port) || port < 0 || port > 65535) {
    return false;
  }
  config->listen_host = text.substr(0, colon);
  config->listen_port = static_cast<uint16_t>(port);
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
         "  --notify-command CMD      shell command run for every event\n"
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
    if (arg == "--allow-remote") {
      options->config.allow_remote = true;
      continue;
    }
    if (arg != "--listen" && arg != "--agent" && arg != "--state-dir" &&
        arg != "--save-hooks" && arg != "--shutdown-command" &&
        arg != "--restore-after" && arg != "--save-hooks-budget" &&
        arg != "--notify-command") {
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
      if (!ParseListen(value, &options->config)) {
        *error = "--listen wants ADDR:PORT, not " + value;
        return false;
      }
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
    } else if (arg == "--save-hooks-budget") {
      int32_t seconds = 0;
      if (value.find_first_not_of("0123456789") != std::string::npos ||
          !ParseInt32(value, &seconds) || seconds < 1 || seconds > 3600) {
        *error = "--save-hooks-budget wants seconds from 1 to 3600";
        return false;
      }
      options->config.save_hooks_budget_s = seconds;
    } else {
      int32_t seconds = 0;
      if (value.find_first_not_of("0123456789") != std::string::npos ||
          !ParseInt32(value, &seconds) || seconds > 86400) {
        *error = "--restore-after wants seconds from 0 to 86400";
        return false;
      }
      options->config.restore_after_s = seconds;
    }
  }
  return true;
}
