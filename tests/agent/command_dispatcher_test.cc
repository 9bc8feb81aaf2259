#include "agent/command_dispatcher.h"

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "agent/protocol/result_codes.h"
#include "gtest/gtest.h"
#include "tests/support/fake_platform_factory.h"
#include "tests/support/fake_protocol.h"

namespace {

using Calls = std::vector<std::string>;

class CommandDispatcherTest : public ::testing::Test {
 protected:
  // A fresh fake protocol and the given present selection.
  void Build(int32_t media_type = 0, int32_t media_index = 0) {
    selection_ = MediaSelection{media_type, media_index};
    protocol_ = std::make_unique<FakeProtocol>();
  }
  void SetUp() override { Build(); }

  // Dispatches one line (without its newline) and returns the reply, which
  // must be exactly one line, without its newline.
  std::string Exchange(const std::string& line, bool cut_off = false) {
    std::string reply;
    last_code_ = dispatcher_.Dispatch(line, cut_off, protocol_.get(), &reply);
    EXPECT_EQ(1, std::count(reply.begin(), reply.end(), '\n'))
        << "for line '" << line << "'";
    if (reply.empty() || reply.back() != '\n') return "<no reply line>";
    reply.pop_back();
    return reply;
  }

  FakePlatformFactory platform_;
  MediaSelection selection_;
  CommandDispatcher dispatcher_{&platform_, &selection_};
  std::unique_ptr<FakeProtocol> protocol_;
  int32_t last_code_ = -1;
};

TEST_F(CommandDispatcherTest, ReadsReachTheirOperations) {
  // S0 to S13, R16 to R30 (numbers) and R8 to R15 (texts).
  const char* status[] = {
      "GetInputVoltage", "GetOutputVoltage",  "GetBatteryCapacity",
      "GetLoad",         "GetTemperature",    "GetFrequency",
      "GetBackupTime",   "GetPowerFail",      "GetBatteryLow",
      "GetTestActive",   "GetShutdownActive", "GetStatusFlag11",
      "GetConnected",    "GetBuzzerActive"};
  const char* facts[] = {
      "GetRatedVoltage",      "GetRatedFrequencyLow", "GetRatedFrequencyHigh",
      "GetRatedVA",           "GetRatedWatt",         "GetBaudRate",
      "GetPortType",          "GetMediaType",         "GetMediaIndex",
      "GetBatteryVoltage",    "GetBatteryCount",      "GetBatteryAmpHours",
      "GetExternalBatteries", "GetProperty46",        "GetProperty47"};
  const char* texts[] = {"GetInputHighRange",  "GetInputLowRange",
                         "GetBatteryLowRange", "GetBatteryOutRange",
                         "GetModelName",       "GetFirmwareVersion",
                         "GetText36",          "GetText33"};
  auto check = [this](const std::string& line, const char* operation) {
    Build();
    protocol_->SetAnswer(operation, result::kSuccess, -4711);
    EXPECT_EQ(line + " -4711", Exchange(line));
    EXPECT_EQ(Calls{operation}, protocol_->calls()) << line;
  };
  for (int i = 0; i < 14; ++i) check("S" + std::to_string(i), status[i]);
  for (int i = 0; i < 15; ++i) check("R" + std::to_string(16 + i), facts[i]);
  for (int i = 0; i < 8; ++i) {
    Build();
    protocol_->SetText(texts[i], "text");
    const std::string line = "R" + std::to_string(8 + i);
    EXPECT_EQ(line + " text", Exchange(line));
  }
}

TEST_F(CommandDispatcherTest, SettingsAndCommandsPassTheirArguments) {
  const struct {
    const char *line, *operation, *call, *reply;
  } rows[] = {
      {"R0 0", "GetInputHigh", "GetInputHigh 0 0", "R0 4711"},
      {"R1 1", "GetInputLow", "GetInputLow 1 1", "R1 4711"},
      {"R2 0", "GetBatteryLowLevel", "GetBatteryLowLevel 0 0", "R2 4711"},
      {"R3 2", "GetBatteryOut", "GetBatteryOut 2 2", "R3 4711"},
      {"R4 0", "GetColdStart", "GetColdStart 0 0", "R4 4711"},
      {"R5 0", "GetProperty5", "GetProperty5 0 0", "R5 4711"},
      {"R6 1", "GetProperty6", "GetProperty6 1 1", "R6 4711"},
      {"R7", "GetBuzzerSetting", "GetBuzzerSetting", "R7 1"},  // bit 0 only
      {"W0 5", "SetInputHigh", "SetInputHigh 5", "W0"},
      {"W1 -7", "SetInputLow", "SetInputLow -7", "W1"},
      {"W2 5", "SetBatteryLowLevel", "SetBatteryLowLevel 5", "W2"},
      {"W3 5", "SetBatteryOut", "SetBatteryOut 5", "W3"},
      {"W4 5", "SetColdStart", "SetColdStart 5", "W4"},
      {"W5 5", "SetProperty5", "SetProperty5 5", "W5"},
      {"W6 5\r", "SetProperty6", "SetProperty6 5", "W6"},
      {"W7 5", "SetBuzzer", "SetBuzzer true", "W7"},
      {"W7 0", "SetBuzzer", "SetBuzzer false", "W7"},
      {"C0 -1", "StartTest", "StartTest -1", "C0"},
      {"C1 10 20\r", "ShutdownRestore", "ShutdownRestore 10 20", "C1"},
      {"C2 30", "Shutdown", "Shutdown 30", "C2"},
      {"C3", "CancelCommand", "CancelCommand", "C3"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.line);
    Build();
    protocol_->SetAnswer(row.operation, result::kSuccess, 4711);
    EXPECT_EQ(row.reply, Exchange(row.line));
    EXPECT_EQ(Calls{row.call}, protocol_->calls());
    EXPECT_EQ(result::kSuccess, last_code_);
  }
  Build();
  protocol_->SetAnswer("GetBuzzerSetting", result::kSuccess, 2);
  EXPECT_EQ("R7 0", Exchange("R7"));
}

TEST_F(CommandDispatcherTest, LinesOutsideTheTableFollowTheGrammar) {
  protocol_->SetAnswer("GetPowerFail", result::kSuccess, 1);
  protocol_->SetAnswer("GetInputVoltage", result::kSuccess, 23000);
  const char* rows[][2] = {
      {"X5", "X5E 1"},   {"s0", "s0E 1"},         {"R33", "R33E 1"},
      {"R31", "R31E 1"}, {"R38", "R38E 1"},       {"S14", "S14E 1"},
      {"S-1", "S-1E 1"}, {"W8 1", "W8E 1"},       {"C5 1", "C5E 1"},
      {"C-1", "C-1E 1"}, {"S", "S-1E 1"},         {"", "-1E 1"},
      {"S007", "S7 1"},  {"S0\r", "S0 23000"},    {"S+7", "S7 1"},
      {"Sx", "S-1E 1"},  {"S0 junk", "S0 23000"}, {"\r", "\r-1E 1"},
  };
  for (const auto& row : rows) EXPECT_EQ(row[1], Exchange(row[0]));
  EXPECT_EQ((Calls{"GetPowerFail", "GetInputVoltage", "GetPowerFail",
                   "GetInputVoltage"}),
            protocol_->calls());
}

TEST_F(CommandDispatcherTest, NumberBeyond32BitsIsNotTruncatedIntoTheTable) {
  // 4294967296 would wrap to 0 (S0) if it were cut to 32 bits.
  EXPECT_EQ("S-1E 1", Exchange("S4294967296"));
  EXPECT_EQ("W-1E 1", Exchange("W4294967296 1"));
  EXPECT_TRUE(protocol_->calls().empty());
}

TEST_F(CommandDispatcherTest, MissingOrMalformedArgumentRepliesE16WithoutCall) {
  const char* rows[][2] = {
      {"W0", "W0E 16"},
      {"W0 ", "W0E 16"},
      {"W0 x", "W0E 16"},
      {"W7", "W7E 16"},
      {"R0", "R0E 16"},
      {"R6 -", "R6E 16"},
      {"C0", "C0E 16"},
      {"C1 5", "C1E 16"},
      {"C1 5 ", "C1E 16"},
      {"C2 a", "C2E 16"},
      {"W0 99999999999", "W0E 16"},
  };
  for (const auto& row : rows) EXPECT_EQ(row[1], Exchange(row[0]));
  EXPECT_TRUE(protocol_->calls().empty());
  // A malformed media change leaves the selection as it was.
  Build(2, 1);
  EXPECT_EQ("C4E 16", Exchange("C4 1"));
  EXPECT_EQ("C4E 16", Exchange("C4 x 1"));
  EXPECT_EQ(2, selection_.type);
  EXPECT_EQ(1, selection_.index);
}

TEST_F(CommandDispatcherTest, TextReadUsesTwoCallsAndRepliesTheWholeText) {
  protocol_->SetText("GetModelName", "UPS\n1000");
  EXPECT_EQ("R12 UPS 1000", Exchange("R12"));  // a newline must not split
  // The second call gets the reported size, in a buffer one byte longer.
  EXPECT_EQ((Calls{"GetModelName null 0", "GetModelName buffer 9"}),
            protocol_->calls());
  const std::string long_text(1000, 'x');
  protocol_->SetText("GetText33", long_text);
  EXPECT_EQ("R15 " + long_text, Exchange("R15"));
}

TEST_F(CommandDispatcherTest, FailuresReplyWithTheirCodes) {
  protocol_->SetAnswer("GetInputVoltage", result::kNoAnswer);
  EXPECT_EQ("S0E 8", Exchange("S0"));
  EXPECT_EQ(result::kNoAnswer, last_code_);
  protocol_->SetAnswer("SetInputHigh", result::kInvalid);
  EXPECT_EQ("W0E 4", Exchange("W0 1"));
  protocol_->SetText("GetModelName", "");
  EXPECT_EQ("R12E 2", Exchange("R12"));
  // Sizes that cannot be allocated are refused, not trusted.
  protocol_->SetAnswer("GetFirmwareVersion", result::kBufferTooSmall, -5);
  EXPECT_EQ("R13E 5", Exchange("R13"));
  protocol_->SetAnswer("GetText36", result::kBufferTooSmall, 0x7FFFFFFF);
  EXPECT_EQ("R14E 5", Exchange("R14"));
  EXPECT_EQ((Calls{"GetInputVoltage", "SetInputHigh 1", "GetModelName null 0",
                   "GetFirmwareVersion null 0", "GetText36 null 0"}),
            protocol_->calls());
}

TEST_F(CommandDispatcherTest, DeviceListKeepsSelectableEntries) {
  platform_.SetDeviceList({"0.0.None", "1.0.Auto", "2.0.AllSerial", "2.1.ttyS0",
                           "3.0.Other", "3.2.OtherTwo", "junk", "2.2.ttyS1"});
  EXPECT_EQ("R37 0.0.None,1.0.Auto,2.1.ttyS0,3.0.Other,2.2.ttyS1",
            Exchange("R37"));
  platform_.FailDeviceList(true);
  EXPECT_EQ("R37E 17", Exchange("R37"));
  EXPECT_TRUE(protocol_->calls().empty());
}

TEST_F(CommandDispatcherTest, DeviceNameWithNewlineStaysOneReplyLine) {
  // Any path can become a port through the device pattern, so a name may
  // hold a line break, a carriage return or a comma.
  platform_.SetDeviceList({"0.0.None", "2.1.tty\nS0", "2.2.a,b\rc\x7F"});
  EXPECT_EQ("R37 0.0.None,2.1.tty?S0,2.2.a?b?c?", Exchange("R37"));
}

TEST_F(CommandDispatcherTest,
       MediaChangeStoresTheSelectionAndRepliesByRestart) {
  const struct {
    int32_t type, index;
    const char *line, *reply;
    int32_t code, new_type, new_index;
  } rows[] = {
      {0, 0, "C4 1 0", "C4E 20", result::kMediaChanged, 1, 0},
      {2, 1, "C4 1 0", "C4E 1", result::kNotSupported, 1, 0},
      {0, 0, "C4 5 1", "C4E 20", result::kMediaChanged, 5, 1},  // unknown
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.line);
    Build(row.type, row.index);
    protocol_->SetMedia(row.type, row.index);
    EXPECT_EQ(row.reply, Exchange(row.line));
    EXPECT_EQ(row.code, last_code_);
    EXPECT_EQ(row.new_type, selection_.type);
    EXPECT_EQ(row.new_index, selection_.index);
  }
}

