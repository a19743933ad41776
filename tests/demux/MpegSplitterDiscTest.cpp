// The MPEG demultiplexer between the DVD source and counting sinks, on the
// authored test discs: whole titles, play ranges, seeks, stream switching and
// damaged or short data. Every wait is bounded, so a deadlock fails the test.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <future>
#include <string>
#include <thread>

#include "SplitterRig.h"
#include "TitleBytes.h"
#include "demux/StreamMediaTypes.h"
#include "fixtures/DiscManifest.h"

namespace {

constexpr REFERENCE_TIME kSec = 10000000;
constexpr int kEndWaitMs = 60000;

#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
constexpr std::chrono::milliseconds kStopBudget{3000};
#else
constexpr std::chrono::milliseconds kStopBudget{1000};
#endif

class MpegSplitterDisc : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(manifest.Load(DiscManifest::DiscDir()))
            << "no authored discs in $DVDCONV_TEST_DISCS";
    }
    std::string Folder(const std::string& disc) {
        return manifest.Dir() + "/" + manifest.Str(disc + ".folder");
    }
    bool HasLongDisc() { return manifest.Str("discs").find("long") != std::string::npos; }

    // Samples of the last pass (after the last new segment) of a sink.
    static std::vector<CCountingSink::Sample> LastPass(CCountingSink* sink) {
        auto log = sink->Log();
        auto segments = sink->GetStats().segments;
        std::vector<CCountingSink::Sample> out;
        for (const auto& s : log)
            if (s.segment == segments) out.push_back(s);
        return out;
    }

    DiscManifest manifest;
};

std::wstring PinName(IBaseFilter* filter, int n, CBaseFilter* base) {
    return static_cast<CBasePin*>(base->GetPin(n))->Name();
}

// Payload bytes ffmpeg copies out of one stream of a file (its raw elementary stream).
long long FfmpegStreamBytes(const std::string& path, const char* map, const char* format) {
    std::string cmd = std::string("ffmpeg -nostdin -v error -i '") + path + "' -map '" + map +
                      "' -c copy -f " + format + " - | wc -c";
    FILE* f = popen(cmd.c_str(), "r");
    if (!f) return -1;
    long long n = -1;
    if (std::fscanf(f, "%lld", &n) != 1) n = -1;
    pclose(f);
    return n;
}

TEST_F(MpegSplitterDisc, WholeTitleReachesEveryPinWithGrowingTimes) {
    SplitterRig rig;
    ASSERT_EQ(rig.OpenDisc(Folder("ntsc"), 0, true), S_OK);
    CMpegSplitterFilter* f = rig.Splitter();
    ASSERT_EQ(f->GetPinCount(), 4);
    EXPECT_EQ(PinName(nullptr, 0, f), L"Video");
    EXPECT_EQ(PinName(nullptr, 1, f), L"Audio");
    EXPECT_EQ(PinName(nullptr, 2, f), L"Subtitle");
    EXPECT_EQ(PinName(nullptr, 3, f), L"Input");
    EXPECT_EQ(f->GetPin(4), nullptr);
    ASSERT_EQ(rig.ConnectSinks(), S_OK);
    auto ms = rig.As<IMyMpegSplitter>();
    ASSERT_EQ(ms->SetPlayRange(0, rig.TitleMs(), rig.TitleMs()), S_OK);
    ASSERT_EQ(rig.Pause(), S_OK);
    ASSERT_TRUE(rig.WaitForAllEnds(kEndWaitMs));

    const REFERENCE_TIME duration = manifest.Int("ntsc.title.0.duration_ms") * 10000;
    for (int i = 0; i < 3; ++i) {
        auto stats = rig.Sink(i)->GetStats();
        SCOPED_TRACE(i);
        EXPECT_GT(stats.packets, 0);
        ASSERT_TRUE(stats.hasTime);
        EXPECT_GE(stats.first, 0);
        if (i < 2) {
            EXPECT_LT(stats.first, kSec);
        }
        EXPECT_EQ(stats.discontinuities, 1); // the first packet of the pass
    }
    // Video and audio run to the end of the title; audio times only grow.
    for (int i = 0; i < 2; ++i)
        EXPECT_GT(rig.Sink(i)->GetStats().last, duration - 2 * kSec);
    REFERENCE_TIME prev = -1;
    for (const auto& s : rig.Sink(1)->Log()) {
        if (!s.hasTime) continue;
        EXPECT_GT(s.start, prev);
        prev = s.start;
    }
    // Subpictures start at their authored display times (2 s, 20 s, 40 s).
    auto spus = manifest.Spans("ntsc.title.0.subtitle.0.spus");
    auto subs = rig.Sink(2)->Log();
    ASSERT_FALSE(subs.empty());
    EXPECT_NEAR(double(subs.front().start) / kSec, double(spus.front().first) / 1000, 0.5);

    // The audio payload is the whole AC-3 stream, byte for byte as ffmpeg copies it.
    TitleBytes title;
    ASSERT_TRUE(title.Load(Folder("ntsc"), 0));
    std::string path = ::testing::TempDir() + "/splitter_title0.vob";
    ASSERT_TRUE(title.Save(path));
    EXPECT_EQ(rig.Sink(1)->GetStats().bytes, FfmpegStreamBytes(path, "0:a:0", "ac3"));
    EXPECT_EQ(rig.Sink(0)->GetStats().bytes, FfmpegStreamBytes(path, "0:v:0", "mpeg2video"));
    std::remove(path.c_str());
}

