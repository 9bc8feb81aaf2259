#pragma once

#include "tool/command_context.h"

// The configure command: for each setting given, in item-table order, says
// what it sets, sends the request and ends the line with ", success." or
// ", fail.". Settings a basic UPS lacks are refused without a request.
void RunConfigure(const CommandContext& context);
