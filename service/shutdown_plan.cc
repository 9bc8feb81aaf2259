#include "service/shutdown_plan.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>

#include "service/parameter_store.h"
#include "service/shutdown_sequence.h"

namespace {

std::string Seconds(int64_t seconds) { return std::to_string(seconds) + " s"; }

}  // namespace

std::vector<std::string> DescribeShutdownPlan(
    const ServiceConfig& config, const ParameterStore& params,
    const std::vector<std::string>& hooks) {
  std::vector<std::string> lines;
  int32_t count = params.Value(kKeyPowerfailMaxCount);
  int32_t delay = params.Value(kKeyPowerfailDelay);
  bool save = params.Value(kKeyAutoSave) == 1 && !config.save_hooks_dir.empty();
  int32_t off_delay = params.Value(kKeyShutdownDelay);
  int32_t secondary_wait = ShutdownInputs().secondary_wait_s;

  lines.push_back("what a power failure would do now:");
  if (count == 0) {
    lines.push_back(
        "shutdown on power failure is off (" +
        std::string(kKeyPowerfailMaxCount) +
        " = 0): kovrad only logs the failure; only a primary NUT host that "
        "forces a shutdown starts the steps below");
  } else {
    lines.push_back("shutdown on power failure is on (" +
                    std::string(kKeyPowerfailMaxCount) + " = " +
                    std::to_string(count) + ")");
  }
  int step = 1;
  auto Step = [&lines, &step](const std::string& text) {
    lines.push_back(std::to_string(step++) + ". " + text);
  };
  lines.push_back("the shutdown begins after " + Seconds(delay) +
                  " on battery (" + kKeyPowerfailDelay +
                  "), at once when the battery is low; a return of the "
                  "utility before then cancels it; then:");
  int64_t hooks_s = 0;
  if (!save) {
    Step(config.save_hooks_dir.empty()
             ? std::string("no save hooks (no --save-hooks folder)")
             : "no save hooks (" + std::string(kKeyAutoSave) + " = 0)");
  } else {
    int64_t each = config.hook_timeout_ms / 1000;
    int64_t budget = config.save_hooks_budget_s;
    hooks_s =
        std::min<int64_t>(budget, each * static_cast<int64_t>(hooks.size()));
    Step("the save hooks of " + config.save_hooks_dir + " run one at a time, " +
         "each stopped after " + Seconds(each) + ", all together after " +
         Seconds(budget) + " (" + std::to_string(hooks.size()) +
         " found; those not owned by root or this user, or writable by "
         "group or others, are skipped)");
    for (const std::string& hook : hooks) lines.push_back("     " + hook);
  }
  Step(
      "beside the hooks, other hosts on the UPS (NUT secondaries) see the "
      "forced-shutdown flag and get up to " +
      Seconds(secondary_wait) + " from the beginning to log out");
  Step("the UPS is told to switch its output off " + Seconds(off_delay) +
       " later (" + kKeyShutdownDelay + ") and back on " +
       Seconds(config.restore_after_s) +
       " after the utility returns (--restore-after)");
  Step(config.shutdown_command.empty()
           ? std::string("no shutdown command: the system is not shut down "
                         "(--shutdown-command)")
           : "the shutdown command runs: " + config.shutdown_command);

  int64_t told = std::max<int64_t>(hooks_s, secondary_wait);
  lines.push_back(
      "timeline at the latest, from the power failure: shutdown "
      "begins at " +
      Seconds(delay) + ", UPS told at " + Seconds(delay + told) +
      ", UPS output off at " + Seconds(delay + told + off_delay));
  if (off_delay < kShortUpsOffDelayS) {
    lines.push_back("warning: the UPS switches off only " + Seconds(off_delay) +
                    " after the shutdown command starts; the system may not "
                    "have finished by then (raise " +
                    std::string(kKeyShutdownDelay) + ")");
  }
  return lines;
}

std::vector<std::string> ListSaveHooks(const std::string& dir) {
  std::vector<std::string> hooks;
  if (dir.empty()) return hooks;
  DIR* folder = opendir(dir.c_str());
  if (folder == nullptr) return hooks;
  while (struct dirent* entry = readdir(folder)) {
    std::string name = entry->d_name;
    if (name.empty() || name[0] == '.') continue;
    std::string path = dir + "/" + name;
    struct stat info;
    if (stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
        access(path.c_str(), X_OK) == 0) {
      hooks.push_back(path);
    }
  }
  closedir(folder);
  std::sort(hooks.begin(), hooks.end());
  return hooks;
}
