// Plain records the header readers of CBaseSplitterFileEx fill. Times are in
// 100-ns units (already converted from 90 kHz / 27 MHz and offset); rates in bits
// or bytes per second as named. Every record starts zeroed.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "demux/MpegDefs.h"

// Pack header (00 00 01 BA).
struct PackHeader {
    int version = 0;           // 1 MPEG-1, 2 MPEG-2
    std::int64_t scr = 0;      // system clock reference, 100 ns
    std::uint32_t bitrate = 0; // program mux rate x 400, bits per second
};

// System header (00 00 01 BB). Only the first entries of the stream table are kept.
struct SystemHeader {
    std::uint16_t length = 0;
    std::uint32_t rateBound = 0;
    std::uint8_t audioBound = 0;
    std::uint8_t videoBound = 0;
    bool fixedRate = false, csps = false, audioLock = false, videoLock = false;
    struct Entry {
        std::uint8_t streamId = 0;
        std::uint32_t bufferBound = 0; // bytes
    };
    std::array<Entry, 32> streams{};
    int streamCount = 0;
};

// PES header; `length` is the number of payload bytes after the header.
struct PesHeader {
    int length = 0;
    int version = 0; // 1 MPEG-1, 2 MPEG-2 (0 for 0xBE and 0xBF)
    std::uint8_t scrambling = 0;
    bool priority = false, alignment = false, copyright = false, original = false;
    bool hasPts = false, hasDts = false;
    bool escr = false, esRate = false, trickMode = false, additionalCopy = false, crc = false,
         extension = false;
    std::uint8_t headerDataLength = 0;
    int bufferSize = 0; // MPEG-1 STD buffer size in bytes, when given
    std::int64_t pts = 0, dts = 0;
};

// Transport packet header with its adaptation field.
struct TsHeader {
    bool transportError = false, payloadStart = false, priority = false;
    std::uint16_t pid = 0;
    std::uint8_t scrambling = 0;
    bool hasAdaptation = false, hasPayload = false;
    std::uint8_t counter = 0;
    int payloadBytes = 0;  // bytes of payload left in the packet
    std::int64_t next = 0; // offset of the next packet
    // adaptation field
    std::uint8_t adaptationLength = 0;
    bool discontinuity = false, randomAccess = false, esPriority = false;
    bool hasPcr = false, hasOpcr = false, splicing = false, privateData = false,
         afExtension = false;
    std::int64_t pcr = 0;
};

// Section header of program-specific information (PAT, PMT).
struct PsiHeader {
    std::uint8_t tableId = 0;
    bool syntax = false;
    std::uint16_t sectionLength = 0;
    std::uint16_t transportStreamId = 0;
    std::uint8_t version = 0;
    bool currentNext = false;
    std::uint8_t section = 0, lastSection = 0;
};

// PVA packet header.
struct PvaHeader {
    std::uint8_t streamId = 0; // 1 video, 2 audio
    std::uint8_t counter = 0;
    bool hasPts = false;
    std::uint8_t postBytes = 0, preBytes = 0;
    int length = 0; // payload bytes after the header
    std::int64_t pts = 0;
    std::int64_t offset = 0; // where the packet starts
};

// MPEG-1/2 video sequence header with its optional sequence extension.
struct SeqHeader {
    std::uint16_t width = 0, height = 0;
    std::uint8_t aspectCode = 0, frameRateCode = 0;
    std::uint32_t bitrateField = 0; // 18 bits (+ 12 bits of extension)
    std::uint16_t vbv = 0;
    bool constrained = false;
    bool mpeg2 = false;
    std::uint8_t profile = 0, level = 0; // 3-bit profile, 4-bit level, as read
    bool progressive = false;
    std::uint8_t chroma = 0;
    bool lowDelay = false;
    std::int64_t framePeriod = 0;     // 27 MHz ticks
    std::int64_t avgTimePerFrame = 0; // 100 ns
    std::uint32_t bitrate = 0;        // bits per second, 0 when unknown
    int arX = 0, arY = 0;             // picture aspect (MPEG-2) or pixel shape (MPEG-1), reduced
    std::vector<std::uint8_t> raw;    // sequence header and extension bytes from the start code
};

// MPEG audio frame header.
struct MpegAudioHeader {
    int version = 0;  // field: 3 MPEG-1, 2 MPEG-2, 0 MPEG-2.5
    int layer = 0;    // 1, 2 or 3
    bool crc = false; // protection present
    int bitrateIndex = 0, rateIndex = 0;
    bool padding = false, privateBit = false;
    int channelMode = 0, modeExtension = 0;
    bool copyright = false, original = false;
    int emphasis = 0;
    int bitrate = 0; // bits per second
    int sampleRate = 0;
    int samplesPerFrame = 0;
    int frameSize = 0;              // bytes
    std::int64_t frameDuration = 0; // 100 ns
};

// AAC ADTS header.
struct AacHeader {
    int id = 0, layer = 0;
    bool protectionAbsent = false;
    int profile = 0, rateIndex = 0, channelConfig = 0;
    int frameLength = 0;
    int sampleRate = 0, channels = 0;
    int avgBytesPerSec = 0;
    std::int64_t frameDuration = 0;
};

// AC-3 sync frame header.
struct Ac3Header {
    int sampleRateCode = 0, frameSizeCode = 0, bsid = 0, bsmod = 0, acmod = 0;
    int cmixlev = 0, surmixlev = 0, dsurmod = 0;
    bool lfe = false;
    int channels = 0, sampleRate = 0;
    int bitrate = 0; // bits per second
    int avgBytesPerSec = 0, blockAlign = 0;
};

// DTS core frame header.
struct DtsHeader {
    bool normalFrame = false;
    int deficitSamples = 0, blocks = 0, frameSize = 0, arrangement = 0;
    int sampleRateCode = 0, rateCode = 0, extension = 0, lfe = 0;
    bool crc = false;
    int channels = 0, sampleRate = 0, avgBytesPerSec = 0;
};

// DVD LPCM header (the three bytes after the private header).
struct LpcmHeader {
    bool emphasis = false, mute = false;
    int frameNumber = 0, quantisation = 0, sampleRateCode = 0, channelsField = 0, dynamicRange = 0;
    int channels = 0, sampleRate = 0, bitsPerSample = 0;
    int blockAlign = 0, avgBytesPerSec = 0;
};

// HDMV (Blu-ray) LPCM header.
struct HdmvLpcmHeader {
    int frameSize = 0, channelAssignment = 0, sampleRateCode = 0, bitsCode = 0;
    int channels = 0, sampleRate = 0, bitsPerSample = 0;
    int blockAlign = 0, avgBytesPerSec = 0;
};

// PS2 audio header ("SShd" block).
struct Ps2AudioHeader {
    int type = 0; // 1 PCM, 16 ADPCM
    int channels = 0, sampleRate = 0, interleave = 0;
};

// AVC sequence parameters (as far as the media type needs them).
struct AvcHeader {
    int profile = 0, level = 0;
    int width = 0, height = 0;
    std::int64_t avgTimePerFrame = 0;
    std::vector<std::uint8_t> parameterSets; // SPS and PPS NAL units, each with a 2-byte size
};

// VC-1 advanced-profile sequence header.
struct Vc1Header {
    int profile = 0, level = 0;
    int width = 0, height = 0;
    bool interlaced = false;
    std::int64_t avgTimePerFrame = 0;
    std::vector<std::uint8_t> raw; // sequence header (and entry point) bytes from the start code
};
