// The decoders on the authored discs' elementary streams, fed as the
// demultiplexer delivers them (PES payloads in file order, PES time stamps),
// with the renderers' work done by the video renderer without a host and a PCM
// capture. Checked against the manifest and against ffmpeg's own decoding.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>

#include "MediaTestGraph.h"
#include "PacketSource.h"
#include "PcmCapture.h"
#include "VobReader.h"
#include "fixtures/DiscManifest.h"
#include "platform/dshow/ComponentRegistry.h"
#include "platform/media/CAudioDecoder.h"
#include "platform/media/CMpeg2VideoDecoder.h"
#include "platform/media/CVideoRenderer.h"
#include "platform/media/MediaClsids.h"
#include "platform/media/MediaComponents.h"
#include "platform/media/SubpictureOverlay.h"

using namespace mediatest;

namespace {

struct Box {
    int x, y, w, h;
};
// The boxes make_discs.sh draws for its three subpictures.
const std::vector<Box> kDiscBoxes = {{60, 360, 240, 48}, {260, 300, 240, 48}, {460, 240, 240, 48}};

struct Picture {
    REFERENCE_TIME start, stop;
    std::vector<double> boxMean; // mean luma over each box
};

double BoxMean(const BYTE* y, int width, const Box& b) {
    double sum = 0;
    for (int r = b.y; r < b.y + b.h; ++r)
        for (int c = b.x; c < b.x + b.w; ++c)
            sum += y[r * width + c];
    return sum / double(b.w * b.h);
}

class DecoderDiscTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(RegisterMediaComponents(), S_OK);
        if (!manifest_.Load(DiscManifest::DiscDir())) GTEST_SKIP() << "no authored discs";
    }
    std::string Vob(const std::string& disc, int vts) {
        char name[32];
        std::snprintf(name, sizeof name, "/VIDEO_TS/VTS_%02d_1.VOB", vts);
        return manifest_.Folder(disc) + name;
    }
    const VobContents& Read(const std::string& path) {
        auto it = cache_.find(path);
        if (it == cache_.end()) {
            VobContents c;
            EXPECT_TRUE(ReadVob(path, &c)) << path;
            it = cache_.emplace(path, std::move(c)).first;
        }
        return it->second;
    }

    // Decodes the video (and the subpictures when withSubs) of a VOB; keeps the
    // luma planes of the picture numbers in keep. A palette text ("palette:
    // rrggbb, ...") goes to the decoder as the subpicture type's format block.
    std::vector<Picture> DecodeVideo(const VobContents& vob, bool withSubs,
                                     const std::vector<int>& keep,
                                     std::map<int, std::vector<BYTE>>* kept,
                                     const std::vector<Box>& boxes = kDiscBoxes,
                                     const std::string& palette = {}) {
        auto graph = MakeGraph(false);
        ComPtr<CPacketSource> src(new CPacketSource);
        const int vpin = src->AddStream(
            L"Video", Mpeg2VideoType(vob.width, vob.height, vob.frameDuration), 1 << 20);
        CMediaType subType = SubpictureType();
        if (!palette.empty())
            subType.SetFormat(reinterpret_cast<const BYTE*>(palette.data()), ULONG(palette.size()));
        const int spin = withSubs ? src->AddStream(L"Subtitle", subType, 1 << 16) : -1;
        HRESULT hr = S_OK;
        ComPtr<IBaseFilter> dec;
        EXPECT_EQ(CoCreateInstance(CLSID_MpegDecoder, nullptr, 1, IID_IBaseFilter,
                                   reinterpret_cast<void**>(&dec)),
                  S_OK);
        ComPtr<CVideoRenderer> vmr(new CVideoRenderer(nullptr, &hr));
        std::vector<Picture> pics;
        vmr->SetPictureObserver(
            [&](const BYTE* y, int w, int h, REFERENCE_TIME s, REFERENCE_TIME e) {
                Picture p{s, e, {}};
                for (const Box& b : boxes)
                    p.boxMean.push_back(BoxMean(y, w, b));
                const int n = int(pics.size());
                if (std::find(keep.begin(), keep.end(), n) != keep.end())
                    (*kept)[n] = std::vector<BYTE>(y, y + std::size_t(w) * h);
                pics.push_back(p);
            });
        EXPECT_EQ(graph->AddFilter(src.Get(), L"Source"), S_OK);
        EXPECT_EQ(graph->AddFilter(dec.Get(), L"Decoder"), S_OK);
        EXPECT_EQ(graph->AddFilter(vmr.Get(), L"Video Mixing Renderer"), S_OK);
        EXPECT_EQ(Join(graph.Get(), src.Get(), vpin, dec.Get(), 0), S_OK);
        if (withSubs) {
            EXPECT_EQ(Join(graph.Get(), src.Get(), spin, dec.Get(), 1), S_OK);
        }
        EXPECT_EQ(Join(graph.Get(), dec.Get(), 0, vmr.Get(), 0), S_OK);
        EXPECT_EQ(graph->Run(), S_OK);
        for (const VobPacket* p : Select(vob, {0x1e0, 0x20})) {
            if (p->stream == 0x1e0) {
                EXPECT_EQ(src->Pin(vpin)->Send(p->data.data(), LONG(p->data.size()), p->hasTime,
                                               p->start),
                          S_OK);
            } else if (withSubs) {
                src->Pin(spin)->Send(p->data.data(), LONG(p->data.size()), p->hasTime, p->start);
            }
        }
        src->Pin(vpin)->DeliverEndOfStream();
        if (withSubs) src->Pin(spin)->DeliverEndOfStream();
        LONG code = 0;
        EXPECT_EQ(graph->WaitForCompletion(10000, &code), S_OK);
        graph->Stop();
        return pics;
    }

    struct Pcm {
        int rate = 0, channels = 0;
        std::vector<std::int16_t> samples;
        std::vector<REFERENCE_TIME> starts, stops;
    };
    Pcm DecodeAudio(const VobContents& vob, int stream, const CMediaType& type) {
        auto graph = MakeGraph(false);
        ComPtr<CPacketSource> src(new CPacketSource);
        src->AddStream(L"Audio", type, 1 << 16);
        ComPtr<IBaseFilter> dec;
        EXPECT_EQ(CoCreateInstance(CLSID_MpaDecoder, nullptr, 1, IID_IBaseFilter,
                                   reinterpret_cast<void**>(&dec)),
                  S_OK);
        ComPtr<CPcmCapture> cap(new CPcmCapture);
        graph->AddFilter(src.Get(), L"Source");
        graph->AddFilter(dec.Get(), L"AudioDecoder");
        graph->AddFilter(cap.Get(), L"Capture");
        EXPECT_EQ(Join(graph.Get(), src.Get(), 0, dec.Get(), 0), S_OK);
        EXPECT_EQ(Join(graph.Get(), dec.Get(), 0, cap.Get(), 0), S_OK);
        EXPECT_EQ(graph->Run(), S_OK);
        for (const VobPacket* p : Select(vob, {stream})) {
            EXPECT_EQ(src->Pin(0)->Send(p->data.data(), LONG(p->data.size()), p->hasTime, p->start),
                      S_OK);
        }
        src->Pin(0)->DeliverEndOfStream();
        graph->Stop();
        std::lock_guard<std::mutex> g(cap->m);
        EXPECT_EQ(cap->eos, 1);
        return Pcm{cap->rate, cap->channels, cap->pcm, cap->starts, cap->stops};
    }

    DiscManifest manifest_;
    static std::map<std::string, VobContents> cache_;
};
std::map<std::string, VobContents> DecoderDiscTest::cache_;

