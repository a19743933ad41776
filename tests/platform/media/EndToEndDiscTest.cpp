// Whole titles of the authored discs through the DVD source, the MPEG
// demultiplexer, both decoders and the renderers without a host: every picture
// decoded with growing times, sound of the title's length at the authored tone.
#include <gtest/gtest.h>

#include <cmath>
#include <mutex>

#include "MediaTestGraph.h"
#include "PcmCapture.h"
#include "demux/CMpegSplitterFilter.h"
#include "fixtures/DiscManifest.h"
#include "platform/dshow/ComponentRegistry.h"
#include "platform/dvd/LibDvd.h"
#include "platform/media/CVideoRenderer.h"
#include "platform/media/MediaClsids.h"
#include "platform/media/MediaComponents.h"
#include "source/CDVDReader.h"
#include "source/IMyDVDReader.h"

using namespace mediatest;

namespace {

struct TitleRun {
    std::vector<REFERENCE_TIME> starts, stops;
    int rate = 0, channels = 0;
    std::vector<std::int16_t> pcm;
    std::vector<REFERENCE_TIME> audioStarts, audioStops;
    LONGLONG titleMs = 0;
};

class EndToEndDiscTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(RegisterMediaComponents(), S_OK);
        if (!manifest_.Load(DiscManifest::DiscDir())) GTEST_SKIP() << "no authored discs";
    }

    // Plays title `title` of `disc` as fast as it decodes (no clock).
    TitleRun Play(const std::string& disc, int title) {
        TitleRun run;
        DvdHandle dvd = MyDVDOpen(manifest_.Folder(disc).c_str());
        EXPECT_TRUE(dvd);
        if (!dvd) return run;
        {
            auto graph = MakeGraph(false);
            ComPtr<IBaseFilter> source, splitter, vdec, adec;
            EXPECT_EQ(CDVDReader::Create(&source), S_OK);
            EXPECT_EQ(CMpegSplitterFilter::Create(&splitter), S_OK);
            EXPECT_EQ(CoCreateInstance(CLSID_MpegDecoder, nullptr, 1, IID_IBaseFilter,
                                       reinterpret_cast<void**>(&vdec)),
                      S_OK);
            EXPECT_EQ(CoCreateInstance(CLSID_MpaDecoder, nullptr, 1, IID_IBaseFilter,
                                       reinterpret_cast<void**>(&adec)),
                      S_OK);
            HRESULT hr = S_OK;
            ComPtr<CVideoRenderer> vmr(new CVideoRenderer(nullptr, &hr));
            ComPtr<CPcmCapture> sound(new CPcmCapture);
            std::mutex m;
            vmr->SetPictureObserver([&](const BYTE*, int, int, REFERENCE_TIME s, REFERENCE_TIME e) {
                std::lock_guard<std::mutex> g(m);
                run.starts.push_back(s);
                run.stops.push_back(e);
            });
            auto reader = source.As<IMyDVDReader>();
            EXPECT_EQ(reader->SetDvdHandle(dvd), S_OK);
            EXPECT_EQ(reader->SetTitleArea(title, -1), S_OK);
            reader->GetTitleDuration(&run.titleMs);
            graph->AddFilter(source, L"Reader");
            graph->AddFilter(splitter, L"Splitter");
            graph->AddFilter(vdec, L"Decoder");
            graph->AddFilter(adec, L"AudioDecoder");
            graph->AddFilter(vmr.Get(), L"Video Mixing Renderer");
            graph->AddFilter(sound.Get(), L"Sound");
            EXPECT_EQ(Join(graph.Get(), source, 0, splitter, 0), S_OK);
            EXPECT_EQ(Join(graph.Get(), splitter, 0, vdec, 0), S_OK);
            EXPECT_EQ(Join(graph.Get(), splitter, 1, adec, 0), S_OK);
            Join(graph.Get(), splitter, 2, vdec, 1); // a title without subpictures has no such pin
            EXPECT_EQ(Join(graph.Get(), vdec, 0, vmr.Get(), 0), S_OK);
            EXPECT_EQ(Join(graph.Get(), adec, 0, sound.Get(), 0), S_OK);
            if (run.titleMs > 0)
                splitter.As<IMyMpegSplitter>()->SetPlayRange(0, run.titleMs, run.titleMs);
            EXPECT_EQ(graph->Run(), S_OK);
            LONG code = 0;
            EXPECT_EQ(graph->WaitForCompletion(120000, &code), S_OK);
            EXPECT_EQ(code, EC_COMPLETE);
            graph->Stop();
            std::lock_guard<std::mutex> g(sound->m);
            run.rate = sound->rate;
            run.channels = sound->channels;
            run.pcm = sound->pcm;
            run.audioStarts = sound->starts;
            run.audioStops = sound->stops;
        }
        MyDVDClose(dvd);
        return run;
    }

    void CheckTitle(const std::string& disc, int title) {
        SCOPED_TRACE(disc + " title " + std::to_string(title));
        const TitleRun run = Play(disc, title);
        const double frames = double(manifest_.Int(DiscManifest::Title(disc, title, "frames")));
        const double lengthMs =
            double(manifest_.Int(DiscManifest::Title(disc, title, "duration_ms")));
        EXPECT_NEAR(double(run.starts.size()), frames, 1.0);
        for (std::size_t i = 1; i < run.starts.size(); ++i) {
            ASSERT_LT(run.starts[i], run.stops[i]) << i;
            ASSERT_GE(run.starts[i], run.stops[i - 1]) << i;
        }
        for (std::size_t i = 1; i < run.audioStarts.size(); ++i)
            ASSERT_GE(run.audioStarts[i], run.audioStops[i - 1]) << i;
        const int rate = int(manifest_.Int(DiscManifest::Audio(disc, title, 0, "rate")));
        const int channels = int(manifest_.Int(DiscManifest::Audio(disc, title, 0, "channels")));
        ASSERT_EQ(run.rate, rate);
        ASSERT_EQ(run.channels, channels);
        const std::size_t audioFrames = run.pcm.size() / std::size_t(channels);
        EXPECT_NEAR(double(audioFrames) * 1000.0 / rate, lengthMs, 50.0);
        const double tone = double(manifest_.Int(DiscManifest::Audio(disc, title, 0, "tone_hz")));
        EXPECT_NEAR(ToneFrequency(run.pcm, channels, 0, rate, rate, 3 * rate), tone, tone * 0.005);
    }

    DiscManifest manifest_;
};

} // namespace

// 48 kHz stereo AC-3 beside MPEG audio and a subpicture stream.
TEST_F(EndToEndDiscTest, NtscTitleWithAc3AndSubpictures) {
    CheckTitle("ntsc", 0);
}

// 16-bit DVD LPCM, PAL, the first of two titles in one title set.
TEST_F(EndToEndDiscTest, PalTitleWithLpcm) {
    CheckTitle("pal", 0);
}
