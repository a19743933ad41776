// The writer fed with synthetic pictures and sound, its files checked with
// ffprobe: containers, codecs, sizes, rates, frame counts, durations, and the
// distance between a bright marker picture and a tone burst that were given
// at the same time.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "sink/MediaProbe.h"
#include "sink/OutputFileWriter.h"

namespace fs = std::filesystem;

namespace {

struct Case {
    const char* ext;
    const char* video;
    const char* audio;
    int width, height, frameRate, sampleRate, channels;
    const char* format;      // ffprobe's format_name (first of its list)
    const char* videoCodec;  // ffprobe's codec names
    const char* audioCodec;
};

EncodeParams Params(const Case& c) {
    EncodeParams p{};
    p.HasVideo = c.video[0] != 0;
    p.Width = c.width;
    p.Height = c.height;
    p.FrameRate = c.frameRate;
    p.VideoBitRate = 1000000;
    SetName(p.VideoCodecName, c.video);
    p.HasAudio = c.audio[0] != 0;
    p.SampleRate = c.sampleRate;
    p.Channel = c.channels;
    p.AudioBitRate = 128000;
    SetName(p.AudioCodecName, c.audio);
    return p;
}

fs::path TempDir() {
    fs::path d = fs::temp_directory_path() / ("sink_writer_" + std::to_string(::getpid()));
    fs::create_directories(d);
    return d;
}

std::vector<std::uint8_t> Picture(int w, int h, bool bright) {
    std::vector<std::uint8_t> p(size_t(w) * h * 3 / 2, 128);
    std::fill(p.begin(), p.begin() + long(w) * h, bright ? 235 : 16);
    return p;
}

// Interleaved 16-bit sound: silence, or a 1 kHz tone from sample `toneFrom`.
std::vector<std::uint8_t> Sound(std::int64_t first, std::int64_t count, int rate, int channels,
                                std::int64_t toneFrom) {
    std::vector<std::uint8_t> b(size_t(count) * 2 * channels);
    auto* s = reinterpret_cast<std::int16_t*>(b.data());
    for (std::int64_t i = 0; i < count; ++i) {
        std::int64_t n = first + i;
        double v = n >= toneFrom ? 12000 * std::sin(2 * M_PI * 1000.0 * double(n) / rate) : 0;
        for (int c = 0; c < channels; ++c) s[i * channels + c] = std::int16_t(v);
    }
    return b;
}

// Feeds `seconds` of pictures and sound, sound in uneven chunks; the marker
// picture and the start of the tone both sit at `markerSec` of this item.
void Feed(OutputFileWriter& w, const EncodeParams& p, double seconds, double markerSec,
          double audioSeconds = -1) {
    if (audioSeconds < 0) audioSeconds = seconds;
    double fps = p.FrameRate / 1000.0;
    if (p.FrameRate == 29970) fps = 30000.0 / 1001;
    const long frames = p.HasVideo ? std::lround(seconds * fps) : 0;
    const long marker = std::lround(markerSec * fps);
    const std::int64_t samples = std::llround(audioSeconds * p.SampleRate);
    const std::int64_t toneFrom = p.HasVideo ? std::llround(marker / fps * p.SampleRate)
                                             : std::llround(markerSec * p.SampleRate);
    std::int64_t done = 0;
    const std::int64_t chunk = 1501; // not a multiple of any encoder frame
    for (long f = 0; f <= frames || done < samples; ++f) {
        if (f < frames && w.HasVideo()) {
            ASSERT_EQ(0, w.WriteVideo(Picture(p.Width, p.Height, f == marker).data()));
        }
        std::int64_t until = p.HasVideo ? std::llround((f + 1) / fps * p.SampleRate) : samples;
        until = std::min(until, samples);
        while (w.HasAudio() && done < until) {
            std::int64_t n = std::min(chunk, until - done);
            auto s = Sound(done, n, p.SampleRate, p.Channel, toneFrom);
            ASSERT_EQ(0, w.WriteAudio(s.data(), s.size()));
            done += n;
        }
        if (!p.HasVideo) break;
    }
}

class WriterProfiles : public ::testing::TestWithParam<Case> {};

TEST_P(WriterProfiles, FileHoldsEveryPictureAndSoundInStep) {
    const Case& c = GetParam();
    EncodeParams p = Params(c);
    fs::path out = TempDir() / (std::string("out") + c.ext);
    OutputFileWriter w;
    w.SetEncoderThreads(2);
    ASSERT_TRUE(w.Open(out.string(), p)) << w.LastError();
    Feed(w, p, 3.0, 1.0);
    ASSERT_TRUE(w.Close()) << w.LastError();

    probe::Result r = probe::File(out.string());
    ASSERT_TRUE(r.ok) << out;
    EXPECT_EQ(0u, r.format.find(c.format)) << r.format;
    EXPECT_NEAR(3.0, r.duration, 0.1);
    if (p.HasVideo) {
        const probe::Stream* v = r.Of("video");
        ASSERT_NE(nullptr, v);
        EXPECT_EQ(c.videoCodec, v->codec);
        EXPECT_EQ(c.width, v->width);
        EXPECT_EQ(c.height, v->height);
        double fps = c.frameRate == 29970 ? 30000.0 / 1001 : c.frameRate / 1000.0;
        EXPECT_NEAR(fps, v->fps, 0.01);
        EXPECT_EQ(std::lround(3.0 * fps), v->frames) << "pictures lost at the end";
    } else {
        EXPECT_EQ(0, r.Count("video"));
    }
    const probe::Stream* a = r.Of("audio");
    ASSERT_NE(nullptr, a);
    EXPECT_EQ(c.audioCodec, a->codec);
    EXPECT_EQ(c.sampleRate, a->sampleRate);
    EXPECT_EQ(c.channels, a->channels);

    double tone = probe::FirstLoudSound(out.string());
    if (p.HasVideo) {
        double bright = probe::FirstBrightPicture(out.string());
        EXPECT_NEAR(bright, tone, 0.040) << "sound and pictures out of step";
        EXPECT_NEAR(1.0 + r.Of("video")->start, bright, 0.05);
    } else {
        EXPECT_NEAR(1.0 + a->start, tone, 0.040);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Profiles, WriterProfiles,
    ::testing::Values(
        Case{".mp4", "libx264", "aac", 720, 576, 25000, 48000, 2, "mov", "h264", "aac"},
        Case{".avi", "mpeg4", "libmp3lame", 640, 480, 29970, 44100, 2, "avi", "mpeg4", "mp3"},
        Case{".mkv", "libx264", "ac3", 352, 240, 29970, 48000, 2, "matroska", "h264", "ac3"},
        Case{".mpg", "mpeg2video", "mp2", 352, 240, 29970, 48000, 2, "mpeg", "mpeg2video", "mp2"},
        Case{".webm", "libvpx-vp9", "libopus", 160, 120, 29970, 48000, 2, "matroska", "vp9",
             "opus"},
        Case{".wmv", "wmv2", "wmav2", 320, 240, 29970, 44100, 2, "asf", "wmv2", "wmav2"},
        Case{".3gp", "h263", "aac", 176, 144, 15000, 22050, 1, "mov", "h263", "aac"},
        Case{".mp3", "", "libmp3lame", 0, 0, 0, 44100, 2, "mp3", "", "mp3"},
        Case{".m4a", "", "aac", 0, 0, 0, 44100, 2, "mov", "", "aac"},
        Case{".wav", "", "pcm_s16le", 0, 0, 0, 44100, 2, "wav", "", "pcm_s16le"},
        Case{".flac", "", "flac", 0, 0, 0, 44100, 2, "flac", "", "flac"},
        Case{".ogg", "", "libvorbis", 0, 0, 0, 44100, 2, "ogg", "", "vorbis"}),
    [](const auto& info) {
        std::string n = std::string(info.param.ext + 1) + "_" +
                        (info.param.video[0] ? info.param.video : "none");
        for (char& ch : n)
            if (!isalnum(static_cast<unsigned char>(ch))) ch = '_';
        return n;
    });

TEST(OutputFileWriter, OpenFailuresSayWhyAndLeaveNothingOpen) {
    Case mp4{".mp4", "libx264", "aac", 320, 240, 25000, 48000, 2, "", "", ""};
    struct Bad {
        std::string path;
        const char* video;
        const char* audio;
        const char* reason;
    } cases[] = {
        {(TempDir() / "a.mp4").string(), "nosuchcodec", "aac", "nosuchcodec"},
        {(TempDir() / "b.mp4").string(), "libx264", "nosuchaudio", "nosuchaudio"},
        {"/nonexistent-folder/c.mp4", "libx264", "aac", "/nonexistent-folder/c.mp4"},
        {(TempDir() / "d.unknownext").string(), "libx264", "aac", "d.unknownext"},
        {(TempDir() / "e.mp4").string(), "", "", "no video and no audio"},
    };
    for (const Bad& b : cases) {
        Case c = mp4;
        c.video = b.video;
        c.audio = b.audio;
        OutputFileWriter w;
        EXPECT_FALSE(w.Open(b.path, Params(c))) << b.path;
        EXPECT_NE(std::string::npos, w.LastError().find(b.reason)) << w.LastError();
        EXPECT_FALSE(w.IsOpen());
        EXPECT_FALSE(w.HasVideo());
        EXPECT_EQ(-1, w.WriteVideo(Picture(320, 240, false).data()));
        EXPECT_FALSE(fs::exists(b.path));
    }
}

// A file that stops taking data mid-way (a full disk) is not reported written.
TEST(OutputFileWriter, FullDiskFailsTheClose) {
    Case c{".avi", "mpeg4", "libmp3lame", 320, 240, 25000, 44100, 2, "", "", ""};
    fs::path out = TempDir() / "full.avi";
    fs::remove(out);
    fs::create_symlink("/dev/full", out);
    OutputFileWriter w;
    ASSERT_TRUE(w.Open(out.string(), Params(c))) << w.LastError();
    // The conversion learns of the failure while it streams, not only at the end.
    auto picture = Picture(320, 240, false);
    auto sound = Sound(0, 1764, 44100, 2, 0);
    int written = 0;
    while (written < 500 && w.WriteVideo(picture.data()) == 0 &&
           w.WriteAudio(sound.data(), sound.size()) == 0)
        ++written;
    EXPECT_LT(written, 500);
    EXPECT_NE(std::string::npos, w.LastError().find("full.avi")) << w.LastError();
    EXPECT_FALSE(w.Close());
    EXPECT_NE(std::string::npos, w.LastError().find("full.avi")) << w.LastError();
    fs::remove(out);
}

TEST(OutputFileWriter, VideoCodecNameEmptyGivesAudioOnlyFile) {
    Case c{".mp4", "", "aac", 320, 240, 25000, 48000, 2, "", "", ""};
    EncodeParams p = Params(c);
    p.HasVideo = 1; // the flag alone adds no stream
    fs::path out = TempDir() / "noname.mp4";
    OutputFileWriter w;
    ASSERT_TRUE(w.Open(out.string(), p)) << w.LastError();
    EXPECT_FALSE(w.HasVideo());
    EXPECT_TRUE(w.HasAudio());
    auto s = Sound(0, 48000, 48000, 2, 0);
    EXPECT_EQ(0, w.WriteAudio(s.data(), s.size()));
    ASSERT_TRUE(w.Close());
    probe::Result r = probe::File(out.string());
    EXPECT_EQ(0, r.Count("video"));
    EXPECT_EQ(1, r.Count("audio"));
}

TEST(OutputFileWriter, FrameRateInThousandthsKeepsItsExactRate) {
    Case c{".mp4", "libx264", "", 160, 120, 12500, 0, 0, "", "", ""};
    fs::path out = TempDir() / "rate12500.mp4";
    OutputFileWriter w;
    ASSERT_TRUE(w.Open(out.string(), Params(c))) << w.LastError();
    EXPECT_DOUBLE_EQ(800000.0, w.FrameDuration100ns());
    for (int i = 0; i < 25; ++i) ASSERT_EQ(0, w.WriteVideo(Picture(160, 120, false).data()));
    ASSERT_TRUE(w.Close());
    probe::Result r = probe::File(out.string());
    ASSERT_NE(nullptr, r.Of("video"));
    EXPECT_NEAR(12.5, r.Of("video")->fps, 0.01);
    EXPECT_EQ(25, r.Of("video")->frames);
    EXPECT_NEAR(2.0, r.duration, 0.1);
}

// Two items in one file: the first item's sound ends 0.5 s before its
// pictures, the second one's pictures end 0.3 s before its sound. The marker
// of the second item must still meet its tone.
TEST(OutputFileWriter, SegmentsOfAMergedFileStayInStep) {
    Case c{".mp4", "libx264", "aac", 320, 240, 25000, 48000, 2, "", "", ""};
    EncodeParams p = Params(c);
    fs::path out = TempDir() / "merged.mp4";
    OutputFileWriter w;
    w.SetEncoderThreads(2);
    ASSERT_TRUE(w.Open(out.string(), p)) << w.LastError();
    w.BeginSegment();
    Feed(w, p, 2.0, 99.0, 1.5); // no marker in the first item
    w.FinishSegment();
    EXPECT_EQ(50, w.SegmentVideoFrames());
    EXPECT_EQ(96000, w.SegmentAudioSamples());
    w.BeginSegment();
    Feed(w, p, 1.7, 1.0, 2.0);
    w.FinishSegment();
    EXPECT_EQ(50, w.SegmentVideoFrames()); // 1.7 s of pictures repeated up to 2.0 s
    ASSERT_TRUE(w.Close()) << w.LastError();

    probe::Result r = probe::File(out.string());
    EXPECT_NEAR(4.0, r.duration, 0.05);
    ASSERT_NE(nullptr, r.Of("video"));
    EXPECT_EQ(100, r.Of("video")->frames);
    double bright = probe::FirstBrightPicture(out.string());
    double tone = probe::FirstLoudSound(out.string());
    EXPECT_NEAR(3.0, bright, 0.05);
    EXPECT_NEAR(bright, tone, 0.040);
}

TEST(OutputFileWriter, ReopenStartsAFreshFile) {
    Case c{".wav", "", "pcm_s16le", 0, 0, 0, 44100, 2, "", "", ""};
    OutputFileWriter w;
    for (const char* name : {"first.wav", "second.wav"}) {
        fs::path out = TempDir() / name;
        ASSERT_TRUE(w.Open(out.string(), Params(c)));
        auto s = Sound(0, 44100, 44100, 2, 0);
        ASSERT_EQ(0, w.WriteAudio(s.data(), s.size() - 2)); // half a sample left over
        EXPECT_EQ(44099, w.AudioSamples());
        ASSERT_TRUE(w.Close());
        EXPECT_NEAR(1.0, probe::File(out.string()).duration, 0.001);
    }
    EXPECT_TRUE(w.Close()); // harmless when closed
}

TEST(OutputFileWriter, ThreadsFollowTheCpuUsageShare) {
    struct {
        int pct, cores, threads;
    } cases[] = {{50, 8, 4}, {100, 2, 2}, {0, 8, 1}, {10, 4, 1}, {75, 4, 3}, {150, 4, 4}, {50, 0, 1}};
    for (auto c : cases)
        EXPECT_EQ(c.threads, OutputFileWriter::ThreadsForCpuUsage(c.pct, c.cores))
            << c.pct << "% of " << c.cores;
}

} // namespace
