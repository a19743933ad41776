// Packet headers: pack, system, PES, transport, PSI and PVA. Each case gives the
// header bytes (after the start code where there is one) and the fields read.
#include <gtest/gtest.h>

#include "TestBytes.h"
#include "demux/CBaseSplitterFileEx.h"

namespace {

struct Parser {
    explicit Parser(const std::vector<std::uint8_t>& bytes)
        : reader(ReaderOf(bytes)), file(reader, hr, 65536, false, true) {}
    ComPtr<MemoryAsyncReader> reader;
    HRESULT hr = E_FAIL;
    CBaseSplitterFileEx file;
};

// 33-bit time stamp with its 4-bit prefix and three marker bits (set unless told).
Bits& Stamp(Bits& b, unsigned prefix, std::uint64_t v, int badMarker = -1) {
    b.Put(4, prefix)
        .Put(3, v >> 30)
        .Put(1, badMarker != 0)
        .Put(15, (v >> 15) & 0x7FFF)
        .Put(1, badMarker != 1);
    return b.Put(15, v & 0x7FFF).Put(1, badMarker != 2);
}

// ---- start codes -----------------------------------------------------------------------

TEST(FindStartCode, FindsWithinLimitOnly) {
    Parser p(Hex("12 00 00 00 01 BA 00"));
    BYTE code = 0;
    EXPECT_TRUE(p.file.FindStartCode(code, 100));
    EXPECT_EQ(code, 0xBA);
    EXPECT_EQ(p.file.GetPos(), 6);
    p.file.Seek(0);
    EXPECT_FALSE(p.file.FindStartCode(code, 5)); // needs 6 bytes
    p.file.Seek(0);
    EXPECT_FALSE(p.file.FindStartCode(code, 0));
    Parser none(std::vector<std::uint8_t>(1000, 0));
    EXPECT_FALSE(none.file.FindStartCode(code, 1 << 20)); // stops at the end of the data
    EXPECT_EQ(none.file.GetPos(), 1000);
}

// ---- pack header -----------------------------------------------------------------------

std::vector<std::uint8_t> Mpeg2Pack(std::uint64_t scr, unsigned ext, unsigned mux, int stuffing,
                                    int badMarker = -1) {
    Bits b;
    b.Put(2, 1)
        .Put(3, scr >> 30)
        .Put(1, badMarker != 0)
        .Put(15, (scr >> 15) & 0x7FFF)
        .Put(1, badMarker != 1);
    b.Put(15, scr & 0x7FFF).Put(1, badMarker != 2).Put(9, ext).Put(1, badMarker != 3).Put(22, mux);
    b.Put(1, badMarker != 4).Put(1, badMarker != 5).Put(5, 0x1F).Put(3, stuffing);
    for (int i = 0; i < stuffing; ++i)
        b.Put(8, 0xFF);
    return b.Put(8, 0xAA).Done();
}

std::vector<std::uint8_t> Mpeg1Pack(std::uint64_t scr, unsigned mux, int badMarker = -1) {
    Bits b;
    Stamp(b, 2, scr, badMarker);
    return b.Put(1, badMarker != 3).Put(22, mux).Put(1, badMarker != 4).Put(8, 0xAA).Done();
}

TEST(PackHeader, Cases) {
    struct Case {
        const char* name;
        std::vector<std::uint8_t> bytes;
        bool ok;
        int version;
        std::int64_t scr;
        std::uint32_t bitrate;
    };
    const Case cases[] = {
        {"MPEG-2 DVD pack", Mpeg2Pack(0, 0, 25200, 0), true, 2, 0, 10080000},
        {"MPEG-2 SCR 1 s + 150 ticks", Mpeg2Pack(90000, 150, 25200, 0), true, 2, 10000055,
         10080000},
        {"MPEG-2 with 3 stuffing bytes", Mpeg2Pack(90000, 0, 1, 3), true, 2, 10000000, 400},
        {"MPEG-1 pack", Mpeg1Pack(90000, 3528), true, 1, 10000000, 1411200},
        {"first byte fits neither", Hex("80 00 00 00 00 00 00 00 00 00"), false, 0, 0, 0},
    };
    for (const Case& c : cases) {
        Parser p(c.bytes);
        PackHeader h;
        EXPECT_EQ(p.file.ReadPackHeader(h), c.ok) << c.name;
        if (!c.ok) continue;
        EXPECT_EQ(h.version, c.version) << c.name;
        EXPECT_EQ(h.scr, c.scr) << c.name;
        EXPECT_EQ(h.bitrate, c.bitrate) << c.name;
        EXPECT_EQ(p.file.ReadBits(8), 0xAAu) << c.name << ": position after the header";
    }
    for (int marker = 0; marker < 6; ++marker) {
        Parser p(Mpeg2Pack(90000, 0, 25200, 0, marker));
        PackHeader h;
        EXPECT_FALSE(p.file.ReadPackHeader(h)) << "MPEG-2 marker " << marker;
    }
    for (int marker = 0; marker < 5; ++marker) {
        Parser p(Mpeg1Pack(90000, 3528, marker));
        PackHeader h;
        EXPECT_FALSE(p.file.ReadPackHeader(h)) << "MPEG-1 marker " << marker;
    }
}

// ---- system header ---------------------------------------------------------------------

TEST(SystemHeader, ReadsEveryStreamEntry) {
    // Length 12: 6 fixed bytes and two 3-byte entries (E0 with 232 kB, BD with 58 kB).
    Bits b;
    b.Put(16, 12)
        .Put(1, 1)
        .Put(22, 25200)
        .Put(1, 1)
        .Put(6, 1)
        .Put(4, 0b0100)
        .Put(1, 1)
        .Put(5, 1)
        .Put(8, 0xFF);
    b.Put(8, 0xE0)
        .Put(2, 3)
        .Put(1, 1)
        .Put(13, 232)
        .Put(8, 0xBD)
        .Put(2, 3)
        .Put(1, 1)
        .Put(13, 58)
        .Put(8, 0xAA);
    Parser p(b.Done());
    SystemHeader h;
    ASSERT_TRUE(p.file.ReadSystemHeader(h));
    EXPECT_EQ(h.rateBound, 25200u);
    EXPECT_EQ(h.audioBound, 1);
    EXPECT_EQ(h.videoBound, 1);
    ASSERT_EQ(h.streamCount, 2);
    EXPECT_EQ(h.streams[1].streamId, 0xBD);
    EXPECT_EQ(h.streams[1].bufferBound, 58u * 1024);
    EXPECT_EQ(p.file.ReadBits(8), 0xAAu);

    Bits bad;
    bad.Put(16, 6).Put(1, 0).Put(22, 25200).Put(1, 1).Put(6, 1).Put(4, 0).Put(1, 1).Put(5, 1).Put(
        8, 0xFF);
    Parser q(bad.Done());
    EXPECT_FALSE(q.file.ReadSystemHeader(h));
}

// ---- PES header ------------------------------------------------------------------------

struct Mpeg2Pes {
    unsigned length = 2048;
    unsigned scrambling = 0;
    unsigned ptsFlags = 2; // 2 PTS, 3 PTS + DTS
    unsigned headerLength = 5;
    std::uint64_t pts = 90000, dts = 0;
    unsigned ptsPrefix = 0; // 0: the right one
    int badMarker = -1;
    std::vector<std::uint8_t> Bytes() const {
        Bits b;
        b.Put(16, length)
            .Put(2, 2)
            .Put(2, scrambling)
            .Put(4, 0b1000)
            .Put(2, ptsFlags)
            .Put(6, 0)
            .Put(8, headerLength);
        int used = 0;
        if (ptsFlags & 2) {
            Stamp(b, ptsPrefix ? ptsPrefix : (ptsFlags == 3 ? 3 : 2), pts, badMarker);
            used += 5;
        }
        if (ptsFlags & 1) {
            Stamp(b, 1, dts);
            used += 5;
        }
        for (int i = used; i < static_cast<int>(headerLength); ++i)
            b.Put(8, 0xFF);
        return b.Put(8, 0xAA).Zeros(8).Done();
    }
};

TEST(PesHeader, Mpeg2Cases) {
    struct Case {
        const char* name;
        Mpeg2Pes pes;
        bool ok;
        int length;
        std::int64_t pts, dts;
    };
    auto with = [](auto f) {
        Mpeg2Pes p;
        f(p);
        return p;
    };
    const Case cases[] = {
        {"PTS of 1 s", Mpeg2Pes{}, true, 2048 - 8, 10000000, 0},
        {"PTS and DTS",
         with([](Mpeg2Pes& p) { p.ptsFlags = 3, p.headerLength = 10, p.dts = 45000; }), true,
         2048 - 13, 10000000, 5000000},
        {"largest PTS", with([](Mpeg2Pes& p) { p.pts = 0x1FFFFFFFFull; }), true, 2040, 954437176777,
         0},
        {"no time stamps, 2 header bytes skipped",
         with([](Mpeg2Pes& p) { p.ptsFlags = 0, p.headerLength = 2; }), true, 2048 - 5, 0, 0},
        {"extra header bytes skipped", with([](Mpeg2Pes& p) { p.headerLength = 9; }), true,
         2048 - 12, 10000000, 0},
        {"scrambled packet is read", with([](Mpeg2Pes& p) { p.scrambling = 1; }), true, 2040,
         10000000, 0},
        {"PTS prefix 0011 without DTS", with([](Mpeg2Pes& p) { p.ptsPrefix = 3; }), false, 0, 0, 0},
        {"PTS marker 0", with([](Mpeg2Pes& p) { p.badMarker = 0; }), false, 0, 0, 0},
        {"PTS marker 1", with([](Mpeg2Pes& p) { p.badMarker = 1; }), false, 0, 0, 0},
        {"PTS marker 2", with([](Mpeg2Pes& p) { p.badMarker = 2; }), false, 0, 0, 0},
        {"header shorter than its PTS", with([](Mpeg2Pes& p) { p.headerLength = 3; }), false, 0, 0,
         0},
        {"header longer than the packet", with([](Mpeg2Pes& p) { p.length = 6; }), false, 0, 0, 0},
    };
    for (const Case& c : cases) {
        Parser p(c.pes.Bytes());
        PesHeader h;
        ASSERT_EQ(p.file.ReadPesHeader(h, 0xE0), c.ok) << c.name;
        if (!c.ok) continue;
        EXPECT_EQ(h.version, 2) << c.name;
        EXPECT_EQ(h.length, c.length) << c.name;
        EXPECT_EQ(h.hasPts, (c.pes.ptsFlags & 2) != 0) << c.name;
        if (h.hasPts) {
            EXPECT_EQ(h.pts, c.pts) << c.name;
        }
        if (h.hasDts) {
            EXPECT_EQ(h.dts, c.dts) << c.name;
        }
        EXPECT_EQ(h.scrambling, c.pes.scrambling) << c.name;
        EXPECT_EQ(p.file.ReadBits(8), 0xAAu) << c.name << ": position after the header";
    }
}

TEST(PesHeader, Mpeg1Cases) {
    auto stamp = [](unsigned prefix, std::uint64_t v) {
        Bits b;
        Stamp(b, prefix, v);
        return b.Done();
    };
    auto cat = [](std::vector<std::vector<std::uint8_t>> parts) {
        std::vector<std::uint8_t> out;
        for (auto& p : parts)
            out.insert(out.end(), p.begin(), p.end());
        out.push_back(0xAA);
        out.resize(out.size() + 8);
        return out;
    };
    struct Case {
        const char* name;
        std::vector<std::uint8_t> bytes;
        bool ok;
        int length;
        bool pts;
        int bufferSize;
    };
    const Case cases[] = {
        {"no time stamps", cat({Hex("00 64 0F")}), true, 99, false, 0},
        {"PTS", cat({Hex("00 64"), stamp(2, 90000)}), true, 95, true, 0},
        {"PTS and DTS", cat({Hex("00 64"), stamp(3, 90000), stamp(1, 90000)}), true, 90, true, 0},
        {"STD buffer then PTS", cat({Hex("00 64 60 2E"), stamp(2, 90000)}), true, 93, true,
         46 * 1024},
        {"two stuffing bytes", cat({Hex("00 64 FF FF 0F")}), true, 97, false, 0},
        {"0000 not followed by 1111", cat({Hex("00 64 00")}), false, 0, false, 0},
        {"only stuffing", cat({Hex("00 64"), std::vector<std::uint8_t>(20, 0xFF)}), false, 0, false,
         0},
        {"shorter than its header", cat({Hex("00 02"), stamp(2, 90000)}), false, 0, false, 0},
    };
    for (const Case& c : cases) {
        Parser p(c.bytes);
        PesHeader h;
        ASSERT_EQ(p.file.ReadPesHeader(h, 0xC0), c.ok) << c.name;
        if (!c.ok) continue;
        EXPECT_EQ(h.version, 1) << c.name;
        EXPECT_EQ(h.length, c.length) << c.name;
        EXPECT_EQ(h.hasPts, c.pts) << c.name;
        if (c.pts) {
            EXPECT_EQ(h.pts, 10000000) << c.name;
        }
        EXPECT_EQ(h.bufferSize, c.bufferSize) << c.name;
        EXPECT_EQ(p.file.ReadBits(8), 0xAAu) << c.name;
    }
}

TEST(PesHeader, StreamIds) {
    for (unsigned id = 0; id < 256; ++id) {
        Parser p(Hex("00 10 0F AA"));
        PesHeader h;
        bool accepted = (id >= 0xBD && id <= 0xEF) || id == 0xFD;
        EXPECT_EQ(p.file.ReadPesHeader(h, static_cast<BYTE>(id)), accepted) << std::hex << id;
        if (id == 0xBE || id == 0xBF) {
            EXPECT_EQ(h.length, 16) << "padding and private stream 2 keep the whole length";
            EXPECT_EQ(p.file.GetPos(), 2);
        }
    }
}

// ---- transport stream ------------------------------------------------------------------

std::vector<std::uint8_t> TsPacket(unsigned pid, bool start, int adaptation = -1,
                                   std::uint64_t pcr = 0) {
    Bits b;
    b.Put(8, 0x47)
        .Put(1, 0)
        .Put(1, start)
        .Put(1, 0)
        .Put(13, pid)
        .Put(2, 0)
        .Put(1, adaptation >= 0)
        .Put(1, 1)
        .Put(4, 0);
    int used = 4;
    if (adaptation >= 0) {
        b.Put(8, adaptation);
        ++used;
        if (adaptation > 0) {
            b.Put(8, pcr ? 0x10 : 0);
            ++used;
            if (pcr) {
                b.Put(33, pcr).Put(6, 0x3F).Put(9, 0);
                used += 6;
            }
            int rest = adaptation - (pcr ? 7 : 1);
            for (int i = 0; i < rest; ++i, ++used)
                b.Put(8, 0xFF);
        }
    }
    b.Put(8, 0xAA);
    ++used;
    for (; used < 188; ++used)
        b.Put(8, 0);
    auto v = b.Done();
    v.resize(188);
    return v;
}

std::vector<std::uint8_t> Join(const std::vector<std::vector<std::uint8_t>>& parts) {
    std::vector<std::uint8_t> out;
    for (auto& p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

TEST(TsHeader, FieldsAdaptationAndPcr) {
    Parser p(
        Join({TsPacket(0x100, true, 7, 90000), TsPacket(0x101, false), TsPacket(0x101, false)}));
    TsHeader h;
    ASSERT_TRUE(p.file.ReadTsHeader(h, true));
    EXPECT_EQ(p.file.TsPacketSize(), 188);
    EXPECT_EQ(h.pid, 0x100);
    EXPECT_TRUE(h.payloadStart);
    EXPECT_TRUE(h.hasPcr);
    EXPECT_EQ(h.pcr, 10000000);
    EXPECT_EQ(h.payloadBytes, 184 - 8);
    EXPECT_EQ(h.next, 188);
    EXPECT_EQ(p.file.ReadBits(8), 0xAAu);
    p.file.Seek(h.next);
    ASSERT_TRUE(p.file.ReadTsHeader(h, false));
    EXPECT_EQ(h.pid, 0x101);
    EXPECT_EQ(h.payloadBytes, 184);
}

TEST(TsHeader, BadAdaptationLengthsFail) {
    // 184 leaves -1 payload bytes; a PCR flag in a 1-byte field does not fit.
    for (int len : {184, 250}) {
        Parser p(
            Join({TsPacket(0x100, true, len), TsPacket(0x100, false), TsPacket(0x100, false)}));
        TsHeader h;
        EXPECT_FALSE(p.file.ReadTsHeader(h, true)) << len;
    }
    auto packet = TsPacket(0x100, true, 1);
    packet[5] = 0x10; // PCR flag with no room for a PCR
    Parser p(Join({packet, TsPacket(0x100, false), TsPacket(0x100, false)}));
    TsHeader h;
    EXPECT_FALSE(p.file.ReadTsHeader(h, true));
}

TEST(TsHeader, ResyncSkipsACorruptSyncByte) {
    auto data = Join({TsPacket(0x100, false), TsPacket(0x101, false), TsPacket(0x102, false),
                      TsPacket(0x103, false)});
    data[188] = 0x46;
    Parser p(data);
    TsHeader h;
    ASSERT_TRUE(p.file.ReadTsHeader(h, true));
    EXPECT_EQ(h.pid, 0x100);
    p.file.Seek(h.next);
    TsHeader noResync;
    EXPECT_FALSE(p.file.ReadTsHeader(noResync, false));
    p.file.Seek(h.next);
    ASSERT_TRUE(p.file.ReadTsHeader(h, true));
    EXPECT_EQ(h.pid, 0x102);
}

TEST(TsHeader, PacketSizeOf192) {
    std::vector<std::uint8_t> data;
    for (int i = 0; i < 4; ++i) {
        data.insert(data.end(), {0, 0, 0, 0});
        auto pkt = TsPacket(0x100 + i, false);
        data.insert(data.end(), pkt.begin(), pkt.end());
    }
    Parser p(data);
    TsHeader h;
    ASSERT_TRUE(p.file.ReadTsHeader(h, true));
    EXPECT_EQ(p.file.TsPacketSize(), 192);
    EXPECT_EQ(h.next, 4 + 192);
}

TEST(PsiHeader, ValidOnlyWithSyntaxBitAndZeroBit) {
    // pointer 1 (one byte skipped), table 0, syntax 1, zero 0, length 13, tsid 1, version 0,
    // current 1, section 0/0.
    Parser ok(Hex("01 FF 00 B0 0D 00 01 C1 00 00"));
    PsiHeader h;
    ASSERT_TRUE(ok.file.ReadPsiHeader(h));
    EXPECT_EQ(h.tableId, 0);
    EXPECT_EQ(h.sectionLength, 13);
    EXPECT_EQ(h.transportStreamId, 1);
    EXPECT_TRUE(h.currentNext);
    Parser noSyntax(Hex("00 00 30 0D 00 01 C1 00 00"));
    EXPECT_FALSE(noSyntax.file.ReadPsiHeader(h));
    Parser zeroSet(Hex("00 00 F0 0D 00 01 C1 00 00"));
    EXPECT_FALSE(zeroSet.file.ReadPsiHeader(h));
}

// ---- PVA -------------------------------------------------------------------------------

TEST(PvaHeader, VideoWithPtsAndResync) {
    // Garbage, then a video packet: "AV", stream 1, counter, 0x55, PTS flag, length 8 (4 PTS + 4
    // data).
    auto data = Hex("12 34 56 41 56 01 00 55 10 00 08 00 01 5F 90 DE AD BE EF");
    Parser p(data);
    PvaHeader h;
    ASSERT_TRUE(p.file.ReadPvaHeader(h, true));
    EXPECT_EQ(h.offset, 3);
    EXPECT_EQ(h.streamId, 1);
    EXPECT_TRUE(h.hasPts);
    EXPECT_EQ(h.pts, 10000000);
    EXPECT_EQ(h.length, 4);
    EXPECT_EQ(p.file.ReadBits(8), 0xDEu);

    Parser tooLong(Hex("41 56 02 00 55 00 17 F9")); // 6137 bytes
    EXPECT_FALSE(tooLong.file.ReadPvaHeader(h, false));
    Parser none(std::vector<std::uint8_t>(100, 0x41));
    EXPECT_FALSE(none.file.ReadPvaHeader(h, true));
}

} // namespace
