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

}  // namespace
