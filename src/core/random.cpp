#include "core/random.h"

namespace talveron {
namespace {

std::uint64_t Rotl(std::uint64_t value, int bits) {
  return (value << bits) | (value >> (64 - bits));
}

std::uint64_t SplitMix64(std::uint64_t& x) {
  x += 0x9E3779B97F4A7C15ULL;
  std::uint64_t z = x;
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
  return z ^ (z >> 31);
}

}  // namespace

void Rng::Seed(std::uint64_t seed) {
  std::uint64_t x = seed;
  for (auto& word : s_) word = SplitMix64(x);
  draws_ = 0;
}

std::uint64_t Rng::Next() {
  const std::uint64_t result = Rotl(s_[1] * 5, 7) * 9;
  const std::uint64_t t = s_[1] << 17;
  s_[2] ^= s_[0];
  s_[3] ^= s_[1];
  s_[1] ^= s_[2];
  s_[0] ^= s_[3];
  s_[2] ^= t;
  s_[3] = Rotl(s_[3], 45);
  return result;
}

int Rng::Random() {
  ++draws_;
  if (!scripted_.empty()) {
    const int draw = scripted_.front();
    scripted_.pop_front();
    return draw;
  }
  std::uint64_t v = Next() >> 48;
  while (v == 65535) v = Next() >> 48;
  return static_cast<int>(v) - 32767;
}

int ScaleDraw(int draw, int range) {
  const std::int32_t magnitude = draw < 0 ? -draw : draw;
  const std::int32_t product = static_cast<std::int32_t>(range) * magnitude;
  const std::int32_t quotient = product / 32768;  // truncates towards zero
  return static_cast<std::int16_t>(static_cast<std::uint16_t>(quotient & 0xFFFF));
}

int Rng::Randomize(int range) {
  const int result = ScaleDraw(Random(), range);
  if ((result < 0 || result >= range) && badRange_) badRange_();
  return result;
}

}  // namespace talveron
