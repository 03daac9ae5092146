#include "model/mate_ring.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <vector>

#include "model/random.h"

namespace talveron {
namespace {

// The ring must agree with the plain way, a vector of the members left and
// a walk member by member, while random members leave it from both sides:
// the first female from every start (within the first word, across words,
// past the tail), and none once only males are left.
TEST(MateRing, AgreesWithAPlainListUnderRandomRemovals) {
  for (std::size_t size : {std::size_t{1}, std::size_t{5}, std::size_t{9}, std::size_t{300}}) {
    Rng rng(size);
    std::vector<Individ> adults(size);
    std::vector<std::size_t> plain(size);
    for (std::size_t i = 0; i < size; ++i) {
      adults[i].sex = rng.Randomize(3) != 0;  // two males in three: long runs of males
      plain[i] = i;
    }
    MateRing ring(adults);
    while (!plain.empty()) {
      ASSERT_EQ(ring.size(), plain.size());
      for (std::size_t start = 0; start < plain.size(); ++start) {
        std::size_t expected = plain.size();
        for (std::size_t step = 0; step < plain.size(); ++step) {
          const std::size_t at = (start + step) % plain.size();
          if (!adults[plain[at]].sex) {
            expected = at;
            break;
          }
        }
        ASSERT_EQ(ring.FirstFemaleFrom(start), expected) << "size " << size << ", start " << start;
        ASSERT_EQ(ring.AdultAt(start), plain[start]);
        ASSERT_EQ(ring.MaleAt(start), adults[plain[start]].sex);
      }
      const auto position = static_cast<std::size_t>(rng.Randomize(static_cast<int>(plain.size())));
      ring.Erase(position);
      plain.erase(plain.begin() + static_cast<std::ptrdiff_t>(position));
    }
  }
}

TEST(MateRing, RefusesMoreMembersThanItCanHold) {
  EXPECT_THROW(MateRing(std::vector<Individ>(MateRing::kMaxSize + 1)), std::length_error);
}

}  // namespace
}  // namespace talveron
