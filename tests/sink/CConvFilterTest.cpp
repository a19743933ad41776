// The sink between fake upstream pins and a real writer: frame-slot pacing,
// the trim window, sound anchoring, completion and the preview copy.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <vector>

#include "filters/FakePins.h"
#include "platform/dshow/ComponentRegistry.h"
#include "platform/dshow/FilterGraph.h"
#include "sink/CConvFilter.h"
#include "sink/CVideoPrePin.h"
#include "sink/MediaProbe.h"
#include "sink/OutputFileWriter.h"

namespace fs = std::filesystem;

namespace {

constexpr LONG W = 64, H = 48;
constexpr LONG kPicture = W * H * 3 / 2;

EncodeParams Profile(int frameRate, bool video, bool audio) {
    EncodeParams p{};
    p.HasVideo = video;
    p.Width = W;
    p.Height = H;
    p.FrameRate = frameRate;
    p.VideoBitRate = 200000;
    SetName(p.VideoCodecName, "mpeg4");
    p.HasAudio = audio;
    p.SampleRate = 48000;
    p.Channel = 2;
    p.AudioBitRate = 128000;
    SetName(p.AudioCodecName, "pcm_s16le");
    return p;
}

// A graph with the sink, a video source and an audio source; `video` and
// `audio` choose which sink inputs are connected.
struct Rig {
    ComPtr<IGraphBuilder> graph;
    ComPtr<IMediaControl> control;
    ComPtr<IMediaEventEx> events;
    CConvFilter* sink = nullptr;
    fake::CSource* vsrc = nullptr;
    fake::CSource* asrc = nullptr;
    fake::CSink* preview = nullptr;
    OutputFileWriter writer;
    fs::path file;

    Rig(int frameRate, bool video, bool audio, bool withPreview = false) {
        EXPECT_EQ(S_OK, CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC,
                                         IID_IGraphBuilder, reinterpret_cast<void**>(&graph)));
        graph->QueryInterface(IID_IMediaControl, reinterpret_cast<void**>(&control));
        graph->QueryInterface(IID_IMediaEventEx, reinterpret_cast<void**>(&events));
        EXPECT_EQ(S_OK, CConvFilter::Create(&sink));
        graph->AddFilter(sink, L"Conver");
        file = fs::temp_directory_path() /
               ("conv_filter_" + std::to_string(::getpid()) + "_" + std::to_string(counter++) +
                ".avi");
        EXPECT_TRUE(writer.Open(file.string(), Profile(frameRate, video, audio)))
            << writer.LastError();
        sink->AttachWriter(&writer);
        sink->SetFrameDuration((1e6 / frameRate) * 1e4);
        if (video) {
            vsrc = new fake::CSource(fake::VideoType(W, H), kPicture, 4);
            vsrc->NonDelegatingAddRef();
            graph->AddFilter(vsrc, L"Video");
            EXPECT_EQ(S_OK, graph->ConnectDirect(vsrc->GetPin(0), sink->GetPin(1), nullptr));
        }
        if (audio) {
            asrc = new fake::CSource(fake::AudioType(2, 48000), 48000 * 4, 4);
            asrc->NonDelegatingAddRef();
            graph->AddFilter(asrc, L"Audio");
            EXPECT_EQ(S_OK, graph->ConnectDirect(asrc->GetPin(0), sink->GetPin(0), nullptr));
        }
        if (withPreview) {
            preview = new fake::CSink();
            preview->NonDelegatingAddRef();
            graph->AddFilter(preview, L"Preview");
            EXPECT_EQ(S_OK, graph->ConnectDirect(sink->GetPin(2), preview->GetPin(0), nullptr));
        }
        control->Pause();
    }
    ~Rig() {
        control->Stop();
        writer.Close();
        for (CBaseFilter* f : std::initializer_list<CBaseFilter*>{vsrc, asrc, preview})
            if (f) {
                graph->RemoveFilter(f);
                f->NonDelegatingRelease();
            }
        graph->RemoveFilter(sink);
        sink->NonDelegatingRelease();
        std::error_code ec;
        fs::remove(file, ec);
    }
    HRESULT Picture(REFERENCE_TIME start, REFERENCE_TIME stop, BYTE luma = 16) {
        std::vector<BYTE> p(kPicture, 128);
        std::fill(p.begin(), p.begin() + W * H, luma);
        return vsrc->Pin()->Send(p.data(), kPicture, start, stop);
    }
    void EndVideo() { vsrc->Pin()->DeliverEndOfStream(); }
    HRESULT Sound(REFERENCE_TIME start, REFERENCE_TIME stop) {
        LONG samples = LONG((stop - start) * 48000 / 10000000);
        std::vector<BYTE> s(size_t(samples) * 4, 1);
        return asrc->Pin()->Send(s.data(), LONG(s.size()), start, stop);
    }
    // The next graph event within 2 s, or 0.
    LONG NextEvent() {
        LONG code = 0;
        LONG_PTR p1 = 0, p2 = 0;
        if (events->GetEvent(&code, &p1, &p2, 2000) != S_OK) return 0;
        events->FreeEventParams(code, p1, p2);
        return code;
    }
    static inline int counter = 0;
};

