#include "tests/support/fake_platform_factory.h"

#include "agent/i_pipe.h"
#include "agent/media/i_media.h"

FakePlatformFactory::FakePlatformFactory() : devices_{"0.0.None", "1.0.Auto"} {}

FakePlatformFactory::~FakePlatformFactory() {
  if (pipe_ != nullptr) pipe_->Release();
  for (auto& entry : media_) {
    if (entry.second != nullptr) entry.second->Release();
  }
}

void FakePlatformFactory::SetPipe(IPipe* pipe) {
  if (pipe_ != nullptr) pipe_->Release();
  pipe_ = pipe;
}

void FakePlatformFactory::AddMedia(int32_t type, int32_t index, IMedia* media) {
  IMedia*& slot = media_[{type, index}];
  if (slot != nullptr) slot->Release();
  slot = media;
}

IPipe* FakePlatformFactory::CreatePipe(int32_t input_fd, int32_t output_fd) {
  pipe_calls_.emplace_back(input_fd, output_fd);
  IPipe* pipe = pipe_;
  pipe_ = nullptr;
  return pipe;
}

IMedia* FakePlatformFactory::CreateMedia(int32_t type, int32_t index) {
  media_calls_.push_back(MediaCall{type, index});
  auto found = media_.find({type, index});
  if (found == media_.end()) return nullptr;
  IMedia* media = found->second;
  media_.erase(found);
  return media;
}

bool FakePlatformFactory::GetDeviceList(std::vector<std::string>* list) {
  ++device_list_calls_;
  if (fail_device_list_) return false;
  *list = devices_;
  return true;
}

void FakePlatformFactory::Release() { delete this; }
