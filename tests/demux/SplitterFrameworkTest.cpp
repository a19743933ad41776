// The splitter framework with a scripted demultiplexing loop: the packet queue's
// merge rule, time-stamp jumps, buffer renegotiation, the playback rate,
// back-pressure with sparse pins and a stalled pin, pin order and queue status.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <thread>

#include "demux/CBaseSplitterFilter.h"
#include "demux/CCountingSink.h"
#include "demux/CMpegSplitterOutputPin.h"
#include "demux/PacketQueue.h"
#include "platform/dshow/FormatBlocks.h"

namespace {

constexpr REFERENCE_TIME kSec = 10000000;

std::unique_ptr<Packet> MakePacket(DWORD track, std::size_t size,
                                   REFERENCE_TIME start = Packet::kNoTime, bool appendable = false,
                                   std::uint8_t fill = 1) {
    auto p = std::make_unique<Packet>();
    p->track = track;
    p->data.assign(size, fill);
    p->start = start;
    p->stop = start == Packet::kNoTime ? Packet::kNoTime : start + 1;
    p->appendable = appendable;
    p->syncPoint = start != Packet::kNoTime;
    return p;
}

TEST(PacketQueue, MergesOnlyUntimedAppendablePacketsIntoATimedOne) {
    struct Case {
        const char* what;
        bool lastTimed, appendable, discontinuity, withType, timed, merged;
    };
    for (const Case& c : {Case{"continuation", true, true, false, false, false, true},
                          Case{"not appendable", true, false, false, false, false, false},
                          Case{"discontinuity", true, true, true, false, false, false},
                          Case{"new media type", true, true, false, true, false, false},
                          Case{"has its own time", true, true, false, false, true, false},
                          Case{"last one untimed", false, true, false, false, false, false}}) {
        SCOPED_TRACE(c.what);
        PacketQueue q;
        q.Add(MakePacket(1, 100, c.lastTimed ? 0 : Packet::kNoTime));
        auto p = MakePacket(1, 30, c.timed ? 10 : Packet::kNoTime, c.appendable, 2);
        p->discontinuity = c.discontinuity;
        if (c.withType) p->mediaType = std::make_unique<CMediaType>(&MEDIATYPE_Audio);
        q.Add(std::move(p));
        EXPECT_EQ(q.GetSize(), 130u);
        EXPECT_EQ(q.GetCount(), c.merged ? 1u : 2u);
        std::unique_ptr<Packet> head;
        ASSERT_TRUE(q.Remove(&head));
        ASSERT_TRUE(head);
        EXPECT_EQ(head->data.size(), c.merged ? 130u : 100u);
        if (c.merged) {
            EXPECT_EQ(head->data.back(), 2);
        }
        EXPECT_EQ(q.GetSize(), c.merged ? 0u : 30u);
    }
    // An empty queue merges nothing; a null packet is end of stream.
    PacketQueue q;
    q.Add(MakePacket(1, 10, Packet::kNoTime, true));
    q.Add(nullptr);
    EXPECT_EQ(q.GetCount(), 2u);
    std::unique_ptr<Packet> p;
    ASSERT_TRUE(q.Remove(&p));
    ASSERT_TRUE(q.Remove(&p));
    EXPECT_FALSE(p);
    EXPECT_FALSE(q.Remove(&p));
}

CMediaType TypeOf(const GUID& major, const GUID& sub, ULONG sampleSize = 1) {
    CMediaType mt(&major);
    mt.SetSubtype(&sub);
    mt.SetFormatType(&FORMAT_None);
    mt.SetSampleSize(sampleSize);
    return mt;
}

// A splitter whose passes run a script instead of a parser.
class ScriptedSplitter : public CBaseSplitterFilter {
public:
    using Script = std::function<void(ScriptedSplitter&)>;
    ScriptedSplitter() : CBaseSplitterFilter("scripted splitter", nullptr, &hr_, GUID_NULL) {}
    ~ScriptedSplitter() override { Stop(); }

