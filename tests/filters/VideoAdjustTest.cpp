// Luma gain, hue and saturation: table values, clamps and byte results.
#include <algorithm>
#include <vector>

#include <gtest/gtest.h>

#include "filters/VideoAdjust.h"

namespace {

TEST(VideoAdjust, TrigTables) {
    struct {
        int deg;
        int sine, cosine;
    } const cases[] = {
        {0, 0, 128},    {90, 127, 0},    {-90, -127, 0}, {180, 0, -127},
        {-180, 0, -127}, {45, 90, 90},   {30, 63, 110},  {-500, 0, -127},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(CVideoAdjust::Sine(c.deg), c.sine) << c.deg;
        EXPECT_EQ(CVideoAdjust::Cosine(c.deg), c.cosine) << c.deg;
    }
}

TEST(VideoAdjust, ClampsSettings) {
    struct {
        int gain, hue, sat;
        int wantGain, wantHue, wantSat;
    } const cases[] = {
        {-1, -500, 200, 0, -180, 128},
        {1000, 500, -3, 256, 180, 0},
        {128, 0, 64, 128, 0, 64},
        {INT32_MIN, INT32_MAX, INT32_MIN, 0, 180, 0},
    };
    for (const auto& c : cases) {
        CVideoAdjust a;
        a.Set(c.gain, c.hue, c.sat);
        EXPECT_EQ(a.LumaGain(), c.wantGain);
        EXPECT_EQ(a.Hue(), c.wantHue);
        EXPECT_EQ(a.Saturation(), c.wantSat);
    }
}

// One luma byte through a given gain.
uint8_t Luma(int gain, uint8_t y) {
    CVideoAdjust a;
    a.Set(gain, 0, 64);
    a.Apply(&y, 1, nullptr, nullptr, 0);
    return y;
}

TEST(VideoAdjust, LumaGain) {
    struct {
        int gain;
        uint8_t in, out;
    } const cases[] = {
        {128, 200, 200}, {256, 100, 200}, {256, 127, 254}, {256, 128, 255}, {256, 255, 255},
        {0, 255, 0},     {0, 16, 0},      {64, 201, 100},  {129, 255, 255}, {129, 100, 100},
        {200, 150, 234}, {-1, 200, 0},
    };
    for (const auto& c : cases) EXPECT_EQ(Luma(c.gain, c.in), c.out) << c.gain << " " << int(c.in);
}

// One chroma pair (first plane, second plane) through hue and saturation.
std::pair<int, int> Chroma(int hue, int sat, uint8_t first, uint8_t second) {
    CVideoAdjust a;
    a.Set(128, hue, sat);
    a.Apply(nullptr, 0, &first, &second, 1);
    return {first, second};
}

TEST(VideoAdjust, HueAndSaturationBytes) {
    struct {
        int hue, sat;
        uint8_t a, b;
        int wantA, wantB;
    } const cases[] = {
        {180, 64, 228, 128, 28, 128},  // -127/128 of +100, floor
        {180, 64, 28, 128, 227, 128},  // -127/128 of -100
        {0, 64, 200, 50, 200, 50},     // neutral
        {0, 128, 228, 28, 255, 0},     // doubled and clamped
        {0, 0, 228, 28, 128, 128},     // grey
        {0, 32, 228, 27, 178, 77},     // halved, arithmetic shift
        {90, 64, 228, 128, 128, 29},   // a2 = 0 + 0, b2 = -(100*127 >> 7)
        {-90, 64, 128, 228, 28, 128},
        {-180, 64, 0, 255, 255, 1},
    };
    for (const auto& c : cases) {
        auto [a, b] = Chroma(c.hue, c.sat, c.a, c.b);
        EXPECT_EQ(a, c.wantA) << c.hue << "/" << c.sat << " " << int(c.a) << "," << int(c.b);
        EXPECT_EQ(b, c.wantB) << c.hue << "/" << c.sat << " " << int(c.a) << "," << int(c.b);
    }
}

// The tables must give exactly the direct integer formula for every pair.
TEST(VideoAdjust, TablesMatchTheFormulaForEveryPair) {
    const std::pair<int, int> settings[] = {{-180, 0}, {-90, 128}, {-37, 100}, {45, 64},
                                            {180, 64}, {0, 128},   {30, 1},     {179, 127}};
    std::vector<uint8_t> first(65536), second(65536);
    for (auto [hue, sat] : settings) {
        for (int i = 0; i < 65536; ++i) {
            first[i] = uint8_t(i >> 8);
            second[i] = uint8_t(i);
        }
        CVideoAdjust adj;
        adj.Set(128, hue, sat);
        adj.Apply(nullptr, 0, first.data(), second.data(), first.size());
        const int cs = CVideoAdjust::Cosine(hue), sn = CVideoAdjust::Sine(hue);
        for (int i = 0; i < 65536; ++i) {
            int a = (i >> 8) - 128, b = (i & 255) - 128;
            int a2 = ((a * cs) >> 7) + ((b * sn) >> 7);
            int b2 = ((b * cs) >> 7) - ((a * sn) >> 7);
            int wantA = std::clamp(((a2 * sat) >> 6) + 128, 0, 255);
            int wantB = std::clamp(((b2 * sat) >> 6) + 128, 0, 255);
            ASSERT_EQ(first[i], wantA) << hue << "/" << sat << " pair " << i;
            ASSERT_EQ(second[i], wantB) << hue << "/" << sat << " pair " << i;
        }
    }
}

TEST(VideoAdjust, NeutralLeavesBytesAlone) {
    CVideoAdjust a;
    EXPECT_TRUE(a.IsNeutral());
    std::vector<uint8_t> y(256), u(256), v(256);
    for (int i = 0; i < 256; ++i) y[i] = u[i] = v[i] = uint8_t(i);
    auto y0 = y, u0 = u, v0 = v;
    a.Apply(y.data(), y.size(), u.data(), v.data(), u.size());
    EXPECT_EQ(y, y0);
    EXPECT_EQ(u, u0);
    EXPECT_EQ(v, v0);
}

} // namespace
