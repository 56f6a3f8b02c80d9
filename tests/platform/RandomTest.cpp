#include "Random.h"

#include <gtest/gtest.h>

using namespace platform;

TEST(Random, StartsFromZeroAndFollowsTheRecurrence) {
    SetRandomState(0);
    // state 1: (1 * 65536) >> 32 = 0; later states spread over the range.
    EXPECT_EQ(RandomDraw(65536), 0u);
    EXPECT_EQ(RandomState(), 1u);
    EXPECT_EQ(RandomDraw(65536), 2056u);
    EXPECT_EQ(RandomState(), 134775814u);
    EXPECT_EQ(RandomDraw(65536), 56429u);
    EXPECT_EQ(RandomDraw(65536), 13276u);
}

TEST(Random, DrawsStayBelowTheRangeAndWrapModulo2To32) {
    SetRandomState(0xFFFFFFFFu);
    EXPECT_EQ(RandomDraw(100), uint32_t((uint64_t(0xFFFFFFFFu * 134775813u + 1u) * 100) >> 32));
    for (int i = 0; i < 1000; ++i) EXPECT_LT(RandomDraw(7), 7u);
    EXPECT_EQ(RandomDraw(0), 0u);
    EXPECT_EQ(RandomDraw(1), 0u);
}
