#include "core/order_index.h"

#include <cstring>

namespace talveron {

OrderIndex::OrderIndex(std::size_t size)
    : blocks_((size + kBlock - 1) / kBlock), before_(blocks_.size()), present_(size, 1), count_(size) {
  for (std::size_t b = 0; b < blocks_.size(); ++b) {
    for (std::size_t offset = 0; offset < kBlock; ++offset) {
      blocks_[b].offsets[offset] = static_cast<std::uint8_t>(offset);
    }
    before_[b] = static_cast<int>(b * kBlock);
  }
}

// An empty block starts where the next one does, so the last block that
// starts at or before a position below Count() is never an empty one.
std::size_t OrderIndex::BlockOf(std::size_t position) const {
  const int wanted = static_cast<int>(position);
  int starting = 0;
  for (int start : before_) starting += start <= wanted ? 1 : 0;
  return static_cast<std::size_t>(starting - 1);
}

std::size_t OrderIndex::Select(std::size_t position) const {
  const std::size_t b = BlockOf(position);
  return b * kBlock + blocks_[b].offsets[position - static_cast<std::size_t>(before_[b])];
}

void OrderIndex::RemoveAt(std::size_t position) {
  const std::size_t b = BlockOf(position);
  std::uint8_t* const gone = blocks_[b].offsets.data() + (position - static_cast<std::size_t>(before_[b]));
  present_[b * kBlock + *gone] = 0;
  --count_;
  std::uint8_t rest[kBlock];
  std::memcpy(rest, gone + 1, kBlock);
  std::memcpy(gone, rest, kBlock);
  for (std::size_t later = b + 1; later < before_.size(); ++later) --before_[later];
}

}  // namespace talveron
