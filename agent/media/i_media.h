#pragma once

#include <cstdint>

// Media pin flags: bit n-1 is pin n of the 9-pin serial connector.
namespace pin {
constexpr int32_t kDcd = 0x01;     // pin 1, read
constexpr int32_t kRxd = 0x02;     // pin 2
constexpr int32_t kBreak = 0x04;   // pin 3 (TxD held in space), set
constexpr int32_t kDtr = 0x08;     // pin 4, set
constexpr int32_t kGround = 0x10;  // pin 5
constexpr int32_t kDsr = 0x20;     // pin 6, read
constexpr int32_t kRts = 0x40;     // pin 7, set
constexpr int32_t kCts = 0x80;     // pin 8, read
constexpr int32_t kRi = 0x100;     // pin 9, read
// Pins that SetPinState refuses to drive.
constexpr int32_t kNotSettable = 0x1B3;
}  // namespace pin

// IMedia is the link to the UPS as the protocols see it: a byte stream with a
// read time-out plus the modem-control pins. LinuxSerialMedia is the real
// one; tests use the scripted fake of tests/support. Operations return 1 for
// success and 0 for failure, or a byte count.
class IMedia {
 public:
  IMedia() = default;
  IMedia(const IMedia&) = delete;
  IMedia& operator=(const IMedia&) = delete;

  int32_t GetType() const { return type_; }
  int32_t GetIndex() const { return index_; }
  int32_t GetWriteGap() const { return write_gap_; }
  int32_t GetReadTimeout() const { return read_timeout_; }
  void SetType(int32_t type) { type_ = type; }
  void SetIndex(int32_t index) { index_ = index; }
  void SetReadTimeout(int32_t millis) { read_timeout_ = millis; }

  // Opens and configures the index-th device (1-based); 1 on success.
  virtual int32_t Create(uint32_t index) = 0;

  // Discards pending input and output, then writes the bytes paced by the
  // write gap. Returns the number of bytes written (0 when the flush fails).
  virtual int32_t Write(const uint8_t* data, int32_t count) = 0;

  // Reads count bytes, or with count -1 until the line stays quiet for the
  // read time-out. Never stores more than capacity bytes: reading stops when
  // the buffer is full. Returns the number of bytes stored.
  virtual int32_t Read(uint8_t* buffer, int32_t count, int32_t capacity) = 0;

  // 1200, 2400, 4800 or 9600; anything else returns 0 and changes nothing.
  virtual int32_t SetBaudRate(int32_t bits_per_second) = 0;

  // Reports DCD, DSR, CTS and RI in *mask (pin flags above).
  virtual int32_t GetPinState(int32_t* mask) = 0;

  // Drives break, DTR and RTS on (on != 0) or off; refuses kNotSettable.
  virtual int32_t SetPinState(int32_t mask, int32_t on) = 0;

  // Deletes this object.
  virtual void Release() = 0;
  virtual ~IMedia() = default;

 private:
  int32_t index_ = 0;
  int32_t type_ = 0;
  int32_t write_gap_ = 50;
  int32_t read_timeout_ = 120;
};
