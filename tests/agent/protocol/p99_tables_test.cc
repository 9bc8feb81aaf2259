#include "agent/protocol/p99_tables.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <limits>
#include <sstream>
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

std::vector<const CodeTable*> AllCodeTables() {
  std::vector<const CodeTable*> all;
  for (const CodeTable& t : kInputHighTables) all.push_back(&t);
  for (const CodeTable& t : kInputLowTables) all.push_back(&t);
  for (const CodeTable& t : kBatteryLowLevelTables) all.push_back(&t);
  for (const CodeTable& t : kBatteryOutTables) all.push_back(&t);
  return all;
}

std::vector<const Curve*> AllCurves() {
  std::vector<const Curve*> all;
  for (const Curve& c : kInputCurves) all.push_back(&c);
  for (const Curve& c : kCapacityCurves) all.push_back(&c);
  for (const Curve& c : kTemperatureCurves) all.push_back(&c);
  for (const Curve& c : kFrequencyCurves) all.push_back(&c);
  for (const LoadCurvePair& p : kLoadCurvePairs) {
    all.push_back(&p.mains);
    all.push_back(&p.battery);
  }
  return all;
}

int Sign(int v) { return (v > 0) - (v < 0); }

TEST(P99TablesTest, TablesAreWellFormed) {
  const std::vector<const CodeTable*> codes = AllCodeTables();
  for (size_t t = 0; t < codes.size(); ++t) {
    SCOPED_TRACE(testing::Message() << "code table " << t);
    ASSERT_GE(codes[t]->count, 3);
    const CodePair* p = codes[t]->pairs;
    const int code_dir = Sign(p[1].code - p[0].code);
    const int value_dir = Sign(p[1].value - p[0].value);
    EXPECT_NE(code_dir, 0);
    EXPECT_NE(value_dir, 0);
    for (int i = 1; i < codes[t]->count; ++i) {
      EXPECT_EQ(Sign(p[i].code - p[i - 1].code), code_dir) << i;
      EXPECT_EQ(Sign(p[i].value - p[i - 1].value), value_dir) << i;
    }
    int32_t default_value = 0;
    EXPECT_TRUE(CodeToValue(*codes[t], 0, &default_value));
  }
  for (const Curve* c : AllCurves()) {
    ASSERT_GE(c->count, 2);
    for (int i = 1; i < c->count; ++i) {
      EXPECT_LT(c->points[i - 1].x, c->points[i].x) << i;
    }
  }
  for (const TapRatioTable& tap : kTapRatioTables) {
    for (const TapRatio& ratio : tap.positions) {
      EXPECT_GT(ratio.numerator, 0);
      EXPECT_GT(ratio.denominator, 0);
    }
  }
}

TEST(P99TablesTest, CodeLookupsMatchExactlyAndNeverTruncate) {
  // Spot checks of generated runs.
  EXPECT_EQ(kInputHighTables[10].label, 208);
  int32_t out = 0;
  ASSERT_TRUE(CodeToValue(kInputHighTables[10], -5, &out));
  EXPECT_EQ(out, 243);
  ASSERT_TRUE(CodeToValue(kBatteryOutTables[5], 0, &out));
  EXPECT_EQ(out, 127);

  const CodeTable& bo1 = kBatteryOutTables[0];
  EXPECT_TRUE(CodeToValue(bo1, 1, &out));
  EXPECT_EQ(out, 115);
  EXPECT_TRUE(ValueToCode(bo1, 124, &out));
  EXPECT_EQ(out, -1);
  out = 99;
  EXPECT_FALSE(ValueToCode(bo1, 125, &out));
  // Codes and values beyond 16 bits must not alias a stored one
  // (65536 + 0 would match code 0 if cut to 16 bits).
  for (int32_t code :
       {65536, 65536 + 2, -65536, std::numeric_limits<int32_t>::min(),
        std::numeric_limits<int32_t>::max()}) {
    EXPECT_FALSE(CodeToValue(bo1, code, &out)) << code;
  }
  EXPECT_FALSE(ValueToCode(bo1, 65536 + 120, &out));
  EXPECT_EQ(out, 99);
}

