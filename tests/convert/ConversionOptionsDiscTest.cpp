// Conversion choices seen in the written files: which audio track is heard
// (the tone frequency), which subpicture is burnt in (luma inside its box
// while it is shown), and where the picture lands for each aspect mode (black
// bars at the frame edges). Short ranges of the NTSC test title, checked with
// ffmpeg.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "convert/ConversionBatch.h"
#include "convert/ConversionGraph.h"
#include "convert/DiscConversion.h"
#include "convert/StreamList.h"
#include "fixtures/DiscManifest.h"
#include "platform/dvd/LibDvd.h"
#include "sink/MediaProbe.h"

namespace fs = std::filesystem;

namespace {

// Raw bytes a command writes to stdout.
std::vector<std::uint8_t> RunBytes(const std::string& cmd) {
    std::vector<std::uint8_t> out;
    FILE* p = popen(cmd.c_str(), "r");
    if (!p) return out;
    std::uint8_t buf[65536];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.insert(out.end(), buf, buf + n);
    pclose(p);
    return out;
}

// Frequency (Hz) of the tone in `seconds` of sound from `at`, mixed to mono:
// half the number of sign changes per second. -1 when there is no sound.
double ToneHz(const std::string& path, double at, double seconds) {
    const int rate = 48000;
    auto raw = RunBytes("ffmpeg -v error -nostdin -ss " + std::to_string(at) + " -i '" + path +
                        "' -t " + std::to_string(seconds) + " -vn -ac 1 -ar " + std::to_string(rate) +
                        " -f s16le - 2>/dev/null");
    const size_t count = raw.size() / 2;
    if (count < size_t(rate * seconds * 0.9)) return -1;
    int crossings = 0;
    int prev = 0;
    for (size_t i = 0; i < count; ++i) {
        int s = std::int16_t(raw[2 * i] | (raw[2 * i + 1] << 8));
        if (s == 0) continue;
        if (prev != 0 && (s > 0) != (prev > 0)) ++crossings;
        prev = s;
    }
    return crossings / 2.0 / (double(count) / rate);
}

// Mean luma of the rectangle (x, y, w, h) of the picture shown at `at` s;
// -1 when no picture could be decoded.
double MeanLuma(const std::string& path, double at, int x, int y, int w, int h) {
    auto raw = RunBytes("ffmpeg -v error -nostdin -ss " + std::to_string(at) + " -i '" + path +
                        "' -frames:v 1 -vf crop=" + std::to_string(w) + ":" + std::to_string(h) + ":" +
                        std::to_string(x) + ":" + std::to_string(y) +
                        ",format=gray -f rawvideo - 2>/dev/null");
    if (raw.size() != size_t(w) * size_t(h)) return -1;
    double sum = 0;
    for (std::uint8_t v : raw) sum += v;
    return sum / double(raw.size());
}

// Mean Y, U and V (as stored, 16..235 luma) of the rectangle (x, y, w, h) of
// the picture shown at `at` s; all -1 when no picture could be decoded.
struct Yuv {
    double y = -1, u = -1, v = -1;
};
Yuv MeanColour(const std::string& path, double at, int x, int y, int w, int h) {
    auto raw = RunBytes("ffmpeg -v error -nostdin -ss " + std::to_string(at) + " -i '" + path +
                        "' -frames:v 1 -vf crop=" + std::to_string(w) + ":" + std::to_string(h) + ":" +
                        std::to_string(x) + ":" + std::to_string(y) +
                        ",format=yuv444p -f rawvideo - 2>/dev/null");
    const size_t n = size_t(w) * size_t(h);
    if (raw.size() != 3 * n) return {};
    double sum[3] = {};
    for (size_t i = 0; i < raw.size(); ++i) sum[i / n] += raw[i];
    return {sum[0] / double(n), sum[1] / double(n), sum[2] / double(n)};
}

// Mean absolute luma difference per pixel between the picture shown at `atA`
// s of file A and that shown at `atB` s of file B, both scaled to 180 x 120;
// -1 when either picture could not be decoded. Neighbouring pictures of the
// test pattern differ by about 3; a concealed picture by tens.
double PictureDiff(const std::string& a, double atA, const std::string& b, double atB) {
    auto gray = [](const std::string& path, double at) {
        return RunBytes("ffmpeg -v error -nostdin -ss " + std::to_string(at) + " -i '" + path +
                        "' -frames:v 1 -vf scale=180:120,format=gray -f rawvideo - 2>/dev/null");
    };
    const auto pa = gray(a, atA), pb = gray(b, atB);
    if (pa.size() != 180u * 120u || pb.size() != pa.size()) return -1;
    double sum = 0;
    for (size_t i = 0; i < pa.size(); ++i) sum += std::abs(int(pa[i]) - int(pb[i]));
    return sum / double(pa.size());
}

struct Choice {
    int audioId = -1, subtitleId = -1;
    PictureSettings picture;
};

class ConversionOptionsDiscTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!manifest_.Load(DiscManifest::DiscDir())) GTEST_SKIP() << "no authored discs";
        dir_ = fs::temp_directory_path() / ("convert_options_" + std::to_string(::getpid()));
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    static EncodeParams Params(bool video) {
        EncodeParams e{};
        e.HasVideo = video;
        e.Width = 720;
        e.Height = 480;
        e.FrameRate = 29970;
        e.VideoBitRate = 2000000;
        SetName(e.VideoCodecName, "libx264");
        e.HasAudio = 1;
        e.SampleRate = 48000;
        e.Channel = 2;
        e.AudioBitRate = 128000;
        SetName(e.AudioCodecName, video ? "aac" : "pcm_s16le");
        return e;
    }

    // Converts startMs..startMs+lengthMs of NTSC title 0 with `choice`; the
    // written file, or "" on failure. Each conversion writes into a folder of
    // its own, so files that a test compares are never the same file.
    std::string Convert(double startMs, double lengthMs, const Choice& choice, bool video = true) {
        const fs::path out = dir_ / std::to_string(++conversions_);
        fs::create_directories(out);
        disc_conversion::Options o;
        o.ext = video ? ".mp4" : ".wav";
        o.audioId = choice.audioId;
        o.subtitleId = choice.subtitleId;
        o.picture = choice.picture;
        auto files = disc_conversion::Convert(manifest_.Folder("ntsc"), {{0, startMs, lengthMs}},
                                              Params(video), out.string(), o);
        return files.size() == 1 ? files[0] : std::string();
    }

    int Tone(int track) {
        return int(manifest_.Int(DiscManifest::Title("ntsc", 0, "audio." + std::to_string(track) + ".tone_hz")));
    }
    int StreamId(const std::string& kind, int index) {
        std::string v = manifest_.Str(
            DiscManifest::Title("ntsc", 0, kind + "." + std::to_string(index) + ".id"));
        return int(std::stol(v, nullptr, 0));
    }

    DiscManifest manifest_;
    fs::path dir_;
    int conversions_ = 0;
};

