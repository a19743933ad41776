// The audio converter as a pipeline stage: type rules, the output type for
// the sentinels and for a real conversion, sound by content, FIFO re-cutting,
// volume, and refusals.
#include <cmath>
#include <functional>

#include <gtest/gtest.h>

#include "filters/MyAudioConveFilter.h"
#include "tests/filters/FakePins.h"

namespace {

using fake::CSink;
using fake::CSource;
using fake::Ref;

struct Chain {
    Ref<CSource> source;
    Ref<CMyAudioConveFilter> filter;
    Ref<CSink> sink;
    IMyAudioConvFilter* control = nullptr;
    HRESULT inHr = E_FAIL, outHr = E_FAIL;

    Chain(const CMediaType& in, LONG bufferBytes,
          const std::function<void(IMyAudioConvFilter*)>& setup = nullptr,
          std::vector<CMediaType> sinkOffers = {})
        : source(new CSource(in, bufferBytes, 4)),
          filter(new CMyAudioConveFilter(nullptr, nullptr)),
          sink(new CSink({}, std::move(sinkOffers))) {
        filter->NonDelegatingQueryInterface(IID_IMyAudioConvFilter,
                                            reinterpret_cast<void**>(&control));
        if (setup) setup(control);
        inHr = source->Pin()->Connect(filter->GetPin(0), nullptr);
        if (SUCCEEDED(inHr)) outHr = filter->GetPin(1)->Connect(sink->Pin(), nullptr);
        if (SUCCEEDED(outHr)) {
            sink->Pause();
            filter->Pause();
            source->Pause();
        }
    }
    ~Chain() {
        source->Stop();
        filter->Stop();
        sink->Stop();
        source->Pin()->Disconnect();
        filter->GetPin(0)->Disconnect();
        filter->GetPin(1)->Disconnect();
        sink->Pin()->Disconnect();
        if (control) control->Release();
    }
    const WAVEFORMATEX* Out() { return fake::Wave(sink->Pin()->CurrentMediaType()); }
    HRESULT Send(const std::vector<int16_t>& s, REFERENCE_TIME t) {
        return source->Pin()->Send(s.data(), LONG(s.size() * 2), t, t + 1);
    }
    std::vector<int16_t> AllSound() {
        std::vector<int16_t> all;
        for (const auto& r : sink->Pin()->Samples()) {
            size_t n = all.size();
            all.resize(n + r.bytes.size() / 2);
            std::memcpy(all.data() + n, r.bytes.data(), r.bytes.size());
        }
        return all;
    }
};

std::vector<int16_t> Ramp(size_t n, int from = 0) {
    std::vector<int16_t> s(n);
    for (size_t i = 0; i < n; ++i) s[i] = int16_t(from + int(i % 30000));
    return s;
}

TEST(MyAudioConveFilter, IdentityAndInterface) {
    Ref<CMyAudioConveFilter> f(new CMyAudioConveFilter(nullptr, nullptr));
    CLSID clsid{};
    EXPECT_EQ(f->GetClassID(&clsid), S_OK);
    EXPECT_EQ(clsid, CLSID_MyAudioConvFilter);
    EXPECT_EQ(GuidToString(IID_IMyAudioConvFilter), "{D9983DA2-084D-4BA4-BCD4-9C61DB0FC2B3}");
    EXPECT_EQ(GuidToString(CLSID_MyAudioConvFilter), "{F410BCFF-57B4-4A02-A1EE-41FC4C22A1C9}");
    IBaseFilter* created = nullptr;
    ASSERT_EQ(CMyAudioConveFilter::Create(&created), S_OK);
    IMyAudioConvFilter* c = nullptr;
    ASSERT_EQ(created->QueryInterface(IID_IMyAudioConvFilter, reinterpret_cast<void**>(&c)), S_OK);
    EXPECT_EQ(c->SetOutputFormat(2, 44100), S_OK);
    EXPECT_EQ(c->SetVolume(-5), S_OK);
    c->Release();
    EXPECT_EQ(created->Release(), 0u);
}

TEST(MyAudioConveFilter, InputTypeRules) {
    CMediaType extensible = fake::AudioType(2, 48000);
    extensible.ReallocFormatBuffer(sizeof(WAVEFORMATEX) + 22);
    CMediaType shortBlock = fake::AudioType(2, 48000);
    shortBlock.ReallocFormatBuffer(14);
    CMediaType ac3 = fake::AudioType(6, 48000);
    ac3.SetSubtype(&MEDIASUBTYPE_DOLBY_AC3);
    struct {
        const char* name;
        CMediaType type;
        HRESULT want;
    } cases[] = {
        {"16-bit stereo", fake::AudioType(2, 48000), S_OK},
        {"16-bit 5.1", fake::AudioType(6, 48000), S_OK},
        {"with extra bytes", extensible, S_OK},
        {"8-bit", fake::AudioType(2, 48000, 8), VFW_E_TYPE_NOT_ACCEPTED},
        {"24-bit", fake::AudioType(2, 48000, 24), VFW_E_TYPE_NOT_ACCEPTED},
        {"no channels", fake::AudioType(0, 48000), VFW_E_TYPE_NOT_ACCEPTED},
        {"no rate", fake::AudioType(2, 0), VFW_E_TYPE_NOT_ACCEPTED},
        {"short format block", shortBlock, VFW_E_TYPE_NOT_ACCEPTED},
        {"AC-3", ac3, VFW_E_TYPE_NOT_ACCEPTED},
        {"video", fake::VideoType(720, 480), VFW_E_TYPE_NOT_ACCEPTED},
    };
    Ref<CMyAudioConveFilter> f(new CMyAudioConveFilter(nullptr, nullptr));
    for (auto& c : cases) EXPECT_EQ(f->CheckInputType(&c.type), c.want) << c.name;
}

struct TypeCase {
    const char* name;
    WORD inCh;
    DWORD inRate;
    LONG setCh, setRate; // 0 = leave the sentinels
    WORD outCh;
    DWORD outRate;
    bool resampling;
};

TEST(MyAudioConveFilter, OutputTypes) {
    const TypeCase cases[] = {
        {"sentinels keep the input", 6, 48000, 0, 0, 6, 48000, false},
        {"same format", 2, 48000, 2, 48000, 2, 48000, false},
        {"5.1 48k to stereo 44.1k", 6, 48000, 2, 44100, 2, 44100, true},
        {"rate only", 2, 48000, 2, 44100, 2, 44100, true},
        {"channels only", 2, 48000, 1, 48000, 1, 48000, true},
        {"-1 channels is the sentinel", 2, 44100, -1, 48000, 2, 48000, true},
        {"PAL disc LPCM 96k", 2, 96000, 2, 48000, 2, 48000, true},
    };
    for (const auto& c : cases) {
        Chain chain(fake::AudioType(c.inCh, c.inRate), 8192, [&](IMyAudioConvFilter* f) {
            if (c.setCh || c.setRate) f->SetOutputFormat(c.setCh, c.setRate);
        });
        ASSERT_EQ(chain.outHr, S_OK) << c.name;
        const WAVEFORMATEX* w = chain.Out();
        EXPECT_EQ(w->nChannels, c.outCh) << c.name;
        EXPECT_EQ(w->nSamplesPerSec, c.outRate) << c.name;
        EXPECT_EQ(w->nBlockAlign, 2 * c.outCh) << c.name;
        EXPECT_EQ(w->nAvgBytesPerSec, 2u * c.outCh * c.outRate) << c.name;
        EXPECT_EQ(w->wBitsPerSample, 16) << c.name;
        EXPECT_EQ(chain.filter->Resampling(), c.resampling) << c.name;
    }
}

TEST(MyAudioConveFilter, PassThroughKeepsBytesAndTimes) {
    Chain c(fake::AudioType(2, 48000), 8192);
    ASSERT_EQ(c.outHr, S_OK);
    auto a = Ramp(2048), b = Ramp(1000, -500);
    ASSERT_EQ(c.Send(a, 100), S_OK);
    ASSERT_EQ(c.Send(b, 200), S_OK);
    auto got = c.sink->Pin()->Samples();
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0].start, 100);
    EXPECT_EQ(got[1].start, 200);
    auto all = c.AllSound();
    a.insert(a.end(), b.begin(), b.end());
    EXPECT_EQ(all, a);
}

