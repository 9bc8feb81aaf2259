#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "agent/media/platform_factory.h"

// A platform factory for tests: a scripted device list, a pipe and media
// that the test prepared (handed over on request, owned by the caller from
// then on), and a record of every call.
class FakePlatformFactory final : public PlatformFactory {
 public:
  struct MediaCall {
    int32_t type;
    int32_t index;
    bool operator==(const MediaCall& other) const {
      return type == other.type && index == other.index;
    }
  };

  FakePlatformFactory();
  // Releases the pipe and the media that were never handed out.
  ~FakePlatformFactory() override;

  // The device list reported; starts as "0.0.None", "1.0.Auto".
  void SetDeviceList(std::vector<std::string> list) {
    devices_ = std::move(list);
  }
  // GetDeviceList fails while set.
  void FailDeviceList(bool fail) { fail_device_list_ = fail; }
  // The pipe handed out by the next CreatePipe (owned until then).
  void SetPipe(IPipe* pipe);
  // The media handed out for (type, index), once (owned until then). A
  // selection without one gets null.
  void AddMedia(int32_t type, int32_t index, IMedia* media);

  const std::vector<MediaCall>& media_calls() const { return media_calls_; }
  // The descriptor pairs of every CreatePipe call.
  const std::vector<std::pair<int32_t, int32_t>>& pipe_calls() const {
    return pipe_calls_;
  }
  int device_list_calls() const { return device_list_calls_; }

  // PlatformFactory
  IPipe* CreatePipe(int32_t input_fd, int32_t output_fd) override;
  IMedia* CreateMedia(int32_t type, int32_t index) override;
  bool GetDeviceList(std::vector<std::string>* list) override;
  void Release() override;

 private:
  std::vector<std::string> devices_;
  bool fail_device_list_ = false;
  IPipe* pipe_ = nullptr;
  std::map<std::pair<int32_t, int32_t>, IMedia*> media_;
  std::vector<MediaCall> media_calls_;
  std::vector<std::pair<int32_t, int32_t>> pipe_calls_;
  int device_list_calls_ = 0;
};
