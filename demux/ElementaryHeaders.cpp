// Elementary-stream header readers of CBaseSplitterFileEx.
#include <algorithm>
#include <cstring>
#include <numeric>

#include "demux/AvcVc1Parser.h"
#include "demux/CBaseSplitterFileEx.h"
#include "demux/StreamMediaTypes.h"

using namespace mpeg;

namespace {

// Frame periods in 27 MHz ticks by frame-rate code (23.976 ... 60 fps).
constexpr std::int64_t kFramePeriods[16] = {
    0, 1126125, 1125000, 1080000, 900900, 900000, 540000, 450450, 450000, 0, 0, 0, 0, 0, 0, 0};
// Pel aspect ratios of MPEG-1 by aspect code (0 and 15 count as 1.0).
constexpr double kPelAspect[16] = {1.0,    1.0,    0.6735, 0.7031, 0.7615, 0.8055, 0.8437, 0.8935,
                                   0.9157, 0.9815, 1.0255, 1.0695, 1.095,  1.1575, 1.2015, 1.0};

void Reduce(int& x, int& y) {
    int g = std::gcd(x, y);
    if (g > 1) {
        x /= g;
        y /= g;
    }
}

} // namespace

// ---- MPEG-1/2 video --------------------------------------------------------------------

bool CBaseSplitterFileEx::ReadSeqHeader(SeqHeader& h, std::int64_t budget, CMediaType* pmt) {
    h = {};
    std::int64_t searchStart = GetPos();
    BYTE code = 0;
    for (;;) {
        std::int64_t left = budget - (GetPos() - searchStart);
        if (left <= 0 || !FindStartCode(code, left)) return false;
        if (code == kSequenceHeaderCode) break;
    }
    std::int64_t start = GetPos() - 4;
    h.width = static_cast<std::uint16_t>(ReadBits(12));
    h.height = static_cast<std::uint16_t>(ReadBits(12));
    h.aspectCode = static_cast<std::uint8_t>(ReadBits(4));
    h.frameRateCode = static_cast<std::uint8_t>(ReadBits(4));
    h.bitrateField = static_cast<std::uint32_t>(ReadBits(18));
    if (!ReadBits(1)) return false;
    h.vbv = static_cast<std::uint16_t>(ReadBits(10));
    h.constrained = ReadBits(1);
    if (ReadBits(1))
        for (int i = 0; i < 64; ++i)
            ReadBits(8);
    if (ReadBits(1))
        for (int i = 0; i < 64; ++i)
            ReadBits(8);
    std::int64_t end = GetPos();
    h.framePeriod = kFramePeriods[h.frameRateCode];

    if (FindStartCode(code, 8) && code == kExtensionStartCode) {
        h.mpeg2 = true;
        ReadBits(4); // extension id
        ReadBits(1); // profile-and-level escape
        h.profile = static_cast<std::uint8_t>(ReadBits(3));
        h.level = static_cast<std::uint8_t>(ReadBits(4));
        h.progressive = ReadBits(1);
        h.chroma = static_cast<std::uint8_t>(ReadBits(2));
        h.width |= static_cast<std::uint16_t>(ReadBits(2) << 12);
        h.height |= static_cast<std::uint16_t>(ReadBits(2) << 12);
        h.bitrateField |= static_cast<std::uint32_t>(ReadBits(12) << 18);
        if (!ReadBits(1)) return false;
        h.vbv |= static_cast<std::uint16_t>(ReadBits(8) << 10);
        h.lowDelay = ReadBits(1);
        int n = static_cast<int>(ReadBits(2));
        int d = static_cast<int>(ReadBits(5));
        // The extension scales the frame rate by (n + 1) / (d + 1), so the period
        // by the inverse.
        h.framePeriod = h.framePeriod * (d + 1) / (n + 1);
        end = GetPos();
    }

    h.avgTimePerFrame = h.framePeriod * 10 / 27;
    // All ones means "variable" (18 bits without extension, 30 bits with it).
    std::uint32_t allOnes = h.mpeg2 ? 0x3FFFFFFFu : 0x3FFFFu;
    h.bitrate = h.bitrateField == allOnes ? 0 : h.bitrateField * 400;
    if (h.mpeg2) {
        switch (h.aspectCode) {
        case 2:
            h.arX = 4, h.arY = 3;
            break;
        case 3:
            h.arX = 16, h.arY = 9;
            break;
        case 4:
            h.arX = 221, h.arY = 100;
            break;
        default:
            h.arX = h.width, h.arY = h.height;
            break;
        }
    } else {
        h.arX = static_cast<int>(h.width / kPelAspect[h.aspectCode] + 0.5);
        h.arY = h.height;
    }
    Reduce(h.arX, h.arY);

    h.raw.resize(static_cast<std::size_t>(end - start));
    Seek(start);
    if (ReadBytes(h.raw.data(), end - start) != S_OK) return false;
    if (pmt) MakeMpegVideoType(h, *pmt);
    return true;
}

