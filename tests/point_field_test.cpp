#include <gtest/gtest.h>

#include <cstdint>

#include "scene/point_field.h"

namespace {

// The seed whose first draw is `draw`, found by running the generator's step backwards:
// 214013 is odd, so it has an inverse modulo 2^32.
std::uint32_t SeedForFirstDraw(int draw) {
    std::uint32_t inverse = 214013u;
    for (int i = 0; i < 5; ++i) {
        inverse *= 2u - 214013u * inverse; // Newton's step doubles the correct low bits
    }
    const std::uint32_t state = static_cast<std::uint32_t>(draw) << 16;
    return (state - 2531011u) * inverse;
}

void ExpectPointNear(const SpritePoint& point, double x, double y, double z) {
    EXPECT_NEAR(point.x, x, 5e-6);
    EXPECT_NEAR(point.y, y, 5e-6);
    EXPECT_NEAR(point.z, z, 5e-6);
}

} // namespace

TEST(RandomGenerator, ReproducesTheKnownSequences) {
    SeedRandom(1);
    for (int expected : {41, 18467, 6334, 26500, 19169, 15724}) {
        EXPECT_EQ(NextRandom(), expected);
    }
    SeedRandom(0);
    for (int expected : {38, 7719, 21238}) {
        EXPECT_EQ(NextRandom(), expected);
    }
}

TEST(RandomGenerator, DrawsStayInFifteenBitsOverALongRun) {
    SeedRandom(0xDEADBEEFu);
    int lowest = 32767;
    int highest = 0;
    for (int i = 0; i < 200000; ++i) {
        const int draw = NextRandom();
        ASSERT_GE(draw, 0);
        ASSERT_LE(draw, 32767);
        lowest = draw < lowest ? draw : lowest;
        highest = draw > highest ? draw : highest;
    }
    EXPECT_EQ(lowest, 0);
    EXPECT_EQ(highest, 32767);
}

TEST(PointPlacement, MatchesTheKnownPositionsForSeedsOneAndZero) {
    SeedRandom(1);
    auto field = BuildPointField(2);
    ASSERT_NE(field, nullptr);
    ExpectPointNear(field[0], -4.98749, 0.63585, -9.20087);
    ExpectPointNear(field[1], 3.08740, 0.85009, -0.60381);

    SeedRandom(0);
    field = BuildPointField(1);
    ASSERT_NE(field, nullptr);
    ExpectPointNear(field[0], -4.98840, -2.64428, 4.44456);
}

TEST(PointPlacement, ReachesBothEndsOfTheBoxExactly) {
    SeedRandom(SeedForFirstDraw(32767));
    SpritePoint high{};
    high.Randomize();
    EXPECT_EQ(high.x, 5.0f);

    SeedRandom(SeedForFirstDraw(0));
    SpritePoint low{};
    low.Randomize();
    EXPECT_EQ(low.x, -5.0f);
}

TEST(PointPlacement, EveryPointOfAFieldLiesInsideTheBox) {
    for (std::uint32_t seed : {0u, 1u, 12345u, 0xFFFFFFFFu}) {
        SeedRandom(seed);
        auto field = BuildPointField(300);
        ASSERT_NE(field, nullptr);
        for (int i = 0; i < 300; ++i) {
            EXPECT_GE(field[i].x, -5.0f);
            EXPECT_LE(field[i].x, 5.0f);
            EXPECT_GE(field[i].y, -5.0f);
            EXPECT_LE(field[i].y, 5.0f);
            EXPECT_GE(field[i].z, -15.0f);
            EXPECT_LE(field[i].z, 15.0f);
        }
    }
}

TEST(PointPlacement, TheFieldDependsOnlyOnTheSeed) {
    SeedRandom(777);
    auto first = BuildPointField(300);
    NextRandom(); // disturb the generator between the two builds
    SeedRandom(777);
    auto second = BuildPointField(300);
    SeedRandom(778);
    auto other = BuildPointField(300);
    ASSERT_TRUE(first && second && other);

    int differing = 0;
    for (int i = 0; i < 300; ++i) {
        EXPECT_EQ(first[i].x, second[i].x);
        EXPECT_EQ(first[i].y, second[i].y);
        EXPECT_EQ(first[i].z, second[i].z);
        differing += first[i].x != other[i].x ? 1 : 0;
    }
    EXPECT_GT(differing, 250);
}

TEST(PointStep, MovesAwayAndWrapsToTheNearEndDroppingTheOvershoot) {
    SpritePoint point{1.5f, -2.5f, 0.0f};
    StepPoint(point);
    EXPECT_FLOAT_EQ(point.z, -0.15f);
    EXPECT_EQ(point.x, 1.5f);
    EXPECT_EQ(point.y, -2.5f);

    point.z = -14.9f;
    StepPoint(point);
    EXPECT_EQ(point.z, 15.0f);

    point.z = -14.85f; // lands on the far end itself, which does not wrap
    StepPoint(point);
    EXPECT_FLOAT_EQ(point.z, -15.0f);
}

TEST(PointStep, APointFromTheNearEndStaysTwoHundredStepsAndReturnsOnStep201) {
    SpritePoint point{0.0f, 0.0f, 15.0f};
    for (int step = 1; step <= 200; ++step) {
        StepPoint(point);
        ASSERT_GE(point.z, -15.0f) << "step " << step;
        ASSERT_LT(point.z, 15.0f) << "step " << step;
    }
    EXPECT_LT(point.z, -14.8f);
    StepPoint(point);
    EXPECT_EQ(point.z, 15.0f);
}

TEST(PointStep, EveryPointRepeatsWithAPeriodOf201FramesOnceWrapped) {
    SeedRandom(4242);
    auto field = BuildPointField(300);
    ASSERT_NE(field, nullptr);
    for (int frame = 0; frame < 201; ++frame) { // long enough for every point to have wrapped
        for (int i = 0; i < 300; ++i) {
            StepPoint(field[i]);
        }
    }
    SpritePoint snapshot[300];
    for (int i = 0; i < 300; ++i) {
        snapshot[i] = field[i];
    }
    for (int frame = 0; frame < 201; ++frame) {
        for (int i = 0; i < 300; ++i) {
            StepPoint(field[i]);
        }
    }
    for (int i = 0; i < 300; ++i) {
        EXPECT_EQ(field[i].z, snapshot[i].z) << "point " << i;
    }
}
