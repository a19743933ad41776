// Whole conversions of the authored discs through the real pipeline and the
// batch run, checked with ffprobe: containers, codecs, sizes, rates, frame
// counts, durations against the trim length, and sound in step with pictures
// at both ends.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>

#include "convert/ConversionBatch.h"
#include "convert/ConversionGraph.h"
#include "convert/DiscConversion.h"
#include "fixtures/DiscManifest.h"
#include "platform/dvd/LibDvd.h"
#include "sink/MediaProbe.h"

namespace fs = std::filesystem;

namespace {

struct Profile {
    const char* ext;
    const char* video;
    const char* audio;
    int width, height, frameRate, sampleRate, channels;
};

EncodeParams Params(const Profile& p) {
    EncodeParams e{};
    e.HasVideo = p.video[0] != 0;
    e.Width = p.width;
    e.Height = p.height;
    e.FrameRate = p.frameRate;
    e.VideoBitRate = 1000000;
    SetName(e.VideoCodecName, p.video);
    e.HasAudio = 1;
    e.SampleRate = p.sampleRate;
    e.Channel = p.channels;
    e.AudioBitRate = 128000;
    SetName(e.AudioCodecName, p.audio);
    return e;
}

class ConversionDiscTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!manifest_.Load(DiscManifest::DiscDir())) GTEST_SKIP() << "no authored discs";
        dir_ = fs::temp_directory_path() / ("convert_disc_" + std::to_string(::getpid()));
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    using Item = disc_conversion::Item;

    // Converts the items of `disc` with `profile`; returns the batch's files.
    std::vector<std::string> Convert(const std::string& disc, const std::vector<Item>& items,
                                     const Profile& profile, bool merge = false) {
        disc_conversion::Options o;
        o.ext = profile.ext;
        o.merge = merge;
        return disc_conversion::Convert(manifest_.Folder(disc), items, Params(profile),
                                        dir_.string(), o);
    }

    static void ExpectInStep(const probe::Result& r) {
        const probe::Stream* v = r.Of("video");
        const probe::Stream* a = r.Of("audio");
        ASSERT_NE(nullptr, a);
        if (!v) return;
        EXPECT_NEAR(v->start, a->start, 0.040) << "sound and pictures start apart";
        EXPECT_NEAR(v->start + v->duration, a->start + a->duration, 0.040)
            << "sound and pictures end apart";
    }

    DiscManifest manifest_;
    fs::path dir_;
};

// 29.97 -> 25 fps, 10 s cut out of the middle of the NTSC title.
TEST_F(ConversionDiscTest, TrimmedNtscTitleToH264Aac25fps) {
    Profile p{".mp4", "libx264", "aac", 320, 240, 25000, 48000, 2};
    auto files = Convert("ntsc", {{0, 20000, 10000}}, p);
    ASSERT_EQ(1u, files.size());
    probe::Result r = probe::File(files[0]);
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(0u, r.format.find("mov"));
    const probe::Stream* v = r.Of("video");
    ASSERT_NE(nullptr, v);
    EXPECT_EQ("h264", v->codec);
    EXPECT_EQ(320, v->width);
    EXPECT_EQ(240, v->height);
    EXPECT_NEAR(25.0, v->fps, 0.01);
    EXPECT_EQ(250, v->frames);
    EXPECT_NEAR(10.0, r.duration, 0.04); // the trim length, within one frame
    EXPECT_EQ("aac", r.Of("audio")->codec);
    EXPECT_EQ(48000, r.Of("audio")->sampleRate);
    ExpectInStep(r);
}

// 25 -> 29.97 fps; the PAL picture keeps its whole 720 x 576.
TEST_F(ConversionDiscTest, PalTitleTo2997fpsKeepsItsSize) {
    Profile p{".avi", "mpeg4", "libmp3lame", 720, 576, 29970, 44100, 2};
    auto files = Convert("pal", {{0, 0, 6000}}, p);
    ASSERT_EQ(1u, files.size());
    probe::Result r = probe::File(files[0]);
    EXPECT_EQ(0u, r.format.find("avi"));
    const probe::Stream* v = r.Of("video");
    ASSERT_NE(nullptr, v);
    EXPECT_EQ("mpeg4", v->codec);
    EXPECT_EQ(720, v->width);
    EXPECT_EQ(576, v->height);
    EXPECT_NEAR(29.97, v->fps, 0.01);
    EXPECT_NEAR(180, v->frames, 1); // 6 s at 29.97 fps
    const probe::Stream* a = r.Of("audio");
    ASSERT_NE(nullptr, a);
    EXPECT_EQ("mp3", a->codec);
    EXPECT_EQ(44100, a->sampleRate);
    EXPECT_EQ(2, a->channels);
    ExpectInStep(r);
}

// Audio only, 16-bit PCM WAV from a six-channel AC-3 title, mixed to stereo.
TEST_F(ConversionDiscTest, AudioOnlyWav) {
    Profile p{".wav", "", "pcm_s16le", 0, 0, 29970, 44100, 2};
    auto files = Convert("ntsc", {{1, 0, -1}}, p);
    ASSERT_EQ(1u, files.size());
    probe::Result r = probe::File(files[0]);
    EXPECT_EQ("wav", r.format);
    EXPECT_EQ(0, r.Count("video"));
    const probe::Stream* a = r.Of("audio");
    ASSERT_NE(nullptr, a);
    EXPECT_EQ("pcm_s16le", a->codec);
    EXPECT_EQ(44100, a->sampleRate);
    EXPECT_EQ(2, a->channels);
    const double ms = double(manifest_.Int(DiscManifest::Title("ntsc", 1, "duration_ms")));
    EXPECT_NEAR(ms / 1000.0, r.duration, 0.05);
}

// Two titles into one file: its length is their sum, sound in step throughout.
TEST_F(ConversionDiscTest, MergedTitlesMakeOneFileOfTheirSum) {
    Profile p{".mp4", "libx264", "aac", 320, 240, 29970, 48000, 2};
    auto files = Convert("ntsc", {{1, 0, -1}, {2, 0, -1}}, p, true);
    ASSERT_EQ(1u, files.size());
    EXPECT_EQ("Title_02.mp4", fs::path(files[0]).filename());
    probe::Result r = probe::File(files[0]);
    const double sum = double(manifest_.Int(DiscManifest::Title("ntsc", 1, "duration_ms")) +
                              manifest_.Int(DiscManifest::Title("ntsc", 2, "duration_ms"))) /
                       1000.0;
    EXPECT_NEAR(sum, r.duration, 0.07);
    ASSERT_NE(nullptr, r.Of("video"));
    EXPECT_NEAR(300, r.Of("video")->frames, 2);
    ExpectInStep(r);
}

} // namespace
