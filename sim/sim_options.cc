#include "sim/sim_options.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "agent/protocol/p99_tables.h"
#include "common/integer_text.h"

namespace {

// An option's number: the whole word, decimal with an optional '-', or,
// where hexadecimal is allowed, hexadecimal after "0x" or "0X" (also after
// the '-'); within [minimum, maximum]. No blanks, no '+'.
bool ParseInteger(const char* text, int32_t minimum, int32_t maximum,
                  int32_t* value, bool hex_allowed = true) {
  if (text == nullptr) return false;
  const std::string_view word(text);
  const bool negative = !word.empty() && word[0] == '-';
  std::string_view digits = negative ? word.substr(1) : word;
  const bool hex = hex_allowed && digits.size() > 2 && digits[0] == '0' &&
                   (digits[1] == 'x' || digits[1] == 'X');
  if (!hex) return ParseWholeInt32(word, minimum, maximum, value);
  digits.remove_prefix(2);
  int32_t magnitude = 0;
  if (!ParseWholeInt32(digits, 0, INT32_MAX, &magnitude, 16)) return false;
  const int64_t parsed = negative ? -int64_t{magnitude} : magnitude;
  if (parsed < minimum || parsed > maximum) return false;
  *value = static_cast<int32_t>(parsed);
  return true;
}

// "REG=CODE": register 0 to 255, code 0 to 255 or -128 to -1 (stored as the
// code's low eight bits).
bool ParseRegister(const char* text, uint8_t* number, uint8_t* code) {
  const char* equals = std::strchr(text, '=');
  if (equals == nullptr) return false;
  std::string left(text, equals);
  int32_t reg = 0;
  int32_t value = 0;
  if (!ParseInteger(left.c_str(), 0, 255, &reg) ||
      !ParseInteger(equals + 1, -128, 255, &value)) {
    return false;
  }
  *number = static_cast<uint8_t>(reg);
  *code = static_cast<uint8_t>(value & 0xFF);
  return true;
}

// A text that has to fit in one field of an answer.
bool IsFieldText(const std::string& text) {
  if (text.empty() || text.size() > 40) return false;
  for (char c : text) {
    if (c <= ' ' || c > '~' || c == ',' || c == '#') return false;
  }
  return true;
}

// A payload of P2 to P8: printable, no CR.
bool IsPayloadText(const std::string& text) {
  if (text.size() > 100) return false;
  for (char c : text) {
    if (c < ' ' || c > '~') return false;
  }
  return true;
}

}  // namespace

bool ParseTextUnitOption(const std::string& option, const char* value,
                         TextUnitConfig* config, std::string* error) {
  const std::string text = value;
  int32_t number = 0;
  if (option == "--text-model" || option == "--text-firmware") {
    if (!IsFieldText(text)) {
      *error = option + " takes printable text without blanks or commas";
    } else if (option == "--text-model") {
      config->model = text;
    } else {
      config->firmware = text;
    }
  } else if (option == "--text-settings") {
    int32_t values[4] = {};
    size_t start = 0;
    bool good = true;
    for (int i = 0; i < 4 && good; ++i) {
      const size_t comma = i < 3 ? text.find(',', start) : text.size();
      good = comma != std::string::npos &&
             ParseInteger(text.substr(start, comma - start).c_str(), -999, 9999,
                          &values[i], false);
      start = comma + 1;
    }
    if (!good) {
      *error = "--text-settings takes four integers: BO,IH,IL,BL";
    } else {
      config->battery_out = values[0];
      config->input_high = values[1];
      config->input_low = values[2];
      config->battery_low = values[3];
    }
  } else if (option == "--text-query") {
    // Pn=PAYLOAD for n in 2 to 8.
    if (text.size() < 3 || text[0] != 'P' || text[1] < '2' || text[1] > '8' ||
        text[2] != '=' || !IsPayloadText(text.substr(3))) {
      *error = "--text-query takes Pn=PAYLOAD, n from 2 to 8";
    } else {
      std::string* targets[] = {&config->ratings,
                                &config->battery,
                                nullptr,  // P4 comes from the texts
                                &config->battery_out_range,
                                &config->input_high_range,
                                &config->input_low_range,
                                &config->battery_low_range};
      std::string* target = targets[text[1] - '2'];
      if (target == nullptr) {
        *error = "P4 is set by --text-model and --text-firmware";
      } else {
        *target = text.substr(3);
      }
    }
  } else if (option == "--text-option-a") {
    if (!ParseInteger(value, 0x80, 0xFF, &number)) {
      *error = "--text-option-a takes a byte from 0x80 to 0xFF";
    } else {
      config->option_a = static_cast<uint8_t>(number);
    }
  } else if (option == "--text-hex") {
    if (text != "on" && text != "off") {
      *error = "--text-hex takes on or off";
    } else if (text == "on") {
      config->option_a |= 0x08;
    } else {
      config->option_a &= static_cast<uint8_t>(~0x08);
    }
  } else if (option == "--text-refuse") {
    if (text != "on" && text != "off") {
      *error = "--text-refuse takes on or off";
    } else {
      config->refuse = text == "on";
    }
  } else {
    return false;
  }
  return true;
}

