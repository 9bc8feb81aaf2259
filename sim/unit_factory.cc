#include "sim/unit_factory.h"

#include "sim/p99_unit.h"
#include "sim/text_unit.h"

std::unique_ptr<SimUnit> CreateSimUnit(const SimOptions& options,
                                       SimState* state, std::string* error) {
  if (options.protocol == "p99") {
    return std::make_unique<P99Unit>(options.p99, state);
  }
  if (options.protocol == "text") {
    return std::make_unique<TextUnit>(options.text, state);
  }
  *error = "unknown protocol " + options.protocol;
  return nullptr;
}