template <class T>
void ExpectMonotonic(const std::vector<T>& starts, const std::vector<T>& stops, const char* what) {
    for (std::size_t i = 0; i < starts.size(); ++i) {
        ASSERT_LT(starts[i], stops[i]) << what << " sample " << i;
        if (i) {
            ASSERT_GE(starts[i], stops[i - 1]) << what << " sample " << i;
        }
    }
}

} // namespace

TEST_F(DecoderDiscTest, EveryPictureDecodedInOrderAndMatchesFfmpeg) {
    const VobContents& vob = Read(Vob("ntsc", 1));
    ASSERT_EQ(vob.width, 720);
    ASSERT_EQ(vob.height, 480);
    const std::vector<int> keep = {0, 10, 300, 901, 1700};
    std::map<int, std::vector<BYTE>> kept;
    const auto pics = DecodeVideo(vob, false, keep, &kept);

    const auto frames = manifest_.Int(DiscManifest::Title("ntsc", 0, "frames"));
    EXPECT_NEAR(double(pics.size()), double(frames), 1.0);
    std::vector<REFERENCE_TIME> starts, stops;
    for (const auto& p : pics) {
        starts.push_back(p.start);
        stops.push_back(p.stop);
    }
    ExpectMonotonic(starts, stops, "picture");
    // Times follow the stream: the last picture ends at the title's length.
    const double lengthMs = double(manifest_.Int(DiscManifest::Title("ntsc", 0, "duration_ms")));
    EXPECT_NEAR(double(stops.back() - starts.front()) / MILLISECONDS, lengthMs, 40.0);

    const auto ref = FfmpegLuma(Vob("ntsc", 1), 720, 480, keep);
    ASSERT_EQ(ref.size(), keep.size());
    for (std::size_t k = 0; k < keep.size(); ++k) {
        ASSERT_TRUE(kept.count(keep[k]));
        EXPECT_LT(MeanAbsDiff(kept[keep[k]].data(), ref[k].data(), 720 * 480), 1.0)
            << "picture " << keep[k];
    }
}

