#include "core/order_index.h"

namespace talveron {

OrderIndex::OrderIndex(std::size_t size) : tree_(size + 1, 0), present_(size, 1), count_(size) {
  // Every slot present: node i covers (i - lowbit(i), i], so it holds lowbit(i).
  for (std::size_t i = 1; i <= size; ++i) tree_[i] = static_cast<int>(i & (~i + 1));
  while (topBit_ * 2 <= size) topBit_ *= 2;
}

void OrderIndex::Remove(std::size_t slot) {
  if (present_[slot] == 0) return;
  present_[slot] = 0;
  --count_;
  for (std::size_t i = slot + 1; i < tree_.size(); i += i & (~i + 1)) --tree_[i];
}

std::size_t OrderIndex::Select(std::size_t position) const {
  // Descend the tree: find the largest prefix holding `position` members.
  std::size_t node = 0;
  int remaining = static_cast<int>(position);
  for (std::size_t bit = topBit_; bit != 0; bit /= 2) {
    const std::size_t next = node + bit;
    if (next >= tree_.size()) continue;
    // Taken or not by selection, not by a branch: the way down is as
    // random as the position, and a guessed branch would miss half the time.
    const int members = tree_[next];
    const bool take = members <= remaining;
    node = take ? next : node;
    remaining -= take ? members : 0;
  }
  return node;  // the 0-based slot is the 1-based node after the prefix
}

}  // namespace talveron
