#pragma once

#include <cstdint>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "agent/protocol/i_protocol.h"
#include "agent/protocol/result_codes.h"

// A protocol for tests of the agent's core. It records every call with its
// arguments ("SetInputHigh 5", "GetInputHigh 7 1" for value and selector),
// answers from a table set by the test (an unset operation answers 1, like
// the interface's default), plays a queue of Poll results, and notes its own
// deletion in a shared log so tests can check the order of teardown.
//
// Header-only: the programs that use it link the protocol library already.
class FakeProtocol final : public IProtocol {
 public:
  struct Answer {
    int32_t result = result::kNotSupported;
    int32_t value = 0;
  };

  // What the protocol was asked, kept apart so that it can be read after
  // the protocol has been deleted.
  struct Record {
    std::vector<std::string> calls;
    int poll_count = 0;
  };

  // The log is borrowed and may be null; the name marks this object in it.
  explicit FakeProtocol(std::vector<std::string>* log = nullptr,
                        std::string name = "protocol")
      : log_(log), name_(std::move(name)) {}
  ~FakeProtocol() override {
    if (log_ != nullptr) log_->push_back(name_ + " deleted");
  }

  // The result and value of a value operation, by name. For a text
  // operation the value is stored as the size and nothing is copied.
  void SetAnswer(const std::string& operation, int32_t result_code,
                 int32_t value = 0) {
    answers_[operation] = Answer{result_code, value};
  }
  // A text operation that follows the two-call pattern with this text.
  void SetText(const std::string& operation, const std::string& text) {
    texts_[operation] = text;
  }
  void SetMedia(int32_t type, int32_t index) {
    SetAnswer("GetMediaType", result::kSuccess, type);
    SetAnswer("GetMediaIndex", result::kSuccess, index);
  }
  // Results of the coming polls; afterwards every poll answers
  // default_poll.
  void QueuePolls(std::vector<int32_t> results) {
    polls_.insert(polls_.end(), results.begin(), results.end());
  }
  void SetDefaultPoll(int32_t result_code) { default_poll_ = result_code; }