// Box i must be burned in while subpicture i is displayed and nowhere else.
void ExpectBurnedIn(const std::vector<Picture>& plain, const std::vector<Picture>& burned,
                    const std::vector<std::pair<std::int64_t, std::int64_t>>& spansMs) {
    ASSERT_EQ(plain.size(), burned.size());
    const REFERENCE_TIME margin = 50 * MILLISECONDS; // a picture and a half
    std::vector<int> shown(spansMs.size());
    for (std::size_t n = 0; n < plain.size(); ++n) {
        const REFERENCE_TIME t = plain[n].start;
        for (std::size_t i = 0; i < spansMs.size(); ++i) {
            const double diff = std::abs(burned[n].boxMean[i] - plain[n].boxMean[i]);
            const REFERENCE_TIME s = spansMs[i].first * MILLISECONDS,
                                 e = spansMs[i].second * MILLISECONDS;
            if (t >= s + margin && t < e - margin) {
                EXPECT_GT(diff, 20.0) << "box " << i << " missing at " << t / MILLISECONDS << " ms";
                ++shown[i];
            } else if (t < s - margin || t >= e + margin) {
                EXPECT_LT(diff, 0.5) << "box " << i << " shown at " << t / MILLISECONDS << " ms";
            }
        }
    }
    for (std::size_t i = 0; i < spansMs.size(); ++i) {
        const double expected = double(spansMs[i].second - spansMs[i].first) * 0.03 - 4;
        EXPECT_GT(shown[i], expected) << "box " << i;
    }
}

// True when a VOB's subpictures draw anything (an authoring tool can write
// units whose every colour has contrast 0).
bool SubpicturesVisible(const VobContents& vob) {
    SubpictureOverlay overlay;
    overlay.Open();
    for (const VobPacket* p : Select(vob, {0x20}))
        overlay.AddPayload(p->data.data(), int(p->data.size()), p->hasTime, p->start);
    return overlay.Count() > 0;
}

TEST_F(DecoderDiscTest, SubpicturesBurnedInOnlyWithinTheirDisplayTimes) {
    const VobContents& vob = Read(Vob("ntsc", 1));
    if (!SubpicturesVisible(vob))
        GTEST_SKIP()
            << "the disc's subpictures are fully transparent (all contrast 0): re-author the discs";
    const auto plain = DecodeVideo(vob, false, {}, nullptr);
    const auto burned = DecodeVideo(vob, true, {}, nullptr);
    ExpectBurnedIn(plain, burned, manifest_.Spans(DiscManifest::Subtitle("ntsc", 0, 0, "spus")));
}

