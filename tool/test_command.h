#pragma once

#include "tool/command_context.h"

// The test command: starts a self-test of the given length, or cancels the
// running one, on a UPS that offers it.
void RunTest(const CommandContext& context);