TEST_F(CommandDispatcherTest, CutOffLineRepliesE16WithoutCall) {
  protocol_->SetAnswer("SetInputHigh", result::kSuccess);
  EXPECT_EQ("W0E 16", Exchange("W0 1", true));
  EXPECT_EQ(result::kMalformedArgument, last_code_);
  EXPECT_TRUE(protocol_->calls().empty());
}

TEST_F(CommandDispatcherTest, WithoutProtocolOnlyTheAgentsOwnCommandsWork) {
  protocol_.reset();
  EXPECT_EQ("S0E 1", Exchange("S0"));
  EXPECT_EQ("R23E 1", Exchange("R23"));
  EXPECT_EQ("R37 0.0.None,1.0.Auto", Exchange("R37"));
  EXPECT_EQ("C4E 20", Exchange("C4 2 1"));
  EXPECT_EQ(2, selection_.type);
  EXPECT_EQ(1, selection_.index);
}

// The media selection matrix: rows are the new selection, columns the
// present one. O: no restart, X: restart, V: restart unless the new index
// is the protocol's, *: restart unless the new index is the present one.
const char* const kExpectedMatrix[6] = {
    "OOOOOOOOOOOX", "XOOOOO*XXXXX", "XVOVOV*XXXXX",
    "OXOXXXXOOO*X", "VXOXXXXVOV*X", "XXOXOXOXOXOO",
};

