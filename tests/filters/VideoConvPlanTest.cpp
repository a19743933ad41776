// Placement, bars and scaling decisions of the video converter's plan,
// including the geometry it has to repair.
#include <climits>

#include <gtest/gtest.h>

#include "filters/VideoConvPlan.h"

namespace {

struct PlanCase {
    const char* name;
    LONG inW, inH, mode;
    RECT crop, out;
    // expected
    bool crop_, pad, scale;
    RECT placement;
    LONG padL, padT, padR, padB;
    LONG innerW, innerH;
    unsigned mended;
};

const PlanCase kCases[] = {
    {"defaults pass through", 720, 480, 1, {0, 0, 720, 480}, {0, 0, 720, 480},
     false, false, false, {0, 0, 720, 480}, 0, 0, 0, 0, 720, 480, kMendNone},
    {"crop 8 keep ratio", 720, 480, 0, {8, 0, 712, 480}, {0, 0, 720, 480},
     true, true, false, {8, 0, 712, 480}, 8, 0, 8, 0, 704, 480, kMendNone},
    {"640x360 4:3", 720, 480, 3, {0, 0, 720, 480}, {0, 0, 640, 360},
     false, true, true, {80, 0, 560, 360}, 80, 0, 80, 0, 480, 360, kMendNone},
    {"crop then 640x360 4:3", 720, 480, 3, {8, 0, 712, 480}, {0, 0, 640, 360},
     true, true, true, {80, 0, 560, 360}, 80, 0, 80, 0, 480, 360, kMendNone},
    // 720 / 1.7777778f is 405 in float arithmetic: margin 37, bars 38.
    {"16:9 letterbox, odd margins", 720, 480, 2, {0, 0, 720, 480}, {0, 0, 720, 480},
     false, true, true, {0, 37, 720, 443}, 0, 38, 0, 38, 720, 404, kMendNone},
    {"odd side margin raised", 720, 480, 3, {0, 0, 720, 480}, {0, 0, 650, 360},
     false, true, true, {85, 0, 565, 360}, 86, 0, 86, 0, 478, 360, kMendNone},
    {"unknown mode stretches", 720, 480, 7, {0, 0, 720, 480}, {0, 0, 640, 360},
     false, false, true, {0, 0, 640, 360}, 0, 0, 0, 0, 640, 360, kMendNone},
    {"PAL stretched to NTSC", 720, 576, 1, {0, 0, 720, 576}, {0, 0, 720, 480},
     false, false, true, {0, 0, 720, 480}, 0, 0, 0, 0, 720, 480, kMendNone},
    {"PAL 16:9 into 16:9 frame", 720, 576, 2, {0, 0, 720, 576}, {0, 0, 640, 360},
     false, false, true, {0, 0, 640, 360}, 0, 0, 0, 0, 640, 360, kMendNone},
    {"PAL keep ratio into 640x360", 720, 576, 0, {0, 0, 720, 576}, {0, 0, 640, 360},
     false, true, true, {95, 0, 545, 360}, 96, 0, 96, 0, 448, 360, kMendNone},
    // Repaired geometry.
    {"crop outside the picture", 720, 480, 1, {-100, -50, 900, 700}, {0, 0, 720, 480},
     false, false, false, {0, 0, 720, 480}, 0, 0, 0, 0, 720, 480, kMendCropClamped},
    {"inverted crop", 720, 480, 1, {700, 0, 100, 480}, {0, 0, 720, 480},
     false, false, false, {0, 0, 720, 480}, 0, 0, 0, 0, 720, 480, kMendCropEmpty},
    {"zero-height crop", 720, 480, 1, {0, 10, 720, 10}, {0, 0, 720, 480},
     false, false, false, {0, 0, 720, 480}, 0, 0, 0, 0, 720, 480, kMendCropEmpty},
    {"odd crop edges", 720, 480, 1, {7, 3, 713, 477}, {0, 0, 720, 480},
     true, false, true, {0, 0, 720, 480}, 0, 0, 0, 0, 720, 480, kMendCropOdd},
    {"output 0x0 uses the input size", 720, 480, 1, {0, 0, 720, 480}, {0, 0, 0, 0},
     false, false, false, {0, 0, 720, 480}, 0, 0, 0, 0, 720, 480, kMendOutputEmpty},
    {"negative output", 720, 480, 1, {0, 0, 720, 480}, {0, 0, -5, 100},
     false, false, false, {0, 0, 720, 480}, 0, 0, 0, 0, 720, 480, kMendOutputEmpty},
    {"odd output size", 720, 480, 1, {0, 0, 720, 480}, {0, 0, 641, 361},
     false, false, true, {0, 0, 640, 360}, 0, 0, 0, 0, 640, 360, kMendOutputOdd},
    {"odd input size", 721, 481, 1, {0, 0, 721, 481}, {0, 0, 720, 480},
     false, false, false, {0, 0, 720, 480}, 0, 0, 0, 0, 720, 480,
     kMendInputOdd | kMendCropClamped},
    // A 360:1 crop would leave 0 rows of picture between the bars.
    {"bars leave no picture", 720, 480, 0, {0, 0, 720, 2}, {0, 0, 640, 360},
     true, true, true, {0, 179, 640, 181}, 0, 178, 0, 180, 640, 2, kMendPadTooWide},
    {"tiny output", 720, 480, 3, {0, 0, 720, 480}, {0, 0, 2, 2},
     false, false, true, {0, 0, 2, 2}, 0, 0, 0, 0, 2, 2, kMendNone},
};

class PlanTable : public testing::TestWithParam<PlanCase> {};

TEST_P(PlanTable, PlacementPadsAndFlags) {
    const PlanCase& c = GetParam();
    CVideoConvPlan p;
    ASSERT_TRUE(p.Make(c.inW, c.inH, c.out.right - c.out.left, c.mode, c.crop, c.out));
    EXPECT_EQ(p.crop, c.crop_);
    EXPECT_EQ(p.pad, c.pad);
    EXPECT_EQ(p.scale, c.scale);
    EXPECT_EQ(p.placement.left, c.placement.left);
    EXPECT_EQ(p.placement.top, c.placement.top);
    EXPECT_EQ(p.placement.right, c.placement.right);
    EXPECT_EQ(p.placement.bottom, c.placement.bottom);
    EXPECT_EQ(p.padLeft, c.padL);
    EXPECT_EQ(p.padTop, c.padT);
    EXPECT_EQ(p.padRight, c.padR);
    EXPECT_EQ(p.padBottom, c.padB);
    EXPECT_EQ(p.innerWidth, c.innerW);
    EXPECT_EQ(p.innerHeight, c.innerH);
    EXPECT_EQ(p.mended, c.mended);
    // Invariants every plan keeps, whatever it was given.
    EXPECT_EQ(p.outWidth % 2, 0);
    EXPECT_EQ(p.outHeight % 2, 0);
    EXPECT_GE(p.innerWidth, 2);
    EXPECT_GE(p.innerHeight, 2);
    EXPECT_LE(p.cropLeft + p.cropWidth, p.srcWidth);
    EXPECT_LE(p.cropTop + p.cropHeight, p.srcHeight);
}

INSTANTIATE_TEST_SUITE_P(Cases, PlanTable, testing::ValuesIn(kCases),
                         [](const testing::TestParamInfo<PlanCase>& info) {
                             std::string n = info.param.name;
                             for (char& ch : n)
                                 if (!isalnum(static_cast<unsigned char>(ch))) ch = '_';
                             return n;
                         });

TEST(VideoConvPlan, CropMarginsAreInputMinusCrop) {
    CVideoConvPlan p;
    ASSERT_TRUE(p.Make(720, 576, 720, 1, {16, 8, 704, 560}, {0, 0, 720, 576}));
    EXPECT_TRUE(p.crop);
    EXPECT_EQ(p.cropLeft, 16);
    EXPECT_EQ(p.cropTop, 8);
    EXPECT_EQ(p.cropRight, 16);
    EXPECT_EQ(p.cropBottom, 16);
    EXPECT_EQ(p.cropWidth, 688);
    EXPECT_EQ(p.cropHeight, 552);
}

TEST(VideoConvPlan, RefusesPicturesItCannotHold) {
    CVideoConvPlan p;
    const RECT full{0, 0, 720, 480};
    EXPECT_FALSE(p.Make(0, 480, 720, 1, full, full));
    EXPECT_FALSE(p.Make(720, -480, 720, 1, full, full));
    EXPECT_FALSE(p.Make(1, 1, 1, 1, full, full));
    EXPECT_FALSE(p.Make(720, 480, 720, 1, full, {0, 0, 100000, 480}));
    EXPECT_FALSE(p.Make(720, 480, 720, 1, full, {INT_MIN, 0, INT_MAX, 480}));
    EXPECT_FALSE(p.Make(720, 480, 720, 1, full, {0, 0, 1, 1}));
    // Extreme but harmless values.
    EXPECT_TRUE(p.Make(720, 480, INT_MAX, INT_MIN, {INT_MIN, INT_MIN, INT_MAX, INT_MAX}, full));
    EXPECT_FALSE(p.crop);
    EXPECT_LE(p.outStride, 2 * CVideoConvPlan::kMaxSide);
}

TEST(VideoConvPlan, PassThroughStrideIsAtLeastTheWidth) {
    CVideoConvPlan p;
    ASSERT_TRUE(p.Make(720, 480, 768, 1, {0, 0, 720, 480}, {0, 0, 720, 480}));
    EXPECT_EQ(p.outStride, 768);
    ASSERT_TRUE(p.Make(720, 480, 100, 1, {0, 0, 720, 480}, {0, 0, 720, 480}));
    EXPECT_EQ(p.outStride, 720);
}

} // namespace
