#include "core/order_index.h"

namespace talveron {

OrderIndex::OrderIndex(std::size_t size) : present_(size, 1), count_(size) {
  // The tree spans a power of two of slots, those beyond `size` present
  // forever: they come after every real member, so no position below
  // Count() reaches them, and the way down the tree needs no bounds check.
  while (span_ < size + 1) span_ *= 2;
  tree_.resize(span_ + 1);
  // Every slot present: node i covers (i - lowbit(i), i], so it holds lowbit(i).
  for (std::size_t i = 1; i <= span_; ++i) tree_[i] = static_cast<int>(i & (~i + 1));
}

void OrderIndex::Remove(std::size_t slot) {
  if (present_[slot] == 0) return;
  present_[slot] = 0;
  --count_;
  for (std::size_t i = slot + 1; i < tree_.size(); i += i & (~i + 1)) --tree_[i];
}

std::size_t OrderIndex::Select(std::size_t position) const {
  // Descend the tree: find the largest prefix holding `position` members.
  // Each step is taken or not by arithmetic, not by a branch: the way down
  // is as random as the position, and a guessed branch misses half the time.
  std::size_t node = 0;
  int remaining = static_cast<int>(position);
  for (std::size_t bit = span_ / 2; bit != 0; bit /= 2) {
    const int members = tree_[node + bit];
    const int take = -static_cast<int>(members <= remaining);  // all ones or zero
    node += bit & static_cast<std::size_t>(static_cast<std::ptrdiff_t>(take));
    remaining -= members & take;
  }
  return node;  // the 0-based slot is the 1-based node after the prefix
}

}  // namespace talveron