  const std::vector<std::string>& calls() const { return record_->calls; }
  int poll_count() const { return record_->poll_count; }
  std::shared_ptr<const Record> record() const { return record_; }

#define FAKE_VALUE_READ(Name)             \
  int32_t Name(int32_t* value) override { \
    record_->calls.push_back(#Name);      \
    return AnswerValue(#Name, value);     \
  }
#define FAKE_VALUE_WRITE(Name)                                                \
  int32_t Name(int32_t value) override {                                      \
    record_->calls.push_back(std::string(#Name " ") + std::to_string(value)); \
    return Lookup(#Name).result;                                              \
  }
#define FAKE_SELECTED_READ(Name)                                               \
  int32_t Name(int32_t* value, int32_t which) override {                       \
    record_->calls.push_back(std::string(#Name " ") + std::to_string(*value) + \
                             " " + std::to_string(which));                     \
    return AnswerValue(#Name, value);                                          \
  }
#define FAKE_TEXT_READ(Name)                                    \
  int32_t Name(char* buffer, int32_t* size) override {          \
    record_->calls.push_back(std::string(#Name) +               \
                             (buffer ? " buffer " : " null ") + \
                             std::to_string(*size));            \
    return AnswerText(#Name, buffer, size);                     \
  }

  FAKE_VALUE_READ(GetInputVoltage)
  FAKE_VALUE_READ(GetOutputVoltage)
  FAKE_VALUE_READ(GetBatteryCapacity)
  FAKE_VALUE_READ(GetLoad)
  FAKE_VALUE_READ(GetTemperature)
  FAKE_VALUE_READ(GetFrequency)
  FAKE_VALUE_READ(GetBackupTime)
  FAKE_VALUE_READ(GetPowerFail)
  FAKE_VALUE_READ(GetBatteryLow)
  FAKE_VALUE_READ(GetTestActive)
  FAKE_VALUE_READ(GetShutdownActive)
  FAKE_VALUE_READ(GetStatusFlag11)
  FAKE_VALUE_READ(GetConnected)
  FAKE_VALUE_READ(GetBuzzerActive)
  FAKE_VALUE_WRITE(SetInputHigh)
  FAKE_VALUE_WRITE(SetInputLow)
  FAKE_VALUE_WRITE(SetBatteryLowLevel)
  FAKE_VALUE_WRITE(SetBatteryOut)
  FAKE_VALUE_WRITE(SetColdStart)
  FAKE_VALUE_WRITE(SetProperty5)
  FAKE_VALUE_WRITE(SetProperty6)
  int32_t SetBuzzer(bool on) override {
    record_->calls.push_back(std::string("SetBuzzer ") +
                             (on ? "true" : "false"));
    return Lookup("SetBuzzer").result;
  }
  FAKE_SELECTED_READ(GetInputHigh)
  FAKE_SELECTED_READ(GetInputLow)
  FAKE_SELECTED_READ(GetBatteryLowLevel)
  FAKE_SELECTED_READ(GetBatteryOut)
  FAKE_SELECTED_READ(GetColdStart)
  FAKE_SELECTED_READ(GetProperty5)
  FAKE_SELECTED_READ(GetProperty6)
  FAKE_TEXT_READ(GetInputHighRange)
  FAKE_TEXT_READ(GetInputLowRange)
  FAKE_TEXT_READ(GetBatteryLowRange)
  FAKE_TEXT_READ(GetBatteryOutRange)
  FAKE_TEXT_READ(GetText33)
  FAKE_TEXT_READ(GetModelName)
  FAKE_TEXT_READ(GetFirmwareVersion)
  FAKE_TEXT_READ(GetText36)
  FAKE_VALUE_READ(GetRatedVoltage)
  FAKE_VALUE_READ(GetRatedFrequencyLow)
  FAKE_VALUE_READ(GetRatedFrequencyHigh)
  FAKE_VALUE_READ(GetRatedVA)
  FAKE_VALUE_READ(GetRatedWatt)
  FAKE_VALUE_READ(GetPortType)
  FAKE_VALUE_READ(GetMediaType)
  FAKE_VALUE_READ(GetMediaIndex)
  FAKE_VALUE_READ(GetBaudRate)
  FAKE_VALUE_READ(GetProperty46)
  FAKE_VALUE_READ(GetProperty47)
  FAKE_VALUE_READ(GetBatteryVoltage)
  FAKE_VALUE_READ(GetBatteryCount)
  FAKE_VALUE_READ(GetBatteryAmpHours)
  FAKE_VALUE_READ(GetExternalBatteries)
  FAKE_VALUE_READ(GetProperty52)
  FAKE_VALUE_READ(GetProperty53)
  FAKE_VALUE_READ(GetBuzzerSetting)
  FAKE_VALUE_WRITE(StartTest)
  int32_t ShutdownRestore(int32_t delay, int32_t restore) override {
    record_->calls.push_back("ShutdownRestore " + std::to_string(delay) + " " +
                             std::to_string(restore));
    return Lookup("ShutdownRestore").result;
  }
  FAKE_VALUE_WRITE(Shutdown)
  int32_t CancelCommand() override {
    record_->calls.push_back("CancelCommand");
    return Lookup("CancelCommand").result;
  }
  int32_t Poll() override {
    record_->calls.push_back("Poll");
    ++record_->poll_count;
    if (polls_.empty()) return default_poll_;
    int32_t code = polls_.front();
    polls_.pop_front();
    return code;
  }
  void Release() override { delete this; }

#undef FAKE_VALUE_READ
#undef FAKE_VALUE_WRITE
#undef FAKE_SELECTED_READ
#undef FAKE_TEXT_READ

 private:
  Answer Lookup(const std::string& operation) const {
    auto found = answers_.find(operation);
    return found == answers_.end() ? Answer{} : found->second;
  }
  int32_t AnswerValue(const std::string& operation, int32_t* value) {
    Answer answer = Lookup(operation);
    if (answer.result == result::kSuccess) *value = answer.value;
    return answer.result;
  }
  int32_t AnswerText(const std::string& operation, char* buffer,
                     int32_t* size) {
    auto text = texts_.find(operation);
    if (text == texts_.end()) {
      Answer answer = Lookup(operation);
      if (answer.result != result::kNotSupported) *size = answer.value;
      return answer.result;
    }
    if (text->second.empty()) return result::kNotReadYet;
    const int32_t needed = static_cast<int32_t>(text->second.size()) + 1;
    if (buffer == nullptr || *size < needed) {
      *size = needed;
      return result::kBufferTooSmall;
    }
    std::memcpy(buffer, text->second.c_str(), static_cast<size_t>(needed));
    return result::kSuccess;
  }

  std::vector<std::string>* log_;
  std::string name_;
  std::map<std::string, Answer> answers_;
  std::map<std::string, std::string> texts_;
  std::deque<int32_t> polls_;
  int32_t default_poll_ = result::kSuccess;
  std::shared_ptr<Record> record_ = std::make_shared<Record>();
};