TEST(P99TablesTest, CurveLookupInterpolatesClampsAndNeverOverflows) {
  // FRQ1 at 200 is 5940 + 20 × (−900) / 37: the quotient −486 is truncated
  // toward zero.
  struct Row {
    const Curve* curve;
    std::vector<int> xy;  // x and expected y, in turn
  };
  const Row rows[] = {
      {&kInputCurves[0], {25, 0, 26, 30, 40, 45, 200, 145, 0, 0, 123, 115}},
      {&kCapacityCurves[0], {174, 5000, 150, 0, 230, 10000}},
      {&kFrequencyCurves[0], {219, 5000, 200, 5454}},
      {&kTemperatureCurves[2], {250, 75}},
      {&kLoadCurvePairs[1].mains, {10, 3030}}};
  for (const Row& row : rows) {
    for (size_t i = 0; i + 1 < row.xy.size(); i += 2) {
      EXPECT_EQ(CurveLookup(*row.curve, static_cast<int16_t>(row.xy[i])),
                row.xy[i + 1])
          << "x=" << row.xy[i];
    }
  }
  // A span of 65535 in x and in y would overflow a 32-bit product.
  const CurvePoint wide[] = {{-32768, -32768}, {32767, 32767}};
  const Curve curve = {2, wide};
  for (int16_t x :
       {int16_t{0}, int16_t{-32768}, int16_t{32767}, int16_t{32766}}) {
    EXPECT_EQ(CurveLookup(curve, x), x);
  }
  const Curve empty = {0, nullptr};
  EXPECT_EQ(CurveLookup(empty, 5), 0);
  // Every byte value through every curve stays between the curve's ends.
  for (const Curve* c : AllCurves()) {
    int16_t low = c->points[0].y;
    int16_t high = low;
    for (int i = 0; i < c->count; ++i) {
      low = std::min(low, c->points[i].y);
      high = std::max(high, c->points[i].y);
    }
    for (int x = -1; x <= 256; ++x) {
      const int16_t y = CurveLookup(*c, static_cast<int16_t>(x));
      EXPECT_TRUE(y >= low && y <= high) << "x=" << x << " y=" << y;
    }
  }
}

TEST(P99TablesTest, ModelListFindsExactNamesAndClasses) {
  // Listed names are found by exact match only (the proxy's tests cover
  // more of the list).
  EXPECT_EQ(FindModel("650VA"), 8);
  for (const char* name : {"1000VA", "650va", "", "UNKNOWN "}) {
    EXPECT_EQ(FindModel(name), -1) << name;
  }
  EXPECT_EQ(FindModel(nullptr), -1);
  const int first_of_class[] = {1, 3, 10, 16, 27, 33};
  for (int model_class = 1; model_class <= 5; ++model_class) {
    for (int i = first_of_class[model_class - 1];
         i < first_of_class[model_class]; ++i) {
      EXPECT_EQ(ModelClassOf(i), model_class) << kModels[i].name;
    }
  }
  for (int outside : {0, -1, 33}) EXPECT_EQ(ModelClassOf(outside), 0);
}

// ----- Backup tables ---------------------------------------------------

const Curve* BackupCurve(int table, int load) {
  const BackupTable& t = kBackupTables[table - 1];
  for (int e = 0; e < t.count; ++e) {
    if (t.entries[e].load_key == load) return &t.entries[e].curve;
  }
  return nullptr;
}

