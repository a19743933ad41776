// The graph manager running the test filters: state changes, end of stream and
// EC_COMPLETE, flush and new segment through a tee, seeking, intelligent
// connect, Render, and stops that must get through blocked threads.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "TestFilters.h"
#include "platform/dshow/ComponentRegistry.h"
#include "platform/dshow/FilterGraph.h"

using namespace dshowtest;

namespace {

struct Graph {
    ComPtr<IGraphBuilder> gb;
    ComPtr<IMediaControl> mc;
    ComPtr<IMediaEventEx> me;
    ComPtr<IMediaSeeking> ms;
    Graph() {
        EXPECT_EQ(FilterGraph::Create(IID_IGraphBuilder, reinterpret_cast<void**>(&gb)), S_OK);
        mc = gb.As<IMediaControl>();
        me = gb.As<IMediaEventEx>();
        ms = gb.As<IMediaSeeking>();
    }
    ~Graph() {
        if (mc) mc->Stop();
    }
    void Add(IBaseFilter* f, LPCWSTR name) { ASSERT_TRUE(SUCCEEDED(gb->AddFilter(f, name))); }
    HRESULT Join(IBaseFilter* a, IBaseFilter* b, int outIndex = 0) {
        return gb->ConnectDirect(GetPinOf(a, PINDIR_OUTPUT, outIndex), GetPinOf(b, PINDIR_INPUT),
                                 nullptr);
    }
    // Collects events until none arrives within ms.
    std::vector<std::pair<LONG, LONG_PTR>> Events(int ms = 100) {
        std::vector<std::pair<LONG, LONG_PTR>> out;
        LONG code;
        LONG_PTR p1, p2;
        while (me->GetEvent(&code, &p1, &p2, ms) == S_OK) {
            out.emplace_back(code, p2);
            me->FreeEventParams(code, p1, p2);
        }
        return out;
    }
};

int CountCode(const std::vector<std::pair<LONG, LONG_PTR>>& ev, LONG code) {
    int n = 0;
    for (auto& e : ev) n += e.first == code;
    return n;
}

} // namespace

TEST(GraphRun, SamplesFlowInOrderThroughTransformAndStateChanges) {
    Watchdog dog(60);
    Graph g;
    auto* src = new CTestSource(VideoType(MEDIASUBTYPE_YV12), 50, 2, 1024);
    auto* xf = new CTestTransform();
    auto* ren = new CCountingRenderer();
    ComPtr<IBaseFilter> fs(src), fx(xf), fr(ren);
    g.Add(fs, L"Source");
    g.Add(fx, L"Transform");
    g.Add(fr, L"Renderer");
    ASSERT_EQ(g.Join(fs, fx), S_OK);
    ASSERT_EQ(g.Join(fx, fr), S_OK);

    OAFilterState st = -1;
    EXPECT_EQ(g.mc->GetState(10, &st), S_OK);
    EXPECT_EQ(st, State_Stopped);
    ASSERT_EQ(g.mc->Run(), S_OK);
    EXPECT_EQ(g.mc->GetState(10, &st), S_OK);
    EXPECT_EQ(st, State_Running);
    FILTER_STATE fst;
    ren->GetState(0, &fst);
    EXPECT_EQ(fst, State_Running);
    ASSERT_TRUE(WaitFor([&] { return ren->Count() == 50; }));
    LONG code = 0;
    EXPECT_EQ(g.me->WaitForCompletion(5000, &code), S_OK);
    EXPECT_EQ(code, EC_COMPLETE);
    {
        std::lock_guard lk(ren->m);
        for (std::uint32_t i = 0; i < 50; ++i) {
            ASSERT_EQ(ren->numbers[i], i);
            EXPECT_EQ(ren->starts[i], REFERENCE_TIME(i) * kFrame); // times copied by the transform
        }
        EXPECT_TRUE(ren->discontinuities[0]);
        EXPECT_FALSE(ren->discontinuities[1]);
        EXPECT_EQ(ren->eos, 1);
        EXPECT_NE(ren->threads[0], std::this_thread::get_id());
    }
    EXPECT_EQ(xf->transformed.load(), 50);
    ASSERT_EQ(g.mc->Pause(), S_OK);
    EXPECT_EQ(g.mc->GetState(10, &st), S_OK);
    EXPECT_EQ(st, State_Paused);
    ASSERT_EQ(g.mc->Stop(), S_OK);
    ren->GetState(0, &fst);
    EXPECT_EQ(fst, State_Stopped);
    // Connections may change only while stopped.
    ASSERT_EQ(g.mc->Pause(), S_OK);
    EXPECT_EQ(g.gb->Disconnect(GetPinOf(fr, PINDIR_INPUT)), VFW_E_NOT_STOPPED);
    EXPECT_EQ(g.gb->RemoveFilter(fr), VFW_E_NOT_STOPPED);
    g.mc->Stop();
}