// The first track (AC-3, 440 Hz) unless another one is chosen; the second
// track is MPEG audio at 1000 Hz.
TEST_F(ConversionOptionsDiscTest, ChosenAudioTrackIsTheOneHeard) {
    struct Case {
        int track; // -1: no choice
        int expectTrack;
    };
    // Tracks 1 and 2 are both MPEG audio.
    for (const Case& c : {Case{-1, 0}, Case{1, 1}, Case{2, 2}, Case{0, 0}}) {
        SCOPED_TRACE("track " + std::to_string(c.track));
        Choice choice;
        if (c.track >= 0) choice.audioId = StreamId("audio", c.track);
        std::string file = Convert(10000, 2000, choice, false);
        ASSERT_FALSE(file.empty());
        const double hz = ToneHz(file, 0.5, 1.0);
        EXPECT_NEAR(Tone(c.expectTrack), hz, Tone(c.expectTrack) * 0.03);
    }
}

// The stream names' (PID, stream id, sub-stream id) give the disc
// description's ids, so that two MPEG audio streams (sub-stream id 0 both)
// stay apart; a name without the group gives none.
TEST(StreamListKey, IsTheWholeStreamId) {
    const std::pair<const char*, int> cases[] = {
        {"Audio - Dolby Digital, 48.0 kHz, 2 chn, 192.0 kbit/s (0000,bd,80)", 0xBD80},
        {"Audio - DTS (0000,bd,89)", 0xBD89},
        {"Audio - DVD LPCM, 48.0 kHz (0000,bd,a0)", 0xBDA0},
        {"Audio - MPEG1 - Layer 2 (0000,c0,00)", 0xC000},
        {"Audio - MPEG1 - Layer 2 (0000,c1,00)", 0xC100},
        {"Video - DVD Sub Picture (0000,bd,21)", 0xBD21},
        {"Subtitle (0000,00,00)", 0},
        {"Audio (x) (0000,c7,00)", 0xC700},
        {"No subtitles", -1},
        {"Audio (0000,bd)", -1},
        {"Audio (0000,bd,80", -1},
        {"Audio (0000,1bd,80)", -1},
    };
    for (const auto& [name, key] : cases)
        EXPECT_EQ(StreamList::KeyFromName(name), key) << name;
}

