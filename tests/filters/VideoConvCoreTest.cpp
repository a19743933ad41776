// Pictures through the video converter's core, checked by content: a known
// pattern must land where the plan puts it, bars must be black, scaled flat
// areas keep their values, and no geometry may read or write out of bounds.
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "filters/VideoConvCore.h"

namespace {

// A YV12 picture whose every byte tells where it came from.
struct Picture {
    int w, h;
    std::vector<uint8_t> bytes;
    Picture(int w_, int h_) : w(w_), h(h_), bytes(size_t(w) * h + 2 * size_t(w / 2) * (h / 2)) {}
    uint8_t* Y() { return bytes.data(); }
    uint8_t* V() { return bytes.data() + size_t(w) * h; }
    uint8_t* U() { return V() + size_t(w / 2) * (h / 2); }
    uint8_t y(int x, int r) const { return bytes[size_t(r) * w + x]; }
    uint8_t v(int x, int r) const { return bytes[size_t(w) * h + size_t(r) * (w / 2) + x]; }
    uint8_t u(int x, int r) const {
        return bytes[size_t(w) * h + size_t(w / 2) * (h / 2) + size_t(r) * (w / 2) + x];
    }
};

uint8_t PatY(int x, int y) { return uint8_t(x * 7 + y * 13); }
uint8_t PatV(int x, int y) { return uint8_t(x + 2 * y + 64); }
uint8_t PatU(int x, int y) { return uint8_t(3 * x + y); }

Picture Pattern(int w, int h) {
    Picture p(w, h);
    for (int r = 0; r < h; ++r)
        for (int x = 0; x < w; ++x) p.Y()[size_t(r) * w + x] = PatY(x, r);
    for (int r = 0; r < h / 2; ++r)
        for (int x = 0; x < w / 2; ++x) {
            p.V()[size_t(r) * (w / 2) + x] = PatV(x, r);
            p.U()[size_t(r) * (w / 2) + x] = PatU(x, r);
        }
    return p;
}

// Runs one picture through a plan; the output buffer is exactly OutputBytes.
std::vector<uint8_t> Convert(const CVideoConvPlan& plan, const Picture& in,
                             const CVideoAdjust& adjust = CVideoAdjust()) {
    CVideoConvCore core;
    EXPECT_TRUE(core.Configure(plan));
    std::vector<uint8_t> out(core.OutputBytes());
    EXPECT_TRUE(core.Process(in.bytes.data(), in.bytes.size(), out.data(), out.size(), adjust));
    return out;
}

CVideoConvPlan MakePlan(LONG inW, LONG inH, LONG mode, RECT crop, RECT out, LONG stride = 0) {
    CVideoConvPlan p;
    EXPECT_TRUE(p.Make(inW, inH, stride ? stride : out.right - out.left, mode, crop, out));
    return p;
}

TEST(VideoConvCore, DefaultsPassPicturesThroughUnchanged) {
    for (auto [w, h] : {std::pair{720, 480}, std::pair{720, 576}, std::pair{352, 240}}) {
        Picture in = Pattern(w, h);
        auto out = Convert(MakePlan(w, h, 1, {0, 0, w, h}, {0, 0, w, h}), in);
        EXPECT_EQ(out, in.bytes) << w << "x" << h;
    }
}

TEST(VideoConvCore, PassThroughHonoursTheOutputStride) {
    Picture in = Pattern(720, 480);
    auto out = Convert(MakePlan(720, 480, 1, {0, 0, 720, 480}, {0, 0, 720, 480}, 768), in);
    ASSERT_EQ(out.size(), 768u * 480 * 3 / 2);
    EXPECT_EQ(out[5 * 768 + 100], PatY(100, 5));
    const size_t v0 = 768u * 480, u0 = v0 + 384u * 240;
    EXPECT_EQ(out[v0 + 7 * 384 + 300], PatV(300, 7));
    EXPECT_EQ(out[u0 + 239 * 384 + 359], PatU(359, 239));
}

Picture Quadrants(int w, int h);

TEST(VideoConvCore, ScaledPictureHonoursTheOutputStride) {
    // A downstream that wants 704-byte rows of a 640x360 frame.
    Picture in = Quadrants(720, 480);
    auto plan = MakePlan(720, 480, 3, {0, 0, 720, 480}, {0, 0, 640, 360}, 704);
    Picture packed(640, 360);
    packed.bytes = Convert(MakePlan(720, 480, 3, {0, 0, 720, 480}, {0, 0, 640, 360}), in);
    auto out = Convert(plan, in);
    ASSERT_EQ(out.size(), 704u * 360 + 2 * 352u * 180);
    for (int r = 0; r < 360; ++r)
        ASSERT_EQ(0, std::memcmp(&out[size_t(r) * 704], &packed.bytes[size_t(r) * 640], 640)) << r;
    const size_t v = 704u * 360, u = v + 352u * 180, pv = 640u * 360, pu = pv + 320u * 180;
    for (int r = 0; r < 180; ++r) {
        ASSERT_EQ(0, std::memcmp(&out[v + size_t(r) * 352], &packed.bytes[pv + size_t(r) * 320], 320));
        ASSERT_EQ(0, std::memcmp(&out[u + size_t(r) * 352], &packed.bytes[pu + size_t(r) * 320], 320));
    }
}

TEST(VideoConvCore, CropLandsWhereItShould) {
    // 320x240 cut at (100, 50) of a PAL picture, output the same size.
    Picture in = Pattern(720, 576);
    auto out = Convert(MakePlan(720, 576, 1, {100, 50, 420, 290}, {0, 0, 320, 240}), in);
    Picture o(320, 240);
    ASSERT_EQ(out.size(), o.bytes.size());
    o.bytes = out;
    for (int r = 0; r < 240; ++r)
        for (int x = 0; x < 320; ++x) ASSERT_EQ(o.y(x, r), PatY(x + 100, r + 50)) << x << "," << r;
    for (int r = 0; r < 120; ++r)
        for (int x = 0; x < 160; ++x) {
            ASSERT_EQ(o.v(x, r), PatV(x + 50, r + 25));
            ASSERT_EQ(o.u(x, r), PatU(x + 50, r + 25));
        }
}

TEST(VideoConvCore, KeepRatioCropGetsBarsWithoutScaling) {
    Picture in = Pattern(720, 480);
    auto plan = MakePlan(720, 480, 0, {8, 0, 712, 480}, {0, 0, 720, 480});
    ASSERT_FALSE(plan.scale);
    Picture o(720, 480);
    o.bytes = Convert(plan, in);
    for (int r = 0; r < 480; ++r)
        for (int x = 0; x < 720; ++x) {
            int want = (x < 8 || x >= 712) ? 16 : PatY(x, r);
            ASSERT_EQ(o.y(x, r), want) << x << "," << r;
        }
    for (int r = 0; r < 240; ++r)
        for (int x = 0; x < 360; ++x) {
            bool bar = x < 4 || x >= 356;
            ASSERT_EQ(o.v(x, r), bar ? 128 : PatV(x, r));
            ASSERT_EQ(o.u(x, r), bar ? 128 : PatU(x, r));
        }
}

// Flat blocks survive bicubic scaling away from their edges.
Picture Quadrants(int w, int h) {
    Picture p(w, h);
    for (int r = 0; r < h; ++r)
        for (int x = 0; x < w; ++x) p.Y()[size_t(r) * w + x] = x < w / 2 ? 50 : 200;
    for (int r = 0; r < h / 2; ++r)
        for (int x = 0; x < w / 2; ++x) {
            p.V()[size_t(r) * (w / 2) + x] = r < h / 4 ? 90 : 160;
            p.U()[size_t(r) * (w / 2) + x] = 110;
        }
    return p;
}

TEST(VideoConvCore, ScaledPictureSitsBetweenTheBars) {
    for (auto [w, h] : {std::pair{720, 480}, std::pair{720, 576}}) {
        Picture in = Quadrants(w, h);
        auto plan = MakePlan(w, h, 3, {0, 0, w, h}, {0, 0, 640, 360});
        ASSERT_TRUE(plan.scale);
        ASSERT_EQ(plan.padLeft, 80);
        Picture o(640, 360);
        o.bytes = Convert(plan, in);
        for (int r = 0; r < 360; r += 7) {
            EXPECT_EQ(o.y(0, r), 16);
            EXPECT_EQ(o.y(79, r), 16);
            EXPECT_EQ(o.y(560, r), 16);
            EXPECT_EQ(o.y(639, r), 16);
            EXPECT_NEAR(o.y(85, r), 50, 1);
            EXPECT_NEAR(o.y(310, r), 50, 1);
            EXPECT_NEAR(o.y(330, r), 200, 1);
            EXPECT_NEAR(o.y(555, r), 200, 1);
        }
        for (int x = 45; x < 275; x += 11) {
            EXPECT_EQ(o.v(39, 50), 128);
            EXPECT_NEAR(o.v(x, 10), 90, 1);
            EXPECT_NEAR(o.v(x, 170), 160, 1);
            EXPECT_NEAR(o.u(x, 90), 110, 1);
        }
    }
}

TEST(VideoConvCore, AdjustmentsApplyToTheResultAndNotTheInput) {
    Picture in = Quadrants(720, 480);
    const auto before = in.bytes;
    CVideoAdjust adj;
    adj.Set(256, 180, 64);
    // Crop only (no bars, no scaling): the result is a view of the input.
    auto plan = MakePlan(720, 480, 1, {0, 0, 360, 240}, {0, 0, 360, 240});
    ASSERT_TRUE(plan.crop && !plan.pad && !plan.scale);
    Picture o(360, 240);
    o.bytes = Convert(plan, in, adj);
    EXPECT_EQ(in.bytes, before);
    EXPECT_EQ(o.y(10, 10), 100);               // 50 doubled
    // Hue 180: V 90 -> (-38 * -127) >> 7 = 37, U 110 -> (-18 * -127) >> 7 = 17.
    EXPECT_EQ(o.v(10, 10), 128 + 37);
    EXPECT_EQ(o.u(10, 10), 128 + 17);
}

TEST(VideoConvCore, RefusesShortBuffers) {
    Picture in = Pattern(720, 480);
    CVideoConvCore core;
    ASSERT_TRUE(core.Configure(MakePlan(720, 480, 3, {0, 0, 720, 480}, {0, 0, 640, 360})));
    std::vector<uint8_t> out(core.OutputBytes());
    CVideoAdjust adj;
    EXPECT_FALSE(core.Process(in.bytes.data(), in.bytes.size() - 1, out.data(), out.size(), adj));
    EXPECT_FALSE(core.Process(in.bytes.data(), in.bytes.size(), out.data(), out.size() - 1, adj));
    EXPECT_FALSE(core.Process(nullptr, 0, out.data(), out.size(), adj));
    EXPECT_TRUE(core.Process(in.bytes.data(), in.bytes.size(), out.data(), out.size(), adj));
    CVideoConvCore empty;
    EXPECT_FALSE(empty.Process(in.bytes.data(), in.bytes.size(), out.data(), out.size(), adj));
}

// Random geometry, including nonsense, on buffers of exactly the sizes the
// core asks for: run under AddressSanitizer this finds any stray access.
TEST(VideoConvCore, AnyGeometryStaysInsideItsBuffers) {
    std::mt19937 rng(1234);
    auto any = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    CVideoAdjust adj;
    adj.Set(200, 33, 90);
    int made = 0;
    for (int i = 0; i < 400; ++i) {
        LONG inW = any(2, 200), inH = any(2, 200);
        RECT crop{any(-50, 250), any(-50, 250), any(-50, 250), any(-50, 250)};
        RECT out{0, 0, any(-4, 200), any(-4, 200)};
        CVideoConvPlan plan;
        if (!plan.Make(inW, inH, any(-10, 300), any(-1, 5), crop, out)) continue;
        CVideoConvCore core;
        if (!core.Configure(plan)) continue; // swscale may refuse tiny sizes
        ++made;
        std::vector<uint8_t> src(core.InputBytes(), 77), dst(core.OutputBytes());
        ASSERT_TRUE(core.Process(src.data(), src.size(), dst.data(), dst.size(), adj)) << i;
    }
    EXPECT_GT(made, 300);
}

} // namespace