struct Pacing {
    REFERENCE_TIME period; // source picture length
    int pictures;
    int frameRate;         // output, thousandths
    long frames;           // expected output frames
};

TEST(CConvFilter, FrameSlotsRepeatOrSkipPictures) {
    const Pacing cases[] = {
        {400000, 5, 29970, 6},    // 25 -> 29.97: six frames for five pictures
        {400000, 250, 29970, 300},
        {333667, 300, 25000, 251}, // 29.97 -> 25: 10.01 s fill 251 slots of 0.4 s
        {400000, 10, 12500, 5},   // every second picture writes nothing
        {400000, 50, 25000, 50},
    };
    for (const Pacing& c : cases) {
        Rig rig(c.frameRate, true, false);
        for (int i = 0; i < c.pictures; ++i)
            ASSERT_EQ(S_OK, rig.Picture(i * c.period, (i + 1) * c.period));
        rig.EndVideo();
        EXPECT_EQ(c.frames, rig.writer.VideoFrames())
            << c.pictures << " pictures of " << c.period << " into " << c.frameRate;
    }
}

// A slot takes the picture that starts nearest to it, so a picture is written
// once the next one shows it is the nearest; the last one at the end.
TEST(CConvFilter, EachSlotTakesThePictureStartingNearestToIt) {
    Rig rig(29970, true, false);
    ASSERT_EQ(S_OK, rig.Picture(0, 400000));
    EXPECT_EQ(1, rig.writer.VideoFrames()); // slot 0
    EXPECT_EQ(333667, rig.sink->VideoPosition());
    ASSERT_EQ(S_OK, rig.Picture(400000, 800000));
    EXPECT_EQ(2, rig.writer.VideoFrames()); // slot 333,667: 0.4 s is nearer than 0
    ASSERT_EQ(S_OK, rig.Picture(800000, 1200000));
    EXPECT_EQ(3, rig.writer.VideoFrames()); // slot 667,334
    rig.EndVideo();
    EXPECT_EQ(4, rig.writer.VideoFrames()); // slot 1,001,001 from the last picture
}

TEST(CConvFilter, TrimWindowKeepsExactlyItsLength) {
    Rig rig(25000, true, true);
    rig.sink->SetTrimWindow(100000000, 200000000); // 10 s .. 20 s
    // Pictures from 9.92 s to 20.08 s; the one ending at 10.00 s fills nothing.
    for (REFERENCE_TIME t = 99200000; t < 200800000; t += 400000)
        ASSERT_EQ(S_OK, rig.Picture(t, t + 400000));
    EXPECT_EQ(250, rig.writer.VideoFrames());
    // Sound from 9.9 s in 100-ms chunks; the part before 10 s is cut off and
    // nothing after 20 s is kept; a chunk starting at 20.01 s is dropped.
    for (REFERENCE_TIME t = 99000000; t < 201000000; t += 1000000)
        ASSERT_EQ(S_OK, rig.Sound(t, t + 1000000));
    ASSERT_EQ(S_OK, rig.Sound(200100000, 200500000));
    EXPECT_EQ(480000, rig.writer.AudioSamples());
    EXPECT_EQ(100000000, rig.sink->AudioPosition());
}

TEST(CConvFilter, SoundStartingLateGetsSilenceInFront) {
    Rig rig(25000, true, true);
    for (int i = 0; i < 25; ++i) ASSERT_EQ(S_OK, rig.Picture(i * 400000LL, (i + 1) * 400000LL));
    ASSERT_EQ(S_OK, rig.Sound(5000000, 6000000)); // first sound at 0.5 s
    EXPECT_EQ(24000 + 4800, rig.writer.AudioSamples());
}

