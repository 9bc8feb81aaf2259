#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

// A program started for an end-to-end test, with pipes on its standard input
// and output and its standard error appended to a file. Every wait is bounded
// by the caller's time-out. The destructor closes the input, gives the
// program three seconds to end, and kills it otherwise.
class ChildProcess final {
 public:
  ChildProcess() = default;
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;
  ~ChildProcess();

  // Starts argv[0] (a path) with the present environment. False when it
  // could not be started.
  bool Start(const std::vector<std::string>& argv,
             const std::string& stderr_path);
  // As Start, but the program begins with its standard input closed.
  bool StartWithInputClosed(const std::vector<std::string>& argv,
                            const std::string& stderr_path);
  // Writes the line and a newline to the program's standard input.
  bool WriteLine(const std::string& line);
  // One line of its standard output without the newline; false on time-out
  // or end of output.
  bool ReadLine(int timeout_ms, std::string* line);
  void CloseInput();
  // True once the program ended within timeout_ms; *status is its exit
  // status or 128 + signal.
  bool Wait(int timeout_ms, int* status);
  void Signal(int signal_number);

 private:
  bool Spawn(const std::vector<std::string>& argv,
             const std::string& stderr_path, bool with_input);

  pid_t pid_ = -1;
  int input_ = -1;
  int output_ = -1;
  bool ended_ = false;
  int status_ = 0;
  std::string buffer_;
};
