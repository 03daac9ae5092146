#include "core/order_index.h"

#include <cstring>
#include <stdexcept>

namespace talveron {
namespace {

// Per lane of a group of block starts, 1 in the lanes after it, 0 in the
// others.
constexpr auto kLanesAfter = [] {
  constexpr std::size_t kLanes = 8;
  std::array<std::array<std::int16_t, kLanes>, kLanes> after{};
  for (std::size_t lane = 0; lane < kLanes; ++lane) {
    for (std::size_t other = lane + 1; other < kLanes; ++other) after[lane][other] = 1;
  }
  return after;
}();

}  // namespace

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

// Every block after the member's starts one earlier: in its own group the
// lanes after its own, then every lane of the later groups.
void OrderIndex::Remove(Place place) {
  std::uint8_t* const gone = blocks_[place.block].offsets.data() + place.rank;
  present_[place.block * kBlock + *gone] = 0;
  --count_;
  std::uint8_t rest[kBlock];
  std::memcpy(rest, gone + 1, kBlock);
  std::memcpy(gone, rest, kBlock);

  const std::size_t own = place.block / kLanes;
  const Starts& later = kLanesAfter[place.block % kLanes];
  for (std::size_t lane = 0; lane < kLanes; ++lane) {
    starts_[own][lane] = static_cast<std::int16_t>(starts_[own][lane] - later[lane]);
  }
  for (std::size_t g = own + 1; g < starts_.size(); ++g) {
    for (std::int16_t& start : starts_[g]) start = static_cast<std::int16_t>(start - 1);
  }
}

}  // namespace talveron
