#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "service/nut/nut_unit_data.h"

// The NUT variables the front end serves and how each is made from what the
// service knows. Values are plain decimal text in the variable's unit: the
// agent's hundredths are divided out with at most two decimals and no
// trailing zeros (23050 gives "230.5", 23000 gives "230", 5005 gives
// "50.05"); counts, seconds and the unscaled settings are printed as they
// are. A variable the unit does not report is left out.

// How GET TYPE describes a variable.
enum class NutValueKind { kNumber, kString };

struct NutVariableInfo {
  const char* name;
  const char* description;
  NutValueKind kind;
  int32_t string_length;  // the n of STRING:n, for kString
  int setting;            // 0 to 4: written with W<setting>; -1: read-only
  // Writes the value to *value; false when there is none to serve.
  bool (*read)(const NutUnitData& data, std::string* value);
};

// Every variable the front end knows, in name order.
const NutVariableInfo* NutVariablesBegin();
const NutVariableInfo* NutVariablesEnd();

// The variable of that exact name, or null.
const NutVariableInfo* FindNutVariable(std::string_view name);

// One served variable and its value.
struct NutVariableValue {
  const NutVariableInfo* info;
  std::string value;
};

// The variables that have a value, in name order.
std::vector<NutVariableValue> NutPresentVariables(const NutUnitData& data);

// True when the variable can be set now: it has a setting, the unit reports
// its current value and its allowed values are known.
bool NutWritable(const NutUnitData& data, const NutVariableInfo& var);

// The values a writable variable accepts (empty for the others).
std::vector<std::string> NutEnumValues(const NutUnitData& data,
                                       const NutVariableInfo& var);

enum class NutWriteResult { kOk, kReadOnly, kInvalidValue };

// The agent command that sets the variable to value ("W0 250"), in
// *agent_line on kOk. The value must be one of NutEnumValues exactly.
NutWriteResult NutWriteCommand(const NutUnitData& data,
                               const NutVariableInfo& var,
                               std::string_view value, std::string* agent_line);

// Hundredths as decimal text, as described above.
std::string NutHundredths(int32_t hundredths);

// The integers of an allowed-values text (R8 to R11): each read as a
// leading integer, then one separator byte skipped, until no integer reads.
std::vector<int32_t> NutParseAllowedValues(std::string_view text);

// The ups.status tokens, blank-separated, in *status; false when the unit
// does not report its power state and no forced shutdown is set.
bool NutStatusTokens(const NutUnitData& data, std::string* status);

// True when the unit is one with the full property and settings set (port
// type 2); the others report basic status only.
bool NutFullUnit(const NutUnitData& data);
