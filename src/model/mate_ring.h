// The adult list while Reproduction serves its females, in list order. Each
// member is its position in the adult list and whether it is a male, in 16
// bits (there are at most 2560 adults, one per cell), so that walks over the
// ring need not visit the records and a removal moves little memory.
#pragma once

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "model/individual.h"

namespace talveron {

class MateRing {
 public:
  // Every adult, in list order; throws std::length_error beyond kMaxSize.
  explicit MateRing(const std::vector<Individ>& adults);

  static constexpr std::size_t kMaxSize = 0x7FFF;

  std::size_t size() const { return size_; }
  // The member at `position` (0 is the head, below size()).
  std::size_t AdultAt(std::size_t position) const { return Head()[position] & ~kMale; }
  bool MaleAt(std::size_t position) const { return (Head()[position] & kMale) != 0; }

  // The first female at or after `start` (below size()), going on at the
  // head past the tail; size() when there is none. Most searches end in the
  // first four members, looked at here; the rest of the walk is out of line.
  std::size_t FirstFemaleFrom(std::size_t start) const {
    const std::uint64_t females = FemalesOfFour(start);
    if (females != 0) [[likely]] return start + LowestOfFour(females);  // below size(): the padding is male
    return FirstFemaleBeyondFour(start);
  }

  // Removes the member at `position`; the others keep their order. The
  // shorter side of the gap closes it: the members before it move one
  // place towards the tail, or those after it (and the padding) one place
  // towards the head.
  void Erase(std::size_t position) {
    std::uint16_t* const head = Head();
    if (position < size_ / 2) {
      std::copy_backward(head, head + position, head + position + 1);
      ++first_;
    } else {
      std::copy(head + position + 1, head + size_ + kPadding, head + position);
    }
    --size_;
  }

 private:
  static constexpr std::uint16_t kMale = 0x8000;
  // Males after the tail, so that a search four members at a time may read
  // past it and never finds anything there.
  static constexpr std::size_t kPadding = 4;

  const std::uint16_t* Head() const { return members_.data() + first_; }
  std::uint16_t* Head() { return members_.data() + first_; }
  // Four members at a time, as one 64-bit word: a female's top bit is
  // clear. The bits of the females among the four from `position`.
  std::uint64_t FemalesOfFour(std::size_t position) const {
    constexpr std::uint64_t kMaleBits = 0x8000'8000'8000'8000;
    std::uint64_t word;
    std::memcpy(&word, Head() + position, sizeof word);
    return ~word & kMaleBits;
  }
  // Which of the four the first female is.
  static std::size_t LowestOfFour(std::uint64_t females) {
    const int bit = std::endian::native == std::endian::little ? std::countr_zero(females)
                                                                : std::countl_zero(females);
    return static_cast<std::size_t>(bit) / 16;
  }
  std::size_t FirstFemaleBeyondFour(std::size_t start) const;
  // The first female from `position` up to the tail; size() when none.
  std::size_t FirstFemaleUpToTail(std::size_t position) const;

  std::vector<std::uint16_t> members_;
  std::size_t first_ = 0;  // members_[first_] is the head
  std::size_t size_ = 0;
};

}  // namespace talveron
