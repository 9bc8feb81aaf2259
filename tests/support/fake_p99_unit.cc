#include "tests/support/fake_p99_unit.h"

namespace {

constexpr uint8_t kCr = 0x0D;

bool Is(const FakeP99Unit::Bytes& r, const char* text) {
  size_t i = 0;
  for (; text[i] != '\0'; ++i) {
    if (i >= r.size() || r[i] != static_cast<uint8_t>(text[i])) return false;
  }
  return i == r.size();
}

FakeP99Unit::Bytes Echo(const FakeP99Unit::Bytes& request, size_t count) {
  if (request.size() < count) return {};
  return FakeP99Unit::Bytes(request.begin(), request.begin() + count);
}

}  // namespace

FakeP99Unit::FakeP99Unit() { registers[0x0F] = 0x13; }

void FakeP99Unit::AttachTo(ScriptedMedia* media) {
  media->SetResponder([this](const Bytes& request) { return Answer(request); });
}

int FakeP99Unit::Count(char letter) const {
  int count = 0;
  for (const Bytes& r : requests_) {
    if (!r.empty() && r[0] == static_cast<uint8_t>(letter)) ++count;
  }
  return count;
}

FakeP99Unit::Bytes FakeP99Unit::Answer(const Bytes& request) {
  requests_.push_back(request);
  if (silent_requests > 0) {
    --silent_requests;
    return {};
  }
  if (request.empty() || request.back() != kCr) return {};
  const size_t n = request.size();
  switch (request[0]) {
    case 'D': {
      if (n != 2) return {};
      const uint8_t complement =
          static_cast<uint8_t>(~status[6] ^ (bad_status_complement ? 1 : 0));
      return {'#',
              status[0],
              status[1],
              status[2],
              '.',
              status[3],
              status[4],
              status[5],
              '.',
              status[6],
              complement,
              check_byte,
              static_cast<uint8_t>(~check_byte),
              kCr};
    }
    case 'F': {
      if (n != 2) return {};
      Bytes reply(21, ' ');
      reply[0] = '.';
      for (size_t i = 0; i < 10 && i < model.size(); ++i) {
        reply[1 + i] = static_cast<uint8_t>(model[i]);
      }
      reply[11] = bad_identification ? ',' : '.';
      reply[12] = rated_voltage;
      reply[13] = '.';
      reply[14] = rated_frequency;
      reply[15] = '.';
      for (size_t i = 0; i < 4; ++i) {
        reply[16 + i] = i < firmware.size() ? firmware[i] : '0';
      }
      reply[20] = kCr;
      return reply;
    }
    case 'N': {
      if (n != 2) return {};
      Bytes reply(22, ' ');
      reply[0] = '.';
      for (size_t i = 0; i < 20 && i < info.size(); ++i) {
        reply[1 + i] = static_cast<uint8_t>(info[i]);
      }
      reply[21] = kCr;
      return reply;
    }
    case 'R':
      if (n != 3) return {};
      return {'R', registers[request[1]]};
    case 'Q': {
      if (n != 4) return {};
      if (bad_write_echoes > 0) {
        --bad_write_echoes;
        return {'Q', request[1], static_cast<uint8_t>(request[2] + 1)};
      }
      registers[request[1]] = request[2];
      return Echo(request, 3);
    }
    case 'T':
      return n == 3 ? Echo(request, 2) : Bytes{};
    case 'C':
      return Is(request, "CT\r") || Is(request, "CS\r") ? Echo(request, 2)
                                                        : Bytes{};
    case 'S':
      if (n == 8) return Echo(request, 7);
      if (n == 5) return Echo(request, 4);
      return {};
    case 'B':
      return n == 2 ? Bytes{'B'} : Bytes{};
    default:
      return {};
  }
}