    CMpegSplitterOutputPin*
    AddPin(DWORD id, const CMediaType& mt, const wchar_t* name,
           REFERENCE_TIME tolerance = CMpegSplitterOutputPin::kDefaultJumpTolerance) {
        HRESULT hr = S_OK;
        auto* pin = new CMpegSplitterOutputPin(mt, name, this, this, &hr, tolerance);
        RegisterOutputPin(id, pin);
        return pin;
    }
    void SetScript(Script s) { script_ = std::move(s); }

    // Routes packets until the pins stop taking them or a command comes.
    void Flood(DWORD track, std::size_t size) {
        REFERENCE_TIME t = 0;
        while (!CommandPending() && HasActivePins() &&
               RoutePacket(MakePacket(track, size, t)) == S_OK)
            t += 1000;
    }

protected:
    HRESULT CreateOutputPins(IAsyncReader*) override { return S_OK; }
    bool StartDemux() override { return true; }
    void SeekDemux(REFERENCE_TIME) override {}
    bool DemuxPackets() override {
        if (script_) script_(*this);
        return true;
    }

private:
    HRESULT hr_ = S_OK;
    Script script_;
};

class SplitterFramework : public ::testing::Test {
protected:
    void Connect() {
        for (int i = 0; i + 1 < splitter->GetPinCount(); ++i) {
            auto* sink = new CCountingSink(true);
            sinkRefs.emplace_back(static_cast<IBaseFilter*>(sink));
            sinks.push_back(sink);
            ASSERT_EQ(splitter->GetPin(i)->Connect(sink->InputPin(), nullptr), S_OK);
        }
    }
    void Pause() {
        for (auto* s : sinks)
            s->Pause();
        ASSERT_EQ(splitter->Pause(), S_OK);
    }
    // Waits until a queue stops growing (the worker waits) and returns its size.
    static std::size_t SettledQueue(CBaseSplitterOutputPin* pin) {
        std::size_t last = SIZE_MAX;
        for (int stable = 0, i = 0; stable < 5 && i < 600; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            std::size_t now = pin->QueueSize();
            stable = now == last ? stable + 1 : 0;
            last = now;
        }
        return last;
    }
    void TearDown() override {
        splitter->Stop();
        for (auto* s : sinks)
            s->Stop();
        splitter->DisconnectPins();
    }