// A clip with one subpicture authored here (ffmpeg + spumux): a white box at
// (100, 300) shown from 1.0 s to 2.5 s of the video.
TEST_F(DecoderDiscTest, AuthoredSubpictureBurnedInAtItsTimes) {
    const std::string dir = ::testing::TempDir() + "media_spu";
    std::filesystem::create_directories(dir);
    {
        std::ofstream xml(dir + "/spu.xml");
        xml << "<subpictures format=\"NTSC\"><stream><spu start=\"00:00:01.00\" "
               "end=\"00:00:02.50\" "
               "image=\"box.png\" transparent=\"000000\"/></stream></subpictures>\n";
        std::ofstream sh(dir + "/make.sh");
        sh << "set -e\ncd \"$(dirname \"$0\")\"\n"
              "ffmpeg -nostdin -v error -y -f lavfi -i testsrc2=size=720x480:rate=30000/1001 "
              "-frames:v 120 -target ntsc-dvd -an t.mpg\n"
              "ffmpeg -nostdin -v error -y -f lavfi -i "
              "color=c=black:s=720x480,drawbox=x=100:y=300:w=240:h=48:color=white:t=fill "
              "-frames:v 1 -pix_fmt pal8 box.png\n"
              "spumux -s 0 spu.xml < t.mpg > ts.mpg 2> spumux.log\n";
    }
    if (std::system(("bash '" + dir + "/make.sh'").c_str()) != 0)
        GTEST_SKIP() << "ffmpeg or spumux failed";
    VobContents vob;
    ASSERT_TRUE(ReadVob(dir + "/ts.mpg", &vob));
    const std::vector<Box> box = {{100, 300, 240, 48}};
    const auto plain = DecodeVideo(vob, false, {}, nullptr, box);
    const auto burned = DecodeVideo(vob, true, {}, nullptr, box);
    EXPECT_NEAR(double(plain.size()), 120.0, 1.0);
    ExpectBurnedIn(plain, burned, {{1000, 2500}});
}

// The colour table of the subpicture type paints the box: all sixteen
// entries red, then all white, give the box the luma of that colour while it
// is shown (BT.601 studio range: red 81, white 235).
TEST_F(DecoderDiscTest, SubpictureTypesPaletteGivesTheColours) {
    const VobContents& vob = Read(Vob("ntsc", 1));
    if (!SubpicturesVisible(vob)) GTEST_SKIP() << "the disc's subpictures are fully transparent";
    const auto spans = manifest_.Spans(DiscManifest::Subtitle("ntsc", 0, 0, "spus"));
    ASSERT_FALSE(spans.empty());
    for (auto [colour, luma] : {std::pair{"ff0000", 81.0}, std::pair{"ffffff", 235.0}}) {
        SCOPED_TRACE(colour);
        std::string palette = "palette:";
        for (int i = 0; i < 16; ++i)
            palette += std::string(i ? ", " : " ") + colour;
        const auto burned = DecodeVideo(vob, true, {}, nullptr, kDiscBoxes, palette + "\n");
        const REFERENCE_TIME middle = (spans[0].first + spans[0].second) / 2 * MILLISECONDS;
        int checked = 0;
        for (const Picture& p : burned)
            if (p.start >= middle - 200 * MILLISECONDS && p.start < middle + 200 * MILLISECONDS) {
                EXPECT_NEAR(p.boxMean[0], luma, 3) << "at " << p.start / MILLISECONDS << " ms";
                ++checked;
            }
        EXPECT_GT(checked, 5);
    }
}

