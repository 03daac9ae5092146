#include "core/order_index.h"

#include <cstring>
#include <stdexcept>

namespace talveron {

OrderIndex::OrderIndex(std::size_t size)
    : blocks_((size + kBlock - 1) / kBlock),
      starts_((blocks_.size() + kLanes - 1) / kLanes),
      blockOf_(starts_.size()),
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
    blockOf_[b / kLanes][b % kLanes] = static_cast<std::int16_t>(b);
  }
}

// An empty block starts where the next one does, so the last block that
// starts at or before a position below Count() is never an empty one. The
// blocks that start at or before the position are counted lane by lane and
// the lanes added up at the end.
OrderIndex::Place OrderIndex::Find(std::size_t position) const {
  const auto wanted = static_cast<std::int16_t>(position);
  Starts counted{};
  for (const Starts& group : starts_) {
    for (std::size_t lane = 0; lane < kLanes; ++lane) {
      counted[lane] = static_cast<std::int16_t>(counted[lane] + (group[lane] <= wanted ? 1 : 0));
    }
  }
  int starting = 0;
  for (std::int16_t count : counted) starting += count;
  const auto block = static_cast<std::size_t>(starting - 1);
  const auto start = static_cast<std::size_t>(starts_[block / kLanes][block % kLanes]);
  return {block, position - start};
}

// Every block after the member's starts one earlier. Each group's lanes are
// compared with the member's block, so the walk has the same steps whatever
// the block: a loop that stopped at it would end at a different step every
// time, a branch the processor could only guess.
void OrderIndex::Remove(Place place) {
  std::uint8_t* const gone = blocks_[place.block].offsets.data() + place.rank;
  present_[place.block * kBlock + *gone] = 0;
  --count_;
  std::uint8_t rest[kBlock];
  std::memcpy(rest, gone + 1, kBlock);
  std::memcpy(gone, rest, kBlock);

  const auto block = static_cast<std::int16_t>(place.block);
  for (std::size_t g = 0; g < starts_.size(); ++g) {
    for (std::size_t lane = 0; lane < kLanes; ++lane) {
      const bool after = blockOf_[g][lane] > block;
      starts_[g][lane] = static_cast<std::int16_t>(starts_[g][lane] - (after ? 1 : 0));
    }
  }
}

}  // namespace talveron
