#pragma once

#include <memory>
#include <string>

#include "sim/sim_options.h"
#include "sim/sim_state.h"
#include "sim/sim_unit.h"

// Makes the unit kind named by options.protocol ("p99" or "text"), borrowing
// state for the unit's life. An unknown name gives null and a message in
// *error.
std::unique_ptr<SimUnit> CreateSimUnit(const SimOptions& options,
                                       SimState* state, std::string* error);
