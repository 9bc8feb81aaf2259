#include "agent/protocol/p99_tables.h"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "gtest/gtest.h"

namespace p99 {
namespace {

const std::vector<int> kGrid = {9,  11, 13, 15, 17, 20, 22, 24, 26, 28, 30,
                                33, 35, 37, 39, 41, 43, 46, 48, 50, 52, 54,
                                57, 59, 61, 63, 65, 67, 70, 72, 74, 76, 78,
                                80, 83, 85, 87, 89, 91, 93, 96, 98, 100};
const std::vector<int> kLoadKeys = {
    0,  3,  6,  9,  12, 15, 18, 21, 24, 27, 30, 33, 36, 39, 42, 45, 48,
    52, 55, 58, 61, 64, 67, 70, 73, 76, 79, 82, 85, 88, 91, 94, 97, 100};

struct NamedCodeTable {
  std::string name;
  const CodeTable* table;
};

std::vector<NamedCodeTable> AllCodeTables() {
  std::vector<NamedCodeTable> all;
  for (int i = 0; i < 14; ++i) {
    all.push_back({"HI" + std::to_string(i + 1), &kInputHighTables[i]});
    all.push_back({"LO" + std::to_string(i + 1), &kInputLowTables[i]});
  }
  for (int i = 0; i < 2; ++i) {
    all.push_back({"BL" + std::to_string(i + 1), &kBatteryLowLevelTables[i]});
  }
  for (int i = 0; i < 10; ++i) {
    all.push_back({"BO" + std::to_string(i + 1), &kBatteryOutTables[i]});
  }
  return all;
}

struct NamedCurve {
  std::string name;
  const Curve* curve;
};

std::vector<NamedCurve> AllCurves() {
  std::vector<NamedCurve> all;
  for (int i = 0; i < 4; ++i) all.push_back({"IN", &kInputCurves[i]});
  for (int i = 0; i < 2; ++i) all.push_back({"CAP", &kCapacityCurves[i]});
  for (int i = 0; i < 4; ++i) all.push_back({"TMP", &kTemperatureCurves[i]});
  for (int i = 0; i < 2; ++i) all.push_back({"FRQ", &kFrequencyCurves[i]});
  for (int i = 0; i < 5; ++i) {
    all.push_back({"LD mains", &kLoadCurvePairs[i].mains});
    all.push_back({"LD battery", &kLoadCurvePairs[i].battery});
  }
  return all;
}

int Sign(int v) { return (v > 0) - (v < 0); }

std::vector<int32_t> Values(const CodeTable& table) {
  std::vector<int32_t> values;
  for (int i = 0; i < table.count; ++i) values.push_back(table.pairs[i].value);
  return values;
}

TEST(P99TablesTest, CodeTablesAreStrictlyMonotonicWithADefault) {
  for (const NamedCodeTable& t : AllCodeTables()) {
    SCOPED_TRACE(t.name);
    ASSERT_GE(t.table->count, 3);
    const CodePair* p = t.table->pairs;
    const int code_dir = Sign(p[1].code - p[0].code);
    const int value_dir = Sign(p[1].value - p[0].value);
    EXPECT_NE(code_dir, 0);
    EXPECT_NE(value_dir, 0);
    for (int i = 1; i < t.table->count; ++i) {
      EXPECT_EQ(Sign(p[i].code - p[i - 1].code), code_dir) << i;
      EXPECT_EQ(Sign(p[i].value - p[i - 1].value), value_dir) << i;
    }
    int32_t default_value = 0;
    EXPECT_TRUE(CodeToValue(*t.table, 0, &default_value));
  }
}

TEST(P99TablesTest, CodeTableContentsFollowTheirRules) {
  // Spot checks of the generated runs: both ends and the default.
  struct Row {
    const CodeTable* table;
    std::vector<int32_t> values;
  };
  const Row rows[] = {
      {&kInputHighTables[0],
       {131, 132, 133, 134, 135, 136, 137, 138, 139, 140, 141}},
      {&kInputHighTables[9],
       {141, 142, 143, 144, 145, 146, 147, 148, 149, 150}},
      {&kInputHighTables[13], {270, 272, 274, 276, 278, 280}},
      {&kInputLowTables[9], {93, 94, 95, 96, 97, 98, 99, 100, 101, 102}},
      {&kInputLowTables[10], {149, 151, 153, 155, 157, 159}},
      {&kBatteryLowLevelTables[1], {25, 30, 35, 40, 45, 50, 55, 60}},
      {&kBatteryOutTables[0], {110, 115, 120, 124, 128, 130}},
      {&kBatteryOutTables[5], {120, 127, 130}},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(Values(*row.table), row.values);
  }
  EXPECT_EQ(kInputHighTables[10].label, 208);
  int32_t value = 0;
  ASSERT_TRUE(CodeToValue(kInputHighTables[10], -5, &value));
  EXPECT_EQ(value, 243);
  ASSERT_TRUE(CodeToValue(kBatteryOutTables[5], 0, &value));
  EXPECT_EQ(value, 127);
}

TEST(P99TablesTest, CurvesHaveAscendingX) {
  for (const NamedCurve& c : AllCurves()) {
    SCOPED_TRACE(c.name);
    ASSERT_GE(c.curve->count, 2);
    for (int i = 1; i < c.curve->count; ++i) {
      EXPECT_LT(c.curve->points[i - 1].x, c.curve->points[i].x) << i;
    }
  }
  for (const TapRatioTable& tap : kTapRatioTables) {
    for (const TapRatio& ratio : tap.positions) {
      EXPECT_GT(ratio.numerator, 0);
      EXPECT_GT(ratio.denominator, 0);
    }
  }
}

TEST(P99TablesTest, CurveLookupInterpolatesAndClamps) {
  struct Row {
    const Curve* curve;
    int16_t x;
    int16_t y;
  };
  const Row rows[] = {
      {&kInputCurves[0], 25, 0},
      {&kInputCurves[0], 26, 30},
      {&kInputCurves[0], 40, 45},
      {&kInputCurves[0], 200, 145},
      {&kInputCurves[0], 0, 0},
      {&kInputCurves[0], 123, 115},
      {&kCapacityCurves[0], 174, 5000},
      {&kCapacityCurves[0], 150, 0},
      {&kCapacityCurves[0], 230, 10000},
      {&kFrequencyCurves[0], 219, 5000},
      // 5940 + 20 × (−900) / 37: the quotient −486 is truncated toward zero.
      {&kFrequencyCurves[0], 200, 5454},
      {&kTemperatureCurves[2], 250, 75},
      {&kLoadCurvePairs[1].mains, 10, 3030},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(CurveLookup(*row.curve, row.x), row.y) << "x=" << row.x;
  }
}

TEST(P99TablesTest, CurveLookupIsDefinedForExtremeSpans) {
  // A span of 65535 in x and in y would overflow a 32-bit product.
  const CurvePoint wide[] = {{-32768, -32768}, {32767, 32767}};
  const Curve curve = {2, wide};
  EXPECT_EQ(CurveLookup(curve, 0), 0);
  EXPECT_EQ(CurveLookup(curve, -32768), -32768);
  EXPECT_EQ(CurveLookup(curve, 32767), 32767);
  EXPECT_EQ(CurveLookup(curve, 32766), 32766);
  const Curve empty = {0, nullptr};
  EXPECT_EQ(CurveLookup(empty, 5), 0);
  // Every byte value through every curve stays between the curve's ends.
  for (const NamedCurve& c : AllCurves()) {
    for (int x = -1; x <= 256; ++x) {
      const int16_t y = CurveLookup(*c.curve, static_cast<int16_t>(x));
      int16_t low = c.curve->points[0].y;
      int16_t high = low;
      for (int i = 0; i < c.curve->count; ++i) {
        low = std::min(low, c.curve->points[i].y);
        high = std::max(high, c.curve->points[i].y);
      }
      EXPECT_GE(y, low) << c.name << " x=" << x;
      EXPECT_LE(y, high) << c.name << " x=" << x;
    }
  }
}

TEST(P99TablesTest, CodeLookupsMatchExactlyAndNeverTruncate) {
  const CodeTable& bo1 = kBatteryOutTables[0];
  int32_t out = 99;
  EXPECT_TRUE(CodeToValue(bo1, 1, &out));
  EXPECT_EQ(out, 115);
  EXPECT_TRUE(ValueToCode(bo1, 124, &out));
  EXPECT_EQ(out, -1);
  out = 99;
  EXPECT_FALSE(ValueToCode(bo1, 125, &out));
  EXPECT_EQ(out, 99);
  // Codes and values beyond 16 bits must not alias a stored one
  // (65536 + 0 would match code 0 if cut to 16 bits).
  const int32_t aliases[] = {65536, 65536 + 2, -65536,
                             std::numeric_limits<int32_t>::min(),
                             std::numeric_limits<int32_t>::max()};
  for (int32_t code : aliases) {
    EXPECT_FALSE(CodeToValue(bo1, code, &out)) << code;
  }
  EXPECT_FALSE(ValueToCode(bo1, 65536 + 120, &out));
  EXPECT_EQ(out, 99);
}

TEST(P99TablesTest, ModelListFindsExactNamesOnly) {
  EXPECT_EQ(FindModel("UNKNOWN"), 0);
  EXPECT_EQ(FindModel("650VA"), 8);
  EXPECT_EQ(FindModel("100VA"), 11);
  EXPECT_EQ(FindModel("1000VA"), -1);
  EXPECT_EQ(FindModel("kv650"), -1);
  EXPECT_EQ(FindModel(""), -1);
  EXPECT_EQ(FindModel(nullptr), -1);
  // The names the model-name remap produces are in the list.
  EXPECT_EQ(FindModel("KV900"), 22);
  EXPECT_EQ(FindModel("KV650"), 18);
  EXPECT_EQ(FindModel("KV700"), 19);
  EXPECT_EQ(FindModel("KV1250"), 24);
  EXPECT_EQ(FindModel("TM3000E"), 32);

  const int first_of_class[] = {1, 3, 10, 16, 27, 33};
  for (int model_class = 1; model_class <= 5; ++model_class) {
    for (int i = first_of_class[model_class - 1];
         i < first_of_class[model_class]; ++i) {
      EXPECT_EQ(ModelClassOf(i), model_class) << kModels[i].name;
    }
  }
  EXPECT_EQ(ModelClassOf(0), 0);
  EXPECT_EQ(ModelClassOf(-1), 0);
  EXPECT_EQ(ModelClassOf(33), 0);
}

// ----- Backup tables ---------------------------------------------------

int GridIndex(int capacity) {
  for (size_t i = 0; i < kGrid.size(); ++i) {
    if (kGrid[i] == capacity) return static_cast<int>(i);
  }
  return -1;
}

TEST(P99TablesTest, BackupEntriesLieOnTheGridAndNeverFall) {
  for (int t = 0; t < 3; ++t) {
    const BackupTable& table = kBackupTables[t];
    ASSERT_EQ(table.count, 34);
    for (int e = 0; e < table.count; ++e) {
      const BackupEntry& entry = table.entries[e];
      SCOPED_TRACE("table " + std::to_string(t + 1) + " load " +
                   std::to_string(entry.load_key));
      EXPECT_EQ(entry.load_key, kLoadKeys[e]);
      const Curve& c = entry.curve;
      ASSERT_GE(c.count, 2);
      const int start = (t == 0 && entry.load_key <= 33) ? 13 : 9;
      EXPECT_EQ(c.points[0].x, start);
      EXPECT_EQ(c.points[0].y, 0);
      const int first = GridIndex(start);
      for (int i = 0; i < c.count; ++i) {
        ASSERT_LT(first + i, static_cast<int>(kGrid.size()));
        EXPECT_EQ(c.points[i].x, kGrid[first + i]) << i;
        const int y = c.points[i].y;
        // A whole multiple of 10000/360, rounded.
        const int steps = (y * 360 + 5000) / 10000;
        EXPECT_EQ(y, (steps * 10000 + 180) / 360) << i;
        EXPECT_LE(y, kBackupFull);
        if (i > 0) {
          EXPECT_GE(y, c.points[i - 1].y) << i;
        }
        if (i + 1 < c.count) {
          EXPECT_LT(y, kBackupFull) << i;
        }
      }
      const CurvePoint& last = c.points[c.count - 1];
      EXPECT_TRUE(last.x == 100 || last.y == kBackupFull);
    }
  }
}

TEST(P99TablesTest, BackupTablesKeepTheMeasuredPairs) {
  struct Row {
    int table;
    int load;
    int pairs;
    std::vector<CurvePoint> telling;
  };
  const Row rows[] = {
      {1,
       0,
       29,
       {{13, 0},
        {15, 28},
        {20, 83},
        {30, 472},
        {50, 3083},
        {70, 8889},
        {72, 9944},
        {74, 10000}}},
      {1, 18, 41, {{13, 0}, {50, 2889}, {72, 9000}, {74, 9056}, {100, 9056}}},
      {1, 48, 43, {{9, 0}, {11, 56}, {50, 1833}, {59, 2556}, {100, 2639}}},
      {1,
       100,
       43,
       {{9, 0},
        {11, 28},
        {20, 139},
        {30, 250},
        {43, 278},
        {80, 306},
        {100, 306}}},
      {2,
       0,
       26,
       {{9, 0},
        {11, 28},
        {13, 28},
        {30, 500},
        {50, 4417},
        {61, 8917},
        {63, 10000}}},
      {2, 100, 43, {{9, 0}, {11, 28}, {30, 250}, {85, 278}, {100, 278}}},
      {3, 0, 24, {{9, 0}, {11, 56}, {30, 1000}, {57, 7667}, {59, 10000}}},
      {3, 100, 43, {{9, 0}, {11, 28}, {30, 222}, {50, 611}, {100, 611}}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE("table " + std::to_string(row.table) + " load " +
                 std::to_string(row.load));
    const BackupTable& table = kBackupTables[row.table - 1];
    const Curve* curve = nullptr;
    for (int e = 0; e < table.count; ++e) {
      if (table.entries[e].load_key == row.load)
        curve = &table.entries[e].curve;
    }
    ASSERT_NE(curve, nullptr);
    EXPECT_EQ(curve->count, row.pairs);
    for (const CurvePoint& p : row.telling) {
      EXPECT_EQ(CurveLookup(*curve, p.x), p.y) << "capacity " << p.x;
    }
  }
  // The end of table 1's load-18 entry stays flat from 74 to 100.
  const Curve& load18 = kBackupTables[0].entries[6].curve;
  for (int i = 0; i < load18.count; ++i) {
    if (load18.points[i].x >= 74) {
      EXPECT_EQ(load18.points[i].y, 9056);
    }
  }
}

TEST(P99TablesTest, BackupAtFullCapacityFallsWithLoad) {
  const int table1_ends[] = {10000, 10000, 10000, 10000, 10000, 10000, 9056,
                             8111,  7167,  6222,  5278,  4778,  4306,  3806,
                             3333,  2833,  2639,  2417,  2222,  2000,  1806,
                             1667,  1500,  1389,  1222,  1083,  917,   750,
                             583,   417,   389,   361,   333,   306};
  for (int t = 0; t < 3; ++t) {
    const BackupTable& table = kBackupTables[t];
    int previous = kBackupFull;
    for (int e = 0; e < table.count; ++e) {
      const int y = CurveLookup(table.entries[e].curve, 100);
      EXPECT_LE(y, previous) << "table " << t + 1 << " entry " << e;
      previous = y;
      if (t == 0) {
        EXPECT_EQ(y, table1_ends[e]) << "load " << kLoadKeys[e];
      }
    }
  }
  // The "650VA" decode relies on table 2 giving 5278 at load 30.
  EXPECT_EQ(CurveLookup(kBackupTables[1].entries[10].curve, 100), 5278);
}

// ----- Table selection -------------------------------------------------

// Table numbers as the data lists name them (HI1 is 1) and the scale.
struct Expected {
  int hi = 1, lo = 1, bl = 1, bo = 1, in = 1, cap = 1, backup = 1, ld = 1,
      tmp = 1, frq = 1, tap = 1, scale = 1800;
};

struct SelectionRow {
  int voltage_class, model_class, model_index, item29, variant;
  Expected want;
};

Expected With(std::initializer_list<std::pair<char, int>> changes) {
  Expected e;
  for (const auto& c : changes) {
    switch (c.first) {
      case 'H':
        e.hi = c.second;
        break;
      case 'L':
        e.lo = c.second;
        break;
      case 'b':
        e.bl = c.second;
        break;
      case 'O':
        e.bo = c.second;
        break;
      case 'I':
        e.in = c.second;
        break;
      case 'C':
        e.cap = c.second;
        break;
      case 'B':
        e.backup = c.second;
        break;
      case 'D':
        e.ld = c.second;
        break;
      case 'T':
        e.tmp = c.second;
        break;
      case 'F':
        e.frq = c.second;
        break;
      case 'P':
        e.tap = c.second;
        break;
      case 'S':
        e.scale = c.second;
        break;
    }
  }
  return e;
}

Expected Class5(int bo, int hi, int lo, int in) {
  return With({{'O', bo},
               {'H', hi},
               {'L', lo},
               {'b', 2},
               {'D', 5},
               {'T', 4},
               {'F', 2},
               {'I', in},
               {'C', 2},
               {'B', 3},
               {'S', 3600},
               {'P', 6}});
}

TEST(P99TablesTest, SelectionFollowsTheRulesOfEveryClass) {
  const SelectionRow rows[] = {
      {0, 2, 8, 0, 0, Expected{}},
      // Voltage class 1.
      {1, 1, 1, 0, 0, With({{'D', 2}})},
      {1, 2, 3, 0, 0, With({{'D', 2}})},
      {1, 2, 8, 0, 0, With({{'B', 2}, {'D', 2}})},
      {1, 2, 9, 1, 0, With({{'B', 2}, {'H', 2}, {'L', 2}, {'D', 2}})},
      {1, 3, 10, 1, 0, With({{'B', 2}})},
      {1, 4, 16, 0, 0, With({{'H', 3}, {'L', 3}, {'B', 2}, {'D', 3}})},
      {1, 4, 23, 1, 0,
       With({{'H', 3}, {'L', 3}, {'B', 2}, {'D', 3}, {'P', 2}})},
      {1, 4, 24, 1, 0,
       With({{'H', 3},
             {'L', 3},
             {'B', 3},
             {'D', 3},
             {'T', 2},
             {'P', 3},
             {'S', 3600}})},
      {1, 4, 25, 0, 0,
       With({{'H', 3},
             {'L', 3},
             {'B', 3},
             {'D', 4},
             {'T', 3},
             {'P', 4},
             {'S', 3600}})},
      {1, 5, 27, 0, 0, Class5(5, 9, 9, 3)},
      {1, 5, 28, 0, 1, Class5(6, 10, 10, 3)},
      {1, 5, 29, 1, 2, Class5(3, 7, 7, 3)},
      {1, 5, 30, 0, 3, Class5(4, 8, 8, 3)},
      {1, 5, 31, 0, 7, Class5(5, 9, 9, 3)},
      {1, 5, 32, 0, -1, Class5(5, 9, 9, 3)},
      // Voltage class 2.
      {2, 1, 2, 1, 0, With({{'H', 4}, {'L', 4}, {'P', 5}})},
      {2, 2, 4, 0, 0, With({{'H', 4}, {'L', 4}, {'P', 5}})},
      {2, 2, 9, 1, 0, With({{'H', 5}, {'L', 5}, {'P', 5}, {'B', 2}})},
      {2, 3, 12, 1, 0, With({{'H', 4}, {'L', 4}, {'P', 5}})},
      {2, 4, 17, 0, 0,
       With({{'H', 5}, {'L', 5}, {'P', 5}, {'D', 3}, {'B', 2}})},
      {2, 4, 17, 1, 0,
       With({{'H', 5}, {'L', 5}, {'P', 2}, {'D', 3}, {'B', 2}})},
      {2, 4, 24, 0, 0,
       With({{'H', 5}, {'L', 5}, {'P', 5}, {'D', 3}, {'B', 3}, {'S', 3600}})},
      {2, 4, 25, 1, 0,
       With({{'H', 5}, {'L', 5}, {'P', 2}, {'D', 3}, {'B', 3}, {'S', 3600}})},
      {2, 5, 27, 1, 2, With({{'H', 4}, {'L', 4}, {'P', 5}})},
      // Voltage class 3.
      {3, 1, 1, 1, 0, With({{'H', 6}, {'L', 6}, {'O', 2}, {'I', 2}, {'B', 2}})},
      {3, 2, 8, 0, 0, With({{'H', 6}, {'L', 6}, {'O', 2}, {'I', 2}, {'B', 2}})},
      {3, 4, 25, 0, 0,
       With({{'H', 6}, {'L', 6}, {'O', 2}, {'I', 2}, {'B', 3}, {'S', 3600}})},
      {3, 5, 27, 0, 0, Class5(9, 13, 13, 4)},
      {3, 5, 28, 0, 1, Class5(10, 14, 14, 4)},
      {3, 5, 29, 0, 2, Class5(7, 11, 11, 4)},
      {3, 5, 30, 1, 3, Class5(8, 12, 12, 4)},
      {3, 5, 31, 0, 4, Class5(9, 13, 13, 4)},
  };
  for (const SelectionRow& row : rows) {
    SCOPED_TRACE(testing::Message()
                 << "voltage class " << row.voltage_class << ", model class "
                 << row.model_class << ", index " << row.model_index
                 << ", item 29 " << row.item29 << ", variant " << row.variant);
    const TableSet set =
        SelectTableSet(row.voltage_class, row.model_class, row.model_index,
                       row.item29, row.variant);
    const Expected& w = row.want;
    EXPECT_EQ(set.input_high, &kInputHighTables[w.hi - 1]);
    EXPECT_EQ(set.input_low, &kInputLowTables[w.lo - 1]);
    EXPECT_EQ(set.battery_low_level, &kBatteryLowLevelTables[w.bl - 1]);
    EXPECT_EQ(set.battery_out, &kBatteryOutTables[w.bo - 1]);
    EXPECT_EQ(set.input, &kInputCurves[w.in - 1]);
    EXPECT_EQ(set.output, set.input);
    EXPECT_EQ(set.capacity, &kCapacityCurves[w.cap - 1]);
    EXPECT_EQ(set.backup, &kBackupTables[w.backup - 1]);
    EXPECT_EQ(set.load, &kLoadCurvePairs[w.ld - 1]);
    EXPECT_EQ(set.temperature, &kTemperatureCurves[w.tmp - 1]);
    EXPECT_EQ(set.frequency, &kFrequencyCurves[w.frq - 1]);
    EXPECT_EQ(set.tap_ratios, &kTapRatioTables[w.tap - 1]);
    EXPECT_EQ(set.backup_scale, w.scale);
  }
}

}  // namespace
}  // namespace p99
