#include "service/status_poller.h"

#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "service/database.h"
#include "service/dev_request.h"
#include "service/log_store.h"
#include "service/parameter_store.h"
#include "tests/support/fake_agent_commands.h"
#include "tests/support/fake_clock.h"
#include "tests/support/temp_dir.h"

namespace {

using Lines = std::vector<std::string>;

const Lines kPass = {"S0", "S1", "S2", "S3", "S4",  "S5",
                     "S6", "S7", "S8", "S9", "S12", "R22"};

class StatusPollerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    db_ = Database::Open(dir_.Join("kovrad.db"), &error);
    ASSERT_TRUE(db_) << error;
    logs_.reset(new LogStore(db_.get(), LogStore::Limits()));
    config_.poll_period_ms = 1000;
    config_.thresholds.confirm_passes = 2;
    StatusPoller::Listener listener;
    listener.on_contact = [this](bool connected) {
      contact_.push_back(connected);
    };
    listener.on_states = [this](int64_t) { ++state_looks_; };
    poller_.reset(new StatusPoller(config_, &agent_, &clock_, &params_,
                                   logs_.get(), listener));
    poller_->Start(clock_.MonotonicMillis());
  }

  // Answers every waiting command from the unit's values; S7 reads
  // power_fail.
  void AnswerPass(const std::string& power_fail = "0") {
    const char* const kValues[] = {"22000", "22400", "10000", "3500",
                                   "3000",  "5000",  "125",   "",
                                   "0",     "0",     "1",     "2"};
    for (size_t slot = 0; slot < 12 && agent_.waiting() > 0; ++slot) {
      std::string value = slot == 7 ? power_fail : kValues[slot];
      ASSERT_TRUE(agent_.ReplyValue(value)) << slot;
    }
  }

  // Moves one poll period on and answers the pass it starts.
  void NextPass(const std::string& power_fail = "0") {
    clock_.Advance(config_.poll_period_ms);
    poller_->Tick(clock_.MonotonicMillis());
    AnswerPass(power_fail);
  }

  int32_t Read(int32_t slot) {
    int32_t value = -1;
    int32_t result = poller_->Read(slot, clock_.MonotonicMillis(), &value);
    return result == 0 ? value : -result;
  }

  std::vector<std::string> Entries(int32_t list) {
    int32_t key = 0;
    EXPECT_TRUE(logs_->StartKey(list, &key));
    int32_t next = 0;
    std::vector<std::string> entries;
    EXPECT_TRUE(logs_->Page(list, key, &next, &entries));
    return entries;
  }

  bool HasEvent(int32_t code) {
    for (const std::string& entry : Entries(kEventLog)) {
      if (entry.substr(entry.rfind(' ') + 1) == std::to_string(code)) {
        return true;
      }
    }
    return false;
  }

  TempDir dir_;
  std::unique_ptr<Database> db_;
  std::unique_ptr<LogStore> logs_;
  ParameterStore params_{nullptr};
  FakeAgentCommands agent_;
  FakeClock clock_;
  StatusPollerConfig config_;
  std::unique_ptr<StatusPoller> poller_;
  std::vector<bool> contact_;
  int32_t state_looks_ = 0;
};

TEST_F(StatusPollerTest,
       APassAsksOnlyForWhatIsServedOrUsedAndBecomesTheSnapshot) {
  EXPECT_EQ(-8, Read(0));  // nothing read yet
  poller_->Tick(clock_.MonotonicMillis());
  EXPECT_EQ(kPass, agent_.lines());
  // The pass's commands are those of the status requests.
  for (size_t slot = 0; slot < kPass.size(); ++slot) {
    EXPECT_EQ(kPass[slot],
              StatusSnapshot::CommandOf(static_cast<int32_t>(slot)));
  }
  ASSERT_TRUE(agent_.ReplyValue("22000"));
  ASSERT_TRUE(agent_.ReplyValue("22400"));
  EXPECT_EQ(-8, Read(0));                // only a complete pass counts
  ASSERT_TRUE(agent_.ReplyValue("1x"));  // S2: not a number
  ASSERT_TRUE(agent_.Reply("S3E 1"));    // S3: the unit lacks it
  while (agent_.waiting() > 0) ASSERT_TRUE(agent_.ReplyValue("7"));
  EXPECT_EQ(22000, Read(0));
  EXPECT_EQ(22400, Read(1));
  EXPECT_EQ(-9, Read(2));
  EXPECT_EQ(-1, Read(3));
  EXPECT_EQ(7, Read(StatusSnapshot::kSlotPortType));
  // An old snapshot answers "not in contact".
  clock_.Advance(config_.snapshot_max_age_ms);
  EXPECT_EQ(22000, Read(0));
  clock_.Advance(1);
  EXPECT_EQ(-8, Read(0));
}

