#pragma once

#include <csignal>
#include <cstdint>
#include <string>

#include "common/time/clock.h"
#include "sim/control_commands.h"
#include "sim/pty_link.h"
#include "sim/simulator.h"

// The simulator's event loop: waits (in bounded steps) on the line and on
// the control input, feeds line bytes to the simulator and writes its
// answers back, runs control lines and writes their answers, and ticks the
// simulator between events.
class SimLoop final {
 public:
  // How long one wait may last, so timers and the battery move in steps.
  static constexpr int32_t kTickMs = 100;
  // Longest control line kept; a longer one is answered as an error.
  static constexpr size_t kMaxControlLine = 1024;

  // Every pointer is borrowed for the loop's life. control_in and
  // control_out are descriptors (standard input and output in upssim).
  SimLoop(Simulator* simulator, ControlCommands* control, PtyLink* link,
          Clock* clock, int control_in, int control_out);

  // Runs until the control input ends, a "quit" command, or *stop turns
  // nonzero (set by a signal handler). Returns 0, or 1 when waiting failed.
  int Run(const volatile std::sig_atomic_t* stop);

 private:
  void OnLine();
  // Returns false at the end of the control input.
  bool OnControl();
  void RunControlLine(const std::string& line);
  void WriteControl(const std::string& text);

  Simulator* simulator_;
  ControlCommands* control_;
  PtyLink* link_;
  Clock* clock_;
  int control_in_;
  int control_out_;
  std::string control_buffer_;
  bool line_broken_ = false;
  bool skipping_long_line_ = false;
};
