#include "tool/link/template_codec.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <initializer_list>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "common/time/timestamp.h"
#include "gmock/gmock.h"
#include "gtest/gtest.h"
#include "tool/link/service_connection.h"

namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using Strings = std::vector<std::string>;

constexpr int32_t kNoCode = ServiceConnection::kServiceErrorNoCode;
constexpr int32_t kBad = ServiceConnection::kBadTemplate;

// Runs exchanges in memory: each request is formatted from its template and
// recorded, and the next queued reply bytes (a CR alone when none is queued)
// are read into its outputs.
class TemplateCodecTest : public ::testing::Test {
 protected:
  template <typename... Args>
  int32_t Transact(const char* request_template, Args&&... args) {
    return TransactList(request_template,
                        {LinkArg(std::forward<Args>(args))...});
  }
  int32_t TransactList(const char* request_template,
                       std::initializer_list<LinkArg> args) {
    std::string request;
    ReplyPattern pattern;
    const int32_t result =
        FormatRequest(request_template, args, &request, &pattern);
    if (result != ServiceConnection::kSuccess) return result;
    requests_.push_back(request);
    std::string reply = "\r";
    if (!replies_.empty()) {
      reply = replies_.front();
      replies_.pop_front();
    }
    return ReadReply(reply, pattern);
  }
  void Reply(const std::string& reply) { replies_.push_back(reply); }
  // Queues `reply` for the next request, which must be `request`.
  void Expect(const std::string& request, const std::string& reply) {
    expected_.push_back(request);
    Reply(reply);
  }

  void TearDown() override {
    if (!expected_.empty()) {
      EXPECT_EQ(expected_, requests_);
    }
  }

  std::deque<std::string> replies_;
  Strings requests_;
  Strings expected_;
};

TEST_F(TemplateCodecTest, WritesRequestConversions) {
  const Strings lines = {"a", "", "b"};
  const Strings no_lines;
  // Keys come out sorted: a before b.
  const LinkArg::TextMaps maps = {{{"b", "2"}, {"a", ""}}, {{"c", "3"}}};
  const LinkArg::TextMaps no_maps;
  const Timestamp time = Timestamp::FromCalendar({5, 4, 3, 2, 1, 2004, 0});
  std::ostringstream time_text;
  time_text << time;
  for (const std::string& request :
       Strings{"DEV CMD_SELFTEST -1 -2147483648\r", "POL service.buzzer on=0\r",
               "A%Bvx%\r", "Q\r", "U a\n\nb\n\r", "M a=\nb=2\n\nc=3\n\n\r",
               "E \r", "T " + time_text.str() + "\r"}) {
    Expect(request, "OK\r");
  }
  EXPECT_EQ(0, Transact("DEV CMD_SELFTEST %d %l\r", -1, INT32_MIN));
  EXPECT_EQ(0, Transact("POL %s=%s\r", std::string("service.buzzer on"), "0"));
  EXPECT_EQ(0, Transact("A%%B%v%x%%\r"));
  EXPECT_EQ(0, Transact("Q%\r"));
  EXPECT_EQ(0, Transact("U %u\r", &lines));
  EXPECT_EQ(0, Transact("M %m\r", &maps));
  EXPECT_EQ(0, Transact("E %u%m\r", &no_lines, &no_maps));
  EXPECT_EQ(0, Transact("T %t\r", &time));
}

TEST_F(TemplateCodecTest, ErrorRepliesGiveTheirNumber) {
  // Result 0: not an error reply, so the reply is read as usual.
  const std::pair<const char*, int32_t> cases[] = {
      {"ERR 8\r", 8},
      {"ERR  \t12abc\r", 12},
      {"ERR +3\r", 3},
      {"ERR -4\r", -4},
      {"ERR \r", kNoCode},
      {"ERR x\r", kNoCode},
      {"ERR 0\r", kNoCode},
      {"ERR -0\r", kNoCode},
      // Too large for 32 bits: no usable number rather than a wrapped one.
      {"ERR 4294967304\r", kNoCode},
      {"ERR 99999999999999999999999\r", kNoCode},
      {"ERR 2147483647\r", 2147483647},
      {"ERR -2147483648\r", INT32_MIN},
      {"err 8\r", 0},
      {"ERR8\r", 0},
      {"ERROR 8\r", 0},
      {"ER\r", 0},
  };
  for (const auto& [reply, result] : cases) {
    SCOPED_TRACE(reply);
    Reply(reply);
    std::string text = "kept";
    int32_t value = -1;
    EXPECT_EQ(result, Transact("X\r%s%d", &text, &value));
    EXPECT_EQ(result == 0 ? std::string(reply, std::strlen(reply) - 1) : "kept",
              text);
    EXPECT_EQ(-1, value);
  }
}

