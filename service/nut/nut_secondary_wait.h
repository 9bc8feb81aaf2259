#pragma once

#include <cstdint>

// The primary's wait after setting FSD: secondaries see FSD, shut their
// hosts down and log out; the shutdown goes on when only the primary's own
// logins are left or when the time limit has passed, whichever comes first.
constexpr int64_t kNutSecondaryWaitDefaultMs = 15000;

// True when the wait is over. own_logins: logins of this host's own
// connections (0 when it holds none).
inline bool NutSecondaryWaitDone(int login_count, int own_logins,
                                 int64_t elapsed_ms, int64_t limit_ms) {
  return login_count <= own_logins || elapsed_ms >= limit_ms;
}
