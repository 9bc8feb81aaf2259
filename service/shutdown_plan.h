#pragma once

#include <string>
#include <vector>

#include "service/service.h"

class ParameterStore;

// What a power failure would do now, step by step with its timings, as the
// lines `kovrad --check-shutdown` prints: when the shutdown begins, the
// save hooks and their limits, the wait for other hosts on the UPS, the
// UPS's own off and on delays, and the shutdown command, then a timeline of
// the latest times. hooks are the save hooks that would run, in order.
// Reads nothing and starts nothing.
std::vector<std::string> DescribeShutdownPlan(
    const ServiceConfig& config, const ParameterStore& params,
    const std::vector<std::string>& hooks);

// The executable regular files of the save-hooks folder, in name order (the
// hooks a run would consider); empty when there is no such folder.
std::vector<std::string> ListSaveHooks(const std::string& dir);