TEST_F(TemplateCodecTest, CrAloneLeavesOutputsButEmptiesText) {
  Reply("\r");
  int32_t number = -1;
  int32_t key = -1;
  std::string text = "old";
  Strings lines;
  ValueRange range;
  Timestamp time(77);
  EXPECT_EQ(0, Transact("X\r%d%l%s%u%v%t", &number, &key, &text, &lines, &range,
                        &time));
  EXPECT_EQ(-1, number);
  EXPECT_EQ(-1, key);
  EXPECT_EQ("", text);
  EXPECT_THAT(lines, IsEmpty());
  EXPECT_TRUE(range.empty());
  EXPECT_EQ(Timestamp(77), time);
}

TEST_F(TemplateCodecTest, NumbersReadInTurnTextFromTheStart) {
  struct Case {
    const char* reply;
    int32_t first;
    int32_t second;
  };
  const Case cases[] = {
      {" 5 -6 tail\r", 5, -6},
      // A failed read stops the later ones.
      {"abc 5 6\r", -1, -1},
      {"2147483648 1\r", -1, -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.reply);
    Reply(c.reply);
    int32_t first = -1;
    int32_t second = -1;
    std::string text;
    EXPECT_EQ(0, Transact("X\r%d%s%d", &first, &text, &second));
    EXPECT_EQ(c.first, first);
    EXPECT_EQ(c.second, second);
    EXPECT_EQ(std::string(c.reply, std::strlen(c.reply) - 1), text);
  }
}

TEST_F(TemplateCodecTest, RangeReadsIntegersWithAnySeparator) {
  const std::pair<const char*, std::vector<int32_t>> cases[] = {
      {"220, 230,240\r", {220, 230, 240}},
      {"-5;7\r", {-5, 7}},
      {"1,2,x,4\r", {1, 2}},
      {"\r", {}},
  };
  for (const auto& [reply, values] : cases) {
    SCOPED_TRACE(reply);
    Reply(reply);
    ValueRange range;
    EXPECT_EQ(0, Transact("X\r%v", &range));
    EXPECT_EQ(values, range.values());
  }
}

TEST_F(TemplateCodecTest, LinesSplitAtLineFeeds) {
  const std::pair<const char*, Strings> cases[] = {
      {"one\r", {"one"}},
      {"a\nb\n\r", {"a", "b"}},
      {"a\n\nb\r", {"a", "", "b"}},
      {"\n\r", {""}},
  };
  for (const auto& [reply, expected] : cases) {
    SCOPED_TRACE(reply);
    Reply(reply);
    Strings lines;
    EXPECT_EQ(0, Transact("X\r%u", &lines));
    EXPECT_EQ(expected, lines);
  }
}

TEST_F(TemplateCodecTest, MapsNeedAClosingEmptyLine) {
  Reply("a=1\nb=2\n\nc=3\r");
  LinkArg::TextMaps maps;
  EXPECT_EQ(0, Transact("X\r%m", &maps));
  EXPECT_THAT(maps, ElementsAre(LinkArg::TextMap{{"a", "1"}, {"b", "2"}}));

  Reply("k=v=w\nbare\n\n\n\r");
  maps.clear();
  EXPECT_EQ(0, Transact("X\r%m", &maps));
  EXPECT_THAT(maps, ElementsAre(LinkArg::TextMap{{"k", "v=w"}, {"bare", ""}},
                                LinkArg::TextMap{}));
}

TEST_F(TemplateCodecTest, BytesAfterTheCrAreNotPartOfTheReply) {
  Reply("12\rjunk");
  std::string text;
  EXPECT_EQ(0, Transact("X\r%s", &text));
  EXPECT_EQ("12", text);
}

