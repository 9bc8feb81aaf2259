#include "tests/support/fake_pipe.h"

#include "agent/protocol/result_codes.h"
#include "tests/support/fake_clock.h"

FakePipe::FakePipe(FakeClock* clock) : clock_(clock) {}

FakePipe::~FakePipe() {
  if (destroyed_ != nullptr) *destroyed_ = true;
}

void FakePipe::AddInput(const std::string& bytes, int64_t delay_millis) {
  script_.push_back(Chunk{Chunk::kBytes, bytes, delay_millis});
}

void FakePipe::AddTimeout() {
  script_.push_back(Chunk{Chunk::kTimeout, "", 0});
}

void FakePipe::AddReadError() {
  script_.push_back(Chunk{Chunk::kError, "", 0});
}

std::vector<std::string> FakePipe::Lines() const {
  std::vector<std::string> lines;
  std::string line;
  for (char c : written_) {
    if (c == '\n') {
      lines.push_back(line);
      line.clear();
    } else {
      line.push_back(c);
    }
  }
  if (!line.empty()) lines.push_back(line);
  return lines;
}

size_t FakePipe::UnreadBytes() const {
  size_t count = 0;
  for (const Chunk& chunk : script_) count += chunk.bytes.size();
  return count;
}

void FakePipe::Advance(int64_t millis) {
  if (clock_ != nullptr && millis > 0) clock_->Advance(millis);
}

int32_t FakePipe::ReadByte(char* byte, int64_t limit) {
  for (;;) {
    if (script_.empty()) {
      if (!time_out_when_empty_ || limit < 0) return result::kPipeClosed;
      Advance(limit);
      return result::kTimeout;
    }
    Chunk& chunk = script_.front();
    if (chunk.kind == Chunk::kError) {
      script_.pop_front();
      return result::kPipeClosed;
    }
    if (chunk.kind == Chunk::kTimeout) {
      script_.pop_front();
      if (limit < 0) continue;
      Advance(limit);
      return result::kTimeout;
    }
    if (limit >= 0 && chunk.delay > limit) {
      chunk.delay -= limit;
      Advance(limit);
      return result::kTimeout;
    }
    Advance(chunk.delay);
    chunk.delay = 0;
    if (chunk.bytes.empty()) {
      script_.pop_front();
      continue;
    }
    *byte = chunk.bytes.front();
    chunk.bytes.erase(0, 1);
    if (chunk.bytes.empty()) script_.pop_front();
    return result::kSuccess;
  }
}

IPipe* FakePipe::Duplicate() { return nullptr; }

int32_t FakePipe::Read(char* buffer, int32_t size) {
  for (int32_t i = 0; i < size; ++i) {
    int32_t code = ReadByte(buffer + i, -1);
    if (code != result::kSuccess) return code;
  }
  return result::kSuccess;
}

int32_t FakePipe::ReadTimeout(char* buffer, int32_t count, uint32_t millis) {
  for (int32_t i = 0; i < count; ++i) {
    read_limits_.push_back(millis);
    int32_t code = ReadByte(buffer + i, millis);
    if (code != result::kSuccess) return code;
  }
  return result::kSuccess;
}

int32_t FakePipe::Write(const char* data, int32_t length) {
  ++write_calls_;
  if (fail_writes_ || length < 0) return result::kPipeClosed;
  if (short_write_ >= 0) {
    int32_t taken = short_write_ < length ? short_write_ : length;
    short_write_ = -1;
    written_.append(data, static_cast<size_t>(taken));
    if (taken < length) return result::kPipeClosed;
    return result::kSuccess;
  }
  written_.append(data, static_cast<size_t>(length));
  return result::kSuccess;
}

void FakePipe::Release() { delete this; }
