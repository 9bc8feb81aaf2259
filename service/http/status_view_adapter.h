#pragma once

#include <cstdint>

#include "service/http/status_view.h"
#include "service/status_snapshot.h"

// Copies a completed poll pass into the status part of *view (valid, the
// readings and errors, the times); the unit's texts, ratings and the
// counters are left to the caller. taken_unix_ms is the real-time clock at
// the moment the pass completed.
void FillStatusView(const StatusSnapshot& pass, int64_t taken_unix_ms,
                    StatusView* view);