TEST_F(CommandDispatcherTest, NeedsRestartCoversEveryCell) {
  // The protocol reports index 2 (or cannot tell: -1); a specific present
  // selection uses index 3. New indices 2 and 3 tell V and * cells apart.
  constexpr int32_t kProtocolIndex = 2;
  constexpr int32_t kPresentIndex = 3;
  const struct {
    int32_t type, index, protocol_type, protocol_index;
  } columns[12] = {
      {1, 0, 2, kProtocolIndex},
      {1, 0, 3, kProtocolIndex},
      {1, 0, 0, kProtocolIndex},
      {3, 0, 3, kProtocolIndex},
      {3, 0, 3, -1},
      {3, kPresentIndex, 3, kProtocolIndex},
      {3, kPresentIndex, 3, -1},
      {2, 0, 2, kProtocolIndex},
      {2, 0, 2, -1},
      {2, kPresentIndex, 2, kProtocolIndex},
      {2, kPresentIndex, 2, -1},
      {0, 0, 0, 0},
  };
  const struct {
    int32_t type;
    bool specific;  // the new index is not 0
  } rows[6] = {{1, true},  {3, false}, {3, true},
               {2, false}, {2, true},  {0, true}};

  for (int r = 0; r < 6; ++r) {
    for (int c = 0; c < 12; ++c) {
      const auto& column = columns[c];
      std::vector<int32_t> new_indices = {0};
      if (rows[r].specific) new_indices = {kProtocolIndex, kPresentIndex};
      for (int32_t new_index : new_indices) {
        Build(column.type, column.index);
        protocol_->SetAnswer("GetMediaType", result::kSuccess,
                             column.protocol_type);
        if (column.protocol_index != -1) {
          protocol_->SetAnswer("GetMediaIndex", result::kSuccess,
                               column.protocol_index);
        }
        const char cell = kExpectedMatrix[r][c];
        const bool expected = cell == 'V'   ? new_index != column.protocol_index
                              : cell == '*' ? new_index != column.index
                                            : cell == 'X';
        EXPECT_EQ(expected, dispatcher_.NeedsRestart(protocol_.get(),
                                                     rows[r].type, new_index))
            << "row " << r << " column " << c << " new index " << new_index;
      }
    }
  }
  // Types outside the matrix, new or present, always need a restart.
  protocol_->SetMedia(2, 1);
  EXPECT_TRUE(dispatcher_.NeedsRestart(protocol_.get(), 7, 0));
  EXPECT_TRUE(dispatcher_.NeedsRestart(protocol_.get(), -1, 1));
  Build(9, 1);
  protocol_->SetMedia(2, 1);
  EXPECT_TRUE(dispatcher_.NeedsRestart(protocol_.get(), 0, 0));
  EXPECT_TRUE(dispatcher_.NeedsRestart(protocol_.get(), 1, 0));
}

}  // namespace