TEST(GraphRun, StreamTimeAdvancesOnTheGraphClock) {
    Watchdog dog(30);
    Graph g;
    auto* src = new CTestSource(VideoType(MEDIASUBTYPE_YV12), 1);
    auto* ren = new CCountingRenderer();
    ComPtr<IBaseFilter> fs(src), fr(ren);
    g.Add(fs, L"Source");
    g.Add(fr, L"Renderer");
    ASSERT_EQ(g.Join(fs, fr), S_OK);
    ASSERT_EQ(g.mc->Run(), S_OK);
    ComPtr<IReferenceClock> clock;
    ASSERT_EQ(ren->GetSyncSource(&clock), S_OK);
    ASSERT_TRUE(clock);
    REFERENCE_TIME t0 = 0, t1 = 0;
    ASSERT_EQ(ren->StreamTime(&t0), S_OK);
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    ASSERT_EQ(ren->StreamTime(&t1), S_OK);
    EXPECT_GE(t1 - t0, 20 * MILLISECONDS);
    // A clock advise fires at the asked time.
    CAMEvent ev;
    REFERENCE_TIME now = 0;
    clock->GetTime(&now);
    DWORD_PTR cookie = 0;
    ASSERT_EQ(clock->AdviseTime(now, 20 * MILLISECONDS, &ev, &cookie), S_OK);
    EXPECT_TRUE(ev.Wait(2000));
    REFERENCE_TIME after = 0;
    clock->GetTime(&after);
    EXPECT_GE(after - now, 20 * MILLISECONDS); // never early
    // A periodic advise keeps firing until cancelled.
    CAMEvent tick;
    clock->GetTime(&now);
    ASSERT_EQ(clock->AdvisePeriodic(now + MILLISECONDS, 2 * MILLISECONDS, &tick, &cookie), S_OK);
    EXPECT_TRUE(tick.Wait(2000));
    EXPECT_TRUE(tick.Wait(2000));
    EXPECT_EQ(clock->Unadvise(cookie), S_OK);
    EXPECT_EQ(clock->Unadvise(cookie), S_FALSE);
}

TEST(GraphEvents, OneCompleteAfterEveryRendererByDefault) {
    Watchdog dog(60);
    Graph g;
    auto* s1 = new CTestSource(VideoType(MEDIASUBTYPE_YV12), 5);
    auto* s2 = new CTestSource(VideoType(MEDIASUBTYPE_YV12), 400);
    auto* r1 = new CCountingRenderer();
    auto* r2 = new CCountingRenderer();
    ComPtr<IBaseFilter> f1(s1), f2(s2), fr1(r1), fr2(r2);
    g.Add(f1, L"S1");
    g.Add(f2, L"S2");
    g.Add(fr1, L"R1");
    g.Add(fr2, L"R2");
    ASSERT_EQ(g.Join(f1, fr1), S_OK);
    ASSERT_EQ(g.Join(f2, fr2), S_OK);
    r2->block = true; // the second branch ends only when released
    ASSERT_EQ(g.mc->Run(), S_OK);
    ASSERT_TRUE(WaitFor([&] {
        std::lock_guard lk(r1->m);
        return r1->eos == 1;
    }));
    EXPECT_EQ(CountCode(g.Events(50), EC_COMPLETE), 0);
    r2->Unblock();
    ASSERT_TRUE(WaitFor([&] {
        std::lock_guard lk(r2->m);
        return r2->eos == 1;
    }));
    auto ev = g.Events(200);
    EXPECT_EQ(CountCode(ev, EC_COMPLETE), 1);
    g.mc->Stop();
}