TEST_F(DecoderDiscTest, AudioTracksDecodeToTheirToneLengthAndTimes) {
    struct Case {
        const char* disc;
        int vts, title, audio;
        int stream;
        CMediaType type;
        double lengthMs; // the VOB's whole length
    };
    const double ntsc0 = double(manifest_.Int(DiscManifest::Title("ntsc", 0, "duration_ms")));
    const double ntsc12 = double(manifest_.Int(DiscManifest::Title("ntsc", 1, "duration_ms")) +
                                 manifest_.Int(DiscManifest::Title("ntsc", 2, "duration_ms")));
    const double pal01 = double(manifest_.Int(DiscManifest::Title("pal", 0, "duration_ms")) +
                                manifest_.Int(DiscManifest::Title("pal", 1, "duration_ms")));
    const Case cases[] = {
        {"ntsc", 1, 0, 0, 0x80, Ac3Type(2, 48000), ntsc0},
        {"ntsc", 1, 0, 1, 0x1c1, Mpeg1AudioType(2, 2, 48000), ntsc0},
        {"ntsc", 2, 1, 0, 0x80, Ac3Type(6, 48000), ntsc12},
        {"pal", 1, 0, 0, 0xa0, LpcmType(2, 48000, 16), pal01},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.disc) + " stream " + std::to_string(c.stream));
        const VobContents& vob = Read(Vob(c.disc, c.vts));
        const Pcm pcm = DecodeAudio(vob, c.stream, c.type);
        const int channels =
            int(manifest_.Int(DiscManifest::Audio(c.disc, c.title, c.audio, "channels")));
        const int rate = int(manifest_.Int(DiscManifest::Audio(c.disc, c.title, c.audio, "rate")));
        ASSERT_EQ(pcm.channels, channels);
        ASSERT_EQ(pcm.rate, rate);
        const std::size_t frames = pcm.samples.size() / channels;
        EXPECT_NEAR(double(frames) * 1000.0 / rate, c.lengthMs, 50.0);
        ExpectMonotonic(pcm.starts, pcm.stops, "audio");
        const double tone =
            double(manifest_.Int(DiscManifest::Audio(c.disc, c.title, c.audio, "tone_hz")));
        // The tone sits in the loudest channel (the centre of a 5.1 mix).
        int loudest = 0;
        double best = -1;
        for (int ch = 0; ch < channels; ++ch) {
            double e = 0;
            for (std::size_t i = std::size_t(rate); i < std::size_t(2 * rate) && i < frames; ++i)
                e += std::abs(double(pcm.samples[i * channels + ch]));
            if (e > best) best = e, loudest = ch;
        }
        EXPECT_NEAR(ToneFrequency(pcm.samples, channels, loudest, rate, rate, 3 * rate), tone,
                    tone * 0.005);
    }
}

// 24-bit DVD LPCM, written by ffmpeg's encoder into a program stream here: the
// decoder gets the samples without their LPCM header, as from the demultiplexer.
TEST(DecoderLpcmTest, TwentyFourBitLpcmDecodesToItsTone) {
    ASSERT_EQ(RegisterMediaComponents(), S_OK);
    const std::string path = ::testing::TempDir() + "media_lpcm24.vob";
    const std::string cmd =
        "ffmpeg -nostdin -v error -y -f lavfi -i sine=frequency=1000:sample_rate=48000:duration=2 "
        "-ac 2 -c:a pcm_dvd -sample_fmt s32 -f vob '" +
        path + "'";
    if (std::system(cmd.c_str()) != 0) GTEST_SKIP() << "ffmpeg could not write 24-bit LPCM";
    VobContents vob;
    ASSERT_TRUE(ReadVob(path, &vob));

    auto graph = MakeGraph(false);
    ComPtr<CPacketSource> src(new CPacketSource);
    src->AddStream(L"Audio", LpcmType(2, 48000, 24), 1 << 16);
    ComPtr<IBaseFilter> dec;
    ASSERT_EQ(CoCreateInstance(CLSID_MpaDecoder, nullptr, 1, IID_IBaseFilter,
                               reinterpret_cast<void**>(&dec)),
              S_OK);
    ComPtr<CPcmCapture> cap(new CPcmCapture);
    graph->AddFilter(src.Get(), L"Source");
    graph->AddFilter(dec, L"AudioDecoder");
    graph->AddFilter(cap.Get(), L"Capture");
    ASSERT_EQ(Join(graph.Get(), src.Get(), 0, dec, 0), S_OK);
    ASSERT_EQ(Join(graph.Get(), dec, 0, cap.Get(), 0), S_OK);
    ASSERT_EQ(graph->Run(), S_OK);
    for (const VobPacket* p : Select(vob, {0xa0}))
        ASSERT_EQ(src->Pin(0)->Send(p->data.data(), LONG(p->data.size()), p->hasTime, p->start),
                  S_OK);
    src->Pin(0)->DeliverEndOfStream();
    graph->Stop();
    std::lock_guard<std::mutex> g(cap->m);
    ASSERT_EQ(cap->channels, 2);
    EXPECT_NEAR(double(cap->pcm.size() / 2) / 48000.0, 2.0, 0.01);
    EXPECT_NEAR(ToneFrequency(cap->pcm, 2, 0, 48000, 4800, 48000), 1000.0, 5.0);
    int peak = 0;
    for (std::int16_t s : cap->pcm)
        peak = std::max(peak, std::abs(int(s)));
    EXPECT_GT(peak, 2000); // the level survives (-3 dB of 4096 after the upmix), not a few low bits
}

