// The octaves: each level the 2x2 mean of the one before, rounded, whatever the picture's
// width, stride and content; and their pixels' places in the picture.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "pyramid_p.h"

namespace {

using namespace scan39::reader;
using detail::BigArray;
using detail::Halve;
using detail::Pyramid;

struct HalveCase {
    int width, height, stride;
    int lo, hi;  // the grey levels drawn from
};

void PrintTo(const HalveCase& c, std::ostream* os) {
    *os << c.width << "x" << c.height << "_stride" << c.stride << "_" << c.lo << "-" << c.hi;
}

class Halving : public testing::TestWithParam<HalveCase> {};

TEST_P(Halving, EveryPixelTheRoundedMeanOfItsFour) {
    const HalveCase c = GetParam();
    std::mt19937 random(static_cast<unsigned>(c.width * 131 + c.height));
    std::uniform_int_distribution<int> grey(c.lo, c.hi);
    // Padding past each row's width holds a value the mean must never see.
    std::vector<std::uint8_t> pixels(static_cast<std::size_t>(c.stride) * c.height, 77);
    for (int y = 0; y < c.height; ++y)
        for (int x = 0; x < c.width; ++x)
            pixels[static_cast<std::size_t>(y) * c.stride + x] =
                static_cast<std::uint8_t>(grey(random));
    BigArray<std::uint8_t> out;
    const GreyView half = Halve({pixels.data(), c.width, c.height, c.stride}, out);
    ASSERT_EQ(half.width, c.width / 2);
    ASSERT_EQ(half.height, c.height / 2);
    for (int y = 0; y < half.height; ++y) {
        for (int x = 0; x < half.width; ++x) {
            const auto at = [&](int px, int py) {
                return pixels[static_cast<std::size_t>(py) * c.stride + px];
            };
            const int sum = at(2 * x, 2 * y) + at(2 * x + 1, 2 * y) + at(2 * x, 2 * y + 1) +
                            at(2 * x + 1, 2 * y + 1);
            ASSERT_EQ(half.data[static_cast<std::size_t>(y) * half.stride + x], (sum + 2) / 4)
                << "at " << x << "," << y;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Pictures, Halving,
    testing::Values(HalveCase{16, 4, 16, 0, 255},    // whole words only
                    HalveCase{17, 5, 17, 0, 255},    // an odd last row and column dropped
                    HalveCase{23, 6, 32, 0, 255},    // a tail shorter than a word, padded rows
                    HalveCase{6, 2, 6, 0, 255},      // narrower than one word
                    HalveCase{1, 1, 1, 0, 255},      // nothing left
                    HalveCase{64, 8, 64, 253, 255},  // lanes near their most: no carry
                    HalveCase{64, 8, 64, 0, 2},      // rounding of the smallest sums
                    HalveCase{1001, 9, 1003, 0, 255}));

// Halving again and again, whichever levels were asked for before.
TEST(Pyramid, ALevelIsTheSameWithOrWithoutTheOneBetween) {
    struct Row {
        int width, height, stride;
        std::vector<int> asked;  // levels asked for first, in order
        int k;
    };
    for (const Row& r :
         {Row{203, 97, 203, {}, 2}, Row{203, 97, 210, {1}, 2}, Row{203, 97, 203, {2}, 4},
          Row{203, 97, 203, {1, 2, 3}, 4}, Row{203, 97, 203, {2}, 3}, Row{37, 9, 40, {}, 2}}) {
        std::mt19937 random(static_cast<unsigned>(r.width + r.k));
        std::vector<std::uint8_t> pixels(static_cast<std::size_t>(r.stride) * r.height);
        for (std::uint8_t& p : pixels) p = static_cast<std::uint8_t>(random());
        const GreyView base{pixels.data(), r.width, r.height, r.stride};
        BigArray<std::uint8_t> a, b;
        GreyView expected = base;
        for (int i = 0; i < r.k; ++i) {
            BigArray<std::uint8_t>& out = i % 2 ? b : a;
            expected = Halve(expected, out);
        }
        Pyramid pyramid(base);
        for (int k : r.asked) ASSERT_NE(pyramid.Level(k, 1), nullptr) << k;
        const GreyView* level = pyramid.Level(r.k, 1);
        ASSERT_NE(level, nullptr);
        ASSERT_EQ(level->width, expected.width);
        ASSERT_EQ(level->height, expected.height);
        for (int y = 0; y < expected.height; ++y)
            for (int x = 0; x < expected.width; ++x)
                ASSERT_EQ(level->data[y * level->stride + x],
                          expected.data[y * expected.stride + x])
                    << "level " << r.k << " at " << x << "," << y;
    }
}

TEST(Pyramid, LevelsHalveUntilTheSmallestSide) {
    std::vector<std::uint8_t> pixels(400 * 130, 200);
    Pyramid pyramid({pixels.data(), 400, 130, 400});
    struct Row {
        int k, width, height;
    };
    for (const Row r : {Row{0, 400, 130}, Row{1, 200, 65}, Row{2, 100, 32}}) {
        const GreyView* level = pyramid.Level(r.k, 32);
        ASSERT_NE(level, nullptr) << r.k;
        EXPECT_EQ(level->width, r.width) << r.k;
        EXPECT_EQ(level->height, r.height) << r.k;
        EXPECT_EQ(level->data[0], 200) << r.k;
    }
    EXPECT_EQ(pyramid.Level(3, 32), nullptr);  // 16 rows
    EXPECT_EQ(pyramid.Level(5, 32), nullptr);
    // Asked for straight from the picture, the same sides and limits.
    Pyramid straight({pixels.data(), 400, 130, 400});
    ASSERT_NE(straight.Level(2, 32), nullptr);
    EXPECT_EQ(straight.Level(2, 32)->height, 32);
    EXPECT_EQ(straight.Level(4, 32), nullptr);
    EXPECT_EQ(straight.Level(2, 33), nullptr);
}

TEST(Pyramid, ALevelsPixelCentresOnThoseItCovers) {
    struct Row {
        Point level;
        int k;
        Point picture;
    };
    for (const Row r : {Row{{0, 0}, 0, {0, 0}}, Row{{0, 0}, 1, {0.5, 0.5}},
                        Row{{3, 1}, 2, {13.5, 5.5}}, Row{{10, 0}, 3, {83.5, 3.5}}}) {
        const Point p = Pyramid::ToPicture(r.level, r.k);
        EXPECT_DOUBLE_EQ(p.x, r.picture.x) << r.k;
        EXPECT_DOUBLE_EQ(p.y, r.picture.y) << r.k;
    }
}

}  // namespace