TEST(GraphEvents, EachCompletePassesWhenDefaultHandlingIsCancelled) {
    Watchdog dog(60);
    Graph g;
    ASSERT_EQ(g.me->CancelDefaultHandling(EC_COMPLETE), S_OK);
    auto* s1 = new CTestSource(VideoType(MEDIASUBTYPE_YV12), 5);
    auto* s2 = new CTestSource(VideoType(MEDIASUBTYPE_YV12), 7);
    auto* r1 = new CCountingRenderer();
    auto* r2 = new CCountingRenderer();
    ComPtr<IBaseFilter> f1(s1), f2(s2), fr1(r1), fr2(r2);
    g.Add(f1, L"S1");
    g.Add(f2, L"S2");
    g.Add(fr1, L"R1");
    g.Add(fr2, L"R2");
    ASSERT_EQ(g.Join(f1, fr1), S_OK);
    ASSERT_EQ(g.Join(f2, fr2), S_OK);
    ASSERT_EQ(g.mc->Run(), S_OK);
    std::vector<std::pair<LONG, LONG_PTR>> ev;
    ASSERT_TRUE(WaitFor([&] {
        for (auto& e : g.Events(10)) ev.push_back(e);
        return CountCode(ev, EC_COMPLETE) == 2;
    }));
    // Each carries its renderer.
    std::set<LONG_PTR> senders;
    for (auto& e : ev)
        if (e.first == EC_COMPLETE) senders.insert(e.second);
    EXPECT_TRUE(senders.count(reinterpret_cast<LONG_PTR>(fr1.Get())));
    EXPECT_TRUE(senders.count(reinterpret_cast<LONG_PTR>(fr2.Get())));
    g.mc->Stop();
}

TEST(GraphFlush, FlushAndNewSegmentReachEveryBranchOnSeek) {
    Watchdog dog(60);
    Graph g;
    auto* src = new CTestSource(VideoType(MEDIASUBTYPE_YV12), 1000, 2, 1024);
    auto* tee = new CTestTee(5, 5);
    auto* r1 = new CCountingRenderer();
    auto* r2 = new CCountingRenderer();
    ComPtr<IBaseFilter> fs(src), ft(tee), fr1(r1), fr2(r2);
    g.Add(fs, L"Source");
    g.Add(ft, L"Tee");
    g.Add(fr1, L"R1");
    g.Add(fr2, L"R2");
    ASSERT_EQ(g.Join(fs, ft), S_OK);
    ASSERT_EQ(g.Join(ft, fr1, 0), S_OK);
    ASSERT_EQ(g.Join(ft, fr2, 1), S_OK);
    r1->block = true; // hold the stream so the seek happens mid-way
    ASSERT_EQ(g.mc->Run(), S_OK);
    ASSERT_TRUE(WaitFor([&] { return r1->Count() >= 1 && r2->Count() >= 1; }));

    LONGLONG to = 500 * kFrame;
    ASSERT_EQ(g.ms->SetPositions(&to, AM_SEEKING_AbsolutePositioning, nullptr,
                                 AM_SEEKING_NoPositioning),
              S_OK);
    r1->block = false;
    r1->Unblock();
    ASSERT_TRUE(WaitFor([&] {
        std::lock_guard l1(r1->m), l2(r2->m);
        return r1->eos == 1 && r2->eos == 1;
    }));
    for (CCountingRenderer* r : {r1, r2}) {
        std::lock_guard lk(r->m);
        EXPECT_GE(r->beginFlush, 1);
        EXPECT_EQ(r->beginFlush, r->endFlush);
        ASSERT_EQ(r->segments.size(), 2u);
        EXPECT_EQ(r->segments[0], 0);
        EXPECT_EQ(r->segments[1], 500 * kFrame);
        // After the seek: numbers 500.. in order, times relative to the segment.
        auto it = std::find(r->numbers.begin(), r->numbers.end(), 500u);
        ASSERT_NE(it, r->numbers.end());
        std::size_t k = std::size_t(it - r->numbers.begin());
        EXPECT_EQ(r->starts[k], 0);
        EXPECT_TRUE(r->discontinuities[k]);
        for (std::size_t j = k; j < r->numbers.size(); ++j)
            ASSERT_EQ(r->numbers[j], 500u + (j - k));
        EXPECT_EQ(r->numbers.back(), 999u);
    }
    LONGLONG dur = 0, cur = 0;
    EXPECT_EQ(g.ms->GetDuration(&dur), S_OK);
    EXPECT_EQ(dur, 1000 * kFrame);
    EXPECT_EQ(g.ms->GetCurrentPosition(&cur), S_OK);
    EXPECT_EQ(cur, 1000 * kFrame);
    g.mc->Stop();
}

