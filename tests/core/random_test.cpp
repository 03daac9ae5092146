#include <gtest/gtest.h>
#include "core/random.h"
TEST(Randomize, PlaceholderCompiles) { talveron::Rng rng(1); EXPECT_EQ(rng.Randomize(1), 0); }
