#include "agent/protocol/t_commands.h"

#include <cstdio>

namespace {

constexpr int32_t kCancel = -1;
constexpr int32_t kMaxTestMinutes = 99;
constexpr int32_t kMaxShutdownMinutes = 10;
constexpr int64_t kMaxRestoreMinutes = 9999;

// Tenths of a minute for delays under one minute, at least one.
int32_t Tenths(int32_t seconds) {
  const int32_t tenths = seconds / 6;
  return tenths < 1 ? 1 : tenths;
}

// The delay part shared by both shutdown forms, without its CR.
std::string DelayText(int32_t delay) {
  char text[16];
  const int32_t minutes = delay / 60;
  if (minutes > 0) {
    snprintf(text, sizeof text, "S%02d",
             minutes < kMaxShutdownMinutes ? minutes : kMaxShutdownMinutes);
  } else {
    snprintf(text, sizeof text, "S.%d", Tenths(delay));
  }
  return text;
}

}  // namespace

std::string TestCommand(int32_t seconds) {
  if (seconds == kCancel) return "CT\r";
  char text[16];
  if (seconds >= 60) {
    const int32_t minutes = seconds / 60;
    snprintf(text, sizeof text, "T%02d\r",
             minutes < kMaxTestMinutes ? minutes : kMaxTestMinutes);
  } else {
    snprintf(text, sizeof text, "T.%d\r", Tenths(seconds));
  }
  return text;
}

std::string ShutdownCommand(int32_t delay) {
  if (delay == kCancel) return "C\r";
  return DelayText(delay) + "\r";
}

std::string ShutdownRestoreCommand(int32_t delay, int32_t restore) {
  if (delay == kCancel) return "C\r";
  // The sum of two int32 seconds may not fit 32 bits.
  int64_t minutes = (static_cast<int64_t>(delay) + restore) / 60;
  if (minutes < 1) minutes = 1;
  if (minutes > kMaxRestoreMinutes) minutes = kMaxRestoreMinutes;
  char text[16];
  snprintf(text, sizeof text, "R%04d\r", static_cast<int>(minutes));
  return DelayText(delay) + text;
}

std::string SettingCommand(int32_t setting, int32_t value, int32_t digits) {
  if (digits < 1) digits = 1;
  if (digits > 10) digits = 10;
  char text[40];
  snprintf(text, sizeof text, "C%d:%.*d\r", static_cast<int>(setting),
           static_cast<int>(digits), static_cast<int>(value));
  return text;
}