// Every audio and subtitle id the disc description offers (the ids the title
// list and the command line show) names exactly one stream of its kind in the
// built pipeline: AC-3, MPEG audio and subpicture on the NTSC title, LPCM on
// the PAL title.
TEST_F(ConversionOptionsDiscTest, OfferedIdsNameOneStreamEach) {
    for (const char* disc : {"ntsc", "pal"}) {
        SCOPED_TRACE(disc);
        DvdHandle dvd = MyDVDOpen(manifest_.Folder(disc).c_str());
        ASSERT_TRUE(dvd);
        DvdDiscInfo info{};
        ASSERT_EQ(MyDVDGetInfo(dvd, &info), 0);
        const DvdTitleInfo& title = info.titles[0];
        {
            ConversionGraph graph;
            graph.SetDisc(dvd, &info);
            ConvertTask task;
            task.titleIndex = 0;
            task.titleLengthMs = title.durationMs;
            task.trimLengthMs = title.durationMs;
            ASSERT_TRUE(graph.Build(dvd, 0, -1, task)) << graph.LastError();
            StreamList streams;
            ASSERT_TRUE(graph.CollectStreams(streams));
            EXPECT_EQ(int(streams.audio.size()), title.audioCount);
            for (int a = 0; a < title.audioCount; ++a)
                EXPECT_EQ(std::count_if(streams.audio.begin(), streams.audio.end(),
                                        [&](const auto& s) { return s.key == title.audioIds[a]; }),
                          1)
                    << std::hex << title.audioIds[a];
            for (int s = 0; s < title.subtitleCount; ++s)
                EXPECT_EQ(std::count_if(streams.subpictures.begin(), streams.subpictures.end(),
                                        [&](const auto& p) { return p.key == title.subtitleIds[s]; }),
                          1)
                    << std::hex << title.subtitleIds[s];
            graph.TearDown();
        }
        MyDVDClose(dvd);
    }
}

// Subpicture 0 is a white 240 x 48 box at (60, 360) shown from 2.0 to 5.0 s;
// burnt in only when chosen. The inside of the box, less a margin for the
// encoder's blur, is compared with a conversion without subtitles at 1 s
// (before), 3 s (shown) and 5.5 s (after). While shown it is white, in the
// disc's own colour table: near-top luma and no tint (colours guessed without
// the table draw it dark).
TEST_F(ConversionOptionsDiscTest, ChosenSubpictureIsBurntInWhileShown) {
    Choice with;
    with.subtitleId = StreamId("subtitle", 0);
    std::string file = Convert(0, 6000, with);
    ASSERT_FALSE(file.empty());
    std::string plain = Convert(0, 6000, Choice{});
    ASSERT_FALSE(plain.empty());
    auto boxDiff = [&](double at) {
        return std::abs(MeanLuma(file, at, 68, 368, 224, 32) - MeanLuma(plain, at, 68, 368, 224, 32));
    };
    EXPECT_GT(boxDiff(3.0), 40) << "the box is not in the picture at 3 s";
    const Yuv box = MeanColour(file, 3.0, 68, 368, 224, 32);
    EXPECT_GT(box.y, 215) << "the box is not white";
    EXPECT_NEAR(box.u, 128, 10) << "the box is tinted";
    EXPECT_NEAR(box.v, 128, 10) << "the box is tinted";
    EXPECT_LT(boxDiff(1.0), 8) << "the box is shown before its start";
    EXPECT_LT(boxDiff(5.5), 8) << "the box is still shown after its end";
}