TEST(GraphSeek, SeekThroughTransformRestartsAtThePosition) {
    Watchdog dog(60);
    Graph g;
    auto* src = new CTestSource(VideoType(MEDIASUBTYPE_YV12), 100, 2, 1024);
    auto* xf = new CTestTransform();
    auto* ren = new CCountingRenderer();
    ComPtr<IBaseFilter> fs(src), fx(xf), fr(ren);
    g.Add(fs, L"Source");
    g.Add(fx, L"Transform");
    g.Add(fr, L"Renderer");
    ASSERT_EQ(g.Join(fs, fx), S_OK);
    ASSERT_EQ(g.Join(fx, fr), S_OK);
    DWORD caps = 0;
    ASSERT_EQ(g.ms->GetCapabilities(&caps), S_OK);
    EXPECT_TRUE(caps & AM_SEEKING_CanSeekAbsolute);
    ASSERT_EQ(g.mc->Pause(), S_OK);
    LONGLONG to = 60 * kFrame;
    ASSERT_EQ(g.ms->SetPositions(&to, AM_SEEKING_AbsolutePositioning, nullptr,
                                 AM_SEEKING_NoPositioning),
              S_OK);
    ASSERT_EQ(g.mc->Run(), S_OK);
    LONG code = 0;
    ASSERT_EQ(g.me->WaitForCompletion(5000, &code), S_OK);
    std::lock_guard lk(ren->m);
    ASSERT_FALSE(ren->numbers.empty());
    EXPECT_EQ(ren->numbers.back(), 99u);
    EXPECT_EQ(ren->segments.back(), 60 * kFrame);
    auto it = std::find(ren->numbers.begin(), ren->numbers.end(), 60u);
    ASSERT_NE(it, ren->numbers.end());
    EXPECT_EQ(ren->numbers.end() - it, 40);
}

TEST(GraphStop, StopGetsThroughAThreadBlockedInGetBuffer) {
    Watchdog dog(30);
    Graph g;
    auto* src = new CTestSource(VideoType(MEDIASUBTYPE_YV12), 100, 2, 1024);
    auto* ren = new CCountingRenderer();
    ren->holdSamples = true; // buffers never come back: the source blocks in GetBuffer
    ComPtr<IBaseFilter> fs(src), fr(ren);
    g.Add(fs, L"Source");
    g.Add(fr, L"Renderer");
    ASSERT_EQ(g.Join(fs, fr), S_OK);
    ASSERT_EQ(g.mc->Run(), S_OK);
    ASSERT_TRUE(WaitFor([&] { return ren->Count() == 2; }));
    // Both buffers are held: the source thread must now be waiting for a third.
    ASSERT_TRUE(WaitFor([&] { return src->Pin()->waitingForBuffer.load(); }));
    EXPECT_EQ(ren->Count(), 2u);
    EXPECT_EQ(g.mc->Stop(), S_OK);
    EXPECT_EQ(src->Pin()->lastDeliverResult.load(), VFW_E_NOT_COMMITTED);
}

