// The model's only source of random numbers.
//
// xoshiro256** seeded through SplitMix64 from a 64-bit seed. Random() gives
// the signed 16-bit draws the model is written against (-32767..32767), and
// Randomize(range) scales one draw to 0..range-1 exactly as the model's
// probability tests expect. No std:: distribution is used: their output
// differs between standard libraries.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>

namespace talveron {

class Rng {
 public:
  explicit Rng(std::uint64_t seed = 0) { Seed(seed); }

  // Restarts the generator from a 64-bit seed.
  void Seed(std::uint64_t seed);

  // Next 64-bit output of xoshiro256**.
  std::uint64_t Next();

  // Uniform on -32767..32767: the top 16 bits of an output, 65535 redrawn.
  int Random();

  // 0..range-1 for a positive range. Out-of-range results (range 0 or
  // negative) are reported through the handler and returned all the same.
  int Randomize(int range);

  // Called with "Bad scaledRandomNumber" when Randomize leaves its range.
  void SetBadRangeHandler(std::function<void()> handler) { badRange_ = std::move(handler); }

  // Test support: the given values are returned by Random() before any
  // generated ones, in order.
  void Script(std::initializer_list<int> draws) { scripted_.insert(scripted_.end(), draws); }
  bool ScriptEmpty() const { return scripted_.empty(); }

  // Counts Random() calls since the last Seed(); used by tests and traces.
  std::uint64_t DrawCount() const { return draws_; }

 private:
  std::uint64_t s_[4] = {0, 0, 0, 0};
  std::uint64_t draws_ = 0;
  std::deque<int> scripted_;
  std::function<void()> badRange_;
};

// Randomize's scaling of one Random() draw, for tests and for the generator.
int ScaleDraw(int draw, int range);

}  // namespace talveron
