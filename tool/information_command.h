#pragma once

#include "tool/command_context.h"

// The information command: the UPS's identity, ratings and every setting
// the configure command can change, one labelled line per item, with the
// current choice marked by square brackets.
void RunInformation(const CommandContext& context);
