// Elementary-stream headers: fields read and the media types built from them.
#include <gtest/gtest.h>

#include "TestBytes.h"
#include "demux/CBaseSplitterFileEx.h"
#include "demux/StreamDescription.h"
#include "demux/StreamMediaTypes.h"

namespace {

struct Parser {
    explicit Parser(const std::vector<std::uint8_t>& bytes)
        : reader(ReaderOf(bytes)), file(reader, hr, 65536, false, true) {}
    ComPtr<MemoryAsyncReader> reader;
    HRESULT hr = E_FAIL;
    CBaseSplitterFileEx file;
};

// ---- MPEG video ------------------------------------------------------------------------

struct Seq {
    unsigned width = 720, height = 480, aspect = 2, frameRate = 4, bitrate = 15000, marker = 1;
    bool ext = true;
    unsigned profile = 4, level = 8, bitrateExt = 0, extMarker = 1, frN = 0, frD = 0, widthExt = 0;
    std::vector<std::uint8_t> Bytes() const {
        Bits b;
        b.Bytes(Hex("00 00 01 B3")).Put(12, width).Put(12, height).Put(4, aspect).Put(4, frameRate);
        b.Put(18, bitrate).Put(1, marker).Put(10, 112).Put(1, 0).Put(1, 0).Put(1, 0);
        if (ext) {
            b.Bytes(Hex("00 00 01 B5"))
                .Put(4, 1)
                .Put(1, 0)
                .Put(3, profile)
                .Put(4, level)
                .Put(1, 0)
                .Put(2, 1);
            b.Put(2, widthExt)
                .Put(2, 0)
                .Put(12, bitrateExt)
                .Put(1, extMarker)
                .Put(8, 0)
                .Put(1, 0)
                .Put(2, frN)
                .Put(5, frD);
            b.Put(8, 0);
        }
        return b.Bytes(Hex("00 00 01 B8 00 08 00 00")).Done();
    }
};

TEST(SeqHeader, Cases) {
    auto with = [](auto f) {
        Seq s;
        f(s);
        return s;
    };
    struct Case {
        const char* name;
        Seq seq;
        bool ok;
        std::int64_t avgTimePerFrame;
        int arX, arY;
        std::uint32_t bitrate;
        const char* description;
    };
    const Case cases[] = {
        {"MPEG-2 4:3 29.97 fps", Seq{}, true, 333666, 4, 3, 6000000,
         "Video - MPEG2, Main Profile, Main Level, 720x480, 29.970 fps, 6000.0 kbit/s"},
        {"aspect code 3 is 16:9", with([](Seq& s) { s.aspect = 3; }), true, 333666, 16, 9, 6000000,
         nullptr},
        {"aspect code 1 is the frame's 3:2", with([](Seq& s) { s.aspect = 1; }), true, 333666, 3, 2,
         6000000, nullptr},
        {"aspect code 4 is 2.21:1", with([](Seq& s) { s.aspect = 4; }), true, 333666, 221, 100,
         6000000, nullptr},
        {"all-ones bit rate means unknown",
         with([](Seq& s) { s.bitrate = 0x3FFFF, s.bitrateExt = 0xFFF; }), true, 333666, 4, 3, 0,
         "Video - MPEG2, Main Profile, Main Level, 720x480, 29.970 fps"},
        {"bit-rate extension bits", with([](Seq& s) { s.bitrate = 0, s.bitrateExt = 1; }), true,
         333666, 4, 3, (1u << 18) * 400, nullptr},
        {"PAL 25 fps high profile", with([](Seq& s) {
             s.height = 576, s.frameRate = 3, s.profile = 1, s.level = 6, s.bitrate = 24500;
         }),
         true, 400000, 4, 3, 9800000,
         "Video - MPEG2, High Profile, High1440 Level, 720x576, 25.000 fps, 9800.0 kbit/s"},
        {"60 fps with frame-rate extension 2/1",
         with([](Seq& s) { s.frameRate = 8, s.frN = 1, s.frD = 0; }), true, 83333, 4, 3, 6000000,
         nullptr},
        {"width extension bits",
         with([](Seq& s) { s.widthExt = 1, s.width = 0x100, s.aspect = 1; }), true, 333666, 136, 15,
         6000000, nullptr},
        {"MPEG-1 SIF 25 fps square pels", with([](Seq& s) {
             s.ext = false, s.width = 352, s.height = 288, s.aspect = 1, s.frameRate = 3,
             s.bitrate = 2880;
         }),
         true, 400000, 11, 9, 1152000, "Video - MPEG, 352x288, 25.000 fps, 1152.0 kbit/s"},
        {"MPEG-1 pel aspect 0.7031",
         with([](Seq& s) { s.ext = false, s.width = 352, s.height = 288, s.aspect = 3; }), true,
         333666, 167, 96, 6000000, nullptr},
        {"MPEG-1 all-ones 18-bit rate is variable",
         with([](Seq& s) { s.ext = false, s.aspect = 1, s.bitrate = 0x3FFFF; }), true, 333666, 3, 2,
         0, nullptr},
        {"marker bit 0", with([](Seq& s) { s.marker = 0; }), false, 0, 0, 0, 0, nullptr},
        {"extension marker bit 0", with([](Seq& s) { s.extMarker = 0; }), false, 0, 0, 0, 0,
         nullptr},
        {"frame-rate code 0 gives no frame period", with([](Seq& s) { s.frameRate = 0; }), true, 0,
         4, 3, 6000000, "Video - MPEG2, Main Profile, Main Level, 720x480, 6000.0 kbit/s"},
    };
    for (const Case& c : cases) {
        auto bytes = c.seq.Bytes();
        Parser p(bytes);
        SeqHeader h;
        CMediaType mt;
        ASSERT_EQ(p.file.ReadSeqHeader(h, static_cast<std::int64_t>(bytes.size()), &mt), c.ok)
            << c.name;
        if (!c.ok) continue;
        EXPECT_EQ(h.avgTimePerFrame, c.avgTimePerFrame) << c.name;
        EXPECT_EQ(h.arX, c.arX) << c.name;
        EXPECT_EQ(h.arY, c.arY) << c.name;
        EXPECT_EQ(h.bitrate, c.bitrate) << c.name;
        EXPECT_EQ(mt.majortype, MEDIATYPE_Video) << c.name;
        if (c.seq.ext) {
            EXPECT_EQ(mt.subtype, MEDIASUBTYPE_MPEG2_VIDEO) << c.name;
            ASSERT_EQ(mt.formattype, FORMAT_MPEG2_VIDEO) << c.name;
            auto* vi = reinterpret_cast<const MPEG2VIDEOINFO*>(mt.pbFormat);
            EXPECT_EQ(vi->hdr.AvgTimePerFrame, c.avgTimePerFrame) << c.name;
            EXPECT_EQ(vi->hdr.dwPictAspectRatioX, static_cast<DWORD>(c.arX)) << c.name;
            EXPECT_EQ(vi->hdr.dwPictAspectRatioY, static_cast<DWORD>(c.arY)) << c.name;
            EXPECT_EQ(vi->hdr.bmiHeader.biSize, 40u) << c.name;
            EXPECT_EQ(vi->hdr.bmiHeader.biWidth,
                      static_cast<LONG>(c.seq.width | (c.seq.widthExt << 12)))
                << c.name;
            EXPECT_EQ(vi->cbSequenceHeader, 12u + 10u) << c.name << ": header and extension bytes";
            EXPECT_EQ(mt.cbFormat,
                      offsetof(MPEG2VIDEOINFO, dwSequenceHeader) + vi->cbSequenceHeader)
                << c.name;
            EXPECT_EQ(0, std::memcmp(vi->dwSequenceHeader, bytes.data(), 22)) << c.name;
        } else {
            EXPECT_EQ(mt.subtype, MEDIASUBTYPE_MPEG1Payload) << c.name;
            ASSERT_EQ(mt.formattype, FORMAT_MPEGVideo) << c.name;
            auto* vi = reinterpret_cast<const MPEG1VIDEOINFO*>(mt.pbFormat);
            EXPECT_EQ(vi->cbSequenceHeader, 12u) << c.name;
            EXPECT_EQ(vi->hdr.bmiHeader.biXPelsPerMeter, static_cast<LONG>(c.seq.width * c.arY))
                << c.name;
            EXPECT_EQ(vi->hdr.bmiHeader.biYPelsPerMeter, static_cast<LONG>(c.seq.height * c.arX))
                << c.name;
        }
        if (c.description) {
            EXPECT_EQ(StreamDescription(mt), c.description) << c.name;
        }
    }
}

TEST(SeqHeader, ProfileAndLevelCodes) {
    // The sequence extension numbers Main profile 4 and Main level 8; the media
    // type carries the platform's numbering (Main profile 2, Main level 2).
    Parser p(Seq{}.Bytes());
    SeqHeader h;
    CMediaType mt;
    ASSERT_TRUE(p.file.ReadSeqHeader(h, 100, &mt));
    EXPECT_EQ(h.profile, 4);
    EXPECT_EQ(h.level, 8);
    auto* vi = reinterpret_cast<const MPEG2VIDEOINFO*>(mt.pbFormat);
    EXPECT_EQ(vi->dwProfile, 2u);
    EXPECT_EQ(vi->dwLevel, 2u);
    const int profiles[][2] = {{5, 1}, {4, 2}, {3, 3}, {2, 4}, {1, 5}, {0, 0}, {6, 0}, {7, 0}};
    for (auto [field, code] : profiles) {
        EXPECT_EQ(Mpeg2ProfileCode(field), static_cast<DWORD>(code)) << field;
    }
    const int levels[][2] = {{10, 1}, {8, 2}, {6, 3}, {4, 4}, {0, 0}, {5, 0}, {15, 0}};
    for (auto [field, code] : levels) {
        EXPECT_EQ(Mpeg2LevelCode(field), static_cast<DWORD>(code)) << field;
    }
}

TEST(SeqHeader, SearchStaysWithinTheBudget) {
    auto bytes = Hex("11 22 33 00 00 01 B8 00");
    auto seq = Seq{}.Bytes();
    bytes.insert(bytes.end(), seq.begin(), seq.end());
    {
        Parser p(bytes);
        SeqHeader h;
        EXPECT_TRUE(p.file.ReadSeqHeader(h, static_cast<std::int64_t>(bytes.size())));
        EXPECT_EQ(h.width, 720);
    }
    {
        Parser p(bytes);
        SeqHeader h;
        EXPECT_FALSE(p.file.ReadSeqHeader(h, 10)); // the header starts at byte 8
    }
}

// ---- MPEG audio ------------------------------------------------------------------------

struct Mpa {
    unsigned version = 3, layer = 2, protection = 1, bitrate = 10, rate = 1, pad = 0, mode = 0,
             emphasis = 0;
    std::vector<std::uint8_t> Bytes() const {
        Bits b;
        b.Put(11, 0x7FF)
            .Put(2, version)
            .Put(2, layer)
            .Put(1, protection)
            .Put(4, bitrate)
            .Put(2, rate);
        b.Put(1, pad).Put(1, 0).Put(2, mode).Put(2, 0).Put(1, 0).Put(1, 1).Put(2, emphasis);
        return b.Zeros(16).Done();
    }
};

TEST(MpegAudioHeader, Cases) {
    auto with = [](auto f) {
        Mpa m;
        f(m);
        return m;
    };
    struct Case {
        const char* name;
        Mpa mpa;
        bool ok;
        int layer, bitrate, rate, frameSize, channels;
        std::int64_t duration;
        const char* description;
    };
    const Case cases[] = {
        {"MPEG-1 layer II 192 kbit/s 48 kHz", Mpa{}, true, 2, 192000, 48000, 576, 2, 240000,
         "Audio - MPEG1 - Layer 2, 48.0 kHz, 2 chn, 192.0 kbit/s"},
        {"MPEG-1 layer III 128 kbit/s 44.1 kHz mono padded",
         with([](Mpa& m) { m.layer = 1, m.bitrate = 9, m.rate = 0, m.pad = 1, m.mode = 3; }), true,
         3, 128000, 44100, 418, 1, 261224, "Audio - MP3, 44.1 kHz, 1 chn, 128.0 kbit/s"},
        {"MPEG-2 layer III 64 kbit/s 24 kHz: 576 samples",
         with([](Mpa& m) { m.version = 2, m.layer = 1, m.bitrate = 8; }), true, 3, 64000, 24000,
         192, 2, 240000, nullptr},
        {"MPEG-1 layer I 384 kbit/s 32 kHz",
         with([](Mpa& m) { m.layer = 3, m.bitrate = 12, m.rate = 2; }), true, 1, 384000, 32000, 576,
         2, 120000, "Audio - MPEG1 - Layer 1, 32.0 kHz, 2 chn, 384.0 kbit/s"},
        {"reserved version", with([](Mpa& m) { m.version = 1; }), false},
        {"reserved layer", with([](Mpa& m) { m.layer = 0; }), false},
        {"reserved sample rate", with([](Mpa& m) { m.rate = 3; }), false},
        {"bit-rate index 15", with([](Mpa& m) { m.bitrate = 15; }), false},
        {"free format (bit-rate index 0)", with([](Mpa& m) { m.bitrate = 0; }), false},
        {"reserved emphasis", with([](Mpa& m) { m.emphasis = 2; }), false},
        {"MPEG-2.5 needs the 11-bit sync", with([](Mpa& m) { m.version = 0; }), false},
    };
    for (const Case& c : cases) {
        Parser p(c.mpa.Bytes());
        MpegAudioHeader h;
        CMediaType mt;
        ASSERT_EQ(p.file.ReadMpegAudioHeader(h, 20, false, &mt), c.ok) << c.name;
        if (!c.ok) continue;
        EXPECT_EQ(h.layer, c.layer) << c.name;
        EXPECT_EQ(h.bitrate, c.bitrate) << c.name;
        EXPECT_EQ(h.sampleRate, c.rate) << c.name;
        EXPECT_EQ(h.frameSize, c.frameSize) << c.name;
        EXPECT_EQ(h.frameDuration, c.duration) << c.name;
        auto* wfe = WaveFormatOf(mt);
        ASSERT_NE(wfe, nullptr) << c.name;
        EXPECT_EQ(wfe->nChannels, c.channels) << c.name;
        EXPECT_EQ(wfe->nBlockAlign, c.frameSize) << c.name;
        if (c.layer == 3) {
            EXPECT_EQ(mt.subtype, MEDIASUBTYPE_MP3) << c.name;
            EXPECT_EQ(mt.cbFormat, sizeof(WAVEFORMATEX)) << c.name;
        } else {
            EXPECT_EQ(mt.subtype, MEDIASUBTYPE_MPEG1AudioPayload) << c.name;
            ASSERT_EQ(mt.cbFormat, sizeof(MPEG1WAVEFORMAT)) << c.name;
            EXPECT_EQ(wfe->cbSize, 22) << c.name;
            auto* mpf = reinterpret_cast<const MPEG1WAVEFORMAT*>(mt.pbFormat);
            EXPECT_EQ(mpf->fwHeadLayer, 1 << (c.layer - 1)) << c.name;
            EXPECT_EQ(mpf->dwHeadBitrate, static_cast<DWORD>(c.bitrate)) << c.name;
            EXPECT_EQ(mpf->fwHeadMode, 1 << c.mpa.mode) << c.name;
            EXPECT_EQ(mpf->wHeadEmphasis, c.mpa.emphasis + 1) << c.name;
            EXPECT_EQ(mpf->fwHeadFlags,
                      ACM_MPEG_ORIGINALHOME | (c.mpa.version == 3 ? ACM_MPEG_ID_MPEG1 : 0))
                << c.name;
        }
        if (c.description) {
            EXPECT_EQ(StreamDescription(mt), c.description) << c.name;
        }
    }
}

TEST(MpegAudioHeader, SearchesWithinTheBudget) {
    auto bytes = Hex("00 FF 00");
    auto frame = Mpa{}.Bytes();
    bytes.insert(bytes.end(), frame.begin(), frame.end());
    Parser p(bytes);
    MpegAudioHeader h;
    EXPECT_TRUE(p.file.ReadMpegAudioHeader(h, 20));
    Parser q(bytes);
    EXPECT_FALSE(q.file.ReadMpegAudioHeader(h, 6)); // the sync is 3 bytes in; 4 must remain
}

// ---- AAC -------------------------------------------------------------------------------

std::vector<std::uint8_t> Adts(unsigned layer, unsigned rateIndex, unsigned channels,
                               unsigned frameLength) {
    Bits b;
    b.Put(12, 0xFFF)
        .Put(1, 0)
        .Put(2, layer)
        .Put(1, 1)
        .Put(2, 1)
        .Put(4, rateIndex)
        .Put(1, 0)
        .Put(3, channels);
    b.Put(4, 0).Put(13, frameLength).Put(11, 0x7FF).Put(2, 0);
    return b.Zeros(16).Done();
}

TEST(AacHeader, Cases) {
    Parser p(Adts(0, 3, 2, 371));
    AacHeader h;
    CMediaType mt;
    ASSERT_TRUE(p.file.ReadAacHeader(h, 30, &mt));
    EXPECT_EQ(h.sampleRate, 48000);
    EXPECT_EQ(h.channels, 2);
    EXPECT_EQ(h.avgBytesPerSec, 17390); // 371 * 48000 / 1024, truncated
    EXPECT_EQ(h.frameDuration, 213333);
    EXPECT_EQ(mt.subtype, MEDIASUBTYPE_AAC);
    ASSERT_EQ(mt.cbFormat, sizeof(WAVEFORMATEX) + 2);
    EXPECT_EQ(mt.pbFormat[18], 0x11); // LC, 48 kHz, 2 channels: 0x1190
    EXPECT_EQ(mt.pbFormat[19], 0x90);
    EXPECT_EQ(StreamDescription(mt), "Audio - AAC, 48.0 kHz, 2 chn, 139.1 kbit/s");

    Parser seven(Adts(0, 4, 7, 500));
    ASSERT_TRUE(seven.file.ReadAacHeader(h, 30));
    EXPECT_EQ(h.channels, 2) << "channel configuration 7 counts as 2";
    for (auto bad : {Adts(1, 3, 2, 371), Adts(0, 12, 2, 371), Adts(0, 3, 2, 7)}) {
        Parser q(bad);
        EXPECT_FALSE(q.file.ReadAacHeader(h, 30));
    }
}

// ---- AC-3 ------------------------------------------------------------------------------

std::vector<std::uint8_t> Ac3(unsigned fscod, unsigned frmsizecod, unsigned bsid, unsigned acmod,
                              unsigned lfe) {
    Bits b;
    b.Put(16, 0x0B77)
        .Put(16, 0)
        .Put(2, fscod)
        .Put(6, frmsizecod)
        .Put(5, bsid)
        .Put(3, 0)
        .Put(3, acmod);
    if ((acmod & 1) && acmod != 1) b.Put(2, 0);
    if (acmod & 4) b.Put(2, 0);
    if (acmod == 2) b.Put(2, 0);
    b.Put(1, lfe);
    return b.Zeros(16).Done();
}

TEST(Ac3Header, Cases) {
    struct Case {
        const char* name;
        std::vector<std::uint8_t> bytes;
        bool ok;
        int channels, rate, avgBytes, blockAlign;
        const char* description;
    };
    const Case cases[] = {
        {"448 kbit/s stereo at 48 kHz", Ac3(0, 30, 8, 2, 0), true, 2, 48000, 56000, 1792,
         "Audio - Dolby Digital, 48.0 kHz, 2 chn, 448.0 kbit/s"},
        {"5.1 at 448 kbit/s", Ac3(0, 30, 8, 7, 1), true, 6, 48000, 56000, 1792,
         "Audio - Dolby Digital, 48.0 kHz, 6 chn, 448.0 kbit/s"},
        {"192 kbit/s 2/0", Ac3(0, 20, 6, 2, 0), true, 2, 48000, 24000, 768, nullptr},
        {"mono with LFE", Ac3(0, 8, 8, 1, 1), true, 2, 48000, 8000, 256, nullptr},
        {"384 kbit/s at 44.1 kHz", Ac3(1, 28, 8, 2, 0), true, 2, 44100, 48000, 1671, nullptr},
        {"bitstream id 10 quarters the rate", Ac3(0, 30, 10, 2, 0), true, 2, 12000, 56000, 7168,
         nullptr},
        {"640 kbit/s, the last code", Ac3(0, 37, 8, 7, 1), true, 6, 48000, 80000, 2560, nullptr},
        {"bitstream id 17", Ac3(0, 30, 17, 2, 0), false},
        {"sample-rate code 3", Ac3(3, 30, 8, 2, 0), false},
        {"frame-size code 38 names no rate", Ac3(0, 38, 8, 2, 0), false},
        {"frame-size code 47", Ac3(0, 47, 8, 2, 0), false},
        {"frame-size code 48", Ac3(0, 48, 8, 2, 0), false},
    };
    for (const Case& c : cases) {
        Parser p(c.bytes);
        Ac3Header h;
        CMediaType mt;
        ASSERT_EQ(p.file.ReadAc3Header(h, 30, &mt), c.ok) << c.name;
        if (!c.ok) continue;
        auto* wfe = WaveFormatOf(mt);
        ASSERT_NE(wfe, nullptr);
        EXPECT_EQ(mt.subtype, MEDIASUBTYPE_DOLBY_AC3) << c.name;
        EXPECT_EQ(wfe->wFormatTag, WAVE_FORMAT_DOLBY_AC3) << c.name;
        EXPECT_EQ(wfe->nChannels, c.channels) << c.name;
        EXPECT_EQ(wfe->nSamplesPerSec, static_cast<DWORD>(c.rate)) << c.name;
        EXPECT_EQ(wfe->nAvgBytesPerSec, static_cast<DWORD>(c.avgBytes)) << c.name;
        EXPECT_EQ(wfe->nBlockAlign, c.blockAlign) << c.name;
        if (c.description) {
            EXPECT_EQ(StreamDescription(mt), c.description) << c.name;
        }
    }
}

// ---- DTS -------------------------------------------------------------------------------

TEST(DtsHeader, FiveOneAt768k) {
    Bits b;
    b.Put(32, 0x7FFE8001)
        .Put(1, 1)
        .Put(5, 31)
        .Put(1, 0)
        .Put(7, 15)
        .Put(14, 2011)
        .Put(6, 9)
        .Put(4, 13)
        .Put(5, 15);
    b.Put(5, 0).Put(3, 0).Put(2, 0).Put(2, 1).Put(1, 0);
    Parser p(b.Zeros(16).Done());
    DtsHeader h;
    CMediaType mt;
    ASSERT_TRUE(p.file.ReadDtsHeader(h, 40, &mt));
    auto* wfe = WaveFormatOf(mt);
    ASSERT_NE(wfe, nullptr);
    EXPECT_EQ(mt.subtype, MEDIASUBTYPE_DTS);
    EXPECT_EQ(wfe->nChannels, 6);
    EXPECT_EQ(wfe->nSamplesPerSec, 48000u);
    EXPECT_EQ(wfe->nAvgBytesPerSec, 96000u); // (768000 + 4) / 8
    EXPECT_EQ(wfe->nBlockAlign, 2012);
    EXPECT_EQ(StreamDescription(mt), "Audio - DTS, 48.0 kHz, 6 chn, 768.0 kbit/s");
}

// ---- LPCM ------------------------------------------------------------------------------

TEST(LpcmHeader, DvdCases) {
    struct Case {
        const char* bytes;
        bool ok;
        int channels, rate, bits, blockAlign, avgBytes;
    };
    const Case cases[] = {
        {"00 01 80", true, 2, 48000, 16, 8, 192000},
        {"1F 01 80", true, 2, 48000, 16, 8, 192000}, // frame number is free
        {"00 11 80", true, 2, 96000, 16, 8, 384000},
        {"00 21 80", true, 2, 44100, 16, 8, 176400},
        {"00 31 80", true, 2, 32000, 16, 8, 128000},
        {"00 45 80", true, 6, 48000, 20, 30, 720000},
        {"00 81 80", true, 2, 48000, 24, 12, 288000},
        {"00 00 80", true, 1, 48000, 16, 4, 96000},
        {"20 01 80", false}, // first reserved bit
        {"00 09 80", false}, // second reserved bit
        {"00 C1 80", false}, // quantisation 3
    };
    for (const Case& c : cases) {
        Parser p(Hex(c.bytes));
        LpcmHeader h;
        CMediaType mt;
        ASSERT_EQ(p.file.ReadLpcmHeader(h, &mt), c.ok) << c.bytes;
        if (!c.ok) continue;
        auto* wfe = WaveFormatOf(mt);
        ASSERT_NE(wfe, nullptr);
        EXPECT_EQ(mt.subtype, MEDIASUBTYPE_DVD_LPCM_AUDIO) << c.bytes;
        EXPECT_EQ(wfe->wFormatTag, WAVE_FORMAT_PCM) << c.bytes;
        EXPECT_EQ(wfe->nChannels, c.channels) << c.bytes;
        EXPECT_EQ(wfe->nSamplesPerSec, static_cast<DWORD>(c.rate)) << c.bytes;
        EXPECT_EQ(wfe->wBitsPerSample, c.bits) << c.bytes;
        EXPECT_EQ(wfe->nBlockAlign, c.blockAlign) << c.bytes;
        EXPECT_EQ(wfe->nAvgBytesPerSec, static_cast<DWORD>(c.avgBytes)) << c.bytes;
    }
    Parser p(Hex("00 01 80"));
    LpcmHeader h;
    CMediaType mt;
    ASSERT_TRUE(p.file.ReadLpcmHeader(h, &mt));
    EXPECT_EQ(StreamDescription(mt), "Audio - DVD LPCM, 48.0 kHz, 2 chn, 16 bit, 1536.0 kbit/s");
}

TEST(LpcmHeader, HdmvCases) {
    struct Case {
        const char* bytes;
        bool ok;
        int channels, rate, bits, blockAlign;
    };
    const Case cases[] = {
        {"03 C0 31 40", true, 2, 48000, 16, 4},  {"0B 40 94 C0", true, 6, 96000, 24, 18},
        {"0B 40 15 40", true, 1, 192000, 16, 2}, {"03 C0 01 40", false, 0, 0, 0, 0}, // assignment 0
        {"03 C0 21 40", false, 0, 0, 0, 0},                                          // assignment 2
        {"03 C0 32 40", false, 0, 0, 0, 0},                                          // rate code 2
    };
    for (const Case& c : cases) {
        Parser p(Hex(c.bytes));
        HdmvLpcmHeader h;
        CMediaType mt;
        ASSERT_EQ(p.file.ReadHdmvLpcmHeader(h, &mt), c.ok) << c.bytes;
        if (!c.ok) continue;
        ASSERT_EQ(mt.cbFormat, 19u);
        auto* wfe = WaveFormatOf(mt);
        EXPECT_EQ(mt.subtype, MEDIASUBTYPE_HDMV_LPCM_AUDIO);
        EXPECT_EQ(wfe->nChannels, c.channels) << c.bytes;
        EXPECT_EQ(wfe->nSamplesPerSec, static_cast<DWORD>(c.rate)) << c.bytes;
        EXPECT_EQ(wfe->wBitsPerSample, c.bits) << c.bytes;
        EXPECT_EQ(wfe->nBlockAlign, c.blockAlign) << c.bytes;
        EXPECT_EQ(wfe->nAvgBytesPerSec, static_cast<DWORD>(c.blockAlign * c.rate)) << c.bytes;
        EXPECT_EQ(mt.pbFormat[18], static_cast<BYTE>(h.channelAssignment)) << c.bytes;
    }
}

// ---- PS2, AVC, VC-1 --------------------------------------------------------------------

TEST(Ps2AudioHeader, HeaderBlockThenBody) {
    auto le = [](std::uint32_t v) {
        return std::vector<std::uint8_t>{BYTE(v), BYTE(v >> 8), BYTE(v >> 16), BYTE(v >> 24)};
    };
    Bits b;
    b.Bytes(Hex("53 53 68 64"))
        .Bytes(le(24))
        .Bytes(le(1))
        .Bytes(le(48000))
        .Bytes(le(2))
        .Bytes(le(512));
    b.Bytes(Hex("53 53 62 64")).Bytes(le(1000));
    Parser p(b.Done());
    Ps2AudioHeader h;
    CMediaType mt;
    ASSERT_TRUE(p.file.ReadPs2AudioHeader(h, 100, &mt));
    ASSERT_EQ(mt.cbFormat, 24u);
    auto* wfe = WaveFormatOf(mt);
    EXPECT_EQ(wfe->wFormatTag, WAVE_FORMAT_PS2_PCM);
    EXPECT_EQ(wfe->nChannels, 2);
    EXPECT_EQ(wfe->nAvgBytesPerSec, 192000u);
    EXPECT_EQ(StreamDescription(mt), "Audio - PS2 PCM, 48.0 kHz, 2 chn, 16 bit, 1536.0 kbit/s");
    Parser q(Hex("53 53 78 78 00 00 00 00"));
    EXPECT_FALSE(q.file.ReadPs2AudioHeader(h, 100));
}

TEST(AvcHeader, BaselineSpsAndPps) {
    // SPS: Baseline, level 3.0, 720x480 (45 x 30 macroblocks), frame MBs only; then a PPS.
    auto spsBytes = Bits()
                        .Put(8, 0x67)
                        .Put(8, 66)
                        .Put(8, 0xC0)
                        .Put(8, 30)
                        .Put(1, 1)              // seq_parameter_set_id 0
                        .Put(1, 1)              // log2_max_frame_num_minus4 0
                        .Put(3, 0b011)          // pic_order_cnt_type 2
                        .Put(3, 0b010)          // max_num_ref_frames 1
                        .Put(1, 0)              // gaps
                        .Put(11, 0b00000101101) // pic_width_in_mbs_minus1 44
                        .Put(9, 0b000011110)    // pic_height_in_map_units_minus1 29
                        .Put(1, 1)
                        .Put(1, 1)
                        .Put(1, 0)
                        .Put(1, 0) // frame_mbs_only, direct8x8, crop, vui
                        .Put(1, 1)
                        .Done();
    std::vector<std::uint8_t> es = Hex("00 00 00 01");
    es.insert(es.end(), spsBytes.begin(), spsBytes.end());
    auto pps = Hex("00 00 00 01 68 CE 38 80 00 00 01 65 88");
    es.insert(es.end(), pps.begin(), pps.end());
    Parser p(es);
    AvcHeader h;
    CMediaType mt;
    ASSERT_TRUE(p.file.ReadAvcHeader(h, static_cast<std::int64_t>(es.size()), &mt));
    EXPECT_EQ(h.width, 720);
    EXPECT_EQ(h.height, 480);
    EXPECT_EQ(StreamDescription(mt), "Video - AVC (H.264), Baseline Profile, Level 3.0, 720x480");
    EXPECT_EQ(p.file.GetPos(), 0) << "the reader only peeks";
    Parser noPps(
        std::vector<std::uint8_t>(es.begin(), es.begin() + 4 + static_cast<long>(spsBytes.size())));
    EXPECT_FALSE(noPps.file.ReadAvcHeader(h, 100));
}

TEST(Vc1Header, AdvancedProfileSequenceHeader) {
    Bits b;
    b.Bytes(Hex("00 00 01 0F")).Put(2, 3).Put(3, 2).Put(2, 1).Put(3, 7).Put(5, 31).Put(1, 0);
    b.Put(12, 959).Put(12, 539).Put(1, 0).Put(1, 1).Put(4, 0).Put(
        1, 1); // 1920x1080, interlaced, display ext
    b.Put(14, 1919).Put(14, 1079).Put(1, 0).Put(1, 1).Put(1, 0).Put(8, 4).Put(4,
                                                                              2); // 50000/1001 fps
    b.Put(1, 0);
    auto bytes = b.Bytes(Hex("00 00 01 0E 12 34 00 00 01 0D 00")).Done();
    Parser p(bytes);
    Vc1Header h;
    CMediaType mt;
    ASSERT_TRUE(p.file.ReadVc1Header(h, static_cast<std::int64_t>(bytes.size()), &mt));
    EXPECT_EQ(h.width, 1920);
    EXPECT_EQ(h.height, 1080);
    EXPECT_TRUE(h.interlaced);
    EXPECT_EQ(h.avgTimePerFrame, 200200);
    EXPECT_EQ(StreamDescription(mt), "Video - VC-1, 1920x1080, 49.950 fps");
}

// ---- DVD subpicture colours ----------------------------------------------------------------

// Colour-table entries (0x00YYCrCb, limited range) to RGB: the BT.601 primaries
// of studio range come out at full strength (within a step of rounding), values
// outside it are clamped, and converting back for blending
// (as the subpicture overlay does) gives the disc's luma again.
TEST(DvdPalette, ColoursAndText) {
    struct Case {
        std::uint32_t ycrcb, rgb;
    };
    const Case cases[] = {{0x108080, 0x000000}, {0xEB8080, 0xFFFFFF}, {0x7E8080, 0x808080},
                          {0x51F05A, 0xFF0000}, {0x912236, 0x00FF00}, {0x296EF0, 0x0000FF},
                          // out of the studio range: clamped per channel
                          {0x00FF00, 0xB80000}, {0xFF00FF, 0x4AFFFF}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.ycrcb);
        const std::uint32_t rgb = DvdColourToRgb(c.ycrcb);
        for (int shift : {16, 8, 0}) // within one step of rounding
            EXPECT_NEAR(int(rgb >> shift & 0xFF), int(c.rgb >> shift & 0xFF), 1) << shift;
    }
    for (std::uint32_t y = 16; y <= 235; y += 17) {
        const std::uint32_t rgb = DvdColourToRgb(y << 16 | 0x8080);
        const int r = int(rgb >> 16), g = int(rgb >> 8 & 0xFF), b = int(rgb & 0xFF);
        EXPECT_NEAR(16 + ((66 * r + 129 * g + 25 * b + 128) >> 8), int(y), 1) << y;
    }

