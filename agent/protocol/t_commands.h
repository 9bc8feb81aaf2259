#pragma once

#include <cstdint>
#include <string>

// The command texts of the text protocol, each ended by CR. They are built
// from the agent's own integers with fixed formats only; no text received
// from the unit or the pipe ever becomes part of a format.

// Self-test of `seconds`: -1 cancels ("CT"); 60 s and more run whole minutes
// ("T01" to "T99", capped at 99); anything shorter runs tenths of a minute,
// at least one ("T.1" to "T.9").
std::string TestCommand(int32_t seconds);

// Shutdown after `delay` seconds: -1 cancels ("C"); whole minutes, capped at
// 10 ("S01" to "S10"); under a minute, or any other negative delay, tenths of
// a minute, at least one ("S.1" to "S.9").
std::string ShutdownCommand(int32_t delay);

// As ShutdownCommand, followed by "R" and the minutes until the output comes
// back, (delay + restore) / 60, kept within 1 to 9999 and written with at
// least four digits ("S02R0012", "S.5R0001").
std::string ShutdownRestoreCommand(int32_t delay, int32_t restore);

// A numbered setting: "C", the setting number, ":" and the value with at
// least `digits` digits, zero-padded ("C4:05", "C2:1000").
std::string SettingCommand(int32_t setting, int32_t value, int32_t digits);
