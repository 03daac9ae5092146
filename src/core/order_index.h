// Positions in a list from which members are removed one at a time. The
// habitat cap picks adults by their position in the list; with members gone,
// the member k steps from the head is found here in a few steps, instead of
// moving the rest of the list up after every removal.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace talveron {

class OrderIndex {
 public:
  // All of slots 0..size-1 present.
  explicit OrderIndex(std::size_t size);

  std::size_t Count() const { return count_; }
  bool Contains(std::size_t slot) const { return present_[slot] != 0; }
  // The slot of the member at position `position` (0 is the head) among
  // those present; position must be below Count().
  std::size_t Select(std::size_t position) const;
  // Removes the member at `position`, as Select finds it.
  void RemoveAt(std::size_t position);

 private:
  // The slots in blocks of 64. Each block lists its present slots in order,
  // as offsets within the block, and `before_` holds, per block, how many
  // members the blocks before it have. A position lies in the last block
  // that starts at or before it; those starts are compared side by side,
  // with no chain of steps from one to the next, which is what makes this
  // fast.
  static constexpr std::size_t kBlock = 64;
  struct Block {
    // Twice the block: a removal moves a fixed 64 bytes, the tail of the
    // list and whatever follows it, without a copy of varying length.
    std::array<std::uint8_t, 2 * kBlock> offsets{};
  };
  std::size_t BlockOf(std::size_t position) const;

  std::vector<Block> blocks_;
  std::vector<int> before_;
  std::vector<char> present_;
  std::size_t count_;
};

}  // namespace talveron
