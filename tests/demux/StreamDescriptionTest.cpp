// Stream descriptions, stream-type names and the language look-ups.
#include <gtest/gtest.h>

#include <cstring>
#include <set>

#include "demux/LanguageTable.h"
#include "demux/StreamDescription.h"
#include "demux/StreamMediaTypes.h"

namespace {

CMediaType Mpeg2Video(int width, int height, REFERENCE_TIME avg, DWORD bitrate, DWORD profile,
                      DWORD level, DWORD compression = 0) {
    CMediaType mt;
    mt.SetType(&MEDIATYPE_Video);
    mt.SetSubtype(&MEDIASUBTYPE_MPEG2_VIDEO);
    mt.SetFormatType(&FORMAT_MPEG2_VIDEO);
    auto* vi = reinterpret_cast<MPEG2VIDEOINFO*>(mt.AllocFormatBuffer(sizeof(MPEG2VIDEOINFO)));
    vi->hdr.bmiHeader.biWidth = width;
    vi->hdr.bmiHeader.biHeight = height;
    vi->hdr.bmiHeader.biCompression = compression;
    vi->hdr.AvgTimePerFrame = avg;
    vi->hdr.dwBitRate = bitrate;
    vi->dwProfile = profile;
    vi->dwLevel = level;
    return mt;
}

CMediaType Audio(const GUID& subtype, WORD tag, WORD channels, DWORD rate, WORD bits,
                 DWORD avgBytes) {
    CMediaType mt;
    mt.SetType(&MEDIATYPE_Audio);
    mt.SetSubtype(&subtype);
    mt.SetFormatType(&FORMAT_WaveFormatEx);
    auto* wfe = reinterpret_cast<WAVEFORMATEX*>(mt.AllocFormatBuffer(sizeof(WAVEFORMATEX)));
    wfe->wFormatTag = tag;
    wfe->nChannels = channels;
    wfe->nSamplesPerSec = rate;
    wfe->wBitsPerSample = bits;
    wfe->nAvgBytesPerSec = avgBytes;
    return mt;
}

TEST(StreamDescription, VideoCases) {
    struct Case {
        CMediaType mt;
        const char* text;
    };
    const Case cases[] = {
        {Mpeg2Video(720, 576, 400000, 9800000, 4, 8),
         "Video - MPEG2, Spatially Scalable Profile, Level 8, 720x576, 25.000 fps, 9800.0 kbit/s"},
        {Mpeg2Video(720, 480, 333667, 25000000, 2, 2),
         "Video - MPEG2, Main Profile, Main Level, 720x480, 29.970 fps, 25.00 mbit/s"},
        {Mpeg2Video(720, 480, 0, 20000000, 0, 0), "Video - MPEG2, 720x480, 20000.0 kbit/s"},
        {Mpeg2Video(0, 480, 0, 0, 7, 1), "Video - MPEG2, Profile 7, Low Level"},
        {Mpeg2Video(1920, 1080, 417083, 0, 100, 41, FOURCC_AVC1),
         "Video - AVC (H.264), High Profile, Level 4.1, 1920x1080, 23.976 fps"},
        {Mpeg2Video(1280, 720, 0, 0, 99, 3, FOURCC_AVC1),
         "Video - AVC (H.264), Profile 99, High1440 Level, 1280x720"},
        {Mpeg2Video(640, 480, 0, 0, 0, 0, 0x34363248), "Video - H264, 640x480"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(StreamDescription(c.mt), c.text);
    }

    CMediaType sub;
    MakeSubpictureType(SubpictureKind::Dvd, sub);
    EXPECT_EQ(StreamDescription(sub), "Video - DVD Sub Picture");
    MakeSubpictureType(SubpictureKind::Svcd, sub);
    EXPECT_EQ(StreamDescription(sub), "Video - SVCD Sub Picture");
    MakeSubpictureType(SubpictureKind::Cvd, sub);
    EXPECT_EQ(StreamDescription(sub), "Video - CVD Sub Picture");
    MakeSubpicturePlaceholderType(sub);
    EXPECT_EQ(StreamDescription(sub), "Video - DVD Sub Picture");
    EXPECT_TRUE(sub.bFixedSizeSamples);
    EXPECT_EQ(sub.lSampleSize, 1u);
    EXPECT_EQ(sub.cbFormat, 0u);

    CMediaType empty;
    EXPECT_EQ(StreamDescription(empty), "");
    MakeSubpictureType(SubpictureKind::Ps2, sub);
    EXPECT_EQ(StreamDescription(sub), "") << "no part known";
}

TEST(StreamDescription, AudioCases) {
    struct Case {
        CMediaType mt;
        BYTE streamType;
        const char* text;
    };
    const Case cases[] = {
        {Audio(MEDIASUBTYPE_DOLBY_AC3, WAVE_FORMAT_DOLBY_AC3, 6, 48000, 0, 56000), 0,
         "Audio - Dolby Digital, 48.0 kHz, 6 chn, 448.0 kbit/s"},
        {Audio(MEDIASUBTYPE_DOLBY_AC3, WAVE_FORMAT_DOLBY_AC3, 6, 48000, 0, 56000), 0x84,
         "Audio - Dolby Digital Plus, 48.0 kHz, 6 chn, 448.0 kbit/s"},
        {Audio(MEDIASUBTYPE_DTS, WAVE_FORMAT_DTS, 6, 48000, 0, 191000), 0x86,
         "Audio - DTS-HD Master Audio, 48.0 kHz, 6 chn, 1528.0 kbit/s"},
        {Audio(MEDIASUBTYPE_DVD_LPCM_AUDIO, WAVE_FORMAT_PCM, 2, 44100, 16, 176400), 0,
         "Audio - DVD LPCM, 44.1 kHz, 2 chn, 16 bit, 1411.2 kbit/s"},
        {Audio(MEDIASUBTYPE_HDMV_LPCM_AUDIO, WAVE_FORMAT_PCM, 8, 96000, 24, 2304000), 0,
         "Audio - HDMV LPCM, 96.0 kHz, 8 chn, 24 bit, 18432.0 kbit/s"},
        {Audio(MEDIASUBTYPE_MPEG1AudioPayload, WAVE_FORMAT_MPEG, 2, 48000, 0, 24000), 0,
         "Audio - MPEG1 - Layer 0, 48.0 kHz, 2 chn, 192.0 kbit/s"},
        {Audio(FourCCSubtype(0x1234), 0x1234, 0, 0, 0, 0), 0, ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(StreamDescription(c.mt, nullptr, c.streamType), c.text);
    }

    ClipStreamInfo clip;
    std::memcpy(clip.language, "fre", 4);
    clip.sampleRateCode = 12;
    EXPECT_EQ(StreamDescription(cases[0].mt, &clip, 0x81),
              "Audio - French, Dolby Digital, 192(48) kHz, 6 chn, 448.0 kbit/s");
    clip.sampleRateCode = 14;
    EXPECT_EQ(StreamDescription(cases[0].mt, &clip, 0x81),
              "Audio - French, Dolby Digital, 96(48) kHz, 6 chn, 448.0 kbit/s");
}

TEST(StreamDescription, SubtitleCases) {
    CMediaType mt;
    MakeHdmvSubtitleType("ger", mt);
    ASSERT_EQ(mt.cbFormat, 520u);
    EXPECT_EQ(StreamDescription(mt, nullptr, 0x90),
              "Subtitle - German, Presentation Graphics Stream");
    MakeHdmvSubtitleType("", mt);
    EXPECT_EQ(std::string(reinterpret_cast<const SUBTITLEINFO*>(mt.pbFormat)->IsoLang), "eng");
    MakeHdmvSubtitleType("---", mt);
    EXPECT_EQ(StreamDescription(mt, nullptr, 0x90), "Subtitle - Presentation Graphics Stream");
    EXPECT_EQ(StreamDescription(mt), "");
}

TEST(StreamTypeName, KnownAndUnknown) {
    const std::pair<int, const char*> names[] = {{0x01, "MPEG-1"},
                                                 {0x02, "MPEG-2"},
                                                 {0x03, "MPEG-1"},
                                                 {0x04, "MPEG-2"},
                                                 {0x1B, "H264"},
                                                 {0x80, "LPCM"},
                                                 {0x81, "Dolby Digital"},
                                                 {0x82, "DTS"},
                                                 {0x83, "Dolby TrueHD"},
                                                 {0x84, "Dolby Digital Plus"},
                                                 {0x85, "DTS-HD High Resolution Audio"},
                                                 {0x86, "DTS-HD Master Audio"},
                                                 {0x90, "Presentation Graphics Stream"},
                                                 {0x91, "Interactive Graphics Stream"},
                                                 {0x92, "Subtitle"},
                                                 {0xA1, "Secondary Dolby Digital Plus"},
                                                 {0xA2, "Secondary DTS-HD High Resolution Audio"},
                                                 {0xEA, "VC-1"}};
    std::set<int> known;
    for (auto [type, name] : names) {
        ASSERT_NE(StreamTypeName(static_cast<BYTE>(type)), nullptr) << type;
        EXPECT_STREQ(StreamTypeName(static_cast<BYTE>(type)), name);
        known.insert(type);
    }
    for (int t = 0; t < 256; ++t)
        if (!known.count(t)) {
            EXPECT_EQ(StreamTypeName(static_cast<BYTE>(t)), nullptr) << t;
        }
}

TEST(LanguageTable, ShapeOfTheTable) {
    auto rows = LanguageRows();
    ASSERT_EQ(rows.size(), 482u);
    std::set<std::string> codes, twoLetter;
    int withTwo = 0;
    for (const LanguageRow& r : rows) {
        EXPECT_EQ(std::strlen(r.code3), 3u) << r.name;
        EXPECT_TRUE(codes.insert(r.code3).second) << "duplicate " << r.code3;
        if (r.code3t[0]) {
            EXPECT_TRUE(codes.insert(r.code3t).second) << "duplicate " << r.code3t;
        }
        if (r.code2[0]) {
            EXPECT_EQ(std::strlen(r.code2), 2u) << r.name;
            EXPECT_TRUE(twoLetter.insert(r.code2).second) << "duplicate " << r.code2;
            ++withTwo;
        }
        EXPECT_NE(r.name[0], 0);
    }
    EXPECT_EQ(withTwo, 184); // every ISO 639-1 language
}

TEST(LanguageTable, ThreeLetterNames) {
    const std::pair<const char*, const char*> cases[] = {{"eng", "English"},
                                                         {"ENG", "English"},
                                                         {"nav", "Navajo"},
                                                         {"spa", "Spanish"},
                                                         {"gre", "Greek, Modern (1453-)"},
                                                         {"ell", "Greek, Modern (1453-)"},
                                                         {"ger", "German"},
                                                         {"deu", "German"},
                                                         {"fre", "French"},
                                                         {"fra", "French"},
                                                         {"chi", "Chinese"},
                                                         {"zho", "Chinese"},
                                                         {"engx", "English"},
                                                         {"nob", "Bokmål, Norwegian"},
                                                         {"tlh", "Klingon"},
                                                         {"zza", "Zaza"},
                                                         {"und", ""},
                                                         {"xyz", ""},
                                                         {"en", ""},
                                                         {"", ""},
                                                         {"---", ""}};
    for (auto [code, name] : cases) {
        EXPECT_EQ(LanguageName(code), name) << code;
    }
}

TEST(LanguageTable, TwoLetterNames) {
    const std::pair<const char*, const char*> cases[] = {{"en", "English"},
                                                         {"EN", "English"},
                                                         {"fr", "French"},
                                                         {"de", "German"},
                                                         {"el", "Greek, Modern (1453-)"},
                                                         {"es", "Spanish"},
                                                         {"nv", "Navajo"},
                                                         {"it", "Italian"},
                                                         {"ja", "Japanese"},
                                                         {"zh", "Chinese"},
                                                         {"eng", "English"},
                                                         {"xx", ""},
                                                         {"", ""},
                                                         {"e", ""}};
    for (auto [code, name] : cases) {
        EXPECT_EQ(TwoLetterLanguageName(code), name) << code;
    }
    EXPECT_EQ(TwoLetterLanguageName(0x656Eu), "English"); // 'e' << 8 | 'n'
    EXPECT_EQ(TwoLetterLanguageName(0u), "");
}

} // namespace