TEST(MyAudioConveFilter, SurplusLeavesWithTheFollowingSample) {
    Chain c(fake::AudioType(2, 48000), 400000);
    ASSERT_EQ(c.outHr, S_OK);
    auto big = Ramp(100000); // 200,000 bytes
    auto tiny = Ramp(2, 7);
    ASSERT_EQ(c.Send(big, 10), S_OK);
    EXPECT_EQ(c.filter->FifoBytes(), 200000u - 115200u);
    ASSERT_EQ(c.Send(tiny, 20), S_OK);
    auto got = c.sink->Pin()->Samples();
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0].bytes.size(), 115200u);
    EXPECT_EQ(got[1].bytes.size(), 200000u - 115200u + 4);
    EXPECT_EQ(got[1].start, 20); // older sound, the newer sample's times
    big.insert(big.end(), tiny.begin(), tiny.end());
    EXPECT_EQ(c.AllSound(), big);
}

TEST(MyAudioConveFilter, EndOfStreamSendsTheRestFirst) {
    Chain c(fake::AudioType(2, 48000), 400000);
    ASSERT_EQ(c.outHr, S_OK);
    auto big = Ramp(100000);
    ASSERT_EQ(c.Send(big, 10), S_OK);
    ASSERT_EQ(c.filter->InputPin()->EndOfStream(), S_OK);
    EXPECT_EQ(c.sink->Pin()->Events(), (std::vector<std::string>{"sample", "sample", "eos"}));
    auto got = c.sink->Pin()->Samples();
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[1].bytes.size(), 200000u - 115200u);
    EXPECT_EQ(got[1].start, 10);
    EXPECT_EQ(c.AllSound(), big);
    EXPECT_EQ(c.filter->FifoBytes(), 0u);
}

