// The tee between a fake source and two capturing sinks: pins, type
// refusals, delivery by reference through per-output queues, and stream
// events reaching both branches.
#include <atomic>

#include <gtest/gtest.h>

#include "filters/MyTeeFilter.h"
#include "filters/MyTeeInputPin.h"
#include "filters/MyTeeOutputPin.h"
#include "tests/filters/FakePins.h"

namespace {

using fake::CSink;
using fake::CSource;
using fake::Ref;

constexpr LONG W = 64, H = 48, kBytes = W * H * 3 / 2;

struct Tee {
    Ref<CSource> source;
    Ref<CMyTeeFilter> tee;
    Ref<CSink> sink0, sink1;
    HRESULT inHr = E_FAIL, out0Hr = E_FAIL, out1Hr = E_FAIL;

    explicit Tee(bool connect1 = true, LONG buffers = 8)
        : source(new CSource(fake::VideoType(W, H), kBytes, buffers)),
          tee(new CMyTeeFilter(nullptr, nullptr)), sink0(new CSink()), sink1(new CSink()) {
        inHr = source->Pin()->Connect(tee->GetPin(0), nullptr);
        out0Hr = tee->GetPin(1)->Connect(sink0->Pin(), nullptr);
        if (connect1) out1Hr = tee->GetPin(2)->Connect(sink1->Pin(), nullptr);
    }
    void Pause() {
        sink0->Pause();
        sink1->Pause();
        tee->Pause();
        source->Pause();
    }
    ~Tee() {
        source->Stop();
        sink0->Stop();
        sink1->Stop();
        tee->Stop();
        for (int i = 0; i < 3; ++i) tee->GetPin(i)->Disconnect();
        source->Pin()->Disconnect();
        sink0->Pin()->Disconnect();
        sink1->Pin()->Disconnect();
    }
    HRESULT Send(uint8_t fill, REFERENCE_TIME t) {
        std::vector<uint8_t> pic(kBytes, fill);
        return source->Pin()->Send(pic.data(), kBytes, t, t + 1);
    }
};

TEST(MyTeeFilter, PinsAndIdentity) {
    Ref<CMyTeeFilter> tee(new CMyTeeFilter(nullptr, nullptr));
    EXPECT_EQ(tee->GetPinCount(), 3);
    EXPECT_EQ(tee->GetPin(0)->Name(), L"Input");
    EXPECT_EQ(tee->GetPin(1)->Name(), L"Output0");
    EXPECT_EQ(tee->GetPin(2)->Name(), L"Output1");
    EXPECT_EQ(tee->GetPin(0)->Direction(), PINDIR_INPUT);
    EXPECT_EQ(tee->GetPin(2)->Direction(), PINDIR_OUTPUT);
    EXPECT_EQ(tee->GetPin(3), nullptr);
    EXPECT_EQ(tee->GetPin(-1), nullptr);
    CLSID clsid{};
    EXPECT_EQ(tee->GetClassID(&clsid), S_OK);
    EXPECT_EQ(GuidToString(clsid), "{116A8145-0946-11CF-ACB1-444553540000}");
    void* p = reinterpret_cast<void*>(1);
    EXPECT_EQ(tee->GetPin(1)->NonDelegatingQueryInterface(IID_IMediaSeeking, &p), E_NOINTERFACE);
    EXPECT_EQ(p, nullptr);
    EXPECT_EQ(tee->GetPin(2)->NonDelegatingQueryInterface(IID_IMediaPosition, &p), E_NOINTERFACE);
    IBaseFilter* created = nullptr;
    ASSERT_EQ(CMyTeeFilter::Create(&created), S_OK);
    EXPECT_EQ(created->Release(), 0u);
}

TEST(MyTeeFilter, InputRefusals) {
    struct {
        const char* name;
        CMediaType type;
        HRESULT want;
    } cases[] = {
        {"YV12 VideoInfo", fake::VideoType(720, 480), S_OK},
        {"PAL", fake::VideoType(720, 576), S_OK},
        {"VideoInfo2", fake::VideoType(720, 480, FORMAT_VideoInfo2), S_FALSE},
        {"RGB", fake::VideoType(720, 480, FORMAT_VideoInfo, MEDIASUBTYPE_RGB24), S_FALSE},
        {"zero height", fake::VideoType(720, 0), S_FALSE},
        {"negative height", fake::VideoType(720, -480), S_FALSE},
        {"audio", fake::AudioType(2, 48000), S_FALSE},
    };
    Ref<CMyTeeFilter> tee(new CMyTeeFilter(nullptr, nullptr));
    for (auto& c : cases) EXPECT_EQ(tee->Input()->CheckMediaType(&c.type), c.want) << c.name;

    // A source offering only VideoInfo2 cannot connect.
    Ref<CSource> src(new CSource(fake::VideoType(720, 480, FORMAT_VideoInfo2), 1000));
    EXPECT_TRUE(FAILED(src->Pin()->Connect(tee->GetPin(0), nullptr)));
    EXPECT_FALSE(tee->Input()->IsConnected());
}

TEST(MyTeeFilter, OutputsOfferAndAcceptOnlyTheInputType) {
    Ref<CMyTeeFilter> tee(new CMyTeeFilter(nullptr, nullptr));
    CMediaType any = fake::VideoType(W, H);
    CMediaType mt;
    // Nothing to offer before the input is connected.
    EXPECT_EQ(tee->Output(0)->GetMediaType(0, &mt), VFW_S_NO_MORE_ITEMS);
    EXPECT_EQ(tee->Output(0)->CheckMediaType(&any), VFW_E_TYPE_NOT_ACCEPTED);
    CMediaType empty;
    EXPECT_EQ(tee->Output(0)->CheckMediaType(&empty), VFW_E_TYPE_NOT_ACCEPTED);

    Tee t(false);
    ASSERT_EQ(t.inHr, S_OK);
    ASSERT_EQ(t.tee->Output(0)->GetMediaType(0, &mt), S_OK);
    EXPECT_TRUE(mt == fake::VideoType(W, H));
    EXPECT_EQ(t.tee->Output(0)->GetMediaType(1, &mt), VFW_S_NO_MORE_ITEMS);
    CMediaType bigger = fake::VideoType(W * 2, H);
    EXPECT_EQ(t.tee->Output(1)->CheckMediaType(&bigger), VFW_E_TYPE_NOT_ACCEPTED);
    // A downstream pin that takes only another type is refused.
    Ref<CSink> picky(new CSink({bigger}, {bigger}));
    EXPECT_TRUE(FAILED(t.tee->GetPin(2)->Connect(picky->Pin(), nullptr)));
    EXPECT_FALSE(t.tee->Output(1)->IsConnected());
}

TEST(MyTeeFilter, OnlyOutput0Connected) {
    Tee t(false);
    ASSERT_EQ(t.out0Hr, S_OK);
    t.Pause();
    EXPECT_TRUE(t.tee->Output(0)->HasQueue());
    EXPECT_FALSE(t.tee->Output(1)->HasQueue());
    for (int i = 0; i < 3; ++i) ASSERT_EQ(t.Send(uint8_t(i + 1), i * 10), S_OK);
    ASSERT_TRUE(t.sink0->Pin()->WaitEvents(3));
    auto got = t.sink0->Pin()->Samples();
    ASSERT_EQ(got.size(), 3u);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(got[i].bytes, std::vector<uint8_t>(kBytes, uint8_t(i + 1)));
        EXPECT_EQ(got[i].start, i * 10);
    }
    t.tee->Stop();
    EXPECT_FALSE(t.tee->Output(0)->HasQueue());
}