TEST_F(MpegSplitterDisc, PlayRangeStartsAtTheTrimAndEndsAfterItsLength) {
    // The ten-minute title when authored; else the same case scaled into the minute title.
    const std::string disc = HasLongDisc() ? "long" : "ntsc";
    const LONGLONG startMs = HasLongDisc() ? 60000 : 20000, lengthMs = 30000;
    SplitterRig rig;
    ASSERT_EQ(rig.OpenDisc(Folder(disc), 0), S_OK);
    ASSERT_EQ(rig.ConnectSinks(), S_OK);
    ASSERT_EQ(rig.As<IMyMpegSplitter>()->SetPlayRange(startMs, lengthMs, rig.TitleMs()), S_OK);
    ASSERT_EQ(rig.Pause(), S_OK);
    ASSERT_TRUE(rig.WaitForAllEnds(kEndWaitMs));
    LONGLONG dur = 0;
    ASSERT_EQ(rig.As<IMediaSeeking>()->GetDuration(&dur), S_OK);
    EXPECT_EQ(dur, lengthMs * 10000);

    const REFERENCE_TIME start = startMs * 10000, end = (startMs + lengthMs) * 10000;
    REFERENCE_TIME latest = 0;
    for (int i = 0; i < 2; ++i) {
        auto stats = rig.Sink(i)->GetStats();
        SCOPED_TRACE(i);
        ASSERT_TRUE(stats.hasTime);
        // The pass starts shortly before the trim start (from where a decoder can start)...
        EXPECT_GE(stats.first, start - 2 * kSec);
        EXPECT_LE(stats.first, start);
        // ...and stops at the first packet at or after the end.
        EXPECT_LT(stats.last, end + kSec);
        latest = std::max(latest, stats.last);
    }
    EXPECT_GT(latest, end - kSec);
    LONGLONG pos = 0;
    rig.As<IMediaSeeking>()->GetCurrentPosition(&pos);
    EXPECT_GE(pos, end);
}