TEST_F(StatusPollerTest, SlowPassDelaysTheNextOneButNeverDropsIt) {
  poller_->Tick(clock_.MonotonicMillis());
  ASSERT_TRUE(agent_.ReplyValue("1"));
  agent_.ClearLines();
  for (int i = 0; i < 3; ++i) {
    clock_.Advance(config_.poll_period_ms);
    poller_->Tick(clock_.MonotonicMillis());
  }
  EXPECT_TRUE(agent_.lines().empty());  // still the first pass
  AnswerPass();
  EXPECT_EQ(kPass, agent_.lines());  // the next follows at once
}

TEST_F(StatusPollerTest, AgentResetAbandonsThePassAndNoAgentMeansNoPass) {
  poller_->Tick(clock_.MonotonicMillis());
  poller_->OnAgentReset();
  AnswerPass();  // late answers of the abandoned pass
  EXPECT_EQ(-8, Read(0));
  agent_.set_running(false);
  agent_.ClearLines();
  clock_.Advance(config_.poll_period_ms);
  poller_->Tick(clock_.MonotonicMillis());
  EXPECT_TRUE(agent_.lines().empty());
  EXPECT_EQ(2, state_looks_);  // the shutdown still looks every tick
}

TEST_F(StatusPollerTest, ConfirmedChangesBecomeEventsAndContactChanges) {
  NextPass();
  NextPass();
  EXPECT_EQ(std::vector<bool>{true}, contact_);
  EXPECT_TRUE(HasEvent(kEventCommunicationEstablished));
  NextPass("1");
  EXPECT_FALSE(HasEvent(kEventPowerFailure));  // one pass is no change yet
  NextPass("1");
  EXPECT_TRUE(HasEvent(kEventPowerFailure));
  EXPECT_TRUE(poller_->detector().on_battery());
  NextPass();
  NextPass();
  EXPECT_TRUE(HasEvent(kEventPowerRestore));
  // Without fresh passes, contact is lost.
  agent_.set_running(false);
  for (int i = 0; i < 20; ++i) {
    clock_.Advance(config_.poll_period_ms);
    poller_->Tick(clock_.MonotonicMillis());
  }
  EXPECT_EQ((std::vector<bool>{true, false}), contact_);
  EXPECT_TRUE(HasEvent(kEventCommunicationLost));
}

TEST_F(StatusPollerTest, StatusRecordsAreWrittenAtTheRecordRate) {
  ASSERT_EQ(0, params_.Set(ParameterSpace::kPol, kKeyRecordRate, "5"));
  poller_->RescheduleRecords(clock_.MonotonicMillis());
  for (int i = 0; i < 4; ++i) NextPass();
  EXPECT_TRUE(Entries(kStatusRecordLog).empty());
  NextPass();
  std::vector<std::string> records = Entries(kStatusRecordLog);
  ASSERT_EQ(1u, records.size());
  const std::string& record = records.back();
  ASSERT_GT(record.size(), 20u);
  EXPECT_EQ('/', record[4]);
  EXPECT_EQ(" 22000 22400 10000 3500 5000 3000", record.substr(19));
  for (int i = 0; i < 5; ++i) NextPass();
  EXPECT_EQ(2u, Entries(kStatusRecordLog).size());

  ASSERT_EQ(0, params_.Set(ParameterSpace::kPol, kKeyRecByPeriod, "0"));
  for (int i = 0; i < 10; ++i) NextPass();
  EXPECT_EQ(2u, Entries(kStatusRecordLog).size());
}

}  // namespace