TEST_F(TemplateCodecTest, BadTemplatesTouchNothing) {
  std::string text = "kept";
  int32_t number = 0;
  int32_t* null_number = nullptr;
  EXPECT_EQ(kBad, Transact("NO CR %d", 1));
  EXPECT_EQ(kBad, Transact(nullptr));
  EXPECT_EQ(kBad, Transact("A %d\r"));                   // too few
  EXPECT_EQ(kBad, Transact("A\r%d", &number, &number));  // too many
  EXPECT_EQ(kBad, Transact("A %s\r", 5));                // wrong kind
  EXPECT_EQ(kBad, Transact("A %d\r", "5"));              // wrong kind
  EXPECT_EQ(kBad, Transact("A\r%d", &text));             // wrong kind
  EXPECT_EQ(kBad, Transact("A\r%d", 5));                 // input as output
  EXPECT_EQ(kBad, Transact("A %d\r", &number));          // output as input
  EXPECT_EQ(kBad, Transact("A\r%d", null_number));
  EXPECT_EQ(kBad, Transact("A %v\r%v", &number));
  EXPECT_TRUE(requests_.empty());
  // A refused template leaves the request and pattern as they were.
  std::string request = "old";
  ReplyPattern pattern;
  pattern.Add('d', LinkArg(&number));
  EXPECT_EQ(kBad, FormatRequest("A %d\r", {}, &request, &pattern));
  EXPECT_EQ("old", request);
  EXPECT_EQ(1u, pattern.conversions().size());
}

// Every cut of a real page reply (the service's reply to LOG PRV) reads as
// far as its bytes go: the key's leading digits, then whole or cut entries.
TEST_F(TemplateCodecTest, TruncatedPageReadsWhatArrived) {
  const std::string page = "1200\n2004/01/05 08:30:00 4\nb 5";
  for (size_t length = 0; length <= page.size(); ++length) {
    const std::string cut = page.substr(0, length);
    SCOPED_TRACE(cut);
    Reply(cut + "\r");
    int32_t key = -1;
    Strings entries;
    EXPECT_EQ(0, Transact("LOG PRV %d %l\r%l%u", 0, 1234, &key, &entries));
    if (length == 0) {
      EXPECT_EQ(-1, key);
      EXPECT_THAT(entries, IsEmpty());
      continue;
    }
    EXPECT_EQ(std::strtol(cut.substr(0, std::min<size_t>(length, 4)).c_str(),
                          nullptr, 10),
              key);
    // The white space after the key is skipped; a final LF makes no entry.
    std::string rest = cut.substr(std::min<size_t>(length, 4));
    if (!rest.empty() && rest[0] == '\n') rest.erase(0, 1);
    if (!rest.empty() && rest.back() != '\n') rest += '\n';
    std::string joined;
    for (const std::string& entry : entries) joined += entry + "\n";
    EXPECT_EQ(rest, joined);
  }
  EXPECT_THAT(requests_, ::testing::Each(std::string("LOG PRV 0 1234\r")));
}

TEST_F(TemplateCodecTest, CorruptedRepliesKeepTheUnreadOutputs) {
  // A corrupted number stops the reads after it.
  Reply("12x4 56\r");
  int32_t first = -1;
  int32_t second = -1;
  EXPECT_EQ(0, Transact("X\r%d%d", &first, &second));
  EXPECT_EQ(12, first);
  EXPECT_EQ(-1, second);
  // A corrupted range ends at the bad value.
  Reply("160,x70,180\r");
  ValueRange range;
  EXPECT_EQ(0, Transact("DEV PROP_INPUTHI_RANGE\r%v", &range));
  EXPECT_EQ((std::vector<int32_t>{160}), range.values());
  // A NUL is part of the text: the whole reply is received, and it ends
  // the error number.
  Reply(std::string("ab\0cd\r", 6));
  std::string text;
  EXPECT_EQ(0, Transact("DEV PROP_MODEL\r%s", &text));
  EXPECT_EQ(std::string("ab\0cd", 5), text);
  Reply(
      std::string("ERR \0"
                  "8\r",
                  7));
  EXPECT_EQ(kNoCode, Transact("X\r%s", &text));
  EXPECT_EQ(std::string("ab\0cd", 5), text);
  // Bytes without their CR are read whole.
  Reply("77");
  EXPECT_EQ(0, Transact("X\r%d", &first));
  EXPECT_EQ(77, first);
}

}  // namespace