// ---- MPEG audio ------------------------------------------------------------------------

namespace {
// Bit rates in kbit/s: [MPEG-1 = 0, MPEG-2/2.5 = 1][layer - 1][index].
constexpr int kMpaBitrates[2][3][16] = {
    {{0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448, 0},
     {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384, 0},
     {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 0}},
    {{0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256, 0},
     {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0},
     {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0}}};
// Sample rates by version field (0 MPEG-2.5, 2 MPEG-2, 3 MPEG-1) and rate index.
constexpr int kMpaRates[4][3] = {
    {11025, 12000, 8000}, {0, 0, 0}, {22050, 24000, 16000}, {44100, 48000, 32000}};
} // namespace

bool CBaseSplitterFileEx::ReadMpegAudioHeader(MpegAudioHeader& h, std::int64_t budget,
                                              bool allowMpeg25, CMediaType* pmt) {
    h = {};
    int syncBits = allowMpeg25 ? 11 : 12;
    std::uint64_t sync = allowMpeg25 ? 0x7FF : 0xFFF;
    for (; budget > 3 && ReadBits(syncBits, true) != sync; --budget)
        ReadBits(8);
    if (budget <= 3) return false;
    ReadBits(11);
    h.version = static_cast<int>(ReadBits(2));
    int layerField = static_cast<int>(ReadBits(2));
    h.crc = !ReadBits(1);
    h.bitrateIndex = static_cast<int>(ReadBits(4));
    h.rateIndex = static_cast<int>(ReadBits(2));
    h.padding = ReadBits(1);
    h.privateBit = ReadBits(1);
    h.channelMode = static_cast<int>(ReadBits(2));
    h.modeExtension = static_cast<int>(ReadBits(2));
    h.copyright = ReadBits(1);
    h.original = ReadBits(1);
    h.emphasis = static_cast<int>(ReadBits(2));
    if (h.version == 1 || layerField == 0 || h.rateIndex == 3 || h.bitrateIndex == 15 ||
        h.emphasis == 2)
        return false;
    h.layer = 4 - layerField;
    h.bitrate = kMpaBitrates[h.version == 3 ? 0 : 1][h.layer - 1][h.bitrateIndex] * 1000;
    if (h.bitrate == 0) return false; // free format
    h.sampleRate = kMpaRates[h.version][h.rateIndex];
    bool halfFrame = h.layer == 3 && h.version != 3;
    h.samplesPerFrame = h.layer == 1 ? 384 : halfFrame ? 576 : 1152;
    if (h.layer == 1)
        h.frameSize = (12 * h.bitrate / h.sampleRate + h.padding) * 4;
    else
        h.frameSize = (halfFrame ? 72 : 144) * h.bitrate / h.sampleRate + h.padding;
    h.frameDuration = std::int64_t(h.samplesPerFrame) * kUnitsPerSecond / h.sampleRate;
    if (pmt) MakeMpegAudioType(h, *pmt);
    return true;
}