    ScriptedSplitter* splitter = new ScriptedSplitter();
    ComPtr<IBaseFilter> splitterRef{static_cast<IBaseFilter*>(splitter)};
    std::vector<ComPtr<IBaseFilter>> sinkRefs;
    std::vector<CCountingSink*> sinks;
};

TEST_F(SplitterFramework, PinsEnumerateOutputsFirstThenTheInput) {
    EXPECT_EQ(splitter->GetPinCount(), 1);
    EXPECT_EQ(static_cast<CBasePin*>(splitter->GetPin(0))->Name(), L"Input");
    splitter->AddPin(0xE000, TypeOf(MEDIATYPE_Video, MEDIASUBTYPE_MPEG2_VIDEO), L"Video");
    splitter->AddPin(0xBD80, TypeOf(MEDIATYPE_Audio, MEDIASUBTYPE_DOLBY_AC3), L"Audio");
    ASSERT_EQ(splitter->GetPinCount(), 3);
    EXPECT_EQ(static_cast<CBasePin*>(splitter->GetPin(0))->Name(), L"Video");
    EXPECT_EQ(static_cast<CBasePin*>(splitter->GetPin(1))->Name(), L"Audio");
    EXPECT_EQ(static_cast<CBasePin*>(splitter->GetPin(2))->Name(), L"Input");
    EXPECT_EQ(splitter->GetPin(3), nullptr);
    EXPECT_EQ(splitter->RegisterOutputPin(1, nullptr), E_INVALIDARG);
    EXPECT_EQ(splitter->RetargetOutputPin(0x1234, 1, nullptr), E_FAIL);

    // Queue status: unconnected pins answer S_FALSE, bad indices E_INVALIDARG.
    auto info = splitterRef.As<IBufferInfo>();
    ASSERT_TRUE(info);
    int samples = -1, bytes = -1;
    EXPECT_EQ(info->GetCount(), 2);
    EXPECT_EQ(info->GetStatus(0, samples, bytes), S_FALSE);
    EXPECT_EQ(samples, 0);
    EXPECT_EQ(info->GetStatus(2, samples, bytes), E_INVALIDARG);
    EXPECT_EQ(info->GetStatus(-1, samples, bytes), E_INVALIDARG);
    auto keyFrames = splitterRef.As<IKeyFrameInfo>();
    UINT n = 0;
    EXPECT_EQ(keyFrames->GetKeyFrameCount(n), E_NOTIMPL);
    EXPECT_FALSE(splitterRef.As<IFileSourceFilter>());

    Connect();
    EXPECT_EQ(info->GetStatus(0, samples, bytes), S_OK);
    Pause();
    EXPECT_EQ(splitter->RemoveOutputPins(), VFW_E_NOT_STOPPED);
    splitter->Stop();
    sinks[0]->Stop();
    sinks[1]->Stop();
    EXPECT_EQ(splitter->RemoveOutputPins(), S_OK);
    EXPECT_EQ(splitter->GetPinCount(), 1);
    EXPECT_FALSE(sinks[0]->InputPin() &&
                 static_cast<CBasePin*>(sinks[0]->GetPin(0))->IsConnected());
}

TEST_F(SplitterFramework, SeekingInterfaceRules) {
    auto seeking = splitterRef.As<IMediaSeeking>();
    DWORD caps = 0;
    EXPECT_EQ(seeking->GetCapabilities(&caps), S_OK);
    EXPECT_EQ(caps, 0x37u);
    EXPECT_EQ(seeking->IsFormatSupported(&TIME_FORMAT_MEDIA_TIME), S_OK);
    EXPECT_EQ(seeking->IsFormatSupported(&TIME_FORMAT_FRAME), S_FALSE);
    EXPECT_EQ(seeking->SetTimeFormat(&TIME_FORMAT_BYTE), E_INVALIDARG);
    EXPECT_EQ(seeking->SetTimeFormat(&TIME_FORMAT_MEDIA_TIME), S_OK);
    LONGLONG a = 0, b = 0;
    EXPECT_EQ(seeking->ConvertTimeFormat(&a, nullptr, 0, nullptr), E_NOTIMPL);
    for (double bad : {0.0, -1.0})
        EXPECT_EQ(seeking->SetRate(bad), E_INVALIDARG);
    EXPECT_EQ(seeking->GetPreroll(&a), S_OK);
    EXPECT_EQ(a, 0);
    EXPECT_EQ(seeking->GetAvailable(&a, &b), S_OK);
    // A seek to where the splitter already is changes nothing.
    LONGLONG cur = 0, stop = 0;
    EXPECT_EQ(seeking->SetPositions(&cur, AM_SEEKING_AbsolutePositioning, &stop,
                                    AM_SEEKING_AbsolutePositioning),
              S_OK);
    EXPECT_EQ(splitter->PassCount(), 0);
}

// Video and audio take at most a 5-second jump; a larger one continues at the
// previous time, and the offset stays. Subpictures keep any time.
TEST_F(SplitterFramework, TimeJumpsBeyondTheToleranceAreSmoothed) {
    splitter->AddPin(0xE000, TypeOf(MEDIATYPE_Video, MEDIASUBTYPE_MPEG2_VIDEO), L"Video");
    splitter->AddPin(0xBD20, TypeOf(MEDIATYPE_Video, MEDIASUBTYPE_DVD_SUBPICTURE), L"Subtitle",
                     INT64_MAX);
    splitter->SetScript([](ScriptedSplitter& s) {
        for (REFERENCE_TIME t : {10 * kSec, 16 * kSec, 16 * kSec + kSec / 10, 20 * kSec})
            s.RoutePacket(MakePacket(0xE000, 100, t));
        for (REFERENCE_TIME t : {10 * kSec, 30 * kSec})
            s.RoutePacket(MakePacket(0xBD20, 100, t));
    });
    Connect();
    Pause();
    ASSERT_TRUE(sinks[0]->WaitForEnd(10000));
    ASSERT_TRUE(sinks[1]->WaitForEnd(10000));
    auto video = sinks[0]->Log();
    ASSERT_EQ(video.size(), 4u);
    EXPECT_EQ(video[0].start, 10 * kSec);
    EXPECT_EQ(video[1].start, 10 * kSec);
    EXPECT_EQ(video[2].start, 10 * kSec + kSec / 10);
    EXPECT_EQ(video[3].start, 14 * kSec);
    auto subs = sinks[1]->Log();
    ASSERT_EQ(subs.size(), 2u);
    EXPECT_EQ(subs[1].start, 30 * kSec);
}

TEST_F(SplitterFramework, LargePacketRenegotiatesBuffersAndRateScalesTimes) {
    auto* pin =
        splitter->AddPin(0xE000, TypeOf(MEDIATYPE_Video, MEDIASUBTYPE_MPEG2_VIDEO, 1), L"Video");
    splitter->SetScript([](ScriptedSplitter& s) {
        s.RoutePacket(MakePacket(0xE000, 10, 2 * kSec));
        s.RoutePacket(MakePacket(0xE000, 100000, 4 * kSec, false, 7));
    });
    Connect();
    ASSERT_EQ(splitterRef.As<IMediaSeeking>()->SetRate(2.0), S_OK);
    Pause();
    ASSERT_TRUE(sinks[0]->WaitForEnd(10000));
    auto log = sinks[0]->Log();
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[0].start, 1 * kSec);
    EXPECT_EQ(log[1].start, 2 * kSec);
    EXPECT_EQ(log[1].size, 100000u);
    EXPECT_EQ(log[1].checksum, 700000u);
    ALLOCATOR_PROPERTIES props{};
    ASSERT_EQ(pin->Allocator()->GetProperties(&props), S_OK);
    EXPECT_EQ(props.cbBuffer, 150000);
}