TEST(P99TablesTest, BackupEntriesLieOnTheGridAndNeverFall) {
  // Table 1 at capacity 100, by load key.
  const int table1_ends[] = {10000, 10000, 10000, 10000, 10000, 10000, 9056,
                             8111,  7167,  6222,  5278,  4778,  4306,  3806,
                             3333,  2833,  2639,  2417,  2222,  2000,  1806,
                             1667,  1500,  1389,  1222,  1083,  917,   750,
                             583,   417,   389,   361,   333,   306};
  for (int t = 0; t < 3; ++t) {
    const BackupTable& table = kBackupTables[t];
    ASSERT_EQ(table.count, 34);
    int previous_full = kBackupFull;  // at capacity 100, falling with load
    for (int e = 0; e < table.count; ++e) {
      const int load = table.entries[e].load_key;
      SCOPED_TRACE(testing::Message() << "table " << t + 1 << " load " << load);
      EXPECT_EQ(load, kLoadKeys[e]);
      const Curve& c = table.entries[e].curve;
      ASSERT_GE(c.count, 2);
      const int start = (t == 0 && load <= 33) ? 13 : 9;
      EXPECT_EQ(c.points[0].x, start);
      EXPECT_EQ(c.points[0].y, 0);
      const int first = static_cast<int>(
          std::find(kGrid.begin(), kGrid.end(), start) - kGrid.begin());
      for (int i = 0; i < c.count; ++i) {
        ASSERT_LT(first + i, static_cast<int>(kGrid.size()));
        EXPECT_EQ(c.points[i].x, kGrid[first + i]) << i;
        const int y = c.points[i].y;
        // A whole multiple of 10000/360, rounded.
        const int steps = (y * 360 + 5000) / 10000;
        EXPECT_EQ(y, (steps * 10000 + 180) / 360) << i;
        if (i > 0) {
          EXPECT_GE(y, c.points[i - 1].y) << i;
        }
        EXPECT_LE(y, i + 1 < c.count ? kBackupFull - 1 : kBackupFull) << i;
      }
      const CurvePoint& last = c.points[c.count - 1];
      EXPECT_TRUE(last.x == 100 || last.y == kBackupFull);
      const int full = CurveLookup(c, 100);
      EXPECT_LE(full, previous_full);
      previous_full = full;
      if (t == 0) {
        EXPECT_EQ(full, table1_ends[e]);
      }
    }
  }
}

TEST(P99TablesTest, BackupTablesKeepTheMeasuredPairs) {
  // Table, load key, pair count, then capacity and backup pairs.
  const std::vector<int> rows[] = {
      {1, 0, 29, 13, 0, 15, 28, 20, 83, 30, 472, 50, 3083, 70, 8889, 72, 9944,
       74, 10000},
      {1, 18, 41, 13, 0, 50, 2889, 72, 9000, 74, 9056, 100, 9056},
      {1, 48, 43, 9, 0, 11, 56, 50, 1833, 59, 2556, 100, 2639},
      {1, 100, 43, 9, 0, 11, 28, 20, 139, 30, 250, 43, 278, 80, 306, 100, 306},
      {2, 0, 26, 9, 0, 11, 28, 13, 28, 30, 500, 50, 4417, 61, 8917, 63, 10000},
      {2, 100, 43, 9, 0, 11, 28, 30, 250, 85, 278, 100, 278},
      {3, 0, 24, 9, 0, 11, 56, 30, 1000, 57, 7667, 59, 10000},
      {3, 100, 43, 9, 0, 11, 28, 30, 222, 50, 611, 100, 611}};
  for (const std::vector<int>& row : rows) {
    SCOPED_TRACE(testing::Message()
                 << "table " << row[0] << " load " << row[1]);
    const Curve* curve = BackupCurve(row[0], row[1]);
    ASSERT_NE(curve, nullptr);
    EXPECT_EQ(curve->count, row[2]);
    for (size_t i = 3; i + 1 < row.size(); i += 2) {
      EXPECT_EQ(CurveLookup(*curve, static_cast<int16_t>(row[i])), row[i + 1])
          << "capacity " << row[i];
    }
  }
}

// ----- Table selection -------------------------------------------------

// The expected set as changes to the all-ones default (HI1, LO1, ...,
// scale 1800), one letter and number each: H input high, L input low,
// b battery low level, O battery out, I input, C capacity, B backup,
// D load, T temperature, F frequency, P tap ratios, S backup scale.
constexpr char kLetters[] = "HLbOICBDTFPS";

std::vector<int> Expect(const std::string& changes) {
  std::vector<int> want = {1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1800};
  std::istringstream in(changes);
  char letter = 0;
  int number = 0;
  while (in >> letter >> number) {
    want[std::strchr(kLetters, letter) - kLetters] = number;
  }
  return want;
}

std::string Class5(const std::string& changes) {
  return "b2 D5 T4 F2 C2 B3 S3600 P6 " + changes;
}