TEST_F(MpegSplitterDisc, SeekInTheMiddleLandsNearTheTarget) {
    SplitterRig rig;
    ASSERT_EQ(rig.OpenDisc(Folder("ntsc"), 0), S_OK);
    ASSERT_EQ(rig.ConnectSinks(), S_OK);
    ASSERT_EQ(rig.As<IMyMpegSplitter>()->SetPlayRange(0, rig.TitleMs(), rig.TitleMs()), S_OK);
    ASSERT_EQ(rig.Pause(), S_OK);
    ASSERT_TRUE(rig.Sink(0)->WaitForPackets(50, kEndWaitMs));

    LONGLONG target = 30 * kSec;
    auto seeking = rig.As<IMediaSeeking>();
    ASSERT_EQ(seeking->SetPositions(&target, AM_SEEKING_AbsolutePositioning, nullptr, 0), S_OK);
    ASSERT_TRUE(rig.WaitForAllEnds(kEndWaitMs));
    for (int i = 0; i < 2; ++i) {
        SCOPED_TRACE(i);
        auto stats = rig.Sink(i)->GetStats();
        EXPECT_EQ(stats.segmentStart, target);
        auto pass = LastPass(rig.Sink(i));
        ASSERT_FALSE(pass.empty());
        // Times are relative to the new segment: the pass begins a little before
        // the target (preroll) and the first sample to show lies within a second of it.
        auto firstTimed =
            std::find_if(pass.begin(), pass.end(), [](const auto& s) { return s.hasTime; });
        ASSERT_NE(firstTimed, pass.end());
        EXPECT_GE(firstTimed->start, -2 * kSec);
        EXPECT_TRUE(firstTimed->discontinuity);
        auto shown = std::find_if(pass.begin(), pass.end(),
                                  [](const auto& s) { return s.hasTime && s.start >= 0; });
        ASSERT_NE(shown, pass.end());
        EXPECT_LT(shown->start, kSec);
        for (auto it = pass.begin(); it != shown; ++it)
            if (it->hasTime) {
                EXPECT_TRUE(it->preroll);
            }
    }
}

TEST_F(MpegSplitterDisc, RepeatedSeekFromTwoPinsRestartsOnce) {
    SplitterRig rig;
    ASSERT_EQ(rig.OpenDisc(Folder("ntsc"), 0), S_OK);
    ASSERT_EQ(rig.ConnectSinks(), S_OK);
    ASSERT_EQ(rig.Pause(), S_OK);
    ASSERT_TRUE(rig.Sink(0)->WaitForPackets(20, kEndWaitMs));
    CMpegSplitterFilter* f = rig.Splitter();
    auto video = ComPtr<IPin>(static_cast<CBasePin*>(f->GetPin(0))).As<IMediaSeeking>();
    auto audio = ComPtr<IPin>(static_cast<CBasePin*>(f->GetPin(1))).As<IMediaSeeking>();
    ASSERT_TRUE(video && audio);
    const int before = f->PassCount();
    LONGLONG t = 20 * kSec;
    ASSERT_EQ(video->SetPositions(&t, AM_SEEKING_AbsolutePositioning, nullptr, 0), S_OK);
    t = 20 * kSec;
    ASSERT_EQ(audio->SetPositions(&t, AM_SEEKING_AbsolutePositioning, nullptr, 0), S_OK);
    EXPECT_EQ(f->PassCount(), before + 1);
    // Once the pass has moved on, the same pin asking again means it: the pass restarts.
    const auto seen = rig.Sink(0)->GetStats().packets;
    ASSERT_TRUE(rig.Sink(0)->WaitForPackets(seen + 20, kEndWaitMs));
    t = 20 * kSec;
    ASSERT_EQ(video->SetPositions(&t, AM_SEEKING_AbsolutePositioning, nullptr, 0), S_OK);
    EXPECT_EQ(f->PassCount(), before + 2);
    // Nothing positioned: ignored.
    ASSERT_EQ(video->SetPositions(&t, AM_SEEKING_NoPositioning, nullptr, 0), S_OK);
    EXPECT_EQ(f->PassCount(), before + 2);
    EXPECT_TRUE(rig.WaitForAllEnds(kEndWaitMs));
}