// ---- AAC (ADTS) ------------------------------------------------------------------------

namespace {
constexpr int kAacRates[12] = {96000, 88200, 64000, 48000, 44100, 32000,
                               24000, 22050, 16000, 12000, 11025, 8000};
}

bool CBaseSplitterFileEx::ReadAacHeader(AacHeader& h, std::int64_t budget, CMediaType* pmt) {
    h = {};
    for (; budget > 6 && ReadBits(12, true) != 0xFFF; --budget)
        ReadBits(8);
    if (budget <= 6) return false;
    ReadBits(12);
    h.id = static_cast<int>(ReadBits(1));
    h.layer = static_cast<int>(ReadBits(2));
    h.protectionAbsent = ReadBits(1);
    h.profile = static_cast<int>(ReadBits(2));
    h.rateIndex = static_cast<int>(ReadBits(4));
    ReadBits(1);
    h.channelConfig = static_cast<int>(ReadBits(3));
    ReadBits(4); // original, home, copyright id bit, copyright id start
    h.frameLength = static_cast<int>(ReadBits(13));
    ReadBits(11); // buffer fullness
    ReadBits(2);  // raw data blocks
    if (!h.protectionAbsent) ReadBits(16);
    int headerSize = h.protectionAbsent ? 7 : 9;
    if (h.layer != 0 || h.rateIndex > 11 || h.frameLength <= headerSize) return false;
    h.sampleRate = kAacRates[h.rateIndex];
    h.channels = h.channelConfig == 7 ? 2 : h.channelConfig;
    h.avgBytesPerSec = static_cast<int>(std::int64_t(h.frameLength) * h.sampleRate / 1024);
    h.frameDuration = kUnitsPerSecond * 1024 / h.sampleRate;
    if (pmt) MakeAacType(h, *pmt);
    return true;
}

// ---- AC-3 ------------------------------------------------------------------------------

namespace {
constexpr int kAc3Bitrates[19] = {32,  40,  48,  56,  64,  80,  96,  112, 128, 160,
                                  192, 224, 256, 320, 384, 448, 512, 576, 640};
constexpr int kAc3Channels[8] = {2, 1, 2, 3, 3, 4, 4, 5};
constexpr int kAc3Rates[3] = {48000, 44100, 32000};
} // namespace

bool CBaseSplitterFileEx::ReadAc3Header(Ac3Header& h, std::int64_t budget, CMediaType* pmt) {
    h = {};
    for (; budget > 6 && ReadBits(16, true) != kAc3SyncWord; --budget)
        ReadBits(8);
    if (budget <= 6) return false;
    ReadBits(16); // sync
    ReadBits(16); // crc
    h.sampleRateCode = static_cast<int>(ReadBits(2));
    h.frameSizeCode = static_cast<int>(ReadBits(6));
    h.bsid = static_cast<int>(ReadBits(5));
    h.bsmod = static_cast<int>(ReadBits(3));
    h.acmod = static_cast<int>(ReadBits(3));
    if ((h.acmod & 1) && h.acmod != 1) h.cmixlev = static_cast<int>(ReadBits(2));
    if (h.acmod & 4) h.surmixlev = static_cast<int>(ReadBits(2));
    if (h.acmod == 2) h.dsurmod = static_cast<int>(ReadBits(2));
    h.lfe = ReadBits(1);
    // Frame-size codes run 0..37 (32 to 640 kbit/s); 38 and up name no rate.
    if (h.bsid >= 17 || h.sampleRateCode == 3 || h.frameSizeCode >= 38) return false;
    h.channels = kAc3Channels[h.acmod] + (h.lfe ? 1 : 0);
    h.sampleRate = kAc3Rates[h.sampleRateCode];
    if (h.bsid >= 9 && h.bsid <= 11) h.sampleRate >>= (h.bsid - 8);
    h.bitrate = kAc3Bitrates[h.frameSizeCode >> 1] * 1000;
    h.avgBytesPerSec = h.bitrate / 8;
    h.blockAlign = static_cast<int>(std::int64_t(h.avgBytesPerSec) * 1536 / h.sampleRate);
    if (pmt) MakeAc3Type(h, *pmt);
    return true;
}

