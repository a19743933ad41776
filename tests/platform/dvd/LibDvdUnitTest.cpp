// libDvd pieces that need no disc: playback-time arithmetic, path handling, handle checks.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/dvd/DvdDisc.h"
#include "platform/dvd/LibDvd.h"

namespace {

constexpr std::uint8_t kNtsc = 0xC0; // rate bits 11: 29.97 fps
constexpr std::uint8_t kPal = 0x40;  // rate bits 01: 25 fps

TEST(DvdPlaybackTime, NtscTwoHourFilmIsRealLength) {
    // 7,200,000 ms of film are 215,784 frames; at a nominal 30 fps the IFO says 01:59:52 + 24.
    double ms = DvdPlaybackTimeMs(0x01, 0x59, 0x52, kNtsc | 0x24);
    EXPECT_NEAR(ms, 215784.0 * 1001.0 / 30.0, 1e-6);
    EXPECT_NEAR(ms, 7200000.0, 10.0);
}

TEST(DvdPlaybackTime, NtscMinuteOfNominalFrames) {
    // 1800 frames: written 00:01:00 + 0, really 60.06 s.
    EXPECT_NEAR(DvdPlaybackTimeMs(0x00, 0x01, 0x00, kNtsc), 60060.0, 1e-9);
    EXPECT_NEAR(DvdPlaybackTimeMs(0x00, 0x00, 0x02, kNtsc | 0x01), 61 * 1001.0 / 30.0, 1e-9);
}

TEST(DvdPlaybackTime, PalIsExact) {
    EXPECT_DOUBLE_EQ(DvdPlaybackTimeMs(0x02, 0x00, 0x00, kPal), 7200000.0);
    EXPECT_DOUBLE_EQ(DvdPlaybackTimeMs(0x00, 0x00, 0x10, kPal | 0x12), 10480.0);
}

TEST(DvdPlaybackTime, NoRateCountsWholeSeconds) {
    EXPECT_DOUBLE_EQ(DvdPlaybackTimeMs(0x00, 0x00, 0x05, 0x12), 5000.0);
}

TEST(DvdNormalisePath, VideoTsFolderAndItsFilesBecomeTheDiscFolder) {
    char tmpl[] = "/tmp/libdvd-path-XXXXXX";
    std::string disc = mkdtemp(tmpl);
    std::filesystem::create_directories(disc + "/video_ts");
    std::ofstream(disc + "/video_ts/VIDEO_TS.IFO") << "x";
    std::ofstream(disc + "/image.iso") << "x";
    EXPECT_EQ(DvdNormalisePath(disc + "/video_ts"), disc);
    EXPECT_EQ(DvdNormalisePath(disc + "/video_ts//"), disc);
    EXPECT_EQ(DvdNormalisePath(disc + "/video_ts/VIDEO_TS.IFO"), disc);
    EXPECT_EQ(DvdNormalisePath(disc), disc);
    EXPECT_EQ(DvdNormalisePath(disc + "/image.iso"), disc + "/image.iso");
    // Missing paths and devices are left for libdvdread to judge.
    EXPECT_EQ(DvdNormalisePath("/no/such/VIDEO_TS"), "/no/such/VIDEO_TS");
    EXPECT_EQ(DvdNormalisePath("/dev/sr0"), "/dev/sr0");
    std::filesystem::remove_all(disc);
}

TEST(LibDvd, LayoutHasTheFixedSizes) {
    EXPECT_EQ(sizeof(DvdDiscInfo), 41736u);
    EXPECT_EQ(sizeof(DvdTitleInfo), 1304u);
}

TEST(LibDvd, UnknownHandlesFail) {
    DvdDiscInfo info;
    std::uint8_t buffer[10240];
    EXPECT_EQ(MyDVDGetInfo(0, &info), -1);
    EXPECT_EQ(MyDVDGetInfo(12345, &info), -1);
    EXPECT_EQ(MyDVDSetArea(12345, 0, 0), -1);
    EXPECT_EQ(MyDvdSetStopPos(12345, 1, 0), -1);
    EXPECT_EQ(MyDVDRead(12345, buffer, sizeof buffer), -1);
    EXPECT_EQ(MyDVDSeek(12345, 0, 0), -1);
    MyDVDClose(0);
    MyDVDClose(12345);
}

TEST(LibDvd, MissingOrEmptyPathFails) {
    EXPECT_EQ(MyDVDOpen(nullptr), 0u);
    EXPECT_EQ(MyDVDOpen(""), 0u);
    EXPECT_EQ(MyDVDOpen("/no/such/disc"), 0u);
}

} // namespace
