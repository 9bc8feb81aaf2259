#pragma once

#include <string>
#include <vector>

// A user of the NUT-protocol listener, from a [user NAME] section of the
// configuration file. Reading needs no user; these rights cover the rest.
struct NutUser {
  std::string name;
  std::string password;
  bool may_monitor = true;  // LOGIN to the unit (an upsmon secondary)
  bool primary = false;     // PRIMARY/MASTER and FSD
  bool may_set = false;     // SET VAR
  bool all_instcmds = false;           // every INSTCMD
  std::vector<std::string> instcmds;   // the INSTCMDs allowed when not all
};