TEST(GraphStop, StopGetsThroughAFullOutputQueueAndABlockedRenderer) {
    Watchdog dog(30);
    Graph g;
    auto* src = new CTestSource(VideoType(MEDIASUBTYPE_YV12), 1000, 8, 1024);
    auto* tee = new CTestTee(1, 2);
    auto* r1 = new CCountingRenderer();
    ComPtr<IBaseFilter> fs(src), ft(tee), fr1(r1);
    g.Add(fs, L"Source");
    g.Add(ft, L"Tee");
    g.Add(fr1, L"R1");
    ASSERT_EQ(g.Join(fs, ft), S_OK);
    ASSERT_EQ(g.Join(ft, fr1, 0), S_OK);
    r1->block = true; // the queue fills (2) and the source blocks in the queue
    ASSERT_EQ(g.mc->Run(), S_OK);
    ASSERT_TRUE(WaitFor([&] { return src->Pin()->delivered.load() >= 2; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    int before = src->Pin()->delivered.load();
    EXPECT_LE(before, 4); // 1 in the renderer, 2 queued, 1 waiting
    EXPECT_EQ(g.mc->Stop(), S_OK);
    // And it runs again afterwards.
    r1->block = false;
    r1->Unblock();
}

// -- intelligent connect and render

namespace {
ComponentInfo TransformInfo(const CLSID& clsid, const GUID& in, const GUID& out, DWORD merit) {
    return ComponentInfo{clsid, L"Registry Transform", merit, {{MEDIATYPE_Video, in}},
                         [in, out](IUnknown* outer, REFIID riid, void** ppv) {
                             return CTestTransform::Create(outer, riid, ppv, in, out);
                         }};
}
constexpr CLSID CLSID_RegistryTransformAB = MakeGuid("6A1F0000-0000-4000-8000-0000000000AB");
constexpr CLSID CLSID_RegistryRendererB = MakeGuid("6A1F0000-0000-4000-8000-0000000000BB");
} // namespace

TEST(IntelligentConnect, PrefersAFilterAlreadyInTheGraph) {
    ComponentRegistration reg(TransformInfo(CLSID_RegistryTransformAB, MEDIASUBTYPE_TestA,
                                            MEDIASUBTYPE_TestB, MERIT_PREFERRED));
    Graph g;
    auto* src = new CTestSource(VideoType(MEDIASUBTYPE_TestA), 3);
    auto* present = new CTestTransform(MEDIASUBTYPE_TestA, MEDIASUBTYPE_TestB);
    auto* ren = new CCountingRenderer(MEDIASUBTYPE_TestB);
    ComPtr<IBaseFilter> fs(src), fp(present), fr(ren);
    g.Add(fs, L"Source");
    g.Add(fp, L"Present Transform");
    g.Add(fr, L"Renderer");
    EXPECT_EQ(g.Join(fs, fr), VFW_E_NO_ACCEPTABLE_TYPES); // direct is impossible
    ASSERT_EQ(g.gb->Connect(GetPinOf(fs, PINDIR_OUTPUT), GetPinOf(fr, PINDIR_INPUT)), S_OK);
    EXPECT_TRUE(present->InputPin()->IsConnected());
    EXPECT_TRUE(present->OutputPin()->IsConnected());
    ComPtr<IBaseFilter> none;
    EXPECT_EQ(g.gb->FindFilterByName(L"Registry Transform", &none), VFW_E_NOT_FOUND);
    ASSERT_EQ(g.mc->Run(), S_OK);
    LONG code;
    EXPECT_EQ(g.me->WaitForCompletion(5000, &code), S_OK);
    EXPECT_EQ(ren->Count(), 3u);
    g.mc->Stop();
}

TEST(IntelligentConnect, UsesTheRegistryWhenNothingInTheGraphFits) {
    ComponentRegistration reg(TransformInfo(CLSID_RegistryTransformAB, MEDIASUBTYPE_TestA,
                                            MEDIASUBTYPE_TestB, MERIT_NORMAL));
    Graph g;
    auto* src = new CTestSource(VideoType(MEDIASUBTYPE_TestA), 3);
    auto* ren = new CCountingRenderer(MEDIASUBTYPE_TestB);
    ComPtr<IBaseFilter> fs(src), fr(ren);
    g.Add(fs, L"Source");
    g.Add(fr, L"Renderer");
    ASSERT_EQ(g.gb->Connect(GetPinOf(fs, PINDIR_OUTPUT), GetPinOf(fr, PINDIR_INPUT)), S_OK);
    ComPtr<IBaseFilter> added;
    ASSERT_EQ(g.gb->FindFilterByName(L"Registry Transform", &added), S_OK);
    CLSID clsid{};
    added->GetClassID(&clsid);
    EXPECT_EQ(clsid, CLSID_TestTransform);
    EXPECT_TRUE(ren->Pin()->IsConnected());
}

TEST(IntelligentConnect, FailureLeavesTheGraphAsItWas) {
    Graph g;
    auto* src = new CTestSource(VideoType(MEDIASUBTYPE_TestA), 3);
    auto* ren = new CCountingRenderer(MEDIASUBTYPE_TestB);
    ComPtr<IBaseFilter> fs(src), fr(ren);
    g.Add(fs, L"Source");
    g.Add(fr, L"Renderer");
    ComponentRegistration reg(TransformInfo(CLSID_RegistryTransformAB, MEDIASUBTYPE_TestA,
                                            MEDIASUBTYPE_YV12, MERIT_NORMAL)); // wrong output
    EXPECT_EQ(g.gb->Connect(GetPinOf(fs, PINDIR_OUTPUT), GetPinOf(fr, PINDIR_INPUT)),
              VFW_E_CANNOT_CONNECT);
    EXPECT_FALSE(src->Pin()->IsConnected());
    EXPECT_EQ(static_cast<FilterGraph*>(g.gb.Get())->FilterCount(), 2u);
}

TEST(IntelligentConnect, RenderReachesARegisteredRendererThroughTheGraph) {
    ComponentRegistration regT(TransformInfo(CLSID_RegistryTransformAB, MEDIASUBTYPE_TestA,
                                             MEDIASUBTYPE_TestB, MERIT_NORMAL));
    ComponentRegistration regR(ComponentInfo{
        CLSID_RegistryRendererB, L"Registry Renderer", MERIT_NORMAL, {{MEDIATYPE_Video, MEDIASUBTYPE_TestB}},
        [](IUnknown* outer, REFIID riid, void** ppv) {
            return CCountingRenderer::Create(outer, riid, ppv, MEDIASUBTYPE_TestB);
        }});
    Graph g;
    auto* src = new CTestSource(VideoType(MEDIASUBTYPE_TestA), 4);
    ComPtr<IBaseFilter> fs(src);
    g.Add(fs, L"Source");
    ASSERT_EQ(g.gb->Render(GetPinOf(fs, PINDIR_OUTPUT)), S_OK);
    ComPtr<IBaseFilter> t, r;
    EXPECT_EQ(g.gb->FindFilterByName(L"Registry Transform", &t), S_OK);
    ASSERT_EQ(g.gb->FindFilterByName(L"Registry Renderer", &r), S_OK);
    ASSERT_EQ(g.mc->Run(), S_OK);
    LONG code;
    EXPECT_EQ(g.me->WaitForCompletion(5000, &code), S_OK);
    EXPECT_EQ(static_cast<CCountingRenderer*>(r.Get())->Count(), 4u);
    g.mc->Stop();
}
