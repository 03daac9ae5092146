#include <gtest/gtest.h>

#include <vector>

#include "core/order_index.h"
#include "core/random.h"

namespace talveron {
namespace {

// The index must agree with the plain way: a vector of the members left,
// erased from as they go.
TEST(OrderIndex, AgreesWithAPlainListUnderRandomRemovals) {
  for (std::size_t size : {1u, 2u, 7u, 640u, 2560u}) {
    OrderIndex index(size);
    std::vector<std::size_t> plain(size);
    for (std::size_t i = 0; i < size; ++i) plain[i] = i;
    Rng rng(size);
    while (!plain.empty()) {
      ASSERT_EQ(index.Count(), plain.size());
      const auto position = static_cast<std::size_t>(rng.Randomize(static_cast<int>(plain.size())));
      ASSERT_EQ(index.Select(position), plain[position]);
      ASSERT_TRUE(index.Contains(plain[position]));
      index.RemoveAt(position);
      EXPECT_FALSE(index.Contains(plain[position]));
      plain.erase(plain.begin() + static_cast<std::ptrdiff_t>(position));
    }
    EXPECT_EQ(index.Count(), 0u);
  }
}

}  // namespace
}  // namespace talveron
