#pragma once

#include <cstdint>
#include <string>

#include "service/save_hook_run.h"

// Runs the save hooks of dir (see SaveHookRun) with the given limit for
// each hook and the default budget for all, and blocks the calling thread
// until the run is done. For callers without a loop of their own; a loop
// drives a SaveHookRun instead.
SaveHookResult RunSaveHooks(const std::string& dir, int32_t timeout_ms,
                            int32_t max_lines);
