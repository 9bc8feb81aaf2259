#include "agent/protocol/p99_tables.h"

#include <cstring>

namespace p99 {
namespace {

// Code tables whose values follow the codes one for one (or two for one):
// codes first..last ascending, value = base + step × code.
template <int kFirst, int kLast, int kBase, int kStep>
struct Run {
  static constexpr int kCount = kLast - kFirst + 1;
  CodePair pairs[kCount];
  constexpr Run() : pairs() {
    for (int i = 0; i < kCount; ++i) {
      const int code = kFirst + i;
      pairs[i] = {static_cast<int16_t>(code),
                  static_cast<int16_t>(kBase + kStep * code)};
    }
  }
};

template <int kFirst, int kLast, int kBase, int kStep>
constexpr Run<kFirst, kLast, kBase, kStep> kRun{};

template <int kFirst, int kLast, int kBase, int kStep>
constexpr CodeTable RunTable(int16_t label) {
  return {Run<kFirst, kLast, kBase, kStep>::kCount, label,
          kRun<kFirst, kLast, kBase, kStep>.pairs};
}

template <size_t kCount>
constexpr CodeTable ListTable(const CodePair (&pairs)[kCount]) {
  return {static_cast<int16_t>(kCount), 0, pairs};
}

template <size_t kCount>
constexpr Curve MakeCurve(const CurvePoint (&points)[kCount]) {
  return {static_cast<int16_t>(kCount), points};
}

constexpr CodePair kBl1[] = {{-8, 15}, {-7, 18}, {-6, 19}, {-5, 20},
                             {-4, 22}, {-3, 24}, {-2, 25}, {-1, 26},
                             {0, 28},  {1, 30},  {2, 32},  {3, 34},
                             {4, 35},  {5, 36},  {6, 38},  {7, 40}};
constexpr CodePair kBl2[] = {{-6, 25}, {-5, 30}, {-3, 35}, {-2, 40},
                             {0, 45},  {2, 50},  {4, 55},  {6, 60}};

// BO1 and BO2 are stored with descending codes.
constexpr CodePair kBo1[] = {{2, 110},  {1, 115},  {0, 120},
                             {-1, 124}, {-2, 128}, {-3, 130}};
constexpr CodePair kBo2[] = {{4, 190}, {3, 200}, {2, 210},
                             {1, 220}, {0, 230}, {-1, 240}};
constexpr CodePair kBo3[] = {{0, 100}, {5, 105}, {10, 110}};
constexpr CodePair kBo4[] = {{-10, 100}, {0, 110}, {10, 120}};
constexpr CodePair kBo5[] = {{-10, 110}, {0, 120}, {10, 130}};
constexpr CodePair kBo6[] = {{-7, 120}, {0, 127}, {3, 130}};
constexpr CodePair kBo7[] = {{0, 208}, {1, 210}, {5, 220}};
constexpr CodePair kBo8[] = {{-5, 210}, {0, 220}, {5, 230}};
constexpr CodePair kBo9[] = {{-5, 220}, {0, 230}, {5, 240}};
constexpr CodePair kBo10[] = {{-5, 230}, {0, 240}, {5, 250}};

constexpr CurvePoint kIn1[] = {{25, 0},  {26, 30}, {54, 60}, {80, 80},
                               {86, 85}, {92, 90}, {98, 95}, {160, 145}};
constexpr CurvePoint kIn2[] = {{25, 0},   {26, 69},  {54, 138}, {80, 184},
                               {86, 195}, {92, 207}, {98, 218}, {160, 333}};
constexpr CurvePoint kIn3[] = {{29, 0}, {30, 30}, {255, 255}};
constexpr CurvePoint kIn4[] = {{0, 0}, {1, 51}, {255, 305}};

constexpr CurvePoint kCap1[] = {{151, 0}, {197, 10000}};
constexpr CurvePoint kCap2[] = {{0, 0}, {100, 10000}};

constexpr CurvePoint kTmp1[] = {{0, 0},    {122, 25},  {136, 30},  {154, 35},
                                {165, 40}, {178, 45},  {192, 53},  {210, 65},
                                {230, 84}, {241, 100}, {248, 120}, {255, 140}};
constexpr CurvePoint kTmp2[] = {{0, 0},    {122, 25}, {136, 27}, {154, 30},
                                {165, 32}, {178, 35}, {192, 39}, {210, 45},
                                {230, 54}, {241, 62}, {248, 72}, {255, 82}};
constexpr CurvePoint kTmp3[] = {{0, 0},    {136, 30}, {154, 32}, {165, 35},
                                {178, 37}, {192, 43}, {210, 47}, {230, 53},
                                {241, 65}, {248, 75}};
constexpr CurvePoint kTmp4[] = {{0, 0}, {200, 200}};

// FRQ1 falls as x rises; its x values still ascend.
constexpr CurvePoint kFrq1[] = {{162, 6510}, {176, 6060}, {177, 6030},
                                {178, 6000}, {179, 5970}, {180, 5940},
                                {217, 5040}, {218, 5020}, {219, 5000},
                                {220, 4980}, {221, 4960}, {246, 4510}};
constexpr CurvePoint kFrq2[] = {{0, 0}, {1, 4510}, {255, 7050}};

constexpr CurvePoint kLd1Mains[] = {{0, 0}, {100, 20000}};
constexpr CurvePoint kLd1Battery[] = {{0, 0}, {106, 20000}};
constexpr CurvePoint kLd2Mains[] = {{0, 0}, {66, 20000}};
constexpr CurvePoint kLd2Battery[] = {{0, 0}, {88, 20000}};
constexpr CurvePoint kLd3Mains[] = {{0, 0}, {108, 20000}};
constexpr CurvePoint kLd3Battery[] = {{0, 0}, {86, 20000}};
constexpr CurvePoint kLd4Mains[] = {{0, 0}, {108, 20000}};
constexpr CurvePoint kLd4Battery[] = {{0, 0}, {104, 20000}};
constexpr CurvePoint kLd5Mains[] = {{0, 0}, {200, 20000}};
constexpr CurvePoint kLd5Battery[] = {{0, 0}, {200, 20000}};

}  // namespace

const ModelEntry kModels[kModelCount] = {
    {"UNKNOWN", 0}, {"285VA", 1},  {"325VAE", 1}, {"325VA", 2},   {"385VA", 2},
    {"400VA", 2},   {"450VA", 2},  {"500VA", 2},  {"650VA", 2},   {"720VA", 2},
    {"800VA", 3},   {"100VA", 3},  {"1100VA", 3}, {"1200VA", 3},  {"1500VA", 3},
    {"850VA", 3},   {"KV320", 4},  {"KV500", 4},  {"KV650", 4},   {"KV700", 4},
    {"KV800", 4},   {"KV850", 4},  {"KV900", 4},  {"KV1000", 4},  {"KV1250", 4},
    {"KV1500", 4},  {"KV2200", 4}, {"TM1500", 5}, {"TM1500E", 5}, {"TM2200", 5},
    {"TM2200E", 5}, {"TM3000", 5}, {"TM3000E", 5}};

const CodeTable kInputHighTables[14] = {
    RunTable<-5, 5, 136, 1>(0),   RunTable<-5, 5, 155, 1>(0),
    RunTable<-5, 5, 145, 1>(0),   RunTable<-5, 5, 120, 1>(0),
    RunTable<-5, 5, 125, 1>(0),   RunTable<-5, 5, 260, 1>(0),
    RunTable<-9, 0, 123, 1>(100), RunTable<-9, 0, 135, 1>(110),
    RunTable<-9, 0, 147, 1>(120), RunTable<-9, 0, 150, 1>(127),
    RunTable<-5, 0, 253, 2>(208), RunTable<-5, 0, 268, 2>(220),
    RunTable<-5, 0, 280, 2>(230), RunTable<-5, 0, 280, 2>(240)};

const CodeTable kInputLowTables[14] = {
    RunTable<-5, 5, 98, 1>(0),   RunTable<-5, 5, 88, 1>(0),
    RunTable<-5, 5, 90, 1>(0),   RunTable<-5, 5, 80, 1>(0),
    RunTable<-5, 5, 70, 1>(0),   RunTable<-5, 5, 190, 1>(0),
    RunTable<0, 9, 75, 1>(100),  RunTable<0, 9, 80, 1>(110),
    RunTable<0, 9, 88, 1>(120),  RunTable<0, 9, 93, 1>(127),
    RunTable<0, 5, 149, 2>(208), RunTable<0, 5, 158, 2>(220),
    RunTable<0, 5, 165, 2>(230), RunTable<0, 5, 172, 2>(240)};

const CodeTable kBatteryLowLevelTables[2] = {ListTable(kBl1), ListTable(kBl2)};

const CodeTable kBatteryOutTables[10] = {
    ListTable(kBo1), ListTable(kBo2), ListTable(kBo3), ListTable(kBo4),
    ListTable(kBo5), ListTable(kBo6), ListTable(kBo7), ListTable(kBo8),
    ListTable(kBo9), ListTable(kBo10)};

const Curve kInputCurves[4] = {MakeCurve(kIn1), MakeCurve(kIn2),
                               MakeCurve(kIn3), MakeCurve(kIn4)};
const Curve kCapacityCurves[2] = {MakeCurve(kCap1), MakeCurve(kCap2)};
const Curve kTemperatureCurves[4] = {MakeCurve(kTmp1), MakeCurve(kTmp2),
                                     MakeCurve(kTmp3), MakeCurve(kTmp4)};
const Curve kFrequencyCurves[2] = {MakeCurve(kFrq1), MakeCurve(kFrq2)};

const LoadCurvePair kLoadCurvePairs[5] = {
    {MakeCurve(kLd1Mains), MakeCurve(kLd1Battery)},
    {MakeCurve(kLd2Mains), MakeCurve(kLd2Battery)},
    {MakeCurve(kLd3Mains), MakeCurve(kLd3Battery)},
    {MakeCurve(kLd4Mains), MakeCurve(kLd4Battery)},
    {MakeCurve(kLd5Mains), MakeCurve(kLd5Battery)}};

const TapRatioTable kTapRatioTables[6] = {
    {{{120, 140}, {120, 100}, {140, 100}}},
    {{{265, 295}, {265, 235}, {295, 235}}},
    {{{226, 258}, {258, 226}, {290, 226}}},
    {{{241, 278}, {278, 241}, {290, 226}}},
    {{{100, 115}, {100, 85}, {115, 85}}},
    {{{1, 1}, {1, 1}, {1, 1}}}};

namespace {

// The tables by the numbers the selection rules use (Hi(3) is HI3).
const CodeTable* Hi(int n) { return &kInputHighTables[n - 1]; }
const CodeTable* Lo(int n) { return &kInputLowTables[n - 1]; }
const CodeTable* Bl(int n) { return &kBatteryLowLevelTables[n - 1]; }
const CodeTable* Bo(int n) { return &kBatteryOutTables[n - 1]; }
const Curve* In(int n) { return &kInputCurves[n - 1]; }
const Curve* Cap(int n) { return &kCapacityCurves[n - 1]; }
const Curve* Tmp(int n) { return &kTemperatureCurves[n - 1]; }
const Curve* Frq(int n) { return &kFrequencyCurves[n - 1]; }
const LoadCurvePair* Ld(int n) { return &kLoadCurvePairs[n - 1]; }
const TapRatioTable* Tap(int n) { return &kTapRatioTables[n - 1]; }
const BackupTable* Backup(int n) { return &kBackupTables[n - 1]; }

}  // namespace

int32_t FindModel(const char* text) {
  if (text == nullptr) return -1;
  for (int32_t i = 0; i < kModelCount; ++i) {
    if (std::strcmp(kModels[i].name, text) == 0) return i;
  }
  return -1;
}

int32_t ModelClassOf(int32_t model_index) {
  if (model_index < 0 || model_index >= kModelCount) return 0;
  return kModels[model_index].model_class;
}

int16_t CurveLookup(const Curve& curve, int16_t x) {
  if (curve.count <= 0 || curve.points == nullptr) return 0;
  const CurvePoint* p = curve.points;
  int32_t i = 0;
  while (i < curve.count && x > p[i].x) ++i;
  if (i == 0) return p[0].y;
  if (i == curve.count) return p[curve.count - 1].y;
  if (x == p[i].x) return p[i].y;
  // Here p[i-1].x < x < p[i].x, so the divisor is positive. The product of
  // two 16-bit spans can exceed 32 bits, so it is formed in 64 bits; the
  // quotient lies between the two y values and fits 16 bits.
  const int64_t dx = int64_t{x} - p[i - 1].x;
  const int64_t span_x = int64_t{p[i].x} - p[i - 1].x;
  const int64_t span_y = int64_t{p[i].y} - p[i - 1].y;
  return static_cast<int16_t>(p[i - 1].y + dx * span_y / span_x);
}

bool CodeToValue(const CodeTable& table, int32_t code, int32_t* value) {
  for (int32_t i = 0; i < table.count; ++i) {
    if (table.pairs[i].code == code) {
      *value = table.pairs[i].value;
      return true;
    }
  }
  return false;
}

bool ValueToCode(const CodeTable& table, int32_t value, int32_t* code) {
  for (int32_t i = 0; i < table.count; ++i) {
    if (table.pairs[i].value == value) {
      *code = table.pairs[i].code;
      return true;
    }
  }
  return false;
}

TableSet SelectTableSet(int32_t voltage_class, int32_t model_class,
                        int32_t model_index, int32_t item29,
                        int32_t voltage_variant) {
  TableSet set;
  set.input_high = Hi(1);
  set.input_low = Lo(1);
  set.battery_low_level = Bl(1);
  set.battery_out = Bo(1);
  set.input = In(1);
  set.capacity = Cap(1);
  set.backup = Backup(1);
  set.load = Ld(1);
  set.temperature = Tmp(1);
  set.frequency = Frq(1);
  set.tap_ratios = Tap(1);
  set.backup_scale = 1800;

  const bool index_8_or_9 = model_index == 8 || model_index == 9;
  const bool index_24_or_25 = model_index == 24 || model_index == 25;

  // The settings and curves shared by every class-5 unit, after its
  // variant-dependent settings.
  auto class5_common = [&set]() {
    set.load = Ld(5);
    set.temperature = Tmp(4);
    set.frequency = Frq(2);
    set.capacity = Cap(2);
    set.backup = Backup(3);
    set.backup_scale = 3600;
    set.battery_low_level = Bl(2);
    set.tap_ratios = Tap(6);
  };

  if (voltage_class == 1) {
    switch (model_class) {
      case 1:
        set.load = Ld(2);
        break;
      case 2:
        if (index_8_or_9) set.backup = Backup(2);
        if (item29 != 0) {
          set.input_high = Hi(2);
          set.input_low = Lo(2);
        }
        set.load = Ld(2);
        break;
      case 3:
        set.backup = Backup(2);
        break;
      case 4:
        set.input_high = Hi(3);
        set.input_low = Lo(3);
        set.backup = Backup(2);
        set.load = Ld(3);
        if (item29 != 0) set.tap_ratios = Tap(2);
        if (model_index == 24) {
          set.temperature = Tmp(2);
          set.tap_ratios = Tap(3);
          set.backup = Backup(3);
          set.backup_scale = 3600;
        } else if (model_index == 25) {
          set.load = Ld(4);
          set.temperature = Tmp(3);
          set.tap_ratios = Tap(4);
          set.backup = Backup(3);
          set.backup_scale = 3600;
        }
        break;
      case 5:
        switch (voltage_variant) {
          case 1:
            set.battery_out = Bo(6);
            set.input_high = Hi(10);
            set.input_low = Lo(10);
            break;
          case 2:
            set.battery_out = Bo(3);
            set.input_high = Hi(7);
            set.input_low = Lo(7);
            break;
          case 3:
            set.battery_out = Bo(4);
            set.input_high = Hi(8);
            set.input_low = Lo(8);
            break;
          default:
            set.battery_out = Bo(5);
            set.input_high = Hi(9);
            set.input_low = Lo(9);
            break;
        }
        class5_common();
        set.input = In(3);
        break;
      default:
        break;
    }
  } else if (voltage_class == 2) {
    set.input_high = Hi(4);
    set.input_low = Lo(4);
    set.tap_ratios = Tap(5);
    if (model_class == 2) {
      if (index_8_or_9) set.backup = Backup(2);
      if (item29 != 0) {
        set.input_high = Hi(5);
        set.input_low = Lo(5);
      }
    } else if (model_class == 4) {
      set.input_high = Hi(5);
      set.input_low = Lo(5);
      set.load = Ld(3);
      set.backup = Backup(2);
      if (index_24_or_25) {
        set.backup = Backup(3);
        set.backup_scale = 3600;
      }
      if (item29 != 0) set.tap_ratios = Tap(2);
    }
  } else if (voltage_class == 3) {
    set.input_high = Hi(6);
    set.input_low = Lo(6);
    set.battery_out = Bo(2);
    set.input = In(2);
    set.backup = Backup(2);
    if (index_24_or_25) {
      set.backup = Backup(3);
      set.backup_scale = 3600;
    }
    if (model_class == 5) {
      switch (voltage_variant) {
        case 1:
          set.battery_out = Bo(10);
          set.input_high = Hi(14);
          set.input_low = Lo(14);
          break;
        case 2:
          set.battery_out = Bo(7);
          set.input_high = Hi(11);
          set.input_low = Lo(11);
          break;
        case 3:
          set.battery_out = Bo(8);
          set.input_high = Hi(12);
          set.input_low = Lo(12);
          break;
        default:
          set.battery_out = Bo(9);
          set.input_high = Hi(13);
          set.input_low = Lo(13);
          break;
      }
      set.input = In(4);
      class5_common();
    }
  }

  set.output = set.input;
  return set;
}

}  // namespace p99
