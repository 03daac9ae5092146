#include "model/order_index.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <vector>

#include "model/random.h"

namespace talveron {
namespace {

// The index must agree with the plain way: a vector of the members left,
// erased from as they go, by a removal at a place found or one at a
// position, in turn. Sizes with a last block part full, a last group of
// eight blocks part full, and the largest.
TEST(OrderIndex, AgreesWithAPlainListUnderRandomRemovals) {
  for (std::size_t size : {std::size_t{1}, std::size_t{2}, std::size_t{7}, std::size_t{640},
                           std::size_t{2560}, std::size_t{2561}, OrderIndex::kMaxSize}) {
    OrderIndex index(size);
    std::vector<std::size_t> plain(size);
    for (std::size_t i = 0; i < size; ++i) plain[i] = i;
    Rng rng(size);
    while (!plain.empty()) {
      ASSERT_EQ(index.Count(), plain.size());
      const auto position = static_cast<std::size_t>(rng.Randomize(static_cast<int>(plain.size())));
      ASSERT_EQ(index.Select(position), plain[position]);
      ASSERT_TRUE(index.Contains(plain[position]));
      if (plain.size() % 2 == 0) {
        index.Remove(index.Find(position));
      } else {
        ASSERT_EQ(index.RemoveAt(position), plain[position]);
      }
      EXPECT_FALSE(index.Contains(plain[position]));
      plain.erase(plain.begin() + static_cast<std::ptrdiff_t>(position));
    }
    EXPECT_EQ(index.Count(), 0u);
  }
}

// A list too long for the index is refused, not mishandled.
TEST(OrderIndex, RefusesMoreMembersThanItCanCount) {
  EXPECT_THROW(OrderIndex(OrderIndex::kMaxSize + 1), std::length_error);
}

}  // namespace
}  // namespace talveron