// ---- DTS -------------------------------------------------------------------------------

namespace {
constexpr int kDtsChannels[16] = {1, 2, 2, 2, 2, 3, 3, 4, 4, 5, 6, 6, 6, 7, 8, 8};
constexpr int kDtsRates[16] = {0,     8000, 16000, 32000, 0,     0,     11025, 22050,
                               44100, 0,    0,     12000, 24000, 48000, 0,     0};
// Bit rates in bits per second by rate code; open, variable and lossless are 0.
constexpr int kDtsBitrates[32] = {32000,   56000,   64000,   96000,   112000,  128000,  192000,
                                  224000,  256000,  320000,  384000,  448000,  512000,  576000,
                                  640000,  768000,  960000,  1024000, 1152000, 1280000, 1344000,
                                  1408000, 1411200, 1472000, 1536000, 1920000, 2048000, 3072000,
                                  3840000, 0,       0,       0};
} // namespace

bool CBaseSplitterFileEx::ReadDtsHeader(DtsHeader& h, std::int64_t budget, CMediaType* pmt) {
    h = {};
    for (; budget > 9 && ReadBits(32, true) != kDtsSyncWord; --budget)
        ReadBits(8);
    if (budget <= 9) return false;
    ReadBits(32);
    h.normalFrame = ReadBits(1);
    h.deficitSamples = static_cast<int>(ReadBits(5));
    h.crc = ReadBits(1);
    h.blocks = static_cast<int>(ReadBits(7));
    h.frameSize = static_cast<int>(ReadBits(14)) + 1;
    h.arrangement = static_cast<int>(ReadBits(6));
    h.sampleRateCode = static_cast<int>(ReadBits(4));
    h.rateCode = static_cast<int>(ReadBits(5));
    ReadBits(5); // down-mix, dynamic range, time stamp, auxiliary data, HDCD
    h.extension = static_cast<int>(ReadBits(3));
    ReadBits(2); // extended coding, audio sync word
    h.lfe = static_cast<int>(ReadBits(2));
    ReadBits(1); // predictor history
    h.channels = h.arrangement < 16 ? kDtsChannels[h.arrangement] + (h.lfe ? 1 : 0) : 0;
    h.sampleRate = kDtsRates[h.sampleRateCode];
    h.avgBytesPerSec = (kDtsBitrates[h.rateCode] + 4) / 8;
    if (pmt) MakeDtsType(h, *pmt);
    return true;
}

// ---- LPCM ------------------------------------------------------------------------------

bool CBaseSplitterFileEx::ReadLpcmHeader(LpcmHeader& h, CMediaType* pmt) {
    h = {};
    h.emphasis = ReadBits(1);
    h.mute = ReadBits(1);
    bool reserved1 = ReadBits(1);
    h.frameNumber = static_cast<int>(ReadBits(5));
    h.quantisation = static_cast<int>(ReadBits(2));
    h.sampleRateCode = static_cast<int>(ReadBits(2));
    bool reserved2 = ReadBits(1);
    h.channelsField = static_cast<int>(ReadBits(3));
    h.dynamicRange = static_cast<int>(ReadBits(8));
    if (h.quantisation == 3 || reserved1 || reserved2) return false;
    static constexpr int kRates[4] = {48000, 96000, 44100, 32000};
    h.channels = h.channelsField + 1;
    h.sampleRate = kRates[h.sampleRateCode];
    h.bitsPerSample = 16 + 4 * h.quantisation;
    h.blockAlign = static_cast<std::uint16_t>(h.channels * 2 * h.bitsPerSample / 8);
    h.avgBytesPerSec = h.blockAlign * h.sampleRate / 2;
    if (pmt) MakeLpcmType(h, *pmt);
    return true;
}

