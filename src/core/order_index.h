// Positions in a list from which members are removed one at a time. The
// habitat cap picks adults by their position in the list; with members gone,
// the member k steps from the head is found here in O(log n), instead of
// moving the rest of the list up after every removal.
#pragma once

#include <cstddef>
#include <vector>

namespace talveron {

class OrderIndex {
 public:
  // All of slots 0..size-1 present.
  explicit OrderIndex(std::size_t size);

  std::size_t Count() const { return count_; }
  bool Contains(std::size_t slot) const { return present_[slot] != 0; }
  void Remove(std::size_t slot);
  // The slot of the member at position `position` (0 is the head) among
  // those present; position must be below Count().
  std::size_t Select(std::size_t position) const;

 private:
  std::vector<int> tree_;  // Fenwick tree of presence, 1-based, over span_ slots
  std::vector<char> present_;
  std::size_t count_;
  std::size_t span_ = 1;  // a power of two above the number of slots
};

}  // namespace talveron
