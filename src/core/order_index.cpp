#include "core/order_index.h"

#include <algorithm>

namespace talveron {

OrderIndex::OrderIndex(std::size_t size)
    : blocks_((size + kBlock - 1) / kBlock), before_(blocks_.size()), present_(size, 1), count_(size) {
  for (std::size_t b = 0; b < blocks_.size(); ++b) {
    Block& block = blocks_[b];
    block.count = static_cast<int>(std::min(kBlock, size - b * kBlock));
    for (int offset = 0; offset < block.count; ++offset) block.offsets[static_cast<std::size_t>(offset)] = static_cast<std::uint8_t>(offset);
    before_[b] = static_cast<int>(b * kBlock);
  }
}

void OrderIndex::Remove(std::size_t slot) {
  if (present_[slot] == 0) return;
  present_[slot] = 0;
  --count_;
  const std::size_t b = slot / kBlock;
  Block& block = blocks_[b];
  // Its place in the block's list: the number of present slots before it.
  const auto offset = static_cast<std::uint8_t>(slot % kBlock);
  int index = 0;
  for (int k = 0; k < block.count; ++k) index += block.offsets[static_cast<std::size_t>(k)] < offset ? 1 : 0;
  std::uint8_t* const first = block.offsets.data();
  std::copy(first + index + 1, first + block.count, first + index);
  --block.count;
  for (std::size_t later = b + 1; later < before_.size(); ++later) --before_[later];
}

std::size_t OrderIndex::Select(std::size_t position) const {
  // An empty block starts where the next one does, so the last block that
  // starts at or before the position is never an empty one.
  const int wanted = static_cast<int>(position);
  int starting = 0;
  for (int start : before_) starting += start <= wanted ? 1 : 0;
  const auto b = static_cast<std::size_t>(starting - 1);
  return b * kBlock + blocks_[b].offsets[position - static_cast<std::size_t>(before_[b])];
}

}  // namespace talveron
