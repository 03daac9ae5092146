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
  // Lists of up to this many members.
  static constexpr std::size_t kMaxSize = 16383;

  // All of slots 0..size-1 present; throws std::length_error beyond kMaxSize.
  explicit OrderIndex(std::size_t size);

  std::size_t Count() const { return count_; }
  bool Contains(std::size_t slot) const { return present_[slot] != 0; }

  // Where the member at a position stands, as Find gives it; good until the
  // next removal.
  struct Place {
    std::size_t block;
    std::size_t rank;  // among the members of its block
  };
  // The place of the member at `position` (0 is the head) among those
  // present; position must be below Count().
  Place Find(std::size_t position) const;
  std::size_t SlotAt(Place place) const {
    return place.block * kBlock + blocks_[place.block].offsets[place.rank];
  }
  // Removes the member at `place`.
  void Remove(Place place);
  // Removes the member at `position` (below Count()) and returns its slot:
  // the same as Remove(Find(position)), in one walk of the block starts.
  std::size_t RemoveAt(std::size_t position);

  // The slot of the member at `position`.
  std::size_t Select(std::size_t position) const { return SlotAt(Find(position)); }

 private:
  // The slots in blocks of 64. Each block lists its present slots in order,
  // as offsets within the block, and `starts_` holds, per block, how many
  // members the blocks before it have. A position lies in the last block
  // that starts at or before it; those starts are compared eight at a time,
  // side by side, with no chain of steps from one to the next, which is
  // what makes this fast.
  static constexpr std::size_t kBlock = 64;
  static constexpr std::size_t kLanes = 8;
  struct Block {
    // Twice the block: a removal moves a fixed 64 bytes, the tail of the
    // list and whatever follows it, without a copy of varying length.
    std::array<std::uint8_t, 2 * kBlock> offsets{};
  };
  // Block starts in groups of eight. The lanes past the last block hold a
  // start after every position (kMaxSize and more, even after every
  // removal has counted them down), so they never count.
  using Starts = std::array<std::int16_t, kLanes>;

  // The block that holds `position`, from how many blocks start after it.
  Place PlaceOf(std::size_t position, const Starts& startingAfter) const;

  std::vector<Block> blocks_;
  std::vector<Starts> starts_;
  std::vector<char> present_;
  std::size_t count_;
};

}  // namespace talveron