// With one pin stalled, the worker keeps queueing while another regular pin
// needs data (up to the 200 MB cap), but a sparse pin never keeps it going.
TEST_F(SplitterFramework, StalledPinQueuesUpToTheCapsThenWaits) {
    for (bool otherSparse : {true, false}) {
        // Small packets show the 2 MB total; large ones reach the per-queue cap.
        const std::size_t kPacket = otherSparse ? 4096 : 1 << 20;
        SCOPED_TRACE(otherSparse ? "other pin sparse" : "other pin regular");
        auto* splitterLocal = new ScriptedSplitter();
        ComPtr<IBaseFilter> ref(static_cast<IBaseFilter*>(splitterLocal));
        auto* video = splitterLocal->AddPin(
            0xE000, TypeOf(MEDIATYPE_Video, MEDIASUBTYPE_MPEG2_VIDEO), L"Video");
        if (otherSparse)
            splitterLocal->AddPin(0xBD20, TypeOf(MEDIATYPE_Video, MEDIASUBTYPE_DVD_SUBPICTURE),
                                  L"Subtitle", INT64_MAX);
        else
            splitterLocal->AddPin(0xBD80, TypeOf(MEDIATYPE_Audio, MEDIASUBTYPE_DOLBY_AC3),
                                  L"Audio");
        splitterLocal->SetScript([kPacket](ScriptedSplitter& s) { s.Flood(0xE000, kPacket); });
        CCountingSink* stalled = new CCountingSink();
        CCountingSink* other = new CCountingSink();
        ComPtr<IBaseFilter> r1(static_cast<IBaseFilter*>(stalled)),
            r2(static_cast<IBaseFilter*>(other));
        ASSERT_EQ(splitterLocal->GetPin(0)->Connect(stalled->InputPin(), nullptr), S_OK);
        ASSERT_EQ(splitterLocal->GetPin(1)->Connect(other->InputPin(), nullptr), S_OK);
        stalled->Stall(true);
        stalled->Pause();
        other->Pause();
        ASSERT_EQ(splitterLocal->Pause(), S_OK);
        std::size_t queued = SettledQueue(video);
        if (otherSparse) {
            EXPECT_GE(queued, 2097152u);
            EXPECT_LE(queued, 2097152u + kPacket);
        } else {
            EXPECT_GT(queued, CBaseSplitterOutputPin::kMaxQueueBytes - kPacket);
            EXPECT_LE(queued, CBaseSplitterOutputPin::kMaxQueueBytes + kPacket);
        }
        auto t0 = std::chrono::steady_clock::now();
        splitterLocal->Stop();
        EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(1));
        EXPECT_EQ(video->QueueSize(), 0u);
        stalled->Stop();
        other->Stop();
        splitterLocal->DisconnectPins();
    }
}