TEST_F(MpegSplitterDisc, StreamSelectionListsAndSwitchesTheAudioPin) {
    SplitterRig rig;
    ASSERT_EQ(rig.OpenDisc(Folder("ntsc"), 0, true), S_OK);
    ASSERT_EQ(rig.ConnectSinks(), S_OK);
    auto select = rig.As<IAMStreamSelect>();
    ASSERT_TRUE(select);
    DWORD count = 0;
    ASSERT_EQ(select->Count(&count), S_OK);
    ASSERT_EQ(count, 5u); // video, AC-3, two MPEG audio, subpicture

    // Names end in (PID,stream id,sub-stream id); the streams on pins are enabled.
    struct Row {
        LONG index;
        DWORD group, flags;
        const wchar_t* suffix;
    };
    for (const Row& r : {Row{0, 0, 3, L"(0000,e0,00)"}, Row{1, 1, 3, L"(0000,bd,80)"},
                         Row{2, 1, 0, L"(0000,c1,00)"}, Row{3, 1, 0, L"(0000,c2,00)"},
                         Row{4, 2, 3, L"(0000,bd,20)"}}) {
        SCOPED_TRACE(r.index);
        AM_MEDIA_TYPE* mt = nullptr;
        DWORD flags = 99, group = 99;
        LCID lcid = 99;
        WCHAR* name = nullptr;
        ASSERT_EQ(select->Info(r.index, &mt, &flags, &lcid, &group, &name, nullptr, nullptr), S_OK);
        ASSERT_TRUE(mt && name);
        EXPECT_EQ(group, r.group);
        EXPECT_EQ(flags, r.flags);
        EXPECT_EQ(lcid, 0u);
        std::wstring n(name);
        ASSERT_GE(n.size(), 12u);
        EXPECT_EQ(n.substr(n.size() - 12), r.suffix) << std::string(n.begin(), n.end());
        DeleteMediaType(mt);
        CoTaskMemFree(name);
    }
    WCHAR* untouched = nullptr;
    EXPECT_EQ(select->Info(5, nullptr, nullptr, nullptr, nullptr, &untouched, nullptr, nullptr),
              S_OK);
    EXPECT_EQ(untouched, nullptr);
    EXPECT_EQ(select->Enable(2, 0), E_NOTIMPL);
    EXPECT_EQ(select->Enable(2, AMSTREAMSELECTENABLE_ENABLEALL), E_NOTIMPL);
    EXPECT_EQ(select->Enable(9, AMSTREAMSELECTENABLE_ENABLE), S_FALSE);
    EXPECT_EQ(select->Enable(-1, AMSTREAMSELECTENABLE_ENABLE), S_FALSE);

    // Switch the audio pin to the MPEG audio stream: its first packet carries the new type.
    ASSERT_EQ(select->Enable(2, AMSTREAMSELECTENABLE_ENABLE), S_OK);
    DWORD flags = 0;
    select->Info(2, nullptr, &flags, nullptr, nullptr, nullptr, nullptr, nullptr);
    EXPECT_EQ(flags, 3u);
    select->Info(1, nullptr, &flags, nullptr, nullptr, nullptr, nullptr, nullptr);
    EXPECT_EQ(flags, 0u);
    ASSERT_EQ(rig.Pause(), S_OK);
    ASSERT_TRUE(rig.WaitForAllEnds(kEndWaitMs));
    auto log = rig.Sink(1)->Log();
    ASSERT_FALSE(log.empty());
    EXPECT_TRUE(log.front().newType);
    EXPECT_TRUE(log.front().discontinuity);
    EXPECT_EQ(std::count_if(log.begin(), log.end(), [](const auto& s) { return s.newType; }), 1);
    auto stats = rig.Sink(1)->GetStats();
    EXPECT_EQ(stats.lastType.majortype, MEDIATYPE_Audio);
    EXPECT_NE(stats.lastType.subtype, MEDIASUBTYPE_DOLBY_AC3);
    // The MPEG audio stream runs on to the end of the title: without a play
    // range the pass ends with the data, not at the estimated duration.
    EXPECT_GT(stats.last, (manifest.Int("ntsc.title.0.duration_ms") - 2000) * 10000);
}

