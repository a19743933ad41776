// The parser over whole streams: container detection, stream scanning, list order,
// time stamps, and damaged input. Streams come from ffmpeg; damage is done in memory.
#include <gtest/gtest.h>

#include <chrono>
#include <random>

#include "GeneratedMedia.h"
#include "TestBytes.h"
#include "demux/CMpegSplitterFile.h"
#include "demux/StreamDescription.h"
#include "demux/StreamListText.h"
#include "demux/StreamMediaTypes.h"

namespace {

using Kind = CMpegSplitterFile;

struct Parsed {
    explicit Parsed(std::shared_ptr<const Bytes> bytes, const TitleStreamTable* titles = nullptr,
                    void (*setup)(MemoryAsyncReader&) = nullptr)
        : reader(MemoryAsyncReader::Create(std::move(bytes))) {
        if (setup) setup(*reader);
        file = std::make_unique<CMpegSplitterFile>(reader, hr, false, nullptr, titles);
    }
    std::vector<DWORD> Ids(Kind::StreamKind kind) const {
        std::vector<DWORD> ids;
        for (auto& s : file->Streams(kind))
            ids.push_back(s.Id());
        return ids;
    }
    ComPtr<MemoryAsyncReader> reader;
    HRESULT hr = E_UNEXPECTED;
    std::unique_ptr<CMpegSplitterFile> file;
};

std::shared_ptr<const Bytes> Shared(Bytes b) {
    return std::make_shared<const Bytes>(std::move(b));
}

TitleStreamTable Titles(std::vector<std::uint32_t> audio, std::vector<std::uint32_t> subs) {
    TitleStreamTable t;
    t.audioCount = static_cast<int>(audio.size());
    for (std::size_t i = 0; i < audio.size(); ++i)
        t.audioIds[i] = audio[i];
    t.subtitleCount = static_cast<int>(subs.size());
    for (std::size_t i = 0; i < subs.size(); ++i)
        t.subtitleIds[i] = subs[i];
    return t;
}

// ---- a clean DVD program stream --------------------------------------------------------

TEST(MpegSplitterFile, DvdProgramStream) {
    auto ps = DvdProgramStream();
    ASSERT_TRUE(ps);
    Parsed p(ps);
    ASSERT_EQ(p.hr, S_OK);
    EXPECT_EQ(p.file->GetContainerType(), Kind::kProgramStream);
    EXPECT_EQ(p.Ids(Kind::kVideo), std::vector<DWORD>{0xE000});
    // AC-3 (codec class 8) before MPEG audio (class 5).
    EXPECT_EQ(p.Ids(Kind::kAudio), (std::vector<DWORD>{0xBD80, 0xC000}));
    // No subtitles: the single placeholder entry with identifier 0.
    ASSERT_EQ(p.Ids(Kind::kSubpicture), std::vector<DWORD>{0});
    const auto& none = p.file->Streams(Kind::kSubpicture)[0];
    EXPECT_EQ(none.mt.subtype, MEDIASUBTYPE_DVD_SUBPICTURE);
    EXPECT_TRUE(none.mt.bFixedSizeSamples);
    EXPECT_EQ(none.mt.lSampleSize, 1u);
    EXPECT_EQ(none.mt.cbFormat, 0u);

    EXPECT_EQ(p.file->PrimaryStreamList(), &p.file->Streams(Kind::kVideo));
    EXPECT_EQ(StreamDescription(p.file->Streams(Kind::kVideo)[0].mt).substr(0, 45),
              "Video - MPEG2, Main Profile, Main Level, 352x");
    EXPECT_EQ(StreamDescription(p.file->Streams(Kind::kAudio)[0].mt),
              "Audio - Dolby Digital, 48.0 kHz, 1 chn, 192.0 kbit/s");
    // The scan stopped after the first window (video and audio known): its time
    // span is part of the 3 s, and the rate is near the size over the duration.
    EXPECT_GT(p.file->ScannedDuration(), 5000000);
    EXPECT_LT(p.file->ScannedDuration(), 30000000);
    double expected = ps->size() / 3.0;
    EXPECT_GT(p.file->GetRate(), expected * 0.8);
    EXPECT_LT(p.file->GetRate(), expected * 1.25);
    EXPECT_EQ(p.file->GetPos(), 0) << "construction ends at offset 0";
}

TEST(MpegSplitterFile, ClassifyStreamLeavesThePositionAtTheElementaryData) {
    auto ps = DvdProgramStream();
    ASSERT_TRUE(ps);
    Parsed p(ps);
    ASSERT_EQ(p.hr, S_OK);
    Bytes copy = *ps;
    int checked = 0;
    ForEachPesPacket(copy, [&](std::size_t at, std::uint8_t id, std::size_t len) {
        if (id != 0xBD || checked >= 5) return;
        p.file->Seek(static_cast<std::int64_t>(at + 4));
        PesHeader h;
        ASSERT_TRUE(p.file->ReadPesHeader(h, id));
        std::int64_t payload = p.file->GetPos();
        EXPECT_EQ(p.file->ClassifyStream(0, id, h.length), 0xBD80u);
        EXPECT_EQ(p.file->GetPos(), payload + 4) << "after sub-stream id, frame count and pointer";
        ++checked;
    });
    EXPECT_EQ(checked, 5);
}

TEST(MpegSplitterFile, FindNextTimestamp) {
    auto ps = DvdProgramStream();
    ASSERT_TRUE(ps);
    Parsed p(ps);
    ASSERT_EQ(p.hr, S_OK);
    p.file->Seek(0);
    std::int64_t video = p.file->FindNextTimestamp(0xE000);
    EXPECT_GE(video, 0);
    std::int64_t at = p.file->GetPos();
    EXPECT_EQ((*ps)[at + 3], 0xE0) << "left at the start of the packet with the answer";
    // From that packet again gives the same answer; from just after it, a later one.
    EXPECT_EQ(p.file->FindNextTimestamp(0xE000), video);
    p.file->Seek(at + 1);
    EXPECT_GT(p.file->FindNextTimestamp(0xE000), video);
    p.file->Seek(0);
    EXPECT_EQ(p.file->FindNextTimestamp(0xBD85), -1) << "a stream that is not there";
    EXPECT_EQ(p.file->GetRemaining(), 0);
}

TEST(MpegSplitterFile, LpcmComesBeforeAc3) {
    auto ps = Generated(
        "lpcm.vob", std::string(kVideoIn) + kToneA + kToneB +
                        "-t 2 -map 0 -map 1 -map 2 -c:v mpeg2video -b:v 2M -c:a:0 ac3 -b:a:0 192k "
                        "-c:a:1 pcm_s16be -ac 2 -f dvd");
    ASSERT_TRUE(ps);
    Parsed p(ps);
    ASSERT_EQ(p.hr, S_OK);
    EXPECT_EQ(p.Ids(Kind::kAudio), (std::vector<DWORD>{0xBDA0, 0xBD80}));
    const auto& audio = p.file->Streams(Kind::kAudio);
    EXPECT_GT(p.file->AudioPriority(audio[0]), p.file->AudioPriority(audio[1]));
    EXPECT_EQ(StreamDescription(audio[0].mt),
              "Audio - DVD LPCM, 48.0 kHz, 2 chn, 16 bit, 1536.0 kbit/s");
}

TEST(MpegSplitterFile, EqualAc3StreamsKeepIdentifierOrder) {
    auto ps = TwoAc3ProgramStream();
    ASSERT_TRUE(ps);
    Parsed p(ps);
    ASSERT_EQ(p.hr, S_OK);
    EXPECT_EQ(p.Ids(Kind::kAudio), (std::vector<DWORD>{0xBD80, 0xBD81}));
}

TEST(MpegSplitterFile, Mpeg1ProgramStream) {
    auto ps = Generated("mpeg1.mpg", std::string("-f lavfi -i testsrc=s=352x240:r=25 ") + kToneA +
                                         "-t 3 -c:v mpeg1video -b:v 1M -c:a mp2 -b:a 128k -f mpeg");
    ASSERT_TRUE(ps);
    Parsed p(ps);
    ASSERT_EQ(p.hr, S_OK);
    EXPECT_EQ(p.file->GetContainerType(), Kind::kProgramStream);
    ASSERT_EQ(p.Ids(Kind::kVideo), std::vector<DWORD>{0xE000});
    EXPECT_EQ(p.file->Streams(Kind::kVideo)[0].mt.subtype, MEDIASUBTYPE_MPEG1Payload);
    EXPECT_EQ(p.Ids(Kind::kAudio), std::vector<DWORD>{0xC000});
    EXPECT_GT(p.file->GetRate(), 0);
}

// ---- other containers ------------------------------------------------------------------

std::shared_ptr<Bytes> TransportStream() {
    return Generated(
        "ts.ts",
        std::string(kVideoIn) + kToneA + kToneB +
            "-t 3 -map 0 -map 1 -map 2 -c:v mpeg2video -b:v 2M -c:a:0 ac3 -c:a:1 mp2 -f mpegts");
}

TEST(MpegSplitterFile, TransportStreamWithPrograms) {
    auto ts = TransportStream();
    ASSERT_TRUE(ts);
    Parsed p(ts);
    ASSERT_EQ(p.hr, S_OK);
    EXPECT_EQ(p.file->GetContainerType(), Kind::kTransportStream);
    EXPECT_EQ(p.file->TsPacketSize(), 188);
    EXPECT_EQ(p.Ids(Kind::kVideo), std::vector<DWORD>{0x100});
    EXPECT_EQ(p.Ids(Kind::kAudio), (std::vector<DWORD>{0x101, 0x102}));
    auto programs = p.file->Programs();
    ASSERT_EQ(programs.size(), 1u);
    const auto& streams = programs.begin()->second.streams;
    ASSERT_EQ(streams.size(), 3u);
    EXPECT_EQ(streams[0], (std::pair<WORD, BYTE>{0x100, 0x02}));
    EXPECT_EQ(p.file->PidToPes().at(0x100), 0xE0);
}

TEST(MpegSplitterFile, TransportStreamWithCorruptSyncBytes) {
    auto ts = TransportStream();
    ASSERT_TRUE(ts);
    for (std::size_t packet : {0, 1, 2, 5}) {
        Bytes damaged = *ts;
        damaged[packet * 188] = 0x46;
        Parsed p(Shared(damaged));
        EXPECT_EQ(p.hr, S_OK) << packet;
        EXPECT_EQ(p.file->GetContainerType(), Kind::kTransportStream) << packet;
    }
}

TEST(MpegSplitterFile, TopfieldHeaderBeforeTransportPackets) {
    auto ts = TransportStream();
    ASSERT_TRUE(ts);
    Bytes tfrc = {'T', 'F', 'r', 'c'};
    tfrc.resize(1660, 0x47); // a header full of sync-like bytes that must not be probed
    tfrc.insert(tfrc.end(), ts->begin(), ts->end());
    Parsed p(Shared(tfrc));
    ASSERT_EQ(p.hr, S_OK);
    EXPECT_EQ(p.file->GetContainerType(), Kind::kTransportStream);
}

TEST(MpegSplitterFile, ElementaryStreamOfBarePesPackets) {
    auto ps = DvdProgramStream();
    ASSERT_TRUE(ps);
    // Keep only the PES packets: no pack or system headers.
    Bytes copy = *ps, bare;
    ForEachPesPacket(copy, [&](std::size_t at, std::uint8_t id, std::size_t len) {
        if (id == 0xBE || id == 0xBF) return;
        bare.insert(bare.end(), copy.begin() + at, copy.begin() + at + 6 + len);
    });
    Parsed p(Shared(bare));
    ASSERT_EQ(p.hr, S_OK);
    EXPECT_EQ(p.file->GetContainerType(), Kind::kElementaryStream);
    EXPECT_EQ(p.Ids(Kind::kVideo), std::vector<DWORD>{0xE000});
    EXPECT_EQ(p.Ids(Kind::kAudio), (std::vector<DWORD>{0xBD80, 0xC000}));
}

TEST(MpegSplitterFile, PvaStream) {
    // Video packets carry a PTS and an MPEG-2 sequence header; audio packets a PES
    // header with an MPEG audio frame.
    Bytes seq =
        Hex("00 00 01 B3 2D 01 E0 24 00 03 A9 80 00 00 01 B5 14 8A 00 01 00 00 00 00 01 B8");
    Bytes mpa = Hex("FF FD A4 00");
    mpa.resize(576, 0x55);
    Bytes pva;
    for (int i = 0; i < 8; ++i) {
        std::uint32_t pts = 90000 + i * 3003;
        Bytes payload = seq;
        payload.resize(400, 0);
        Bytes v = {'A', 'V', 1, static_cast<std::uint8_t>(i), 0x55, 0x10};
        std::size_t len = 4 + payload.size();
        v.push_back(static_cast<std::uint8_t>(len >> 8));
        v.push_back(static_cast<std::uint8_t>(len));
        for (int s = 24; s >= 0; s -= 8)
            v.push_back(static_cast<std::uint8_t>(pts >> s));
        v.insert(v.end(), payload.begin(), payload.end());
        pva.insert(pva.end(), v.begin(), v.end());

        Bytes pes = Bits()
                        .Bytes(Hex("00 00 01 C0"))
                        .Put(16, 8 + mpa.size())
                        .Put(8, 0x81)
                        .Put(8, 0x80)
                        .Put(8, 5)
                        .Put(4, 2)
                        .Put(3, 0)
                        .Put(1, 1)
                        .Put(15, (pts >> 15) & 0x7FFF)
                        .Put(1, 1)
                        .Put(15, pts & 0x7FFF)
                        .Put(1, 1)
                        .Done();
        pes.insert(pes.end(), mpa.begin(), mpa.end());
        Bytes a = {'A',
                   'V',
                   2,
                   static_cast<std::uint8_t>(i),
                   0x55,
                   0x00,
                   static_cast<std::uint8_t>(pes.size() >> 8),
                   static_cast<std::uint8_t>(pes.size())};
        a.insert(a.end(), pes.begin(), pes.end());
        pva.insert(pva.end(), a.begin(), a.end());
    }
    Parsed p(Shared(pva));
    ASSERT_EQ(p.hr, S_OK);
    EXPECT_EQ(p.file->GetContainerType(), Kind::kPva);
    EXPECT_EQ(p.Ids(Kind::kVideo), std::vector<DWORD>{1});
    EXPECT_EQ(p.Ids(Kind::kAudio), std::vector<DWORD>{2});
    EXPECT_EQ(p.file->ScannedDuration(), 7 * 3003 * 1000 / 9);
}

// ---- the title stream table ------------------------------------------------------------

TEST(MpegSplitterFile, DeclaredAudioLateInTheDataIsWaitedFor) {
    auto ps = TwoAc3ProgramStream();
    ASSERT_TRUE(ps);
    // Turn the second AC-3 stream's packets of the first 3 MB into padding.
    Bytes late = *ps;
    std::size_t firstKept = 0;
    ForEachPesPacket(late, [&](std::size_t at, std::uint8_t id, std::size_t) {
        if (id != 0xBD || SubstreamId(late, at) != 0x81) return;
        if (at < 3000000)
            late[at + 3] = 0xBE;
        else if (!firstKept)
            firstKept = at;
    });
    ASSERT_GT(firstKept, 3000000u);
    ASSERT_LT(firstKept, 40u * 131072);
    auto titles = Titles({0xBD80, 0xBD81}, {});
    Parsed p(Shared(late), &titles);
    ASSERT_EQ(p.hr, S_OK);
    EXPECT_EQ(p.Ids(Kind::kAudio), (std::vector<DWORD>{0xBD80, 0xBD81}));
    // Scanned up to the window that holds the first 0xBD81 packet, and not beyond.
    std::int64_t windowEnd = (firstKept / 131072 + 1) * 131072;
    EXPECT_GE(p.reader->MaxReadEnd(), static_cast<std::int64_t>(firstKept));
    EXPECT_LE(p.reader->MaxReadEnd(), windowEnd + 65536);

    // Without the table the scan stops after the first window.
    Parsed q(Shared(late));
    ASSERT_EQ(q.hr, S_OK);
    EXPECT_EQ(q.Ids(Kind::kAudio), std::vector<DWORD>{0xBD80});
    EXPECT_LE(q.reader->MaxReadEnd(), 131072 + 65536);
}

TEST(MpegSplitterFile, DeclaredAudioMissingFailsOnShortData) {
    auto ps = DvdProgramStream();
    ASSERT_TRUE(ps);
    auto titles = Titles({0xBD80, 0xBD81}, {});
    Parsed p(ps, &titles);
    EXPECT_EQ(p.hr, E_FAIL) << "the data ends before 0xBD81 was met";
}

TEST(MpegSplitterFile, DeclaredSubtitlesAreListedEvenWithoutPackets) {
    auto ps = DvdProgramStream();
    ASSERT_TRUE(ps);
    auto titles = Titles({0xBD80}, {0xBD21, 0xBD20});
    Parsed p(ps, &titles);
    ASSERT_EQ(p.hr, S_OK);
    EXPECT_EQ(p.Ids(Kind::kSubpicture), (std::vector<DWORD>{0xBD20, 0xBD21})) << "no placeholder";
    for (auto& s : p.file->Streams(Kind::kSubpicture)) {
        EXPECT_EQ(s.mt.subtype, MEDIASUBTYPE_DVD_SUBPICTURE);
        EXPECT_EQ(s.mt.cbFormat, 0u);
    }
}

TEST(MpegSplitterFile, TitleRecordLayout) {
    std::vector<std::uint8_t> record(1304, 0);
    auto put = [&](std::size_t at, std::uint32_t v) {
        for (int i = 0; i < 4; ++i)
            record[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
    };
    put(528, 2), put(532, 0xBD80), put(536, 0xBD81), put(1044, 1), put(1048, 0xBD20);
    auto t = TitleStreamTable::FromTitleRecord(record.data(), record.size());
    EXPECT_EQ(t.audioCount, 2);
    EXPECT_EQ(t.audioIds[1], 0xBD81u);
    EXPECT_EQ(t.subtitleCount, 1);
    EXPECT_EQ(t.subtitleIds[0], 0xBD20u);
    put(528, 1000);
    EXPECT_EQ(TitleStreamTable::FromTitleRecord(record.data(), record.size()).AudioCount(), 32);
    EXPECT_EQ(TitleStreamTable::FromTitleRecord(record.data(), 100).audioCount, 0);
}

// ---- damaged input ---------------------------------------------------------------------

TEST(MpegSplitterFile, NoVideoInTheFirstFiveMegabytes) {
    auto ps = TwoAc3ProgramStream();
    ASSERT_TRUE(ps);
    Bytes noVideo = *ps;
    ForEachPesPacket(noVideo, [&](std::size_t at, std::uint8_t id, std::size_t) {
        if (id == 0xE0 && at < 40u * 131072 + 10000) noVideo[at + 3] = 0xBE;
    });
    Parsed p(Shared(noVideo));
    ASSERT_EQ(p.hr, S_OK) << "audio alone is a usable result";
    EXPECT_TRUE(p.file->Streams(Kind::kVideo).empty());
    EXPECT_TRUE(p.file->Streams(Kind::kSubpicture).empty()) << "no placeholder without video";
    EXPECT_EQ(p.file->PrimaryStreamList(), &p.file->Streams(Kind::kAudio));
    EXPECT_LE(p.reader->MaxReadEnd(), 40 * 131072 + 65536) << "40 windows at most";
}

TEST(MpegSplitterFile, GarbageBetweenPacks) {
    auto ps = DvdProgramStream();
    ASSERT_TRUE(ps);
    std::mt19937 rng(7);
    Bytes messy;
    for (std::size_t i = 0; i < ps->size(); i += 2048) {
        Bytes junk(rng() % 300);
        for (auto& b : junk)
            b = static_cast<std::uint8_t>(rng());
        if (i % (2048 * 5) == 0)
            junk.insert(junk.end(), {0, 0, 1, 0xE0, 0xFF, 0xFF}); // a false packet start
        messy.insert(messy.end(), junk.begin(), junk.end());
        messy.insert(messy.end(), ps->begin() + i, ps->begin() + std::min(i + 2048, ps->size()));
    }
    Parsed p(Shared(messy));
    ASSERT_EQ(p.hr, S_OK);
    EXPECT_EQ(p.Ids(Kind::kVideo), std::vector<DWORD>{0xE000});
    EXPECT_EQ(p.Ids(Kind::kAudio), (std::vector<DWORD>{0xBD80, 0xC000}));
}

TEST(MpegSplitterFile, ScrambledPackets) {
    auto ps = TwoAc3ProgramStream();
    ASSERT_TRUE(ps);
    auto scramble = [](Bytes& d, std::size_t limit) {
        ForEachPesPacket(d, [&](std::size_t at, std::uint8_t id, std::size_t) {
            if (at < limit && (d[at + 6] & 0xC0) == 0x80) d[at + 6] |= 0x10;
        });
    };
    Bytes all = *ps;
    scramble(all, all.size());
    Parsed p(Shared(all));
    EXPECT_EQ(p.hr, E_FAIL) << "every window holds a scrambled packet";

    // Only the first window scrambled: it is skipped and the next one serves.
    Bytes first = *ps;
    scramble(first, 131072);
    Parsed q(Shared(first));
    ASSERT_EQ(q.hr, S_OK);
    EXPECT_EQ(q.Ids(Kind::kVideo), std::vector<DWORD>{0xE000});
}

TEST(MpegSplitterFile, TruncatedTitles) {
    auto ps = DvdProgramStream();
    ASSERT_TRUE(ps);
    for (std::size_t n : {0, 1, 4, 14, 2047, 2048, 4096, 10000}) {
        Parsed p(Shared(Bytes(ps->begin(), ps->begin() + static_cast<long>(n))));
        EXPECT_EQ(p.hr, E_FAIL) << n << " bytes hold no two time stamps";
    }
    Parsed half(Shared(Bytes(ps->begin(), ps->begin() + static_cast<long>(ps->size() / 2) + 777)));
    EXPECT_EQ(half.hr, S_OK);
}

TEST(MpegSplitterFile, NoContainer) {
    std::mt19937 rng(11);
    Bytes noise(1 << 20);
    for (auto& b : noise)
        b = static_cast<std::uint8_t>(rng());
    for (const Bytes& b : {noise, Bytes(1 << 20, 0), Bytes(300000, 0x47), Bytes(300000, 0xFF)}) {
        auto start = std::chrono::steady_clock::now();
        Parsed p(Shared(b));
        EXPECT_EQ(p.hr, E_FAIL);
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
    }
}

TEST(MpegSplitterFile, ReadErrorsEndTheScan) {
    auto ps = TwoAc3ProgramStream();
    ASSERT_TRUE(ps);
    Parsed failing(ps, nullptr, [](MemoryAsyncReader& r) { r.FailReadsFrom(0); });
    EXPECT_EQ(failing.hr, E_FAIL);
    // Failing after 200 KB: the first window still gives a result.
    Parsed late(ps, nullptr, [](MemoryAsyncReader& r) { r.FailReadsFrom(200000); });
    EXPECT_EQ(late.hr, S_OK);
    // Waiting for a stream that never comes: the unreadable windows are skipped
    // (each after one failed read) and the first window's result stands.
    auto titles = Titles({0xBD80, 0xBD82}, {});
    Parsed never(ps, &titles, [](MemoryAsyncReader& r) { r.FailReadsFrom(200000); });
    EXPECT_EQ(never.hr, S_OK);
    EXPECT_EQ(never.Ids(Kind::kAudio), (std::vector<DWORD>{0xBD80, 0xBD81}));
    EXPECT_LT(never.reader->ReadCalls(), 1000) << "no endless retrying of a failing source";
}

TEST(MpegSplitterFile, StreamingSource) {
    auto ps = DvdProgramStream();
    ASSERT_TRUE(ps);
    Parsed p(ps, nullptr, [](MemoryAsyncReader& r) { r.SetStreaming(true); });
    ASSERT_EQ(p.hr, S_OK);
    EXPECT_TRUE(p.file->IsStreaming());
    EXPECT_EQ(p.Ids(Kind::kVideo), std::vector<DWORD>{0xE000});
}

} // namespace

namespace {

// A source that streams at first and becomes randomly accessible during the scan.
TEST(MpegSplitterFile, SourceThatCompletesDuringTheScan) {
    auto ps = DvdProgramStream();
    ASSERT_TRUE(ps);
    auto reader = MemoryAsyncReader::Create(ps);
    reader->SetStreaming(true);
    reader->CompleteAfterReads(1);
    HRESULT hr = E_UNEXPECTED;
    CMpegSplitterFile file(reader, hr);
    ASSERT_EQ(hr, S_OK);
    EXPECT_TRUE(file.IsRandomAccess()) << reader->ReadCalls();
    EXPECT_EQ(file.Streams(CMpegSplitterFile::kVideo).size(), 1u);
    EXPECT_EQ(file.Streams(CMpegSplitterFile::kAudio).size(), 2u);
    EXPECT_GT(file.ScannedDuration(), 25000000)
        << "the tail scan of the completion hook widened the span";
    EXPECT_EQ(file.GetPos(), 0);
}

} // namespace

namespace {

TEST(MpegSplitterFile, StreamListText) {
    auto ps = DvdProgramStream();
    ASSERT_TRUE(ps);
    Parsed p(ps);
    ASSERT_EQ(p.hr, S_OK);
    std::string text = StreamListText(*p.file);
    EXPECT_EQ(text.rfind("container: program stream\nrate: ", 0), 0u) << text;
    EXPECT_NE(
        text.find("\nvideo    e000 (0000,e0,00) Video - MPEG2, Main Profile, Main Level, 352x240"),
        std::string::npos)
        << text;
    EXPECT_NE(
        text.find(
            "\naudio    bd80 (0000,bd,80) Audio - Dolby Digital, 48.0 kHz, 1 chn, 192.0 kbit/s "
            "[{E06D802C-DB46-11CF-B4D1-00805F6CBBEA}]\n"),
        std::string::npos)
        << text;
    EXPECT_NE(text.find("\nsubtitle 0000 (0000,00,00) Video - DVD Sub Picture"), std::string::npos)
        << text;
}

} // namespace
