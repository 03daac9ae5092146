#include "core/mate_ring.h"

#include <algorithm>
#include <bit>
#include <cstring>
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
std::size_t MateRing::FirstFemaleFrom(std::size_t start) const {
  const std::size_t found = FirstFemaleUpToTail(start);
  return found < size_ ? found : FirstFemaleUpToTail(0);
}

// Four members at a time, as one 64-bit word: a female's top bit is clear.
// Most searches end in their first word, so the loop's one branch is
// nearly always guessed right, where a test of each member in turn is a
// coin toss.
std::size_t MateRing::FirstFemaleUpToTail(std::size_t position) const {
  constexpr std::uint64_t kMaleBits = 0x8000'8000'8000'8000;
  const std::uint16_t* const head = Head();
  for (; position < size_; position += 4) {
    std::uint64_t word;
    std::memcpy(&word, head + position, sizeof word);
    const std::uint64_t females = ~word & kMaleBits;
    if (females != 0) {
      const int bit = std::endian::native == std::endian::little ? std::countr_zero(females)
                                                                  : std::countl_zero(females);
      return position + static_cast<std::size_t>(bit) / 16;  // below size_: the padding is male
    }
  }
  return size_;
}

// The shorter side of the gap closes it: the members before it move one
// place towards the tail, or those after it (and the padding) one place
// towards the head.
void MateRing::Erase(std::size_t position) {
  std::uint16_t* const head = Head();
  if (position < size_ / 2) {
    std::copy_backward(head, head + position, head + position + 1);
    ++first_;
  } else {
    std::copy(head + position + 1, head + size_ + kPadding, head + position);
  }
  --size_;
}

}  // namespace talveron
