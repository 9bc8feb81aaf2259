#include "agent/protocol/null_protocol.h"

#include "agent/protocol/result_codes.h"
#include "gtest/gtest.h"

namespace {

using StatusRead = int32_t (IProtocol::*)(int32_t*);

TEST(NullProtocolTest, StatusReadsAnswerNoUnitAndWriteNothing) {
  const StatusRead reads[] = {
      &IProtocol::GetInputVoltage,    &IProtocol::GetOutputVoltage,
      &IProtocol::GetBatteryCapacity, &IProtocol::GetLoad,
      &IProtocol::GetTemperature,     &IProtocol::GetFrequency,
      &IProtocol::GetBackupTime,      &IProtocol::GetPowerFail,
      &IProtocol::GetBatteryLow,      &IProtocol::GetTestActive,
      &IProtocol::GetShutdownActive,  &IProtocol::GetStatusFlag11,
      &IProtocol::GetConnected,       &IProtocol::GetBuzzerActive,
  };
  NullProtocol protocol(2, 1);
  for (StatusRead read : reads) {
    int32_t value = 77;
    EXPECT_EQ(result::kNoAnswer, (protocol.*read)(&value));
    EXPECT_EQ(77, value);
  }
}

TEST(NullProtocolTest, ReportsItsSelectionAndSupportsNothingElse) {
  NullProtocol protocol(2, 9);
  int32_t value = 0;
  EXPECT_EQ(result::kSuccess, protocol.GetMediaType(&value));
  EXPECT_EQ(2, value);
  EXPECT_EQ(result::kSuccess, protocol.GetMediaIndex(&value));
  EXPECT_EQ(9, value);
  EXPECT_EQ(result::kNotSupported, protocol.Poll());
  EXPECT_EQ(result::kNotSupported, protocol.GetRatedVA(&value));
  EXPECT_EQ(result::kNotSupported, protocol.StartTest(10));
  char name[16];
  int32_t size = sizeof(name);
  EXPECT_EQ(result::kNotSupported, protocol.GetModelName(name, &size));
}

}  // namespace