std::unique_ptr<Packet> BytesPacket(DWORD track, std::vector<std::uint8_t> bytes, REFERENCE_TIME start) {
    auto p = std::make_unique<Packet>();
    p->track = track;
    p->data = std::move(bytes);
    p->start = start;
    p->stop = start == Packet::kNoTime ? Packet::kNoTime : start + 1;
    return p;
}

// An ADTS frame of `length` bytes (7-byte header without CRC), payload bytes = fill.
std::vector<std::uint8_t> AdtsFrame(std::size_t length, std::uint8_t fill) {
    std::vector<std::uint8_t> f{0xFF, 0xF1, 0x50, std::uint8_t(0x80 | ((length >> 11) & 3)),
                                std::uint8_t((length >> 3) & 0xFF), std::uint8_t(((length & 7) << 5) | 0x1F), 0xFC};
    f.resize(length, fill);
    return f;
}

// AAC payloads are cut into raw frames (headers dropped; a frame split across
// payloads waits for its rest); AVC start codes become 4-byte lengths, one
// sample per access unit.
TEST_F(SplitterFramework, AacAndAvcPayloadsAreReframed) {
    splitter->AddPin(0x100, TypeOf(MEDIATYPE_Audio, MEDIASUBTYPE_AAC), L"Audio");
    CMediaType avc(&MEDIATYPE_Video);
    avc.SetSubtype(&MEDIASUBTYPE_AVC1);
    avc.SetFormatType(&FORMAT_MPEG2Video);
    auto* info = reinterpret_cast<MPEG2VIDEOINFO*>(avc.AllocFormatBuffer(sizeof(MPEG2VIDEOINFO)));
    info->hdr.bmiHeader.biCompression = 0x31435641; // "AVC1"
    splitter->AddPin(0x101, avc, L"Video");
    splitter->SetScript([](ScriptedSplitter& s) {
        std::vector<std::uint8_t> first = AdtsFrame(20, 1), second = AdtsFrame(30, 2), third = AdtsFrame(25, 3);
        first.insert(first.end(), second.begin(), second.end());
        first.insert(first.end(), third.begin(), third.begin() + 5);
        s.RoutePacket(BytesPacket(0x100, first, kSec));
        s.RoutePacket(BytesPacket(0x100, std::vector<std::uint8_t>(third.begin() + 5, third.end()), 2 * kSec));
        s.RoutePacket(BytesPacket(0x101, {0, 0, 0, 1, 0x09, 0xF0, 0, 0, 1, 0x67, 0xAA, 0xBB, 0, 0, 0, 1, 0x65, 0xCC}, kSec));
        s.RoutePacket(BytesPacket(0x101, {0, 0, 1, 0x65, 0xDD, 0xEE}, 2 * kSec));
    });
    Connect();
    Pause();
    ASSERT_TRUE(sinks[0]->WaitForEnd(10000));
    ASSERT_TRUE(sinks[1]->WaitForEnd(10000));
    auto aac = sinks[0]->Log();
    ASSERT_EQ(aac.size(), 3u);
    EXPECT_EQ(aac[0].size, 13u);
    EXPECT_EQ(aac[0].checksum, 13u);
    EXPECT_EQ(aac[0].start, kSec);
    EXPECT_EQ(aac[1].size, 23u);
    EXPECT_FALSE(aac[1].hasTime);
    EXPECT_EQ(aac[2].size, 18u);
    EXPECT_EQ(aac[2].checksum, 54u);
    auto video = sinks[1]->Log();
    ASSERT_EQ(video.size(), 2u);
    // 2+4, 3+4 and 2+4 bytes: (09 F0) (67 AA BB) (65 CC), each behind its length.
    EXPECT_EQ(video[0].size, 19u);
    EXPECT_EQ(video[0].checksum, 2u + 0x09 + 0xF0 + 3 + 0x67 + 0xAA + 0xBB + 2 + 0x65 + 0xCC);
    EXPECT_EQ(video[0].start, kSec);
    EXPECT_EQ(video[1].size, 7u);
    EXPECT_EQ(video[1].start, 2 * kSec);
}

} // namespace
