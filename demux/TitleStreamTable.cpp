#include "demux/TitleStreamTable.h"

namespace {
std::uint32_t Le32(const unsigned char* p) {
    return std::uint32_t(p[0]) | (std::uint32_t(p[1]) << 8) | (std::uint32_t(p[2]) << 16) |
           (std::uint32_t(p[3]) << 24);
}
} // namespace

TitleStreamTable TitleStreamTable::FromTitleRecord(const void* record, std::size_t size) {
    TitleStreamTable t;
    if (!record || size < 1304) return t;
    const auto* p = static_cast<const unsigned char*>(record);
    t.audioCount = static_cast<int>(Le32(p + 528));
    t.subtitleCount = static_cast<int>(Le32(p + 1044));
    t.audioCount = t.AudioCount();
    t.subtitleCount = t.SubtitleCount();
    for (int i = 0; i < kMaxStreams; ++i) {
        t.audioIds[i] = Le32(p + 532 + 4 * i);
        t.subtitleIds[i] = Le32(p + 1048 + 4 * i);
    }
    return t;
}