TEST(MyTeeFilter, BothBranchesShareTheUpstreamBuffer) {
    // One upstream buffer: the next picture can only be sent once both
    // branches have released the previous one.
    Tee t(true, 1);
    ASSERT_EQ(t.out0Hr, S_OK);
    ASSERT_EQ(t.out1Hr, S_OK);
    t.Pause();
    for (int i = 0; i < 4; ++i) ASSERT_EQ(t.Send(uint8_t(10 + i), i), S_OK);
    ASSERT_TRUE(t.sink0->Pin()->WaitEvents(4));
    ASSERT_TRUE(t.sink1->Pin()->WaitEvents(4));
    auto a = t.sink0->Pin()->Samples(), b = t.sink1->Pin()->Samples();
    ASSERT_EQ(a.size(), 4u);
    ASSERT_EQ(b.size(), 4u);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(a[i].buffer, b[i].buffer); // the same memory, not a copy
        EXPECT_EQ(a[i].buffer, a[0].buffer); // the source's only buffer
        EXPECT_EQ(a[i].bytes, std::vector<uint8_t>(kBytes, uint8_t(10 + i)));
        EXPECT_EQ(b[i].bytes, a[i].bytes);
        EXPECT_EQ(b[i].start, i);
    }
}

TEST(MyTeeFilter, SlowBranchDoesNotHoldTheOtherBack) {
    Tee t(true, 8);
    ASSERT_EQ(t.out1Hr, S_OK);
    t.sink1->Pin()->SetDelay(std::chrono::milliseconds(300));
    t.Pause();
    for (int i = 0; i < 3; ++i) ASSERT_EQ(t.Send(uint8_t(i), i), S_OK);
    ASSERT_TRUE(t.sink0->Pin()->WaitEvents(3));
    // The fast branch has everything while the slow one is still on its first.
    EXPECT_LT(t.sink1->Pin()->Samples().size(), 3u);
    ASSERT_TRUE(t.sink1->Pin()->WaitEvents(3));
}