// A flush (seek) drops what the decoder holds and restarts the times: the
// pictures after it follow the new position, not the old one; new segment and
// end of stream reach the renderer.
TEST_F(DecoderDiscTest, FlushRestartsAtTheNewPosition) {
    const VobContents& vob = Read(Vob("ntsc", 1));
    auto graph = MakeGraph(false);
    ComPtr<CPacketSource> src(new CPacketSource);
    src->AddStream(L"Video", Mpeg2VideoType(vob.width, vob.height, vob.frameDuration), 1 << 20);
    ComPtr<IBaseFilter> dec;
    ASSERT_EQ(CoCreateInstance(CLSID_MpegDecoder, nullptr, 1, IID_IBaseFilter,
                               reinterpret_cast<void**>(&dec)),
              S_OK);
    HRESULT hr = S_OK;
    ComPtr<CVideoRenderer> vmr(new CVideoRenderer(nullptr, &hr));
    std::vector<REFERENCE_TIME> starts;
    vmr->SetPictureObserver(
        [&](const BYTE*, int, int, REFERENCE_TIME s, REFERENCE_TIME) { starts.push_back(s); });
    graph->AddFilter(src.Get(), L"Source");
    graph->AddFilter(dec, L"Decoder");
    graph->AddFilter(vmr.Get(), L"Video Mixing Renderer");
    ASSERT_EQ(Join(graph.Get(), src.Get(), 0, dec, 0), S_OK);
    ASSERT_EQ(Join(graph.Get(), dec, 0, vmr.Get(), 0), S_OK);
    ASSERT_EQ(graph->Run(), S_OK);
    const auto video = Select(vob, {0x1e0});
    // The first 10 s, then a seek to the first packet timed at 30 s or later.
    std::size_t i = 0;
    for (; i < video.size() && (!video[i]->hasTime || video[i]->start < 10 * UNITS); ++i)
        src->Pin(0)->Send(video[i]->data.data(), LONG(video[i]->data.size()), video[i]->hasTime,
                          video[i]->start);
    while (i < video.size() && (!video[i]->hasTime || video[i]->start < 30 * UNITS))
        ++i;
    ASSERT_LT(i, video.size());
    const std::size_t before = starts.size();
    ASSERT_GT(before, 200u);
    src->Pin(0)->DeliverBeginFlush();
    src->Pin(0)->DeliverEndFlush();
    src->Pin(0)->DeliverNewSegment(video[i]->start, MAX_TIME, 1.0);
    for (std::size_t n = 0; n < 60 && i < video.size(); ++n, ++i)
        src->Pin(0)->Send(video[i]->data.data(), LONG(video[i]->data.size()), video[i]->hasTime,
                          video[i]->start, n == 0);
    src->Pin(0)->DeliverEndOfStream();
    LONG code = 0;
    EXPECT_EQ(graph->WaitForCompletion(10000, &code), S_OK);
    graph->Stop();
    ASSERT_GT(starts.size(), before);
    EXPECT_GE(starts[before], 30 * UNITS);
    EXPECT_LT(starts[before], 31 * UNITS);
    EXPECT_LT(starts[before - 1], 11 * UNITS); // nothing of the old position came after the flush
}
