// The audio and subtitle streams a DVD title declares, as the disc description
// gives them. The parser keeps scanning until it has met every declared audio
// stream, and lists every declared subtitle stream even when none of its packets
// lies in the scanned range. All zeros means "nothing declared".
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

struct TitleStreamTable {
    static constexpr int kMaxStreams = 32;
    int audioCount = 0;
    // (PES stream id << 8) | sub-stream id, e.g. 0xBD80 for the first AC-3 stream.
    std::array<std::uint32_t, kMaxStreams> audioIds{};
    int subtitleCount = 0;
    std::array<std::uint32_t, kMaxStreams> subtitleIds{};

    // From a 1304-byte title record of the disc description (little-endian:
    // audioCount at 528, audioIds at 532, subtitleCount at 1044, subtitleIds at
    // 1048). Counts are clamped to 0..32. A shorter record gives an empty table.
    static TitleStreamTable FromTitleRecord(const void* record, std::size_t size);

    int AudioCount() const {
        return audioCount < 0 ? 0 : audioCount > kMaxStreams ? kMaxStreams : audioCount;
    }
    int SubtitleCount() const {
        return subtitleCount < 0 ? 0 : subtitleCount > kMaxStreams ? kMaxStreams : subtitleCount;
    }
};