    std::uint32_t table[16];
    for (int i = 0; i < 16; ++i)
        table[i] = 0x108080;
    table[1] = 0xEB8080;
    table[15] = 0x296EF0;
    EXPECT_EQ(DvdPaletteText(table),
              "palette: 000000, ffffff, 000000, 000000, 000000, 000000, 000000, 000000, 000000, "
              "000000, 000000, 000000, 000000, 000000, 000000, 0000ff\n");

    // Only DVD subpicture types take the table; an empty text changes nothing.
    CMediaType mt;
    MakeSubpictureType(SubpictureKind::Dvd, mt);
    SetSubpicturePalette("", mt);
    EXPECT_EQ(mt.formattype, FORMAT_None);
    EXPECT_EQ(mt.cbFormat, 0u);
    const std::string text = DvdPaletteText(table);
    SetSubpicturePalette(text, mt);
    EXPECT_EQ(mt.formattype, FORMAT_SubpicturePalette);
    ASSERT_EQ(mt.cbFormat, text.size());
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(mt.pbFormat), mt.cbFormat), text);
    CMediaType svcd;
    MakeSubpictureType(SubpictureKind::Svcd, svcd);
    SetSubpicturePalette(text, svcd);
    EXPECT_EQ(svcd.cbFormat, 0u);
}

} // namespace
