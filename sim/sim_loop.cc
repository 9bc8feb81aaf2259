#include "sim/sim_loop.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>

#include "common/time/timestamp.h"

SimLoop::SimLoop(Simulator* simulator, ControlCommands* control, PtyLink* link,
                 Clock* clock, int control_in, int control_out)
    : simulator_(simulator),
      control_(control),
      link_(link),
      clock_(clock),
      control_in_(control_in),
      control_out_(control_out) {}

int SimLoop::Run(const volatile std::sig_atomic_t* stop) {
  while (*stop == 0 && !control_->quit()) {
    pollfd waits[2] = {{control_in_, POLLIN, 0}, {link_->fd(), POLLIN, 0}};
    // A line in error is left out for one tick so that the wait does not
    // spin on it.
    nfds_t count = line_broken_ ? 1 : 2;
    line_broken_ = false;
    int ready = poll(waits, count, kTickMs);
    if (ready < 0 && errno != EINTR) return 1;
    if (ready > 0 && count == 2 && waits[1].revents != 0) OnLine();
    if (ready > 0 && waits[0].revents != 0 && !OnControl()) break;
    simulator_->Tick(clock_->MonotonicMillis());
  }
  return 0;
}

void SimLoop::OnLine() {
  uint8_t buffer[512];
  int32_t count = link_->Read(buffer, sizeof(buffer));
  if (count <= 0) {
    line_broken_ = count < 0;
    return;
  }
  std::string answer = simulator_->OnLineBytes(
      buffer, static_cast<size_t>(count), clock_->MonotonicMillis(),
      Timestamp::Now().Value());
  if (!answer.empty()) {
    link_->Write(reinterpret_cast<const uint8_t*>(answer.data()), answer.size(),
                 1000);
  }
}

bool SimLoop::OnControl() {
  char buffer[512];
  ssize_t count = read(control_in_, buffer, sizeof(buffer));
  if (count < 0) return errno == EINTR || errno == EAGAIN;
  if (count == 0) {
    // A last line without its newline still counts.
    if (!control_buffer_.empty() && !skipping_long_line_) {
      RunControlLine(control_buffer_);
    }
    control_buffer_.clear();
    return false;
  }
  control_buffer_.append(buffer, static_cast<size_t>(count));
  size_t newline;
  while ((newline = control_buffer_.find('\n')) != std::string::npos) {
    std::string line = control_buffer_.substr(0, newline);
    control_buffer_.erase(0, newline + 1);
    if (skipping_long_line_) {
      // The end of a line already answered as too long.
      skipping_long_line_ = false;
      continue;
    }
    if (line.size() > kMaxControlLine) {
      WriteControl("error: line too long\n");
      continue;
    }
    if (!line.empty() && line.back() == '\r') line.pop_back();
    RunControlLine(line);
    if (control_->quit()) return true;
  }
  if (control_buffer_.size() > kMaxControlLine) {
    control_buffer_.clear();
    if (!skipping_long_line_) WriteControl("error: line too long\n");
    skipping_long_line_ = true;
  }
  return true;
}

void SimLoop::RunControlLine(const std::string& line) {
  simulator_->LogControl(Timestamp::Now().Value(), line);
  // Timers and the battery first, so "status" shows the present state.
  simulator_->Tick(clock_->MonotonicMillis());
  WriteControl(control_->Execute(line));
}

void SimLoop::WriteControl(const std::string& text) {
  size_t written = 0;
  while (written < text.size()) {
    ssize_t count =
        write(control_out_, text.data() + written, text.size() - written);
    if (count < 0 && errno == EINTR) continue;
    if (count <= 0) return;  // nobody reads the answers; keep simulating
    written += static_cast<size_t>(count);
  }
}
