// upssim: plays a UPS unit on a pseudo-terminal for the agent to talk to.
#include <signal.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <memory>
#include <string>

#include "common/time/system_clock.h"
#include "sim/battery_model.h"
#include "sim/control_commands.h"
#include "sim/pty_link.h"
#include "sim/sim_loop.h"
#include "sim/sim_options.h"
#include "sim/sim_state.h"
#include "sim/simulator.h"
#include "sim/unit_factory.h"
#include "sim/wire_log.h"

namespace {

volatile std::sig_atomic_t g_stop = 0;

void OnStopSignal(int) { g_stop = 1; }

void InstallSignals() {
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  // No SA_RESTART: the loop's wait returns with EINTR and sees the flag.
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGINT, &action, nullptr);
  signal(SIGPIPE, SIG_IGN);
}

}  // namespace

int main(int argc, char** argv) {
  SimOptions options;
  std::string error;
  if (!ParseSimOptions(argc, argv, &options, &error)) {
    std::fprintf(stderr, "upssim: %s\n%s", error.c_str(), SimUsage());
    return 2;
  }
  if (options.help) {
    std::fputs(SimUsage(), stdout);
    return 0;
  }

  SimState state;
  std::unique_ptr<SimUnit> unit = CreateSimUnit(options, &state, &error);
  if (!unit) {
    std::fprintf(stderr, "upssim: %s\n", error.c_str());
    return 2;
  }
  WireLog log;
  if (!options.log_path.empty() && !log.Open(options.log_path, &error)) {
    std::fprintf(stderr, "upssim: %s\n", error.c_str());
    return 1;
  }
  InstallSignals();
  PtyLink link;
  if (!link.Open(options.link_path, &error)) {
    std::fprintf(stderr, "upssim: %s\n", error.c_str());
    return 1;
  }
  std::fprintf(stderr, "upssim: %s unit on %s (%s)\n", options.protocol.c_str(),
               link.link_path().c_str(), link.slave_path().c_str());

  BatteryModel battery(options.speed);
  Simulator simulator(&state, unit.get(), &battery,
                      log.is_open() ? &log : nullptr);
  ControlCommands control(&state, unit.get());
  SimLoop loop(&simulator, &control, &link, SystemClock::Instance(),
               STDIN_FILENO, STDOUT_FILENO);
  int status = loop.Run(&g_stop);
  link.Close();
  return status;
}
