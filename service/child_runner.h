#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Runs one program as a child in a process group of its own and supervises
// it without blocking and without threads: Poll() reads what the child has
// written, reaps it with waitpid(WNOHANG) and, once the time limit has
// passed, stops the whole group (SIGTERM, then SIGKILL after a grace time),
// whatever the child did with its standard output. Time is an input, so the
// caller's loop (or a test with a fake clock) drives it.
class ChildRunner final {
 public:
  enum class Output {
    kDiscard,   // standard output on /dev/null
    kCapture,   // standard output on a non-blocking pipe read by Poll()
    kToStderr,  // standard output joins the service's standard error
  };

  struct Options {
    // argv[0] is the program's path; it is run as it is, without a search.
    std::vector<std::string> argv;
    // "NAME=value" entries added to the service's environment, replacing
    // variables of the same name.
    std::vector<std::string> env;
    Output output = Output::kDiscard;
    // At most this much output is kept; the rest is read and thrown away,
    // so a child that prints without end neither blocks nor grows us.
    size_t max_output = 1 << 20;
    int64_t limit_ms = 20000;
    // SIGKILL follows SIGTERM after this long; after as long again a child
    // that still has not ended is given up (left to the system).
    int64_t kill_grace_ms = 2000;
    // Once the child itself has ended, anything it left behind in its group
    // gets SIGTERM.
    bool stop_group_on_exit = false;
  };

  enum class State { kIdle, kRunning, kStopping, kDone };

  // How the child ended, once Done().
  struct Outcome {
    bool started = false;     // false: it could not be started (see error)
    bool exited = false;      // ended by exit(); exit_code holds the status
    int exit_code = -1;
    int signal = 0;           // the signal that ended it, 0 when none
    bool timed_out = false;   // stopped because the limit passed
    bool abandoned = false;   // did not end even after SIGKILL
    bool output_truncated = false;
    std::string error;        // why it could not be started
  };

  ChildRunner() = default;
  ChildRunner(const ChildRunner&) = delete;
  ChildRunner& operator=(const ChildRunner&) = delete;
  // Kills the group of a child still running and reaps it if it can.
  ~ChildRunner();

  // Starts the child; now is the start of its time limit. Returns false
  // when it could not be started (Done() is then true and the outcome says
  // why). Only from kIdle or kDone.
  bool Start(const Options& options, int64_t now);

  // Convenience: "/bin/sh -c command".
  static std::vector<std::string> ShellArgv(const std::string& command);

  // Reads available output, reaps the child and enforces the limit. Never
  // blocks.
  void Poll(int64_t now);

  // Ends the child early as if its limit had passed (at now).
  void Stop(int64_t now);

  State state() const { return state_; }
  bool Running() const {
    return state_ == State::kRunning || state_ == State::kStopping;
  }
  bool Done() const { return state_ == State::kDone; }

  // The read end of the output pipe while there is one (for poll()), or -1.
  int fd() const { return out_fd_; }
  pid_t pid() const { return pid_; }

  // The next time Poll() has something to do on its own (limit, SIGKILL,
  // giving up), or -1 when nothing is pending. The child's exit is not
  // announced: poll its output fd, or call Poll() about once a second.
  int64_t NextDeadline() const;

  const std::string& output() const { return output_; }
  const Outcome& outcome() const { return outcome_; }

  // One line describing how the child ended ("exited with status 3",
  // "stopped after 20000 ms", ...), for diagnostics.
  std::string Describe() const;

 private:
  void ReadOutput();
  void CloseOutput();
  // True once the child has ended; it stays unreaped (a zombie).
  bool Ended();
  bool Reap();
  void Signal(int signal);
  void Finish();

  Options options_;
  State state_ = State::kIdle;
  pid_t pid_ = -1;
  int out_fd_ = -1;
  int64_t deadline_ms_ = 0;
  int64_t kill_at_ms_ = 0;
  int64_t give_up_at_ms_ = 0;
  bool killed_ = false;
  std::string output_;
  Outcome outcome_;
};
