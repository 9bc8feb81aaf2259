#include "agent/protocol/serial_exchange.h"

#include "agent/media/i_media.h"
#include "common/time/clock.h"

int32_t SerialExchange::Exchange(CommandFrame* frame) {
  int32_t write_length = frame->write_length;
  if (write_length < 0) write_length = 0;
  if (write_length > CommandFrame::kBufferSize) {
    write_length = CommandFrame::kBufferSize;
  }
  if (media_->Write(frame->command, write_length) < write_length) {
    return result::kShortWrite;
  }
  int32_t wanted = frame->read_length;
  if (wanted > CommandFrame::kBufferSize) wanted = CommandFrame::kBufferSize;
  if (wanted < -1) wanted = -1;
  int32_t received = 0;
  if (wanted != 0) {
    received = media_->Read(frame->reply, wanted, CommandFrame::kBufferSize);
  }
  if (received < 0) received = 0;
  if (received > CommandFrame::kBufferSize)
    received = CommandFrame::kBufferSize;
  frame->read_length = received;
  if (wanted != -1 && received < wanted) return result::kShortRead;
  return result::kSuccess;
}

bool SerialExchange::LinkCheck() {
  int32_t pins = 0;
  if (!media_->GetPinState(&pins)) return false;
  return (pins & pin::kDsr) != 0;
}

void SerialExchange::Pause(int32_t millis) { clock_->Pause(millis); }
