// kovrad: the UPS service. Runs upsagent as its child, keeps a status
// snapshot, settings and logs, and serves kovra on a loopback TCP port.

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "common/time/system_clock.h"
#include "service/agent_process.h"
#include "service/config_file.h"
#include "service/database.h"
#include "service/diagnostics.h"
#include "service/http/http_endpoint.h"
#include "service/log_store.h"
#include "service/parameter_store.h"
#include "service/sd_notify.h"
#include "service/service.h"
#include "service/service_options.h"
#include "service/shutdown_plan.h"

namespace {

Service* g_service = nullptr;

void OnStopSignal(int) {
  if (g_service != nullptr) g_service->Stop();
}

// --check-shutdown: the stored settings (when there is a database) and the
// options, printed as the steps a power failure would take. Starts no
// agent and leaves a missing database missing.
int CheckShutdown(const ServiceOptions& options) {
  std::string path = options.state_dir + "/kovrad.db";
  std::unique_ptr<Database> database;
  if (access(path.c_str(), F_OK) == 0) {
    database = Database::OpenOrUnavailable(
        path, Database::Options(), SystemClock::Instance()->MonotonicMillis());
  }
  ParameterStore params(database.get());
  if (!database) {
    std::printf("no database at %s: the default settings apply\n",
                path.c_str());
  } else if (!database->Available() || !params.Load()) {
    std::printf(
        "cannot read the settings in %s (%s): the default settings "
        "apply\n",
        path.c_str(), database->Problem().c_str());
  }
  for (const std::string& line :
       DescribeShutdownPlan(options.config, params,
                            ListSaveHooks(options.config.save_hooks_dir))) {
    std::printf("%s\n", line.c_str());
  }
  return 0;
}

// Half the service manager's watchdog time, when it watches this process.
int64_t WatchdogIntervalMs() {
  const char* usec = std::getenv("WATCHDOG_USEC");
  if (usec == nullptr) return 0;
  const char* pid = std::getenv("WATCHDOG_PID");
  if (pid != nullptr && std::strtol(pid, nullptr, 10) != getpid()) return 0;
  char* end = nullptr;
  long long value = std::strtoll(usec, &end, 10);
  if (end == usec || *end != '\0' || value <= 0) return 0;
  return std::max<int64_t>(1, value / 2000);
}

}  // namespace

int main(int argc, char** argv) {
  ServiceOptions options;
  std::string error;
  ServiceOptions command_line;
  if (!ParseServiceOptions(argc - 1, argv + 1, &command_line, &error)) {
    std::fprintf(stderr, "kovrad: %s\n%s", error.c_str(), ServiceUsage());
    return 2;
  }
  // A faulty configuration file stops the start: the service never runs
  // with part of its settings.
  if (!LoadServiceSettings(argc - 1, argv + 1, &options, &error)) {
    std::fprintf(stderr, "kovrad: %s\n", error.c_str());
    return 2;
  }
  if (options.help) {
    std::fputs(ServiceUsage(), stdout);
    return 0;
  }
  if (options.version) {
    std::puts("kovrad 0.1.0");
    return 0;
  }
  if (options.check_config) {
    bool read = options.config_given ||
                access(options.config_path.c_str(), F_OK) == 0;
    std::printf("# %s: %s\n%s", options.config_path.c_str(),
                read ? "no faults" : "not there; built-in defaults",
                FormatSettings(options).c_str());
    return 0;
  }
  if (options.check_shutdown) return CheckShutdown(options);
  options.config.watchdog_interval_ms = WatchdogIntervalMs();

  // Without its state folder or database the service still watches the
  // UPS and shuts down on a power failure, with the default settings.
  if (mkdir(options.state_dir.c_str(), 0700) != 0 && errno != EEXIST) {
    DiagAt(DiagLevel::kError, "cannot create state folder %s: %s",
           options.state_dir.c_str(), std::strerror(errno));
  }
  std::unique_ptr<Database> database = Database::OpenOrUnavailable(
      options.state_dir + "/kovrad.db", Database::Options(),
      SystemClock::Instance()->MonotonicMillis());
  ParameterStore params(database.get());
  if (!params.Load()) Diag("cannot read stored settings; using defaults");
  LogStore logs(database.get(), LogStore::Limits());

  std::string agent_path =
      options.agent_path.empty() ? DefaultAgentPath() : options.agent_path;
  AgentProcess agent(agent_path);
  Service service(options.config, &agent, SystemClock::Instance(), &params,
                  &logs);
  service.SetDatabase(database.get());
  if (!service.Listen(&error)) {
    Diag("%s", error.c_str());
    return 1;
  }
  Diag("listening on %s:%u, agent %s, state in %s",
       options.config.listen_host.c_str(), service.port(), agent_path.c_str(),
       options.state_dir.c_str());

  // The HTTP endpoint is optional: when it cannot listen the service runs
  // on without it.
  HttpEndpoint::Options http_options;
  http_options.allow_remote = options.config.allow_remote;
  http_options.max_snapshot_age_ms = options.config.snapshot_max_age_ms;
  HttpEndpoint http(service.status_board(), SystemClock::Instance(),
                    options.state_dir + "/kovrad.db", http_options);
  if (options.config.http.listen.enabled) {
    const ListenAddress& listen = options.config.http.listen;
    if (http.Start(listen.host, listen.port, &error)) {
      Diag("serving HTTP on %s:%u", listen.host.c_str(), http.port());
    } else {
      Diag("%s; running without HTTP", error.c_str());
    }
  }

  g_service = &service;
  struct sigaction action;
  std::memset(&action, 0, sizeof(action));
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGINT, &action, nullptr);
  signal(SIGHUP, SIG_IGN);
  signal(SIGPIPE, SIG_IGN);

  NotifyServiceManager("READY=1");
  int result = service.Run();
  NotifyServiceManager("STOPPING=1");
  // Before the database closes: the endpoint reads it.
  http.Stop();
  g_service = nullptr;
  Diag("stopped");
  return result;
}
