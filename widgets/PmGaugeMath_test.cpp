// The gauge's mappings, case by case.
#include "widgets/PmGaugeMath.h"

#include <gtest/gtest.h>

#include <climits>

namespace brenwick {
namespace {

TEST(PmGaugeMath, PercentDoneRoundsHalvesToEven) {
    struct Case {
        std::int32_t min, max, progress, percent;
    } cases[] = {
        {0, 100, 42, 42},      {0, 200, 1, 0},   // 0.5 -> 0
        {0, 200, 3, 2},        {0, 200, 5, 2},   // 1.5 -> 2, 2.5 -> 2
        {0, 1000000, 1004, 0}, {20, 20, 20, 0},  // an empty range shows 0
        {-100, 100, 0, 50},    {INT_MIN, INT_MAX, INT_MAX, 100},
    };
    for (const Case& c : cases)
        EXPECT_EQ(PercentDone(c.min, c.max, c.progress), c.percent)
            << c.min << ".." << c.max << " @" << c.progress;
}

TEST(PmGaugeMath, FillWidthAndTextOrigin) {
    const TGaugeRect framed = BarRect(100, 16, true);  // 1,1 .. 99,15: W = 99
    const TGaugeRect bare = BarRect(94, 16, false);    // W = 95
    EXPECT_EQ(framed.Left, 1);
    EXPECT_EQ(framed.Bottom, 15);
    struct Case {
        TGaugeRect bar;
        int percent, fill;
    } cases[] = {{framed, 0, 0}, {framed, 50, 50}, {framed, 100, 99}, {bare, 50, 48}, {bare, 100, 95}};
    for (const Case& c : cases) EXPECT_EQ(FillWidth(c.percent, c.bar), c.fill) << c.percent;

    EXPECT_FALSE(TextOrigin(20, bare, 21, 13));  // narrower than the text: dropped
    const auto at = TextOrigin(48, bare, 21, 13);
    ASSERT_TRUE(at);
    EXPECT_EQ(at->x, (49 - 21) / 2);
    EXPECT_EQ(at->y, (17 - 13) / 2);
    EXPECT_EQ(TextOrigin(0, bare, 0, 13)->x, 0);  // (1 - 0) / 2 rounds toward zero
}

TEST(PmGaugeMath, Texts) {
    EXPECT_EQ(PercentText(42), "42%");
    EXPECT_EQ(RangeErrorText(21, 2147483647), "Value must be between 21 and 2147483647");
}

}  // namespace
}  // namespace brenwick
