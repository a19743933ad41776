// The IFO parsers on the authored discs' information files, whole and damaged: they read what
// was authored, and survive any damage (run under the address sanitizer to catch overreads).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <type_traits>
#include <vector>

#include "fixtures/DiscManifest.h"
#include "platform/dvd/DvdIfo.h"
#include "platform/dvd/LibDvd.h"

namespace fs = std::filesystem;

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

void WriteFile(const std::string& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

class DvdIfoTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (DiscManifest::DiscDir().empty()) GTEST_SKIP() << "DVDCONV_TEST_DISCS is not set";
        ASSERT_TRUE(manifest.Load(DiscManifest::DiscDir()));
        std::string dir = manifest.Folder("ntsc") + "/VIDEO_TS/";
        vmg = ReadFile(dir + "VIDEO_TS.IFO");
        vts1 = ReadFile(dir + "VTS_01_0.IFO");
        vts2 = ReadFile(dir + "VTS_02_0.IFO");
        ASSERT_FALSE(vmg.empty());
        ASSERT_FALSE(vts1.empty());
        ASSERT_FALSE(vts2.empty());
    }
    DiscManifest manifest;
    Bytes vmg, vts1, vts2;
};

TEST_F(DvdIfoTest, ReadsWhatWasAuthored) {
    DvdVmgIfo v;
    ASSERT_TRUE(ParseVmgIfo(vmg.data(), vmg.size(), v));
    ASSERT_EQ(int(v.titles.size()), manifest.Int("ntsc.titles"));
    EXPECT_EQ(v.titleSets, 2);
    for (int t = 0; t < int(v.titles.size()); ++t) {
        EXPECT_EQ(v.titles[t].chapters, manifest.Int(DiscManifest::Title("ntsc", t, "chapters")));
        EXPECT_EQ(v.titles[t].titleSet, manifest.Int(DiscManifest::Title("ntsc", t, "vts")));
    }

    DvdVtsIfo s;
    ASSERT_TRUE(ParseVtsIfo(vts1.data(), vts1.size(), s));
    EXPECT_EQ(s.aspect, 0); // 4:3
    ASSERT_EQ(int(s.audio.size()), manifest.Int("ntsc.title.0.audio_count"));
    EXPECT_EQ(s.audio[0].format, 0);    // AC-3
    EXPECT_EQ(s.audio[1].format, 2);    // MPEG-1 audio
    EXPECT_EQ(s.audio[0].lang, 0x656E); // "en"
    EXPECT_EQ(s.audio[1].lang, 0x6672); // "fr"
    EXPECT_EQ(s.audio[0].channels, 1);
    ASSERT_EQ(s.subpictures.size(), 1u);
    EXPECT_EQ(s.subpictures[0].lang, 0x656E);
    ASSERT_EQ(s.titles.size(), 1u);
    EXPECT_EQ(int(s.titles[0].size()), manifest.Int("ntsc.title.0.chapters"));
    ASSERT_GE(s.pgcs.size(), 1u);
    EXPECT_TRUE(s.pgcs[0].valid);
    EXPECT_EQ(s.pgcs[0].programMap.size(), s.titles[0].size());
    EXPECT_EQ(s.pgcs[0].playbackTime[3] >> 6, 3); // NTSC rate bits
    for (const DvdIfoCell& cell : s.pgcs[0].cells)
        EXPECT_LE(cell.firstSector, cell.lastSector);

    DvdVtsIfo s2;
    ASSERT_TRUE(ParseVtsIfo(vts2.data(), vts2.size(), s2));
    EXPECT_EQ(s2.titles.size(), 2u);
    ASSERT_EQ(s2.audio.size(), 1u);
    EXPECT_EQ(s2.audio[0].channels, 5);
}

TEST_F(DvdIfoTest, RejectsWhatIsNoIfo) {
    DvdVmgIfo v;
    DvdVtsIfo s;
    EXPECT_FALSE(ParseVmgIfo(vts1.data(), vts1.size(), v)); // a title set is no manager
    EXPECT_FALSE(ParseVtsIfo(vmg.data(), vmg.size(), s));
    EXPECT_FALSE(ParseVmgIfo(vmg.data(), 100, v));
    EXPECT_FALSE(ParseVmgIfo(vmg.data(), 2048, v)); // header only: the title table is cut off
    EXPECT_FALSE(ParseVtsIfo(vts1.data(), 2048, s));
    EXPECT_FALSE(ParseVmgIfo(nullptr, 0, v));
}