const char* SimUsage() {
  return "usage: upssim --link PATH [options]\n"
         "  --link PATH            symbolic link to create for the unit's "
         "port\n"
         "  --protocol p99|text    protocol the unit speaks (default p99)\n"
         "  --model NAME           model name of the list (default 650VA)\n"
         "  --voltage-class N      1 (120 V), 2 (100 V) or 3 (230 V); sets "
         "register 0x29\n"
         "  --rated-voltage BYTE   identification rated voltage byte\n"
         "  --rated-frequency BYTE identification rated frequency byte\n"
         "  --firmware CCCC        four firmware characters (default 1234)\n"
         "  --info TEXT            info text, up to 20 characters\n"
         "  --register REG=CODE    initial code of a setting register "
         "(repeatable)\n"
         "  --log FILE             record every request and answer\n"
         "  --speed FACTOR         run the battery model faster (default 1)\n"
         "  --help                 this text\n"
         "  --text-model NAME, --text-firmware TEXT, --text-settings "
         "BO,IH,IL,BL,\n"
         "  --text-query Pn=TEXT, --text-option-a BYTE, --text-hex on|off,\n"
         "  --text-refuse on|off   the answers of a text unit\n"
         "Control commands, one per line on standard input:\n"
         "  set input|output V, set load|capacity PCT, set temperature C,\n"
         "  set frequency HZ, utility fail|restore, battery low|normal,\n"
         "  buzzer on|off, silent on|off, garbage on|off, status, help, "
         "quit\n";
}

bool ParseSimOptions(int argc, const char* const* argv, SimOptions* options,
                     std::string* error) {
  bool rated_voltage_given = false;
  bool rated_frequency_given = false;
  bool class_register_given = false;
  int32_t voltage_class = 1;
  for (int i = 1; i < argc; ++i) {
    std::string option = argv[i];
    if (option == "--help" || option == "-h") {
      options->help = true;
      continue;
    }
    if (option.compare(0, 2, "--") != 0) {
      *error = "unexpected argument " + option;
      return false;
    }
    if (i + 1 >= argc) {
      *error = option + " needs a value";
      return false;
    }
    const char* value = argv[++i];
    int32_t number = 0;
    if (option == "--link") {
      options->link_path = value;
    } else if (option == "--protocol") {
      options->protocol = value;
    } else if (option == "--log") {
      options->log_path = value;
    } else if (option == "--model") {
      if (p99::FindModel(value) <= 0) {
        *error = std::string("unknown model ") + value;
        return false;
      }
      options->p99.model = value;
    } else if (option == "--voltage-class") {
      if (!ParseInteger(value, 1, 3, &voltage_class)) {
        *error = "--voltage-class must be 1, 2 or 3";
        return false;
      }
    } else if (option == "--rated-voltage") {
      if (!ParseInteger(value, 0, 255, &number)) {
        *error = "--rated-voltage must be a byte, 0 to 255";
        return false;
      }
      options->p99.rated_voltage = static_cast<uint8_t>(number);
      rated_voltage_given = true;
    } else if (option == "--rated-frequency") {
      if (!ParseInteger(value, 0, 255, &number)) {
        *error = "--rated-frequency must be a byte, 0 to 255";
        return false;
      }
      options->p99.rated_frequency = static_cast<uint8_t>(number);
      rated_frequency_given = true;
    } else if (option == "--firmware") {
      if (std::strlen(value) != 4) {
        *error = "--firmware takes exactly four characters";
        return false;
      }
      options->p99.firmware = value;
    } else if (option == "--info") {
      if (std::strlen(value) > 20) {
        *error = "--info takes at most 20 characters";
        return false;
      }
      options->p99.info_text = value;
    } else if (option == "--register") {
      uint8_t reg = 0;
      uint8_t code = 0;
      if (!ParseRegister(value, &reg, &code)) {
        *error = "--register takes REG=CODE, each a number";
        return false;
      }
      options->p99.registers[reg] = code;
      if (reg == p99_register::kVoltageClass) class_register_given = true;
    } else if (ParseTextUnitOption(option, value, &options->text, error)) {
      if (!error->empty()) return false;
    } else if (option == "--speed") {
      char* end = nullptr;
      double speed = std::strtod(value, &end);
      if (*value == '\0' || *end != '\0' || !std::isfinite(speed) ||
          speed <= 0 || speed > 1e6) {
        *error = "--speed must be a positive number";
        return false;
      }
      options->speed = speed;
    } else {
      *error = "unknown option " + option;
      return false;
    }
  }
  if (options->help) return true;
  if (options->link_path.empty()) {
    *error = "--link PATH is required";
    return false;
  }
  // The voltage class register and the rated bytes follow the class unless
  // given explicitly.
  if (!class_register_given) {
    options->p99.registers[p99_register::kVoltageClass] =
        VoltageClassCode(static_cast<int32_t>(voltage_class));
  }
  static const uint8_t kRatedVoltage[] = {0, 120, 100, 230};
  static const uint8_t kRatedFrequency[] = {0, 60, 60, 50};
  if (!rated_voltage_given) {
    options->p99.rated_voltage = kRatedVoltage[voltage_class];
  }
  if (!rated_frequency_given) {
    options->p99.rated_frequency = kRatedFrequency[voltage_class];
  }
  return true;
}
