// The model's only source of random numbers.
//
// xoshiro256** seeded through SplitMix64 from a 64-bit seed. Random() gives
// the signed 16-bit draws the model is written against (-32767..32767), and
// Randomize(range) scales one draw to 0..range-1 exactly as the model's
// probability tests expect. No std:: distribution is used: their output
// differs between standard libraries.
#pragma once

#include <cstdint>
#include <cstddef>
#include <functional>
#include <initializer_list>
#include <vector>

namespace talveron {

// Randomize's scaling of one Random() draw: the magnitude times the range in
// 32 bits, divided by 32768 and truncated, kept as a signed 16-bit value.
inline int ScaleDraw(int draw, int range) {
  const std::int32_t magnitude = draw < 0 ? -draw : draw;
  const std::int32_t quotient = (static_cast<std::int32_t>(range) * magnitude) / 32768;
  return static_cast<std::int16_t>(static_cast<std::uint16_t>(quotient & 0xFFFF));
}

class Rng {
 public:
  explicit Rng(std::uint64_t seed = 0) { Seed(seed); }

  // Restarts the generator from a 64-bit seed.
  void Seed(std::uint64_t seed);

  // Next 64-bit output of xoshiro256**.
  std::uint64_t Next() {
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

  // Uniform on -32767..32767: the top 16 bits of an output, 65535 redrawn.
  // Nothing here calls out of line, so that a run of draws can keep the
  // state in registers.
  int Random() {
    ++draws_;
    if (scriptLeft_ != 0) [[unlikely]] return script_[script_.size() - scriptLeft_--];
    std::uint64_t v = Next() >> 48;
    while (v == 65535) v = Next() >> 48;
    return static_cast<int>(v) - 32767;
  }

  // 0..range-1 for a positive range. Out-of-range results (range 0 or
  // negative) are reported through the handler and returned all the same.
  // A range of 1 to 32767 can never give one: the magnitude is below
  // 32768, so range x magnitude / 32768 is below the range and fits in 16
  // bits. Only other ranges are checked.
  int Randomize(int range) {
    const int result = ScaleDraw(Random(), range);
    if (range < 1 || range > 32767) [[unlikely]] CheckScaled(result, range);
    return result;
  }

  // Called with "Bad scaledRandomNumber" when Randomize leaves its range.
  void SetBadRangeHandler(std::function<void()> handler) { badRange_ = std::move(handler); }

  // Test support: the given values are returned by Random() before any
  // generated ones, in order.
  void Script(std::initializer_list<int> draws);
  bool ScriptEmpty() const { return scriptLeft_ == 0; }

  // Counts Random() calls since the last Seed(), so tests can check how many
  // draws a phase made.
  std::uint64_t DrawCount() const { return draws_; }

 private:
  static std::uint64_t Rotl(std::uint64_t value, int bits) {
    return (value << bits) | (value >> (64 - bits));
  }
  void CheckScaled(int result, int range);

  std::uint64_t s_[4] = {0, 0, 0, 0};
  std::uint64_t draws_ = 0;
  std::vector<int> script_;     // scripted draws; the last scriptLeft_ are still to come
  std::size_t scriptLeft_ = 0;
  std::function<void()> badRange_;
};

}  // namespace talveron
