#pragma once

#include <cstdint>
#include <string>
#include <vector>

// What a run of the save hooks produced.
struct SaveHookResult {
  std::vector<std::string> saved;        // "program<TAB>file" lines
  std::vector<std::string> diagnostics;  // one line per problem, for stderr
};

// Runs every executable regular file of dir, in name order, each with its
// standard output on a pipe, and collects the lines they print that have
// the form "program<TAB>file" (a non-empty program name without leading
// blanks, a tab, a non-empty file name). A hook that runs longer than
// timeout_ms is killed; at most max_lines lines are kept in all. Blocks the
// calling thread until every hook has ended.
SaveHookResult RunSaveHooks(const std::string& dir, int32_t timeout_ms,
                            int32_t max_lines);

// Splits the output of the hook at path into lines (a CR before the newline
// is dropped, empty lines are skipped), appends those of the saved-file form
// to result->saved while fewer than max_lines are kept in all, and notes
// every other line and the first line over the limit in
// result->diagnostics.
void CollectSavedFileLines(const std::string& path, const std::string& output,
                           int32_t max_lines, SaveHookResult* result);

// Starts "/bin/sh -c command" without waiting for it. Returns its process
// id, or -1 when it could not be started.
int StartShellCommand(const std::string& command);