// Every kind of damage, many times over: flipped bytes, 0xFF and 0x00 blocks, cuts.
template <typename Ifo, typename Parse>
void Batter(const Bytes& original, Parse parse, unsigned seed) {
    std::mt19937 rng(seed);
    Ifo ifo;
    for (std::size_t cut = 0; cut <= original.size(); cut += 7) {
        Bytes b(original.begin(), original.begin() + cut); // exact size: overreads show
        parse(b.data(), b.size(), ifo);
    }
    for (std::size_t at = 0; at < original.size(); at += 64) {
        for (std::uint8_t fill : {std::uint8_t(0xFF), std::uint8_t(0x00)}) {
            Bytes b = original;
            std::fill(b.begin() + at, b.begin() + std::min(b.size(), at + 64), fill);
            parse(b.data(), b.size(), ifo);
        }
    }
    for (int i = 0; i < 3000; ++i) {
        Bytes b = original;
        int flips = 1 + int(rng() % 16);
        for (int f = 0; f < flips; ++f)
            b[rng() % b.size()] = std::uint8_t(rng());
        if (parse(b.data(), b.size(), ifo)) {
            // What a successful parse returns is consistent with itself.
            if constexpr (std::is_same_v<Ifo, DvdVtsIfo>) {
                for (const DvdIfoPgc& pgc : ifo.pgcs)
                    for (int first : pgc.programMap)
                        ASSERT_TRUE(first >= 1 && first <= int(pgc.cells.size()));
            }
        }
    }
}

TEST_F(DvdIfoTest, SurvivesDamage) {
    Batter<DvdVmgIfo>(vmg, ParseVmgIfo, 1);
    Batter<DvdVtsIfo>(vts1, ParseVtsIfo, 2);
    Batter<DvdVtsIfo>(vts2, ParseVtsIfo, 3);
}

TEST_F(DvdIfoTest, OpeningDamagedCopiesNeverCrashes) {
    char tmpl[] = "/tmp/libdvd-ifo-XXXXXX";
    std::string tmp = mkdtemp(tmpl);
    std::string copy = tmp + "/disc";
    fs::copy(manifest.Folder("ntsc"), copy, fs::copy_options::recursive);
    std::string dir = copy + "/VIDEO_TS/";
    std::mt19937 rng(4);
    int opened = 0;
    for (int i = 0; i < 60; ++i) {
        Bytes a = vmg, b = vts1, c = vts2;
        for (Bytes* f : {&a, &b, &c})
            for (int k = 0; k < 8; ++k)
                (*f)[rng() % f->size()] = std::uint8_t(rng());
        for (const char* name : {"VIDEO_TS.IFO", "VIDEO_TS.BUP"})
            WriteFile(dir + name, a);
        for (const char* name : {"VTS_01_0.IFO", "VTS_01_0.BUP"})
            WriteFile(dir + name, b);
        for (const char* name : {"VTS_02_0.IFO", "VTS_02_0.BUP"})
            WriteFile(dir + name, c);
        DvdHandle h = MyDVDOpen(copy.c_str());
        if (h == 0) continue;
        ++opened;
        // Whatever opened must read safely.
        DvdDiscInfo info;
        ASSERT_EQ(MyDVDGetInfo(h, &info), 0);
        ASSERT_LE(info.titleCount, kDvdMaxTitles);
        std::uint8_t buffer[10240];
        for (int t = 0; t < info.titleCount; ++t) {
            ASSERT_LE(info.titles[t].chapterCount, kDvdMaxChapters);
            if (MyDVDSetArea(h, t, 0) != 0) continue;
            MyDVDSeek(h, 1 << 20, 0);
            for (int r = 0; r < 4 && MyDVDRead(h, buffer, sizeof buffer) > 0; ++r) {
            }
        }
        MyDVDClose(h);
    }
    std::printf("%d of 60 damaged copies opened\n", opened);
    fs::remove_all(tmp);
}

} // namespace