TEST(CConvFilter, CompletesWhenEveryConnectedInputEnded) {
    {
        Rig rig(25000, false, true); // audio-only profile: "Video In" unconnected
        rig.control->Run();
        ASSERT_EQ(S_OK, rig.Sound(0, 5000000));
        rig.asrc->Pin()->DeliverEndOfStream();
        EXPECT_EQ(EC_COMPLETE, rig.NextEvent());
    }
    {
        Rig rig(25000, true, true);
        rig.control->Run();
        for (int i = 0; i < 25; ++i) ASSERT_EQ(S_OK, rig.Picture(i * 400000LL, (i + 1) * 400000LL));
        ASSERT_EQ(S_OK, rig.Sound(0, 5000000)); // sound ends half a second early
        rig.asrc->Pin()->DeliverEndOfStream();
        EXPECT_EQ(0, rig.NextEvent());
        rig.vsrc->Pin()->DeliverEndOfStream();
        EXPECT_EQ(EC_COMPLETE, rig.NextEvent());
        // The item's sound was padded up to its pictures.
        EXPECT_EQ(48000, rig.writer.AudioSamples());
        EXPECT_EQ(25, rig.writer.VideoFrames());
    }
}

TEST(CConvFilter, WriterWithoutTheStreamDropsItsData) {
    Rig rig(25000, false, true);
    rig.control->Run();
    // "Video In" connected by hand to a writer without video.
    auto* vsrc = new fake::CSource(fake::VideoType(W, H), kPicture, 2);
    ComPtr<IBaseFilter> keep(static_cast<IBaseFilter*>(vsrc));
    rig.control->Stop();
    rig.graph->AddFilter(vsrc, L"Late video");
    ASSERT_EQ(S_OK, rig.graph->ConnectDirect(vsrc->GetPin(0), rig.sink->GetPin(1), nullptr));
    rig.control->Pause();
    std::vector<BYTE> p(kPicture, 16);
    EXPECT_EQ(S_OK, vsrc->Pin()->Send(p.data(), kPicture, 0, 400000));
    EXPECT_EQ(0, rig.writer.VideoFrames());
    rig.control->Stop();
    rig.graph->RemoveFilter(vsrc);
}

TEST(CConvFilter, EveryFifthPictureGoesToThePreview) {
    Rig rig(25000, true, false, true);
    rig.control->Run();
    auto* pre = rig.sink->VideoPre();
    EXPECT_TRUE(pre->HasQueue());
    EXPECT_EQ(W, pre->Stride());
    for (int i = 0; i < 11; ++i) ASSERT_EQ(S_OK, rig.Picture(i * 400000LL, (i + 1) * 400000LL));
    ASSERT_TRUE(rig.preview->Pin()->WaitEvents(3)); // pictures 0, 5, 10
    rig.sink->SetPreviewEnabled(false);
    for (int i = 11; i < 20; ++i) ASSERT_EQ(S_OK, rig.Picture(i * 400000LL, (i + 1) * 400000LL));
    EXPECT_EQ(11u, rig.sink->PreviewCounter()); // stands still while disabled
    rig.sink->SetPreviewEnabled(true);
    for (int i = 20; i < 25; ++i) ASSERT_EQ(S_OK, rig.Picture(i * 400000LL, (i + 1) * 400000LL));
    ASSERT_TRUE(rig.preview->Pin()->WaitEvents(4)); // count 15 at picture 24
    auto samples = rig.preview->Pin()->Samples();
    ASSERT_EQ(4u, samples.size());
    EXPECT_EQ(size_t(kPicture), samples[0].bytes.size());
    EXPECT_FALSE(samples[0].hasTime);
    EXPECT_EQ(25, rig.writer.VideoFrames());
}

TEST(CConvFilter, PinsAndSeekingPassThrough) {
    CConvFilter* f = nullptr;
    ASSERT_EQ(S_OK, CConvFilter::Create(&f));
    EXPECT_EQ(3, f->GetPinCount());
    EXPECT_EQ(nullptr, f->GetPin(3));
    PIN_INFO info{};
    f->GetPin(2)->QueryPinInfo(&info);
    EXPECT_EQ(std::wstring(L"Video Pre"), std::wstring(info.achName));
    if (info.pFilter) info.pFilter->Release();
    IMediaSeeking* seeking = nullptr;
    ASSERT_EQ(S_OK, f->NonDelegatingQueryInterface(IID_IMediaSeeking,
                                                   reinterpret_cast<void**>(&seeking)));
    LONGLONG d = 0;
    EXPECT_TRUE(FAILED(seeking->GetDuration(&d))); // nothing upstream
    seeking->Release();
    CMediaType mt;
    EXPECT_EQ(E_INVALIDARG, f->VideoPre()->GetMediaType(-1, &mt));
    EXPECT_EQ(VFW_S_NO_MORE_ITEMS, f->VideoPre()->GetMediaType(1, &mt));
    f->NonDelegatingRelease();
}

} // namespace