TEST(MyTeeFilter, StreamEventsReachBothBranchesFirst) {
    Tee t;
    ASSERT_EQ(t.out1Hr, S_OK);
    t.Pause();
    std::atomic<int> flushingSeen{-1};
    t.sink1->Pin()->onEvent = [&](const std::string& e) {
        if (e == "begin-flush") flushingSeen = t.tee->Input()->IsFlushing() ? 1 : 0;
    };
    ASSERT_EQ(t.Send(1, 0), S_OK);
    ASSERT_EQ(t.tee->Input()->NewSegment(100, 200, 1.0), S_OK);
    ASSERT_EQ(t.Send(2, 100), S_OK);
    ASSERT_EQ(t.tee->Input()->EndOfStream(), S_OK);
    for (CSink* s : {t.sink0.get(), t.sink1.get()}) {
        ASSERT_TRUE(s->Pin()->WaitEvents(4));
        EXPECT_EQ(s->Pin()->Events(),
                  (std::vector<std::string>{"sample", "segment 100 200", "sample", "eos"}));
    }
    EXPECT_EQ(t.tee->Input()->CurrentStartTime(), 100);
    ASSERT_EQ(t.tee->Input()->BeginFlush(), S_OK);
    EXPECT_EQ(flushingSeen, 0); // the branch heard of it before the tee's input flushed
    EXPECT_TRUE(t.tee->Input()->IsFlushing());
    ASSERT_EQ(t.tee->Input()->EndFlush(), S_OK);
    EXPECT_FALSE(t.tee->Input()->IsFlushing());
    for (CSink* s : {t.sink0.get(), t.sink1.get()}) {
        ASSERT_TRUE(s->Pin()->WaitEvents(6));
        auto e = s->Pin()->Events();
        EXPECT_EQ(e[4], "begin-flush");
        EXPECT_EQ(e[5], "end-flush");
    }
}

TEST(MyTeeFilter, StopWhileDeliveringDoesNotHang) {
    Tee t(true, 8);
    ASSERT_EQ(t.out1Hr, S_OK);
    t.sink1->Pin()->SetDelay(std::chrono::milliseconds(20));
    t.Pause();
    std::thread producer([&] {
        for (int i = 0; i < 40; ++i)
            if (t.Send(uint8_t(i), i) != S_OK) break;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    t.sink0->Stop();
    t.sink1->Stop();
    t.tee->Stop();
    t.source->Stop(); // decommits: a producer waiting for a buffer gives up
    producer.join();
    EXPECT_FALSE(t.tee->Output(0)->HasQueue());
    EXPECT_FALSE(t.tee->Output(1)->HasQueue());
}

} // namespace