// The DVD source's colour table reaches the type of every DVD subpicture
// stream, listed from the title's streams (and so the pin that feeds the
// decoder) or met while the title is read; the "no subtitles" entry keeps its
// plain type.
TEST_F(MpegSplitterDisc, SubpictureTypesCarryTheTitlesColourTable) {
    // The type of each subpicture entry, by whether it is the placeholder.
    auto subpictureTypes = [](IAMStreamSelect* select) {
        std::vector<std::pair<bool, CMediaType>> out;
        DWORD count = 0;
        select->Count(&count);
        for (LONG i = 0; i < LONG(count); ++i) {
            AM_MEDIA_TYPE* mt = nullptr;
            DWORD group = 0;
            WCHAR* name = nullptr;
            if (select->Info(i, &mt, nullptr, nullptr, &group, &name, nullptr, nullptr) != S_OK ||
                !mt || !name)
                continue;
            std::wstring n(name);
            if (group == 2) out.emplace_back(n.ends_with(L"(0000,00,00)"), CMediaType(*mt));
            DeleteMediaType(mt);
            CoTaskMemFree(name);
        }
        return out;
    };
    for (bool titleStreams : {true, false}) {
        SCOPED_TRACE(titleStreams ? "title streams given" : "streams met in the data");
        SplitterRig rig;
        ASSERT_EQ(rig.OpenDisc(Folder("ntsc"), 0, titleStreams), S_OK);
        std::uint32_t table[16];
        ASSERT_EQ(MyDVDGetPalette(rig.Disc(), 0, table), 0);
        const std::string want = DvdPaletteText(table);
        ASSERT_EQ(rig.ConnectSinks(), S_OK);
        CMediaType connected;
        ASSERT_EQ(static_cast<CBasePin*>(rig.Splitter()->GetPin(2))->ConnectionMediaType(&connected),
                  S_OK);
        EXPECT_EQ(connected.formattype, titleStreams ? FORMAT_SubpicturePalette : FORMAT_None);
        if (!titleStreams) { // the subpicture is met only once the title is read
            ASSERT_EQ(rig.Pause(), S_OK);
            ASSERT_TRUE(rig.WaitForAllEnds(kEndWaitMs));
        }
        int withTable = 0;
        for (const auto& [placeholder, mt] : subpictureTypes(rig.As<IAMStreamSelect>().Get())) {
            if (placeholder) {
                EXPECT_EQ(mt.formattype, FORMAT_None);
                continue;
            }
            ++withTable;
            EXPECT_EQ(mt.formattype, FORMAT_SubpicturePalette);
            ASSERT_TRUE(mt.pbFormat);
            EXPECT_EQ(std::string(reinterpret_cast<const char*>(mt.pbFormat), mt.cbFormat), want);
        }
        EXPECT_EQ(withTable, 1);
    }
}

TEST_F(MpegSplitterDisc, SeekBeyondTheEndEndsThePass) {
    SplitterRig rig;
    ASSERT_EQ(rig.OpenDisc(Folder("ntsc"), 0), S_OK);
    ASSERT_EQ(rig.ConnectSinks(), S_OK);
    ASSERT_EQ(rig.As<IMyMpegSplitter>()->SetPlayRange(0, rig.TitleMs(), rig.TitleMs()), S_OK);
    ASSERT_EQ(rig.Pause(), S_OK);
    LONGLONG t = (rig.TitleMs() + 100000) * 10000;
    ASSERT_EQ(rig.As<IMediaSeeking>()->SetPositions(&t, AM_SEEKING_AbsolutePositioning, nullptr, 0),
              S_OK);
    EXPECT_TRUE(rig.WaitForAllEnds(kEndWaitMs));
    // A later seek still lands where asked.
    t = 10 * kSec;
    ASSERT_EQ(rig.As<IMediaSeeking>()->SetPositions(&t, AM_SEEKING_AbsolutePositioning, nullptr, 0),
              S_OK);
    ASSERT_TRUE(rig.WaitForAllEnds(kEndWaitMs));
    auto pass = LastPass(rig.Sink(0));
    auto shown = std::find_if(pass.begin(), pass.end(),
                              [](const auto& s) { return s.hasTime && s.start >= 0; });
    ASSERT_NE(shown, pass.end());
    EXPECT_LT(shown->start, kSec);
}

