#pragma once

#include <ostream>

#include "tool/tool_options.h"

// Fills `options` from kovra's arguments (argv[0] is the program). Returns
// true when the selected command should run. On false the reason has been
// written to `out`, except the closing please-use line, which is the
// caller's (PrintPleaseUse); `options->command` tells that line which
// command was recognised.
bool ParseCommandLine(int argc, const char* const* argv, ToolOptions* options,
                      std::ostream& out);

// The line that ends every failed parse: it points at the help of the
// recognised command, or at the general help when there is none.
void PrintPleaseUse(const ToolOptions& options, std::ostream& out);
