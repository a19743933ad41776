// Every MPEG constant the parser and the demultiplexer share: start codes, stream
// ids, sub-stream id ranges of DVD private stream 1, transport and PVA constants,
// and the search limits of the parser.
#pragma once

#include <cstdint>
#include <limits>

namespace mpeg {

// -- start codes (the byte after 00 00 01)
constexpr std::uint8_t kPictureStartCode = 0x00;
constexpr std::uint8_t kSequenceHeaderCode = 0xB3;
constexpr std::uint8_t kExtensionStartCode = 0xB5;
constexpr std::uint8_t kSequenceEndCode = 0xB7;
constexpr std::uint8_t kGopStartCode = 0xB8;
constexpr std::uint8_t kProgramEndCode = 0xB9;
constexpr std::uint8_t kPackStartCode = 0xBA;
constexpr std::uint8_t kSystemHeaderCode = 0xBB;
constexpr std::uint32_t kPackStartCode32 = 0x000001BA;

// -- PES stream ids
constexpr std::uint8_t kProgramStreamMap = 0xBC;
constexpr std::uint8_t kPrivateStream1 = 0xBD;
constexpr std::uint8_t kPaddingStream = 0xBE;
constexpr std::uint8_t kPrivateStream2 = 0xBF;
constexpr std::uint8_t kAudioStreamFirst = 0xC0;
constexpr std::uint8_t kAudioStreamLast = 0xDF;
constexpr std::uint8_t kVideoStreamFirst = 0xE0;
constexpr std::uint8_t kVideoStreamLast = 0xEF;
constexpr std::uint8_t kExtendedStreamId = 0xFD;

constexpr bool IsAudioStreamId(unsigned id) {
    return id >= kAudioStreamFirst && id <= kAudioStreamLast;
}
constexpr bool IsVideoStreamId(unsigned id) {
    return id >= kVideoStreamFirst && id <= kVideoStreamLast;
}
constexpr bool IsPrivateStreamId(unsigned id) {
    return id == kPrivateStream1 || id == kExtendedStreamId;
}
// Stream ids that carry a PES header the parser reads (0xBD to 0xEF, and 0xFD).
constexpr bool IsPesStreamId(unsigned id) {
    return (id >= kPrivateStream1 && id <= kVideoStreamLast) || id == kExtendedStreamId;
}

// -- sub-stream ids: the first payload byte of private stream 1 on DVD
constexpr std::uint8_t kCvdSubpictureLast = 0x0F;  // 0x00..0x0F
constexpr std::uint8_t kDvdSubpictureFirst = 0x20; // 0x20..0x3F
constexpr std::uint8_t kDvdSubpictureLast = 0x3F;
constexpr std::uint8_t kSvcdSubpictureFirst = 0x70; // 0x70..0x7F
constexpr std::uint8_t kSvcdSubpictureLast = 0x7F;
constexpr std::uint8_t kAc3SubstreamFirst = 0x80; // 0x80..0x87
constexpr std::uint8_t kAc3SubstreamLast = 0x87;
constexpr std::uint8_t kDtsSubstreamFirst = 0x88; // 0x88..0x8F
constexpr std::uint8_t kDtsSubstreamLast = 0x8F;
constexpr std::uint8_t kLpcmSubstreamFirst = 0xA0; // 0xA0..0xA7
constexpr std::uint8_t kLpcmSubstreamLast = 0xA7;
constexpr int kPrivateHeaderBytes = 4; // sub-stream id, frame count, first-access pointer
constexpr int kLpcmHeaderBytes = 3;

// -- sync words of elementary streams
constexpr std::uint16_t kAc3SyncWord = 0x0B77;
constexpr std::uint32_t kDtsSyncWord = 0x7FFE8001;
constexpr std::uint16_t kPs2AudioTagPcm = 0xFFA0;
constexpr std::uint16_t kPs2AudioTagAdpcm = 0xFFA1;
constexpr std::uint16_t kPs2SubTag = 0xFF90;

// -- transport streams
constexpr std::uint8_t kTsSyncByte = 0x47;
constexpr int kTsPacketSize = 188;
constexpr int kM2tsPacketSize = 192;
constexpr int kTsPayloadBytes = 184;
constexpr unsigned kPatPid = 0;
constexpr unsigned kFirstElementaryPid = 16;
constexpr unsigned kLastElementaryPid = 8190;
constexpr int kMaxProgramStreams = 64;
constexpr std::uint32_t kTfrcMagic = 0x54467263; // "TFrc": Topfield recordings
constexpr std::int64_t kTfrcTsOffset = 1660;

// -- PVA
constexpr int kPvaMaxLength = 6136;
constexpr int kPvaResyncLimit = 65536;

// -- parser limits
constexpr int kCacheBytes = 65536;
constexpr int kStartCodeSearchBytes = 65536;
constexpr std::int64_t kScanWindowBytes = 131072;
constexpr int kScanWindows = 40;
constexpr std::int64_t kTailScanBytes = 512000;
constexpr int kMaxStuffingBytes = 16;

// -- time
constexpr std::int64_t kUnitsPerSecond = 10000000; // 100-ns units
constexpr std::int64_t kNoTime = std::numeric_limits<std::int64_t>::min();
constexpr std::int64_t kPtsUnset = std::numeric_limits<std::int64_t>::max();

// 33-bit 90 kHz stamp to 100-ns units (truncating).
constexpr std::int64_t PtsToTime(std::uint64_t pts90k) {
    return static_cast<std::int64_t>(pts90k) * 10000 / 90;
}
// 27 MHz clock reference (base * 300 + extension) to 100-ns units.
constexpr std::int64_t ScrToTime(std::uint64_t base, std::uint64_t ext) {
    return static_cast<std::int64_t>(base * 300 + ext) * 10 / 27;
}

} // namespace mpeg