TEST(P99TablesTest, SelectionFollowsTheRulesOfEveryClass) {
  struct Row {
    int voltage_class, model_class, model_index, item29, variant;
    std::string changes;
  };
  const Row rows[] = {
      {0, 2, 8, 0, 0, ""},
      {1, 1, 1, 0, 0, "D2"},
      {1, 2, 3, 0, 0, "D2"},
      {1, 2, 8, 0, 0, "B2 D2"},
      {1, 2, 9, 1, 0, "B2 H2 L2 D2"},
      {1, 3, 10, 1, 0, "B2"},
      {1, 4, 16, 0, 0, "H3 L3 B2 D3"},
      {1, 4, 23, 1, 0, "H3 L3 B2 D3 P2"},
      {1, 4, 24, 1, 0, "H3 L3 B3 D3 T2 P3 S3600"},
      {1, 4, 25, 0, 0, "H3 L3 B3 D4 T3 P4 S3600"},
      {1, 5, 27, 0, 0, Class5("O5 H9 L9 I3")},
      {1, 5, 28, 0, 1, Class5("O6 H10 L10 I3")},
      {1, 5, 29, 1, 2, Class5("O3 H7 L7 I3")},
      {1, 5, 30, 0, 3, Class5("O4 H8 L8 I3")},
      {1, 5, 31, 0, 7, Class5("O5 H9 L9 I3")},
      {1, 5, 32, 0, -1, Class5("O5 H9 L9 I3")},
      {2, 1, 2, 1, 0, "H4 L4 P5"},
      {2, 2, 4, 0, 0, "H4 L4 P5"},
      {2, 2, 9, 1, 0, "H5 L5 P5 B2"},
      {2, 3, 12, 1, 0, "H4 L4 P5"},
      {2, 4, 17, 0, 0, "H5 L5 P5 D3 B2"},
      {2, 4, 17, 1, 0, "H5 L5 P2 D3 B2"},
      {2, 4, 24, 0, 0, "H5 L5 P5 D3 B3 S3600"},
      {2, 4, 25, 1, 0, "H5 L5 P2 D3 B3 S3600"},
      {2, 5, 27, 1, 2, "H4 L4 P5"},
      {3, 1, 1, 1, 0, "H6 L6 O2 I2 B2"},
      {3, 2, 8, 0, 0, "H6 L6 O2 I2 B2"},
      {3, 4, 25, 0, 0, "H6 L6 O2 I2 B3 S3600"},
      {3, 5, 27, 0, 0, Class5("O9 H13 L13 I4")},
      {3, 5, 28, 0, 1, Class5("O10 H14 L14 I4")},
      {3, 5, 29, 0, 2, Class5("O7 H11 L11 I4")},
      {3, 5, 30, 1, 3, Class5("O8 H12 L12 I4")},
      {3, 5, 31, 0, 4, Class5("O9 H13 L13 I4")},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(testing::Message()
                 << row.voltage_class << row.model_class << " "
                 << row.model_index << " " << row.item29 << row.variant);
    const TableSet set =
        SelectTableSet(row.voltage_class, row.model_class, row.model_index,
                       row.item29, row.variant);
    const std::vector<int> w = Expect(row.changes);
    EXPECT_EQ(set.input_high, &kInputHighTables[w[0] - 1]);
    EXPECT_EQ(set.input_low, &kInputLowTables[w[1] - 1]);
    EXPECT_EQ(set.battery_low_level, &kBatteryLowLevelTables[w[2] - 1]);
    EXPECT_EQ(set.battery_out, &kBatteryOutTables[w[3] - 1]);
    EXPECT_EQ(set.input, &kInputCurves[w[4] - 1]);
    EXPECT_EQ(set.output, set.input);
    EXPECT_EQ(set.capacity, &kCapacityCurves[w[5] - 1]);
    EXPECT_EQ(set.backup, &kBackupTables[w[6] - 1]);
    EXPECT_EQ(set.load, &kLoadCurvePairs[w[7] - 1]);
    EXPECT_EQ(set.temperature, &kTemperatureCurves[w[8] - 1]);
    EXPECT_EQ(set.frequency, &kFrequencyCurves[w[9] - 1]);
    EXPECT_EQ(set.tap_ratios, &kTapRatioTables[w[10] - 1]);
    EXPECT_EQ(set.backup_scale, w[11]);
  }
}

}  // namespace
}  // namespace p99
