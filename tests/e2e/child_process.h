#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

// A program started for an end-to-end test, with pipes on its standard input
// and output and its standard error sent to a file. Every wait is bounded by
// the caller's time-out. The destructor closes the input, gives the program
// a moment to end, and kills it otherwise.
class ChildProcess final {
 public:
  ChildProcess() = default;
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;
  ~ChildProcess();

  // Starts argv[0] (a path) with the arguments, the present environment plus
  // `environment` ("NAME=value" entries, which win), and standard error
  // appended to stderr_path. False when it could not be started.
  bool Start(const std::vector<std::string>& argv,
             const std::vector<std::string>& environment,
             const std::string& stderr_path);

  // Writes the line and a newline to the program's standard input.
  bool WriteLine(const std::string& line);

  // Reads one line of its standard output (without the newline), waiting at
  // most timeout_ms. False on time-out or end of output.
  bool ReadLine(int timeout_ms, std::string* line);

  // Closes the program's standard input.
  void CloseInput();

  // Waits at most timeout_ms for the program to end; writes its exit status
  // (or 128 + signal) and returns true once it has ended.
  bool Wait(int timeout_ms, int* status);

  // Sends a signal to the program.
  void Signal(int signal_number);

  bool running() const { return pid_ > 0 && !ended_; }

 private:
  pid_t pid_ = -1;
  int input_ = -1;
  int output_ = -1;
  bool ended_ = false;
  int status_ = 0;
  std::string buffer_;
};
