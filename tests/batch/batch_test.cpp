#include <gtest/gtest.h>
TEST(Batch, Placeholder) { SUCCEED(); }
