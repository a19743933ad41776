// Sound and pictures in step inside converted files. The sync disc's titles
// flash white and beep at the same instants once a second; the written file
// is decoded with ffmpeg, every flash and every beep onset is found, and each
// beep must start within 40 ms of its flash: at the start and the end of a
// title, after a trim start in the middle of a title, across the boundary of
// merged titles, after a title whose sound starts later than its pictures,
// and when the frame rate changes.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "convert/ConversionBatch.h"
#include "convert/ConversionGraph.h"
#include "convert/DiscConversion.h"
#include "fixtures/DiscManifest.h"
#include "platform/dvd/LibDvd.h"
#include "sink/MediaProbe.h"

namespace fs = std::filesystem;

namespace {

constexpr double kMaxOffset = 0.040; // s, sound against pictures
// A marker's flash or beep must lie this close to where the trim and the
// merge put it (s); markers are a second apart, so pairing stays unambiguous.
constexpr double kFindWindow = 0.300;
// A flash or beep counts as a new onset only after this long without one (s).
constexpr double kQuiet = 0.300;

// (time s, level) per decoded picture or block of sound.
using Levels = std::vector<std::pair<double, double>>;

Levels ReadLevels(const std::string& cmd) {
    Levels out;
    std::istringstream in(probe::Run(cmd));
    std::string line;
    while (std::getline(in, line)) {
        auto c = line.find(',');
        if (c == std::string::npos) continue;
        std::string level = line.substr(c + 1);
        double v = level.find("inf") != std::string::npos ? -200 : std::atof(level.c_str());
        out.emplace_back(std::atof(line.c_str()), v);
    }
    return out;
}

// Times at which the level rises above `threshold` after at least kQuiet
// below it.
std::vector<double> Onsets(const Levels& levels, double threshold) {
    std::vector<double> out;
    double lastHigh = -1e9;
    for (const auto& [t, v] : levels) {
        if (v <= threshold) continue;
        if (t - lastHigh > kQuiet) out.push_back(t);
        lastHigh = t;
    }
    return out;
}

// Mean luma of every picture, with the presentation times a player uses
// (through lavfi's movie source, which honours edit lists).
Levels PictureLuma(const std::string& path) {
    return ReadLevels("ffprobe -v error -f lavfi -i \"movie='" + path +
                      "',signalstats\" -show_entries frame=pts_time:frame_tags=lavfi.signalstats.YAVG "
                      "-of csv=p=0 2>/dev/null");
}

// Peak level (dBFS) of every block of 48 samples (1 ms at 48 kHz). The
// blocks are timed in microseconds: in the stream's own time base an AVI's MP3
// would only count whole 1152-sample frames.
Levels SoundPeaks(const std::string& path) {
    return ReadLevels("ffprobe -v error -f lavfi -i \"amovie='" + path +
                      "',asettb=1/1000000,asetnsamples=n=48,astats=metadata=1:reset=1\" -show_entries "
                      "frame=pts_time:frame_tags=lavfi.astats.Overall.Peak_level -of csv=p=0 "
                      "2>/dev/null");
}

struct Marks {
    double firstPicture = NAN; // s, presentation time of the first picture
    std::vector<double> flashes, beeps;
};

// Flashes are white on black (luma 235 against 16); beeps peak at -2 dBFS
// in silence.
Marks FindMarks(const std::string& path) {
    Marks m;
    Levels luma = PictureLuma(path);
    if (!luma.empty()) m.firstPicture = luma.front().first;
    m.flashes = Onsets(luma, 128);
    m.beeps = Onsets(SoundPeaks(path), -20);
    return m;
}

// The onset nearest to `at` within kFindWindow, or NaN.
double Near(const std::vector<double>& onsets, double at) {
    double best = NAN;
    for (double t : onsets)
        if (std::abs(t - at) <= kFindWindow && (std::isnan(best) || std::abs(t - at) < std::abs(best - at)))
            best = t;
    return best;
}

struct Profile {
    const char* ext;
    const char* video;
    const char* audio;
    int frameRate, sampleRate;
};

const Profile kMp4{".mp4", "libx264", "aac", 29970, 48000};
const Profile kMp4At25{".mp4", "libx264", "aac", 25000, 48000};
const Profile kAvi{".avi", "mpeg4", "libmp3lame", 29970, 44100};

EncodeParams Params(const Profile& p) {
    EncodeParams e{};
    e.HasVideo = 1;
    e.Width = 320; // the flash fills the frame, so a small one will do
    e.Height = 240;
    e.FrameRate = p.frameRate;
    e.VideoBitRate = 1000000;
    SetName(e.VideoCodecName, p.video);
    e.HasAudio = 1;
    e.SampleRate = p.sampleRate;
    e.Channel = 2;
    e.AudioBitRate = 128000;
    SetName(e.AudioCodecName, p.audio);
    return e;
}

using Item = disc_conversion::Item;

struct Case {
    const char* name;
    Profile profile;
    std::vector<Item> items; // more than one: merged into one file
};

std::ostream& operator<<(std::ostream& os, const Case& c) { return os << c.name; }

// Whole titles: markers 0.5 s after the start and 0.5 s before the end;
// title 1's sound starts 250 ms after its pictures. The 1.2 s trim start lies
// inside a group of pictures (decoding starts before it) and just before a
// picture starts; the 0.1 s one lies before title 1's sound.
const Case kCases[] = {
    {"WholeTitleMp4", kMp4, {{0, 0, -1}}},
    {"WholeTitleAvi", kAvi, {{0, 0, -1}}},
    {"LateSoundTitleMp4", kMp4, {{1, 0, -1}}},
    {"LateSoundTitleAvi", kAvi, {{1, 0, -1}}},
    {"TrimmedTitleMp4", kMp4, {{0, 1200, 3600}}},
    {"TrimmedTitleAvi", kAvi, {{0, 1200, 3600}}},
    {"TrimmedBeforeTheSoundMp4", kMp4, {{1, 100, 4000}}},
    {"MergedTitlesMp4", kMp4, {{0, 0, -1}, {1, 0, -1}}},
    {"MergedTitlesAvi", kAvi, {{0, 0, -1}, {1, 0, -1}}},
    {"WholeTitleMp4At25fps", kMp4At25, {{0, 0, -1}}},
    {"MergedTrimmedTitlesMp4At25fps", kMp4At25, {{0, 1200, 3600}, {1, 0, -1}}},
};

class SyncDiscTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!manifest_.Load(DiscManifest::DiscDir()) || !manifest_.Has("sync.folder"))
            GTEST_SKIP() << "no authored sync disc";
        dir_ = fs::temp_directory_path() / ("convert_sync_" + std::to_string(::getpid()));
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    std::vector<double> MarkersSeconds(int title) const {
        std::vector<double> out;
        for (auto us : manifest_.Ints(DiscManifest::Title("sync", title, "markers_us")))
            out.push_back(double(us) / 1e6);
        return out;
    }

    // Converts the case's items into one file; "" on failure.
    std::string Convert(const Case& c) {
        disc_conversion::Options o;
        o.ext = c.profile.ext;
        o.merge = c.items.size() > 1;
        auto files = disc_conversion::Convert(manifest_.Folder("sync"), c.items,
                                              Params(c.profile), dir_.string(), o);
        return files.size() == 1 ? files[0] : std::string();
    }

    // Where the markers of `items` fall in the output, in seconds from its
    // first picture: each item starts where the one before ended.
    std::vector<double> ExpectedMarkers(const std::vector<Item>& items) const {
        std::vector<double> out;
        double itemStart = 0;
        for (const Item& it : items) {
            const double titleS = double(manifest_.Int(DiscManifest::Title("sync", it.title, "duration_ms"))) / 1000;
            const double from = it.startMs / 1000;
            const double length = it.lengthMs < 0 ? titleS : it.lengthMs / 1000;
            for (double m : MarkersSeconds(it.title))
                if (m >= from && m < from + length) out.push_back(itemStart + m - from);
            itemStart += length;
        }
        return out;
    }

    // Every expected marker (s from the first picture) has a flash and a beep,
    // at most `maxOffset` apart. Prints the offsets.
    void ExpectInStep(const Marks& marks, const std::vector<double>& expected, const std::string& what,
                      double maxOffset = kMaxOffset) {
        ASSERT_FALSE(std::isnan(marks.firstPicture)) << what << ": no pictures";
        EXPECT_EQ(expected.size(), marks.flashes.size()) << what << ": flashes found";
        EXPECT_EQ(expected.size(), marks.beeps.size()) << what << ": beeps found";
        std::string summary = what + ": sound - picture (ms):";
        for (double at : expected) {
            const double want = marks.firstPicture + at;
            const double flash = Near(marks.flashes, want);
            const double beep = Near(marks.beeps, want);
            SCOPED_TRACE(what + ": marker at " + std::to_string(at) + " s");
            EXPECT_FALSE(std::isnan(flash)) << "no flash near " << want << " s";
            EXPECT_FALSE(std::isnan(beep)) << "no beep near " << want << " s";
            if (std::isnan(flash) || std::isnan(beep)) {
                summary += " ?";
                continue;
            }
            const double offset = beep - flash;
            char buf[32];
            std::snprintf(buf, sizeof buf, " %+.1f", offset * 1000);
            summary += buf;
            EXPECT_LT(std::abs(offset), maxOffset)
                << "flash at " << flash << " s, beep at " << beep << " s";
        }
        std::printf("%s\n", summary.c_str());
    }

    DiscManifest manifest_;
    fs::path dir_;
};

