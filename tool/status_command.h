#pragma once

#include "tool/command_context.h"

// The status command: one labelled line per status item, all items or those
// named, once or every N seconds. Failed requests are reported on the item's
// behalf after asking the service whether it is in contact with the UPS.
void RunStatus(const CommandContext& context);