// Damaged data, from memory: a title whose reads fail half-way, and one with a
// scrambled packet half-way. Both passes end early with end of stream on every pin.
TEST_F(MpegSplitterDisc, ShortOrScrambledDataEndsThePass) {
    TitleBytes title;
    ASSERT_TRUE(title.Load(Folder("ntsc"), 0));
    const std::size_t half = title.bytes->size() / 2;
    for (bool scrambled : {false, true}) {
        SCOPED_TRACE(scrambled ? "scrambled" : "short");
        auto bytes = std::make_shared<std::vector<std::uint8_t>>(*title.bytes);
        auto reader = MemoryAsyncReader::Create(bytes);
        if (scrambled) {
            // The first video PES header after the half: set its scrambling bits.
            auto& b = *bytes;
            for (std::size_t i = half; i + 7 < b.size(); ++i) {
                if (b[i] == 0 && b[i + 1] == 0 && b[i + 2] == 1 && b[i + 3] == 0xE0 &&
                    (b[i + 6] & 0xC0) == 0x80) {
                    b[i + 6] |= 0x30;
                    break;
                }
            }
        } else {
            reader->FailReadsFrom(std::int64_t(half));
        }
        SplitterRig rig;
        ASSERT_EQ(rig.OpenMemory(reader.Get()), S_OK);
        ASSERT_EQ(rig.ConnectSinks(), S_OK);
        ASSERT_EQ(rig.Pause(), S_OK);
        ASSERT_TRUE(rig.WaitForAllEnds(kEndWaitMs));
        auto stats = rig.Sink(0)->GetStats();
        EXPECT_GT(stats.last, 10 * kSec);
        EXPECT_LT(stats.last, 50 * kSec);
        EXPECT_LT(rig.Stop(), kStopBudget);
    }
}

// Stopping returns promptly whatever the pass is doing.
TEST_F(MpegSplitterDisc, StopReturnsPromptlyInEveryState) {
    enum class State { kFlowing, kQueueFull, kSeekWaiting, kEnded };
    for (State state : {State::kFlowing, State::kQueueFull, State::kSeekWaiting, State::kEnded}) {
        SCOPED_TRACE(int(state));
        SplitterRig rig;
        ASSERT_EQ(rig.OpenDisc(Folder("ntsc"), 0), S_OK);
        ASSERT_EQ(rig.ConnectSinks(), S_OK);
        if (state != State::kFlowing && state != State::kEnded) rig.Sink(0)->Stall(true);
        ASSERT_EQ(rig.Pause(), S_OK);
        std::future<void> seek;
        if (state == State::kFlowing) {
            ASSERT_TRUE(rig.Sink(0)->WaitForPackets(30, kEndWaitMs));
        }
        if (state == State::kEnded) {
            ASSERT_TRUE(rig.WaitForAllEnds(kEndWaitMs));
        }
        if (state == State::kQueueFull || state == State::kSeekWaiting) {
            // The worker fills the stalled pin's queue until the others have enough.
            for (int i = 0; i < 200 && rig.Splitter()->OutputPins()[0]->QueueCount() < 100; ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            EXPECT_GE(rig.Splitter()->OutputPins()[0]->QueueCount(), 100u);
        }
        if (state == State::kSeekWaiting) {
            auto seeking = rig.As<IMediaSeeking>();
            seek = std::async(std::launch::async, [seeking] {
                LONGLONG t = 30 * kSec;
                seeking->SetPositions(&t, AM_SEEKING_AbsolutePositioning, nullptr, 0);
            });
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        auto stopped = std::async(std::launch::async, [&rig] { return rig.Stop(); });
        ASSERT_EQ(stopped.wait_for(std::chrono::seconds(20)), std::future_status::ready)
            << "Stop hangs";
        EXPECT_LT(stopped.get(), kStopBudget);
        if (seek.valid()) {
            EXPECT_EQ(seek.wait_for(std::chrono::seconds(20)), std::future_status::ready);
        }
        EXPECT_EQ(rig.Splitter()->OutputPins()[0]->QueueCount(), 0u);
    }
}

} // namespace
