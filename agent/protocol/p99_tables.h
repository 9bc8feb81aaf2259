#pragma once

#include <cstdint>

// Constant conversion data of the P99 family: the model list, the setting
// code tables, the measurement curves, the load curve pairs, the backup
// tables and the tap ratios, with their lookups and the rules that pick one
// table set for an identified unit.
//
// A P99 unit reports raw bytes whose meaning depends on its model, so the
// same byte is a different voltage on a 120 V and on a 230 V unit. All data
// here is compiled in, never allocated, and shared by every P99Proxy; a proxy
// only holds pointers into it. Every number is a 16-bit signed integer.
//
// Every lookup is defined for any input: a curve lookup of any x, a code
// lookup of any code or value.
namespace p99 {

// One (code, value) pair of a CodeTable.
struct CodePair {
  int16_t code;
  int16_t value;
};

// Converts a setting register code to a setting value and back. Codes are
// strictly ascending or strictly descending, values strictly monotonic. The
// value of code 0 is the setting's factory default.
struct CodeTable {
  int16_t count;
  int16_t label;  // nominal voltage the table belongs to, or 0; never read
  const CodePair* pairs;
};

// One (x, y) point of a Curve.
struct CurvePoint {
  int16_t x;
  int16_t y;
};

// Converts a raw reading x to a value y by linear interpolation between
// points whose x values ascend.
struct Curve {
  int16_t count;
  const CurvePoint* points;
};

// The load curves of one model: `mains` while the utility feeds the unit,
// `battery` while it runs on battery. Both give hundredths of a percent.
struct LoadCurvePair {
  Curve mains;
  Curve battery;
};

// The backup curve for one load percent: capacity percent (x, ascending) to
// the fraction of the backup scale the battery lasts (y, 0 to 10000).
struct BackupEntry {
  int16_t load_key;  // 0 to 100
  Curve curve;
};

// Backup curves by load, load keys ascending; always holds keys 0 and 100.
struct BackupTable {
  int16_t count;
  const BackupEntry* entries;
};

// Output voltage = input × numerator / denominator at one tap position.
struct TapRatio {
  int16_t numerator;
  int16_t denominator;
};

// The ratios of tap positions 1, 2 and 3 (positions[0] is position 1).
struct TapRatioTable {
  TapRatio positions[3];
};

// The model list: index 0 is "UNKNOWN" (never accepted), 1 to 32 are models.
struct ModelEntry {
  const char* name;
  int16_t model_class;  // 1 to 5; 0 for "UNKNOWN"
};

constexpr int32_t kModelCount = 33;
extern const ModelEntry kModels[kModelCount];

// Index of the entry whose name equals `text` exactly (case-sensitive), or
// -1 when there is none or `text` is null. "UNKNOWN" gives 0.
int32_t FindModel(const char* text);

// Model class (1 to 5) of a model index; 0 for index 0 and out of range.
int32_t ModelClassOf(int32_t model_index);

// The curve's y at x. At or below the first x: the first y; above the last
// x: the last y; between two points: linear interpolation truncated toward
// zero. An empty curve gives 0.
int16_t CurveLookup(const Curve& curve, int16_t x);

// Writes the value of the pair whose code equals `code` and returns true;
// returns false (writing nothing) when no pair matches exactly.
bool CodeToValue(const CodeTable& table, int32_t code, int32_t* value);

// Writes the code of the pair whose value equals `value` and returns true;
// returns false (writing nothing) when no pair matches exactly.
bool ValueToCode(const CodeTable& table, int32_t value, int32_t* code);

// The tables that convert one unit's bytes, as picked by SelectTableSet.
// Every pointer is non-null and points into the constant data below.
struct TableSet {
  const CodeTable* input_high;         // setting item 0
  const CodeTable* input_low;          // setting item 1
  const CodeTable* battery_low_level;  // setting item 2
  const CodeTable* battery_out;        // setting item 3
  const Curve* input;                  // status byte d0, volts
  const Curve* output;                 // status byte d1, volts
  const Curve* capacity;               // status byte d3, 1/100 percent
  const BackupTable* backup;
  const LoadCurvePair* load;  // status byte d2, 1/100 percent
  const Curve* temperature;   // status byte d4, degrees
  const Curve* frequency;     // status byte d5, 1/100 hertz
  const TapRatioTable* tap_ratios;
  int32_t backup_scale;  // seconds at backup fraction 10000
};

// Picks the table set of a unit from its voltage class (register 0x29: 1
// around 120 V, 2 around 100 V, 3 around 230 V), model class and index
// (kModels), item 29 (bit 4 of register 0x3D) and voltage variant (register
// 0x2B, 0 to 3; other values act as 0). The output curve is the input curve.
// A voltage class outside 1 to 3 gives the defaults.
TableSet SelectTableSet(int32_t voltage_class, int32_t model_class,
                        int32_t model_index, int32_t item29,
                        int32_t voltage_variant);

// The named tables: element n-1 is table n (kInputHighTables[0] is HI1).
extern const CodeTable kInputHighTables[14];       // HI1 to HI14
extern const CodeTable kInputLowTables[14];        // LO1 to LO14
extern const CodeTable kBatteryLowLevelTables[2];  // BL1, BL2
extern const CodeTable kBatteryOutTables[10];      // BO1 to BO10
extern const Curve kInputCurves[4];                // IN1 to IN4
extern const Curve kCapacityCurves[2];             // CAP1, CAP2
extern const Curve kTemperatureCurves[4];          // TMP1 to TMP4
extern const Curve kFrequencyCurves[2];            // FRQ1, FRQ2
extern const LoadCurvePair kLoadCurvePairs[5];     // LD1 to LD5
extern const TapRatioTable kTapRatioTables[6];     // TAP1 to TAP6
extern const BackupTable kBackupTables[3];         // backup 1 to 3

// Backup fraction that stands for the whole backup scale.
constexpr int32_t kBackupFull = 10000;

}  // namespace p99