// The measure itself: in each title's own VOB (one title set per title) the
// flashes come at the authored times and the beeps start on them, within the
// 1 ms of a block of sound.
TEST_F(SyncDiscTest, MarkersLineUpOnTheDisc) {
    for (int title = 0; title < manifest_.Int("sync.titles"); ++title) {
        const int vts = int(manifest_.Int(DiscManifest::Title("sync", title, "vts")));
        char vob[32];
        std::snprintf(vob, sizeof vob, "/VIDEO_TS/VTS_%02d_1.VOB", vts);
        Marks marks = FindMarks(manifest_.Folder("sync") + vob);
        std::vector<double> expected = MarkersSeconds(title);
        ExpectInStep(marks, expected, "title " + std::to_string(title) + " on the disc", 0.002);
        for (size_t i = 0; i < expected.size() && i < marks.flashes.size(); ++i)
            EXPECT_NEAR(marks.firstPicture + expected[i], marks.flashes[i], 0.001);
    }
}

class ConversionSyncDiscTest : public SyncDiscTest, public ::testing::WithParamInterface<Case> {};

TEST_P(ConversionSyncDiscTest, SoundStaysWithPictures) {
    const Case& c = GetParam();
    std::string file = Convert(c);
    ASSERT_FALSE(file.empty());
    ExpectInStep(FindMarks(file), ExpectedMarkers(c.items), c.name);
}

std::string CaseName(const ::testing::TestParamInfo<Case>& info) { return info.param.name; }

INSTANTIATE_TEST_SUITE_P(Sync, ConversionSyncDiscTest, ::testing::ValuesIn(kCases), CaseName);

} // namespace
