#include "model/order_index.h"

#include <cstring>
#include <stdexcept>

namespace talveron {

OrderIndex::OrderIndex(std::size_t size)
    : blocks_((size + kBlock - 1) / kBlock),
      starts_((blocks_.size() + kLanes - 1) / kLanes),
      present_(size, 1),
      count_(size) {
  if (size > kMaxSize) throw std::length_error("OrderIndex: more than 16383 members");
  for (std::size_t b = 0; b < blocks_.size(); ++b) {
    for (std::size_t offset = 0; offset < kBlock; ++offset) {
      blocks_[b].offsets[offset] = static_cast<std::uint8_t>(offset);
    }
  }
  for (std::size_t b = 0; b < starts_.size() * kLanes; ++b) {
    const std::size_t start = b < blocks_.size() ? b * kBlock : 2 * kMaxSize + 1;
    starts_[b / kLanes][b % kLanes] = static_cast<std::int16_t>(start);
  }
}

// A position lies in the last block that starts at or before it, that is
// in the block before the first of those that start after it. An empty
// block starts where the next one does, so that block is never an empty one.
OrderIndex::Place OrderIndex::PlaceOf(std::size_t position, const Starts& startingAfter) const {
  int starting = static_cast<int>(starts_.size() * kLanes);
  for (std::int16_t count : startingAfter) starting -= count;
  const auto block = static_cast<std::size_t>(starting - 1);
  const auto start = static_cast<std::size_t>(starts_[block / kLanes][block % kLanes]);
  return {block, position - start};
}

// The blocks that start after the position are counted lane by lane, with
// no chain of steps from one group to the next.
OrderIndex::Place OrderIndex::Find(std::size_t position) const {
  const auto wanted = static_cast<std::int16_t>(position);
  Starts after{};
  for (const Starts& group : starts_) {
    for (std::size_t lane = 0; lane < kLanes; ++lane) {
      after[lane] = static_cast<std::int16_t>(after[lane] + (group[lane] > wanted ? 1 : 0));
    }
  }
  return PlaceOf(position, after);
}

// The member's position is its block's start and its rank there.
void OrderIndex::Remove(Place place) {
  const auto start = static_cast<std::size_t>(starts_[place.block / kLanes][place.block % kLanes]);
  RemoveAt(start + place.rank);
}

// The blocks after the member's are exactly those that start after its
// position: the next one starts past the member, and every block before
// it, even an empty one, starts no later than the member's own block. So
// one comparison per lane both counts them, as Find does, and moves each of
// them one earlier; the member's own block does not move, so its start is
// still the one Find would read. Every lane is compared with the position,
// so the walk has the same steps whatever the block: a loop that stopped at
// it would end at a different step every time, a branch the processor
// could only guess.
std::size_t OrderIndex::RemoveAt(std::size_t position) {
  const auto wanted = static_cast<std::int16_t>(position);
  Starts after{};
  for (Starts& group : starts_) {
    for (std::size_t lane = 0; lane < kLanes; ++lane) {
      const std::int16_t later = group[lane] > wanted ? 1 : 0;
      after[lane] = static_cast<std::int16_t>(after[lane] + later);
      group[lane] = static_cast<std::int16_t>(group[lane] - later);
    }
  }
  const Place place = PlaceOf(position, after);
  std::uint8_t* const gone = blocks_[place.block].offsets.data() + place.rank;
  const std::size_t slot = place.block * kBlock + *gone;
  present_[slot] = 0;
  --count_;
  std::uint8_t rest[kBlock];
  std::memcpy(rest, gone + 1, kBlock);
  std::memcpy(gone, rest, kBlock);
  return slot;
}

}  // namespace talveron
