#include "service/http/status_json.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "tests/service/http/view_fixture.h"

namespace {

using Json = nlohmann::json;

Json Parse(const std::string& text) {
  Json json = Json::parse(text, nullptr, false);
  EXPECT_FALSE(json.is_discarded()) << text;
  return json;
}

TEST(StatusJsonTest, GivesEveryValueInPlainUnitsWithFlagsAndUnit) {
  Json json = Parse(StatusJson(OnLineView(), 12000, 1796000003000));
  EXPECT_EQ(true, json["connected"]);
  EXPECT_EQ(false, json["on_battery"]);
  EXPECT_EQ(false, json["battery_low"]);
  EXPECT_EQ(false, json["test_active"]);
  const Json& values = json["values"];
  EXPECT_DOUBLE_EQ(230.5, values["input_voltage_volts"].get<double>());
  EXPECT_DOUBLE_EQ(229.9, values["output_voltage_volts"].get<double>());
  EXPECT_DOUBLE_EQ(98.5, values["battery_capacity_percent"].get<double>());
  EXPECT_DOUBLE_EQ(37.25, values["load_percent"].get<double>());
  EXPECT_DOUBLE_EQ(31.2, values["temperature_celsius"].get<double>());
  EXPECT_DOUBLE_EQ(50.05, values["output_frequency_hertz"].get<double>());
  EXPECT_EQ(1380, values["battery_runtime_seconds"].get<int>());
  EXPECT_TRUE(json["errors"].empty());
  EXPECT_EQ("Model 1500", json["model"]);
  EXPECT_EQ("2.0b", json["firmware"]);
  EXPECT_DOUBLE_EQ(230, json["ratings"]["output_voltage_volts"].get<double>());
  EXPECT_TRUE(json["ratings"]["power_watts"].is_null());
  EXPECT_EQ(true, json["snapshot"]["valid"]);
  EXPECT_DOUBLE_EQ(1796000000.25, json["snapshot"]["time"].get<double>());
  EXPECT_DOUBLE_EQ(2.0, json["snapshot"]["age_seconds"].get<double>());
  EXPECT_EQ(2, json["agent_restarts"].get<int>());
  EXPECT_EQ(3, json["event_counts"]["power_failure"].get<int>());
  EXPECT_DOUBLE_EQ(1796000003, json["server_time"].get<double>());
}

TEST(StatusJsonTest, UnreadValueIsNullWithTheAgentsErrorCode) {
  StatusView view = OnLineView();
  view.items[kItemTemperature] = {false, 0, 8};
  view.items[kItemPowerFail] = {false, 0, 5};
  Json json = Parse(StatusJson(view, 10000, 0));
  EXPECT_TRUE(json["values"]["temperature_celsius"].is_null());
  EXPECT_EQ(8, json["errors"]["temperature_celsius"].get<int>());
  EXPECT_TRUE(json["on_battery"].is_null());
  EXPECT_EQ(5, json["errors"]["on_battery"].get<int>());
}

TEST(StatusJsonTest, BeforeAnyPassEverythingIsUnknown) {
  Json json = Parse(StatusJson(StatusView(), 10000, 0));
  EXPECT_EQ(false, json["connected"]);
  EXPECT_TRUE(json["on_battery"].is_null());
  EXPECT_TRUE(json["values"]["input_voltage_volts"].is_null());
  EXPECT_EQ(false, json["snapshot"]["valid"]);
  EXPECT_TRUE(json["snapshot"]["age_seconds"].is_null());
  EXPECT_TRUE(json["model"].is_null());
}

TEST(StatusJsonTest, NoThrowOnInvalidUtf8InModel) {
  StatusView view = OnLineView();
  view.model = std::string("UPS\xff\xfe", 5);
  std::string text = StatusJson(view, 10000, 0);
  Json json = Parse(text);
  EXPECT_EQ("UPS\xef\xbf\xbd\xef\xbf\xbd", json["model"]);
}

TEST(StatusJsonTest, EventsCarryCodeNameAndText) {
  EventEntry known{1796000000, "2026-12-01T10:00:00", 4};
  EventEntry unknown{1796000100, "2026-12-01T10:01:40", 99};
  Json json = Parse(EventsJson({known, unknown}));
  ASSERT_EQ(2u, json.size());
  EXPECT_EQ(1796000000, json[0]["time"].get<int64_t>());
  EXPECT_EQ("2026-12-01T10:00:00", json[0]["local_time"]);
  EXPECT_EQ(4, json[0]["code"].get<int>());
  EXPECT_EQ("power_failure", json[0]["name"]);
  EXPECT_EQ("UPS power failure.", json[0]["text"]);
  EXPECT_TRUE(json[1]["name"].is_null());
  EXPECT_TRUE(json[1]["text"].is_null());
  EXPECT_EQ("[]", EventsJson({}));
}

TEST(StatusJsonTest, RecordsInPlainUnits) {
  RecordEntry record;
  record.unix_seconds = 1796000000;
  record.local_time = "2026-12-01T10:00:00";
  const int32_t values[kRecordValueCount] = {23050, 22990, 9850,
                                             3725,  5005,  3120};
  for (int32_t i = 0; i < kRecordValueCount; ++i) record.values[i] = values[i];
  Json json = Parse(RecordsJson({record}));
  ASSERT_EQ(1u, json.size());
  EXPECT_DOUBLE_EQ(230.5, json[0]["input_voltage_volts"].get<double>());
  EXPECT_DOUBLE_EQ(229.9, json[0]["output_voltage_volts"].get<double>());
  EXPECT_DOUBLE_EQ(98.5, json[0]["battery_capacity_percent"].get<double>());
  EXPECT_DOUBLE_EQ(37.25, json[0]["load_percent"].get<double>());
  EXPECT_DOUBLE_EQ(50.05, json[0]["output_frequency_hertz"].get<double>());
  EXPECT_DOUBLE_EQ(31.2, json[0]["temperature_celsius"].get<double>());
}

TEST(StatusJsonTest, ErrorMessageIsEscaped) {
  Json json = Parse(ErrorJson("bad \"x\"\n"));
  EXPECT_EQ("bad \"x\"\n", json["error"]);
}

}  // namespace