// Inputs bigger than an output buffer, again and again: without the extra
// deliveries the FIFO would fill up after a few samples and drop sound.
TEST(MyAudioConveFilter, BigInputsLoseNoSound) {
    Chain c(fake::AudioType(2, 48000), 300000);
    ASSERT_EQ(c.outHr, S_OK);
    std::vector<int16_t> sent;
    for (int i = 0; i < 12; ++i) {
        auto s = Ramp(150000, i * 11); // 300,000 bytes each
        ASSERT_EQ(c.Send(s, i), S_OK);
        sent.insert(sent.end(), s.begin(), s.end());
        EXPECT_LT(c.filter->FifoBytes(), 115200u);
    }
    auto all = c.AllSound();
    ASSERT_EQ(all.size() + c.filter->FifoBytes() / 2, sent.size());
    EXPECT_TRUE(std::equal(all.begin(), all.end(), sent.begin()));
}

TEST(MyAudioConveFilter, VolumeRoundsHalfUpAndClips) {
    struct {
        LONG volume;
        std::vector<int16_t> in, out;
    } const cases[] = {
        {128, {1, -1, 3, -3, 100}, {1, 0, 2, -1, 50}},
        {512, {20000, -20000, 100}, {32767, -32768, 200}},
        {0, {12345, -1}, {0, 0}},
        {256, {-32768, 32767}, {-32768, 32767}},
    };
    for (const auto& vc : cases) {
        Chain c(fake::AudioType(1, 48000), 8192,
                [&](IMyAudioConvFilter* f) { f->SetVolume(vc.volume); });
        ASSERT_EQ(c.outHr, S_OK);
        ASSERT_EQ(c.Send(vc.in, 0), S_OK);
        EXPECT_EQ(c.AllSound(), vc.out) << "volume " << vc.volume;
    }
}

TEST(MyAudioConveFilter, ResampledToneKeepsItsFrequency) {
    Chain c(fake::AudioType(6, 48000), 1536 * 12,
            [](IMyAudioConvFilter* f) { f->SetOutputFormat(2, 44100); });
    ASSERT_EQ(c.outHr, S_OK);
    std::vector<int16_t> frame(1536 * 6);
    long long n = 0;
    for (int k = 0; k < 32; ++k) { // about one second in AC-3-sized pieces
        for (int i = 0; i < 1536; ++i, ++n)
            for (int ch = 0; ch < 6; ++ch)
                frame[size_t(i) * 6 + ch] = int16_t(6000 * std::sin(2 * M_PI * 1000.0 * n / 48000));
        ASSERT_EQ(c.Send(frame, k), S_OK);
    }
    auto out = c.AllSound();
    const size_t frames = out.size() / 2;
    EXPECT_NEAR(double(frames), 32 * 1536 * 44100.0 / 48000, 32);
    // Rising zero crossings of the left channel after the first 0.1 s.
    size_t first = 0, last = 0;
    int crossings = 0;
    for (size_t i = 4410; i + 1 < frames; ++i)
        if (out[i * 2] < 0 && out[(i + 1) * 2] >= 0) {
            if (!crossings) first = i;
            last = i;
            ++crossings;
        }
    ASSERT_GT(crossings, 100);
    EXPECT_NEAR((crossings - 1) * 44100.0 / double(last - first), 1000.0, 2.0);
}

TEST(MyAudioConveFilter, RefusesConversionsItCannotMake) {
    for (auto [ch, rate] : {std::pair<LONG, LONG>{0, 44100}, {2, 0}, {100, 48000}, {2, -44100}}) {
        Chain c(fake::AudioType(2, 48000), 8192,
                [&](IMyAudioConvFilter* f) { f->SetOutputFormat(ch, rate); });
        EXPECT_EQ(c.inHr, S_OK);
        EXPECT_TRUE(FAILED(c.outHr)) << ch << " " << rate;
    }
}

TEST(MyAudioConveFilter, DownstreamProposalOfAnotherFormatIsRefused) {
    Chain c(fake::AudioType(6, 48000), 8192,
            [](IMyAudioConvFilter* f) { f->SetOutputFormat(2, 44100); },
            {fake::AudioType(6, 48000), fake::AudioType(2, 48000)});
    ASSERT_EQ(c.outHr, S_OK);
    EXPECT_EQ(c.Out()->nChannels, 2);
    EXPECT_EQ(c.Out()->nSamplesPerSec, 44100u);
}

} // namespace
