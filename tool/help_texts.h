#pragma once

#include <cstdint>
#include <ostream>

// Writes the usage text for `topic`: the text of that command (a command
// index, 0-5), or the general text for any other value. Each line is ended
// and flushed; no empty line follows the text.
void PrintHelp(int32_t topic, std::ostream& out);