bool CBaseSplitterFileEx::ReadHdmvLpcmHeader(HdmvLpcmHeader& h, CMediaType* pmt) {
    h = {};
    h.frameSize = static_cast<int>(ReadBits(16));
    h.channelAssignment = static_cast<int>(ReadBits(4));
    h.sampleRateCode = static_cast<int>(ReadBits(4));
    h.bitsCode = static_cast<int>(ReadBits(2));
    ReadBits(6);
    if (h.channelAssignment == 0 || h.channelAssignment == 2) return false;
    if (h.sampleRateCode != 1 && h.sampleRateCode != 4 && h.sampleRateCode != 5) return false;
    static constexpr int kBits[4] = {0, 16, 20, 24};
    static constexpr int kChannels[16] = {0, 1, 0, 2, 3, 3, 4, 4, 5, 6, 7, 8, 0, 0, 0, 0};
    h.bitsPerSample = kBits[h.bitsCode];
    h.channels = kChannels[h.channelAssignment];
    h.sampleRate = h.sampleRateCode == 1 ? 48000 : h.sampleRateCode == 4 ? 96000 : 192000;
    h.blockAlign = h.bitsPerSample * h.channels / 8;
    h.avgBytesPerSec = h.blockAlign * h.sampleRate;
    if (pmt) MakeHdmvLpcmType(h, *pmt);
    return true;
}

// ---- PS2 audio -------------------------------------------------------------------------

bool CBaseSplitterFileEx::ReadPs2AudioHeader(Ps2AudioHeader& h, std::int64_t budget,
                                             CMediaType* pmt) {
    h = {};
    if (budget < 2 || ReadBits(16, true) != 0x5353) return false; // "SS"
    auto le32 = [this] {
        std::uint32_t v = 0;
        for (int i = 0; i < 4; ++i)
            v |= static_cast<std::uint32_t>(ReadBits(8)) << (8 * i);
        return v;
    };
    bool haveHeader = false;
    while (budget >= 8) {
        std::uint64_t tag = ReadBits(32);
        le32(); // block size
        budget -= 8;
        if (tag == 0x53536864) { // "SShd"
            if (budget < 16) return false;
            h.type = static_cast<int>(le32());
            h.sampleRate = static_cast<int>(le32());
            h.channels = static_cast<int>(le32());
            h.interleave = static_cast<int>(le32());
            budget -= 16;
            haveHeader = true;
        } else if (tag == 0x53536264) { // "SSbd"
            break;
        } else {
            return false;
        }
    }
    if (!haveHeader || (h.type != 1 && h.type != 16) || h.channels <= 0 || h.channels > 8 ||
        h.sampleRate <= 0 || h.sampleRate > 192000)
        return false;
    if (pmt) MakePs2AudioType(h, *pmt);
    return true;
}

// ---- AVC and VC-1 ----------------------------------------------------------------------

bool CBaseSplitterFileEx::ReadAvcHeader(AvcHeader& h, std::int64_t budget, CMediaType* pmt) {
    h = {};
    std::vector<std::uint8_t> data;
    PeekBytes(data, std::min<std::int64_t>(budget, 65536));
    if (!ParseAvcParameterSets(data, h)) return false;
    if (pmt) MakeAvcType(h, *pmt);
    return true;
}

bool CBaseSplitterFileEx::ReadVc1Header(Vc1Header& h, std::int64_t budget, CMediaType* pmt) {
    h = {};
    std::vector<std::uint8_t> data;
    PeekBytes(data, std::min<std::int64_t>(budget, 65536));
    if (!ParseVc1SequenceHeader(data, h)) return false;
    if (pmt) MakeVc1Type(h, *pmt);
    return true;
}
