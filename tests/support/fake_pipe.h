#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "agent/i_pipe.h"

class FakeClock;

// A pipe for tests. Input is a script of chunks, each arriving after a delay
// measured on the FakeClock; a read whose time limit runs out first advances
// the clock by that limit and returns 18, so time-outs cost no real time.
// Once the script is used up, reads see end of file (15). Every write is
// recorded; switches make writes fail or stop short.
class FakePipe final : public IPipe {
 public:
  // The clock is borrowed; without one, delays and time-outs move no time.
  explicit FakePipe(FakeClock* clock = nullptr);
  ~FakePipe() override;

  // --- Scripting input ----------------------------------------------------
  // Bytes that become readable delay_millis after the previous chunk has
  // been read.
  void AddInput(const std::string& bytes, int64_t delay_millis = 0);
  // The next read waits out its whole time limit and returns 18.
  void AddTimeout();
  // A read that fails (15) before the end of the script.
  void AddReadError();
  // With this set, a used-up script makes reads time out instead of seeing
  // end of file.
  void TimeOutWhenEmpty(bool on) { time_out_when_empty_ = on; }

  // --- Fault switches -----------------------------------------------------
  // Writes fail (15) and record nothing while set.
  void FailWrites(bool fail) { fail_writes_ = fail; }
  // The next write takes only this many bytes and fails (a short write).
  void ShortenNextWrite(int32_t bytes) { short_write_ = bytes; }

  // --- What happened ------------------------------------------------------
  // Everything written, in order.
  const std::string& written() const { return written_; }
  // The written bytes split into lines at each newline (without it); a
  // trailing piece without a newline is the last element.
  std::vector<std::string> Lines() const;
  // The time limit of every ReadTimeout wait, one per byte asked for.
  const std::vector<uint32_t>& read_limits() const { return read_limits_; }
  // Input bytes not read yet (the pending chunk's and the later ones').
  size_t UnreadBytes() const;
  int write_calls() const { return write_calls_; }
  // Sets *destroyed when the pipe is deleted.
  void WatchDestruction(bool* destroyed) { destroyed_ = destroyed; }

  // IPipe
  IPipe* Duplicate() override;
  int32_t Read(char* buffer, int32_t size) override;
  int32_t ReadTimeout(char* buffer, int32_t count, uint32_t millis) override;
  int32_t Write(const char* data, int32_t length) override;
  void Release() override;

 private:
  struct Chunk {
    enum Kind { kBytes, kTimeout, kError } kind;
    std::string bytes;
    int64_t delay = 0;  // still to wait before the bytes arrive
  };

  // Reads one byte waiting at most limit (-1: without limit).
  int32_t ReadByte(char* byte, int64_t limit);
  void Advance(int64_t millis);

  FakeClock* clock_;
  std::deque<Chunk> script_;
  bool time_out_when_empty_ = false;
  bool fail_writes_ = false;
  int32_t short_write_ = -1;
  std::string written_;
  std::vector<uint32_t> read_limits_;
  int write_calls_ = 0;
  bool* destroyed_ = nullptr;
};
