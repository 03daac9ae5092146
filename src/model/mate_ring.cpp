#include "model/mate_ring.h"

#include <stdexcept>

namespace talveron {

MateRing::MateRing(const std::vector<Individ>& adults)
    : members_(adults.size() + kPadding, kMale), size_(adults.size()) {
  if (adults.size() > kMaxSize) throw std::length_error("Reproduction: more adults than its ring can hold");
  for (std::size_t i = 0; i < adults.size(); ++i) {
    members_[i] = static_cast<std::uint16_t>(i | (adults[i].sex ? kMale : 0));
  }
}

// The walk male by male, once round the ring at most, is a search for the
// first female from the start to the tail and then from the head.
std::size_t MateRing::FirstFemaleBeyondFour(std::size_t start) const {
  const std::size_t found = FirstFemaleUpToTail(start + 4);
  return found < size_ ? found : FirstFemaleUpToTail(0);
}

// Most searches that come here are long, near the end of a phase when few
// females are left, so the loop's one branch is nearly always guessed right,
// where a test of each member in turn is a coin toss.
std::size_t MateRing::FirstFemaleUpToTail(std::size_t position) const {
  for (; position < size_; position += 4) {
    const std::uint64_t females = FemalesOfFour(position);
    if (females != 0) return position + LowestOfFour(females);  // below size_: the padding is male
  }
  return size_;
}

}  // namespace talveron
