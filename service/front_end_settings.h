#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "service/nut_user.h"

// Where a listener binds; off when enabled is false.
struct ListenAddress {
  bool enabled = false;
  std::string host;  // numeric IPv4 or IPv6 (without brackets), or localhost
  uint16_t port = 0;
};

// The NUT-protocol listener, from the [nut] and [user NAME] sections.
struct NutSettings {
  ListenAddress listen{true, "127.0.0.1", 3493};
  std::string ups_name = "ups";
  // How long a primary waits for its secondaries to log out during a
  // forced shutdown, in seconds.
  int32_t secondary_wait_s = 15;
  std::vector<NutUser> users;
};

// The HTTP endpoint, from the [http] section; off unless configured.
struct HttpSettings {
  ListenAddress listen;
};
