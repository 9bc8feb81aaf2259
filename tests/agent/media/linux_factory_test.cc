#include "agent/media/linux_factory.h"

#include <stdlib.h>
#include <unistd.h>

#include <memory>
#include <string>
#include <vector>

#include "agent/media/i_media.h"
#include "agent/media/linux_serial_media.h"
#include "gtest/gtest.h"
#include "tests/support/pseudo_terminal.h"
#include "tests/support/temp_dir.h"

namespace {

using ::testing::internal::CaptureStderr;
using ::testing::internal::GetCapturedStderr;

class LinuxFactoryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(folder_.path().empty());
    setenv(LinuxSerialMedia::kPatternVariable, folder_.Join("ttyS%d").c_str(),
           1);
    LinuxSerialMedia::ResetDeviceListForTesting();
  }
  void TearDown() override {
    unsetenv(LinuxSerialMedia::kPatternVariable);
    LinuxSerialMedia::ResetDeviceListForTesting();
    factory_->Release();
  }
  void AddPort(int n) {
    terminals_.emplace_back(new PseudoTerminal);
    ASSERT_TRUE(terminals_.back()->ok());
    ASSERT_EQ(0, symlink(terminals_.back()->slave_path().c_str(),
                         folder_.Join("ttyS" + std::to_string(n)).c_str()));
  }

  TempDir folder_;
  std::vector<std::unique_ptr<PseudoTerminal>> terminals_;
  PlatformFactory* factory_ = new LinuxFactory;
};

TEST_F(LinuxFactoryTest, ListsNoneAutoAndEverySerialPort) {
  AddPort(0);
  AddPort(1);
  std::vector<std::string> list = {"left over"};
  EXPECT_TRUE(factory_->GetDeviceList(&list));
  EXPECT_EQ((std::vector<std::string>{"0.0.None", "1.0.Auto", "2.1.ttyS0",
                                      "2.2.ttyS1"}),
            list);
}

TEST_F(LinuxFactoryTest, WithoutPortsListsNoneAndAutoAndOpensNothing) {
  std::vector<std::string> list;
  EXPECT_TRUE(factory_->GetDeviceList(&list));
  EXPECT_EQ((std::vector<std::string>{"0.0.None", "1.0.Auto"}), list);
  CaptureStderr();
  EXPECT_EQ(nullptr, factory_->CreateMedia(2, 1));
  EXPECT_EQ("LinuxSerialMedia::Create() device list is empty.\n",
            GetCapturedStderr());
}

TEST_F(LinuxFactoryTest, CreateMediaOpensOnlySerialPorts) {
  AddPort(0);
  CaptureStderr();
  EXPECT_EQ(nullptr, factory_->CreateMedia(3, 1));
  EXPECT_EQ(nullptr, factory_->CreateMedia(7, 1));
  EXPECT_EQ(nullptr, factory_->CreateMedia(1, 1));
  EXPECT_EQ("", GetCapturedStderr());

  CaptureStderr();
  EXPECT_EQ(nullptr, factory_->CreateMedia(2, 0));
  EXPECT_EQ("LinuxSerialMedia::Create() not allowd index is 0.\n",
            GetCapturedStderr());

  IMedia* media = factory_->CreateMedia(2, 1);
  ASSERT_NE(nullptr, media);
  EXPECT_EQ(2, media->GetType());
  EXPECT_EQ(1, media->GetIndex());
  EXPECT_EQ(1000, media->GetReadTimeout());
  media->Release();
}

}  // namespace
