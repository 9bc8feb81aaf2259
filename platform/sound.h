#pragma once

// Audible signals, so that code can beep without naming a sound device.
// MacosxSound is the real one, which stays silent.
class Sound {
 public:
  Sound() = default;
  Sound(const Sound&) = delete;
  Sound& operator=(const Sound&) = delete;
  virtual ~Sound() = default;

  virtual int Play1() = 0;
  virtual int Play2() = 0;
  virtual int Play3() = 0;
};
