#include "core/random.h"

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
  for (auto& word : s_) word = SplitMix64(x);
  draws_ = 0;
}

int Rng::NextScripted() {
  const int draw = scripted_.front();
  scripted_.pop_front();
  return draw;
}

void Rng::ReportBadRange() {
  if (badRange_) badRange_();
}

}  // namespace talveron