// A trimmed conversion starts clean: its first pictures are those of a
// conversion from the title's start at the same moments, not the concealment
// of a decoder that began inside a group of pictures. Starts a few pictures
// after a key picture (the title's groups are 15 pictures, 0.5 s), in the
// first second, and just past it.
TEST_F(ConversionOptionsDiscTest, TrimmedStartDecodesCleanPictures) {
    const std::string whole = Convert(0, 8000, Choice{});
    ASSERT_FALSE(whole.empty());
    for (double startMs : {700.0, 1100.0, 3300.0, 6250.0}) {
        SCOPED_TRACE("trim start " + std::to_string(startMs) + " ms");
        const std::string trimmed = Convert(startMs, 1000, Choice{});
        ASSERT_FALSE(trimmed.empty());
        for (int n = 0; n < 4; ++n) {
            const double at = n / 29.97;
            const double diff = PictureDiff(trimmed, at, whole, startMs / 1000 + at);
            EXPECT_GE(diff, 0) << "picture " << n << " missing";
            EXPECT_LT(diff, 6) << "picture " << n << " differs from the whole title's";
        }
    }
}

// The progress display's duration is the trimmed length, whatever lead the
// reading starts with (a full one, one cut short by the title's start, none).
TEST_F(ConversionOptionsDiscTest, ProgressDurationIsTheTrimLength) {
    DvdHandle dvd = MyDVDOpen(manifest_.Folder("ntsc").c_str());
    ASSERT_TRUE(dvd);
    DvdDiscInfo info{};
    ASSERT_EQ(MyDVDGetInfo(dvd, &info), 0);
    {
        ConversionGraph graph;
        graph.SetDisc(dvd, &info);
        for (auto [startMs, lengthMs] : {std::pair{3300.0, 1000.0}, std::pair{400.0, 2500.0},
                                          std::pair{0.0, 4000.0}}) {
            SCOPED_TRACE(startMs);
            ConvertTask task;
            task.titleLengthMs = info.titles[0].durationMs;
            task.trimStartMs = startMs;
            task.trimLengthMs = lengthMs;
            ASSERT_TRUE(graph.Build(dvd, 0, -1, task)) << graph.LastError();
            EXPECT_NEAR(graph.Duration(), lengthMs / 1000, 0.002);
        }
        graph.TearDown();
    }
    MyDVDClose(dvd);
}

// The 720 x 480 source into a 720 x 480 frame of square pixels: kept as it
// is, 16:9 leaves bars of 37 rows at top and bottom (720 x 405), 4:3 bars of
// 40 columns left and right (640 x 480). Black is luma 16.
TEST_F(ConversionOptionsDiscTest, AspectModeDecidesWhereTheBarsAre) {
    struct Case {
        AspectMode mode;
        bool barsTopBottom, barsLeftRight;
    };
    for (const Case& c : {Case{AspectKeepOriginal, false, false}, Case{Aspect16x9, true, false},
                          Case{Aspect4x3, false, true}}) {
        SCOPED_TRACE("aspect mode " + std::to_string(int(c.mode)));
        Choice choice;
        choice.picture.aspectMode = c.mode;
        std::string file = Convert(1000, 2000, choice);
        ASSERT_FALSE(file.empty());
        probe::Result r = probe::File(file);
        ASSERT_NE(nullptr, r.Of("video"));
        EXPECT_EQ(720, r.Of("video")->width);
        EXPECT_EQ(480, r.Of("video")->height);
        const double top = MeanLuma(file, 1.0, 0, 4, 720, 28);
        const double bottom = MeanLuma(file, 1.0, 0, 448, 720, 28);
        const double left = MeanLuma(file, 1.0, 4, 100, 30, 280);
        const double right = MeanLuma(file, 1.0, 686, 100, 30, 280);
        const double middle = MeanLuma(file, 1.0, 100, 200, 520, 80);
        auto dark = [](double y) { return y >= 0 && y < 30; };
        EXPECT_EQ(c.barsTopBottom, dark(top)) << top;
        EXPECT_EQ(c.barsTopBottom, dark(bottom)) << bottom;
        EXPECT_EQ(c.barsLeftRight, dark(left)) << left;
        EXPECT_EQ(c.barsLeftRight, dark(right)) << right;
        EXPECT_GT(middle, 50) << "no picture in the middle of the frame";
    }
}

} // namespace
