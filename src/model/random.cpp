#include "model/random.h"

namespace talveron {
namespace {

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
  for (auto& word : state_.s) word = SplitMix64(x);
  state_.draws = 0;
}

void Rng::Script(std::initializer_list<int> draws) {
  script_.erase(script_.begin(), script_.end() - static_cast<std::ptrdiff_t>(state_.scriptLeft));
  script_.insert(script_.end(), draws);
  state_.scriptLeft = script_.size();
}

int Rng::ScaleChecked(int draw, int range) {
  const int result = ScaleDraw(draw, range);
  if ((result < 0 || result >= range) && badRange_) badRange_();
  return result;
}

}  // namespace talveron
