// The adult list while Reproduction serves its females, in list order. Each
// member is its position in the adult list and whether it is a male, in 16
// bits (there are at most 2560 adults, one per cell), so that walks over the
// ring need not visit the records and a removal moves little memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "core/individual.h"

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
  // head past the tail; size() when there is none.
  std::size_t FirstFemaleFrom(std::size_t start) const;

  // Removes the member at `position`; the others keep their order.
  void Erase(std::size_t position);

 private:
  static constexpr std::uint16_t kMale = 0x8000;
  // Males after the tail, so that a search four members at a time may read
  // past it and never finds anything there.
  static constexpr std::size_t kPadding = 4;

  const std::uint16_t* Head() const { return members_.data() + first_; }
  std::uint16_t* Head() { return members_.data() + first_; }
  // The first female from `position` up to the tail; size() when none.
  std::size_t FirstFemaleUpToTail(std::size_t position) const;

  std::vector<std::uint16_t> members_;
  std::size_t first_ = 0;  // members_[first_] is the head
  std::size_t size_ = 0;
};

}  // namespace talveron
