#include "platform/dvd/DvdIfo.h"

#include <algorithm>
#include <cstring>

#include "platform/win/DebugTrace.h"

namespace {

// Bounded big-endian reads over one buffer; a read past the end gives 0 and marks failure.
class Bytes {
public:
    Bytes(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    bool Has(std::uint64_t offset, std::uint64_t length) const {
        return offset <= size_ && length <= size_ - offset;
    }
    std::uint8_t U8(std::uint64_t at) {
        if (!Has(at, 1)) return Fail();
        return data_[at];
    }
    std::uint16_t U16(std::uint64_t at) {
        if (!Has(at, 2)) return Fail();
        return std::uint16_t(data_[at] << 8 | data_[at + 1]);
    }
    std::uint32_t U32(std::uint64_t at) {
        if (!Has(at, 4)) return Fail();
        return std::uint32_t(data_[at]) << 24 | std::uint32_t(data_[at + 1]) << 16 |
               std::uint32_t(data_[at + 2]) << 8 | data_[at + 3];
    }
    bool Ok() const { return ok_; }
    void ResetOk() { ok_ = true; }
    std::size_t Size() const { return size_; }

private:
    std::uint8_t Fail() {
        ok_ = false;
        return 0;
    }
    const std::uint8_t* data_;
    std::size_t size_;
    bool ok_ = true;
};

// A table that starts at a sector named in the header: (count at +0, last byte at +4). Its
// end is the last byte + 1, clipped to the file.
struct Table {
    std::uint64_t start = 0;
    std::uint64_t end = 0;
};

bool LocateTable(Bytes& b, std::uint32_t sector, Table& t) {
    t.start = std::uint64_t(sector) * 2048;
    if (sector == 0 || !b.Has(t.start, 8)) return false;
    std::uint64_t last = b.U32(t.start + 4);
    t.end = std::min<std::uint64_t>(t.start + last + 1, b.Size());
    return t.end > t.start + 8;
}

bool ParsePgc(Bytes& b, std::uint64_t at, std::uint64_t tableEnd, DvdIfoPgc& pgc) {
    constexpr std::uint64_t kHeader = 236; // up to and including cell_position_offset
    if (at + kHeader > tableEnd || !b.Has(at, kHeader)) return false;
    int programs = b.U8(at + 2);
    int cells = b.U8(at + 3);
    for (int i = 0; i < 4; ++i)
        pgc.playbackTime[i] = b.U8(at + 4 + i);
    for (int i = 0; i < 8; ++i)
        pgc.audioControl[i] = b.U16(at + 12 + 2 * i);
    for (int i = 0; i < 32; ++i)
        pgc.subpictureControl[i] = b.U32(at + 28 + 4 * i);
    for (int i = 0; i < 16; ++i)
        pgc.palette[i] = b.U32(at + 0xA4 + 4 * i) & 0x00FFFFFFu;
    std::uint64_t mapAt = at + b.U16(at + 230);
    std::uint64_t cellAt = at + b.U16(at + 232);
    if (programs == 0 || cells == 0) return b.Ok(); // a PGC without content (dummy)
    if (mapAt + programs > tableEnd || cellAt + 24ULL * cells > tableEnd) return false;
    for (int p = 0; p < programs; ++p) {
        int first = b.U8(mapAt + p);
        if (first < 1 || first > cells) return false;
        if (!pgc.programMap.empty() && first <= pgc.programMap.back()) return false;
        pgc.programMap.push_back(first);
    }
    for (int c = 0; c < cells; ++c) {
        std::uint64_t cp = cellAt + 24ULL * c;
        std::uint8_t flags = b.U8(cp);
        DvdIfoCell cell;
        cell.blockMode = flags >> 6;
        cell.blockType = (flags >> 4) & 3;
        cell.firstSector = b.U32(cp + 8);
        cell.lastSector = b.U32(cp + 20);
        pgc.cells.push_back(cell);
    }
    return b.Ok();
}

} // namespace

bool ParseVmgIfo(const std::uint8_t* data, std::size_t size, DvdVmgIfo& out) {
    out = {};
    Bytes b(data, size);
    if (size < 0x100 || std::memcmp(data, "DVDVIDEO-VMG", 12) != 0) {
        DebugTrace("libDvd: VIDEO_TS.IFO is no video manager\n");
        return false;
    }
    out.titleSets = b.U16(0x3E);
    Table t;
    if (!LocateTable(b, b.U32(0xC4), t)) {
        DebugTrace("libDvd: VIDEO_TS.IFO: no title table\n");
        return false;
    }
    int count = b.U16(t.start);
    for (int i = 0; i < count; ++i) {
        std::uint64_t at = t.start + 8 + 12ULL * i;
        if (at + 12 > t.end) {
            DebugTrace("libDvd: VIDEO_TS.IFO: title table holds %d of %d titles\n", i, count);
            break;
        }
        DvdIfoTitle title;
        title.chapters = b.U16(at + 2);
        title.titleSet = b.U8(at + 6);
        title.vtsTitle = b.U8(at + 7);
        out.titles.push_back(title);
    }
    if (out.titles.empty() || out.titleSets < 1 || out.titleSets > 99 || !b.Ok()) {
        DebugTrace("libDvd: VIDEO_TS.IFO: empty or damaged title table\n");
        return false;
    }
    return true;
}

bool ParseVtsIfo(const std::uint8_t* data, std::size_t size, DvdVtsIfo& out) {
    out = {};
    Bytes b(data, size);
    if (size < 0x400 || std::memcmp(data, "DVDVIDEO-VTS", 12) != 0) {
        DebugTrace("libDvd: title set IFO is no title set\n");
        return false;
    }
    out.aspect = (b.U8(0x200) >> 2) & 3;
    int audio = std::min<int>(b.U8(0x203), 8);
    for (int i = 0; i < audio; ++i) {
        std::uint64_t at = 0x204 + 8ULL * i;
        DvdIfoAudio a;
        a.format = b.U8(at) >> 5;
        a.langType = (b.U8(at) >> 2) & 3;
        a.channels = b.U8(at + 1) & 7;
        a.lang = b.U16(at + 2);
        out.audio.push_back(a);
    }
    int subpictures = std::min<int>(b.U8(0x255), 32);
    for (int i = 0; i < subpictures; ++i) {
        std::uint64_t at = 0x256 + 6ULL * i;
        DvdIfoSubpicture s;
        s.langType = b.U8(at) & 3;
        s.lang = b.U16(at + 2);
        out.subpictures.push_back(s);
    }

    // Chapter table: per title, an offset to its run of (pgcn, pgn) pairs.
    Table ptt;
    if (!LocateTable(b, b.U32(0xC8), ptt)) {
        DebugTrace("libDvd: title set IFO: no chapter table\n");
        return false;
    }
    int titles = b.U16(ptt.start);
    std::vector<std::uint64_t> starts;
    for (int i = 0; i < titles && ptt.start + 8 + 4ULL * i + 4 <= ptt.end; ++i)
        starts.push_back(ptt.start + b.U32(ptt.start + 8 + 4ULL * i));
    for (std::size_t i = 0; i < starts.size(); ++i) {
        std::uint64_t from = starts[i];
        std::uint64_t to = i + 1 < starts.size() ? starts[i + 1] : ptt.end;
        to = std::min(to, ptt.end);
        std::vector<DvdIfoPart> parts;
        for (std::uint64_t at = from; at + 4 <= to && from >= ptt.start + 8; at += 4)
            parts.push_back({b.U16(at), b.U16(at + 2)});
        out.titles.push_back(std::move(parts));
    }

    // Program chain table.
    Table pgcit;
    if (!LocateTable(b, b.U32(0xCC), pgcit)) {
        DebugTrace("libDvd: title set IFO: no program chain table\n");
        return false;
    }
    int pgcs = b.U16(pgcit.start);
    for (int i = 0; i < pgcs; ++i) {
        std::uint64_t entry = pgcit.start + 8 + 8ULL * i;
        if (entry + 8 > pgcit.end) {
            DebugTrace("libDvd: title set IFO: table holds %d of %d program chains\n", i, pgcs);
            break;
        }
        DvdIfoPgc pgc;
        std::uint64_t at = pgcit.start + b.U32(entry + 4);
        Bytes local = b;
        local.ResetOk();
        pgc.valid = ParsePgc(local, at, pgcit.end, pgc);
        if (!pgc.valid) {
            DebugTrace("libDvd: title set IFO: program chain %d damaged\n", i + 1);
            pgc = DvdIfoPgc{};
        }
        out.pgcs.push_back(std::move(pgc));
    }
    if (!b.Ok() || out.titles.empty() || out.pgcs.empty()) {
        DebugTrace("libDvd: title set IFO: damaged tables\n");
        return false;
    }
    return true;
}
