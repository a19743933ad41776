// libDvd over the discs authored by tests/fixtures/make_discs.sh: the description agrees with
// the manifest, reads deliver exactly the cells' sectors, seeks land on the right sector, and
// bad inputs fail cleanly.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <thread>
#include <vector>

extern "C" {
#include <dvdread/dvd_reader.h>
#include <dvdread/ifo_read.h>
#include <dvdread/ifo_types.h>
}

#include "fixtures/DiscManifest.h"
#include "platform/dvd/LibDvd.h"

namespace fs = std::filesystem;

namespace {

using Bytes = std::vector<std::uint8_t>;

class LibDvdDiscTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (DiscManifest::DiscDir().empty()) GTEST_SKIP() << "DVDCONV_TEST_DISCS is not set";
        ASSERT_TRUE(manifest.Load(DiscManifest::DiscDir()))
            << "no manifest in " << DiscManifest::DiscDir() << " (run make_discs.sh)";
    }
    DiscManifest manifest;
};

// Real length of the authored content, and the tolerance for the IFO's length: dvdauthor's
// cell times may end a frame or two after the last picture.
double ManifestMs(const DiscManifest& m, const std::string& disc, int t) {
    return double(m.Int(DiscManifest::Title(disc, t, "duration_ms")));
}

std::string LanguageText(std::int32_t code) {
    if (code == 0) return "--";
    return {char(code >> 8), char(code & 0xFF)};
}

// Every title of `disc` as reported by the open handle, checked against the manifest, with a
// table of both printed for the log.
void ExpectInfoMatches(const DiscManifest& m, const std::string& disc, const DvdDiscInfo& info,
                       const std::string& opened) {
    ASSERT_EQ(info.titleCount, m.Int(disc + ".titles")) << opened;
    std::printf("%s (%s)\n", disc.c_str(), opened.c_str());
    std::printf("  %-24s %-30s %s\n", "item", "manifest", "MyDVDGetInfo");
    for (int t = 0; t < info.titleCount; ++t) {
        const DvdTitleInfo& ti = info.titles[t];
        double want = ManifestMs(m, disc, t);
        double frameMs =
            m.Str(DiscManifest::Title(disc, t, "frame_rate")) == "25" ? 40.0 : 1001.0 / 30;
        std::printf("  title %d length ms        %-30.1f %.1f\n", t, want, ti.durationMs);
        std::printf("  title %d chapters         %-30lld %d\n", t,
                    (long long)m.Int(DiscManifest::Title(disc, t, "chapters")), ti.chapterCount);
        EXPECT_GE(ti.durationMs, want - 0.5) << disc << " title " << t;
        EXPECT_LE(ti.durationMs, want + 2 * frameMs + 0.5) << disc << " title " << t;
        // The description lists at most 64 chapters.
        EXPECT_EQ(ti.chapterCount,
                  std::min<std::int64_t>(m.Int(DiscManifest::Title(disc, t, "chapters")), 64))
            << disc << " title " << t;
        for (int c = 0; c < ti.chapterCount; ++c)
            EXPECT_GT(ti.chapterSectors[c], 0u) << disc << " title " << t << " chapter " << c;

        int audio = int(m.Int(DiscManifest::Title(disc, t, "audio_count")));
        ASSERT_EQ(ti.audioCount, audio) << disc << " title " << t;
        for (int a = 0; a < audio; ++a) {
            auto key = [&](const char* k) { return DiscManifest::Audio(disc, t, a, k); };
            std::int32_t wantChannels = std::int32_t(m.Int(key("channels")) - 1);
            std::printf("  title %d audio %d            %-6s %s 0x%04llX fmt %lld ch %-5d"
                        "%s 0x%04X fmt %d ch %d\n",
                        t, a, m.Str(key("format")).c_str(), m.Str(key("lang")).c_str(),
                        (long long)m.Int(key("id")), (long long)m.Int(key("format_code")),
                        wantChannels, LanguageText(ti.audioLanguages[a]).c_str(),
                        unsigned(ti.audioIds[a]), ti.audioFormats[a], ti.audioChannels[a]);
            EXPECT_EQ(ti.audioIds[a], m.Int(key("id"))) << disc << " title " << t << " audio " << a;
            EXPECT_EQ(ti.audioFormats[a], m.Int(key("format_code")));
            EXPECT_EQ(ti.audioChannels[a], wantChannels);
            EXPECT_EQ(ti.audioLanguages[a], DiscManifest::PackLanguage(m.Str(key("lang"))));
        }
        int subs = int(m.Int(DiscManifest::Title(disc, t, "subtitle_count")));
        ASSERT_EQ(ti.subtitleCount, subs) << disc << " title " << t;
        for (int s = 0; s < subs; ++s) {
            auto key = [&](const char* k) { return DiscManifest::Subtitle(disc, t, s, k); };
            std::printf("  title %d subtitle %d         %s 0x%04llX%-20s %s 0x%04X\n", t, s,
                        m.Str(key("lang")).c_str(), (long long)m.Int(key("id")), "",
                        LanguageText(ti.subtitleLanguages[s]).c_str(), unsigned(ti.subtitleIds[s]));
            EXPECT_EQ(ti.subtitleIds[s], m.Int(key("id")));
            EXPECT_EQ(ti.subtitleLanguages[s], DiscManifest::PackLanguage(m.Str(key("lang"))));
        }
    }
    for (int t = info.titleCount; t < kDvdMaxTitles; ++t) {
        EXPECT_EQ(info.titles[t].chapterCount, 0);
        EXPECT_EQ(info.titles[t].durationMs, 0.0);
    }
}

// Reads the current area to its end.
Bytes ReadAll(DvdHandle h, int chunk = 10240) {
    Bytes out;
    Bytes buffer(chunk);
    for (;;) {
        int n = MyDVDRead(h, buffer.data(), chunk);
        EXPECT_GE(n, 0);
        if (n <= 0) break;
        EXPECT_EQ(n % 2048, 0);
        EXPECT_LE(n, chunk);
        out.insert(out.end(), buffer.begin(), buffer.begin() + n);
    }
    return out;
}

// What the title's cells hold, found without libDvd: the cells' sector ranges from the IFO
// (libdvdread's parser), the bytes from the VOB files of the folder read directly.
Bytes CellBytes(const std::string& folder, int title, int firstChapter, int endChapter) {
    Bytes out;
    static const dvd_logger_cb quiet = {[](void*, dvd_logger_level_t, const char*, va_list) {}};
    dvd_reader_t* dvd = DVDOpen2(nullptr, &quiet, folder.c_str());
    EXPECT_NE(dvd, nullptr);
    if (!dvd) return out;
    ifo_handle_t* vmg = ifoOpen(dvd, 0);
    EXPECT_NE(vmg, nullptr);
    const title_info_t& entry = vmg->tt_srpt->title[title];
    ifo_handle_t* vts = ifoOpen(dvd, entry.title_set_nr);
    const ttu_t& ttu = vts->vts_ptt_srpt->title[entry.vts_ttn - 1];
    std::vector<std::pair<std::uint32_t, std::uint32_t>> ranges;
    for (int c = firstChapter; c < std::min<int>(endChapter, ttu.nr_of_ptts); ++c) {
        const pgc_t* pgc = vts->vts_pgcit->pgci_srp[ttu.ptt[c].pgcn - 1].pgc;
        int first = pgc->program_map[ttu.ptt[c].pgn - 1];
        int last = ttu.ptt[c].pgn < pgc->nr_of_programs ? pgc->program_map[ttu.ptt[c].pgn] - 1
                                                        : pgc->nr_of_cells;
        for (int cell = first; cell <= last; ++cell) {
            const cell_playback_t& cp = pgc->cell_playback[cell - 1];
            if (cp.block_type == BLOCK_TYPE_ANGLE_BLOCK && cp.block_mode != BLOCK_MODE_FIRST_CELL)
                continue;
            ranges.emplace_back(cp.first_sector, cp.last_sector);
        }
    }
    int set = entry.title_set_nr;
    ifoClose(vts);
    ifoClose(vmg);
    DVDClose(dvd);

    // The title set's VOBs VTS_nn_1.VOB .. VTS_nn_9.VOB form one run of sectors.
    Bytes vobs;
    for (int part = 1; part <= 9; ++part) {
        char name[32];
        std::snprintf(name, sizeof name, "/VIDEO_TS/VTS_%02d_%d.VOB", set, part);
        std::error_code ec;
        std::uintmax_t size = fs::file_size(folder + name, ec);
        if (ec) break;
        std::ifstream in(folder + name, std::ios::binary);
        std::size_t at = vobs.size();
        vobs.resize(at + size);
        in.read(reinterpret_cast<char*>(vobs.data() + at), std::streamsize(size));
    }
    for (auto [first, last] : ranges) {
        EXPECT_LE((std::uint64_t(last) + 1) * 2048, vobs.size());
        if ((std::uint64_t(last) + 1) * 2048 > vobs.size()) break;
        out.insert(out.end(), vobs.begin() + std::size_t(first) * 2048,
                   vobs.begin() + (std::size_t(last) + 1) * 2048);
    }
    return out;
}

// Stream ids (numbered as in DvdDiscInfo) of the PES packets in a run of 2048-byte packs.
std::set<std::int32_t> StreamIdsIn(const Bytes& ps) {
    std::set<std::int32_t> ids;
    for (std::size_t pack = 0; pack + 2048 <= ps.size(); pack += 2048) {
        const std::uint8_t* p = ps.data() + pack;
        if (p[0] != 0 || p[1] != 0 || p[2] != 1 || p[3] != 0xBA) continue;
        std::size_t i = 14 + (p[13] & 7);
        while (i + 6 <= 2048 && p[i] == 0 && p[i + 1] == 0 && p[i + 2] == 1) {
            std::uint8_t sid = p[i + 3];
            std::size_t len = std::size_t(p[i + 4]) << 8 | p[i + 5];
            if (sid == 0xBD && i + 9 < 2048) {
                std::size_t sub = i + 9 + p[i + 8];
                if (sub < 2048) ids.insert(0xBD00 | p[sub]);
            } else if ((sid & 0xE0) == 0xC0 || (sid & 0xF0) == 0xE0) {
                ids.insert(std::int32_t(sid) << 8);
            }
            i += 6 + len;
        }
    }
    return ids;
}

TEST_F(LibDvdDiscTest, InfoMatchesManifestForEveryWayOfOpening) {
    struct Way {
        std::string disc, path;
    };
    std::vector<Way> ways = {
        {"ntsc", manifest.Folder("ntsc")},
        {"ntsc", manifest.Folder("ntsc") + "/VIDEO_TS"},
        {"ntsc", manifest.Folder("ntsc") + "/VIDEO_TS/"},
        {"ntsc", manifest.Folder("ntsc") + "/VIDEO_TS/VIDEO_TS.IFO"},
        {"ntsc", manifest.Iso("ntsc")},
        {"pal", manifest.Folder("pal")},
    };
    if (manifest.Has("long.folder")) ways.push_back({"long", manifest.Folder("long")});
    for (const Way& way : ways) {
        SCOPED_TRACE(way.path);
        DvdHandle h = MyDVDOpen(way.path.c_str());
        ASSERT_NE(h, 0u);
        auto info = std::make_unique<DvdDiscInfo>();
        std::memset(info.get(), 0xAB, sizeof(DvdDiscInfo));
        ASSERT_EQ(MyDVDGetInfo(h, info.get()), 0);
        ExpectInfoMatches(manifest, way.disc, *info, way.path);
        MyDVDClose(h);
        EXPECT_EQ(MyDVDGetInfo(h, info.get()), -1) << "closed handle still answers";
    }
}

TEST_F(LibDvdDiscTest, ReportedIdsAreTheIdsInTheVobs) {
    for (std::string disc : {"ntsc", "pal"}) {
        DvdHandle h = MyDVDOpen(manifest.Folder(disc).c_str());
        ASSERT_NE(h, 0u);
        DvdDiscInfo info;
        ASSERT_EQ(MyDVDGetInfo(h, &info), 0);
        for (int t = 0; t < info.titleCount; ++t) {
            SCOPED_TRACE(disc + " title " + std::to_string(t));
            ASSERT_EQ(MyDVDSetArea(h, t, 0), 0);
            ASSERT_EQ(MyDvdSetStopPos(h, t + 1, 0), 0);
            std::set<std::int32_t> found = StreamIdsIn(ReadAll(h));
            std::set<std::int32_t> want = {0xE000}; // the video; nav packs (0xBF) not counted
            for (int a = 0; a < info.titles[t].audioCount; ++a)
                want.insert(info.titles[t].audioIds[a]);
            for (int s = 0; s < info.titles[t].subtitleCount; ++s)
                want.insert(info.titles[t].subtitleIds[s]);
            EXPECT_EQ(found, want);
        }
        MyDVDClose(h);
    }
}

// The colour table of each title is that of its first program chain as libdvdread reads it;
// the NTSC title with subpictures holds the near-white colour (Y above 0xE0, no tint) of the
// fixture's white boxes. Bad arguments fail and leave the output alone.
TEST_F(LibDvdDiscTest, PaletteIsTheTitlesProgramChainColours) {
    static const dvd_logger_cb quiet = {[](void*, dvd_logger_level_t, const char*, va_list) {}};
    for (std::string disc : {"ntsc", "pal"}) {
        DvdHandle h = MyDVDOpen(manifest.Folder(disc).c_str());
        ASSERT_NE(h, 0u);
        dvd_reader_t* dvd = DVDOpen2(nullptr, &quiet, manifest.Folder(disc).c_str());
        ASSERT_NE(dvd, nullptr);
        ifo_handle_t* vmg = ifoOpen(dvd, 0);
        ASSERT_NE(vmg, nullptr);
        const int titles = int(manifest.Int(disc + ".titles"));
        for (int t = 0; t < titles; ++t) {
            SCOPED_TRACE(disc + " title " + std::to_string(t));
            const title_info_t& entry = vmg->tt_srpt->title[t];
            ifo_handle_t* vts = ifoOpen(dvd, entry.title_set_nr);
            ASSERT_NE(vts, nullptr);
            const ttu_t& ttu = vts->vts_ptt_srpt->title[entry.vts_ttn - 1];
            const pgc_t* pgc = vts->vts_pgcit->pgci_srp[ttu.ptt[0].pgcn - 1].pgc;
            std::uint32_t got[16] = {};
            ASSERT_EQ(MyDVDGetPalette(h, t, got), 0);
            for (int i = 0; i < 16; ++i)
                EXPECT_EQ(got[i], pgc->palette[i] & 0xFFFFFFu) << "entry " << i;
            if (manifest.Int(DiscManifest::Title(disc, t, "subtitle_count")) > 0) {
                bool white = std::any_of(got, got + 16, [](std::uint32_t c) {
                    int y = int(c >> 16), cr = int(c >> 8 & 0xFF), cb = int(c & 0xFF);
                    return y >= 0xE0 && std::abs(cr - 128) <= 4 && std::abs(cb - 128) <= 4;
                });
                EXPECT_TRUE(white) << "no white in the colour table of a title with subpictures";
            }
            ifoClose(vts);
        }
        ifoClose(vmg);
        DVDClose(dvd);

        std::uint32_t untouched[16];
        std::fill(std::begin(untouched), std::end(untouched), 0xABCDEFu);
        EXPECT_EQ(MyDVDGetPalette(h, titles, untouched), -1);
        EXPECT_EQ(MyDVDGetPalette(h, -1, untouched), -1);
        EXPECT_EQ(MyDVDGetPalette(h, 0, nullptr), -1);
        EXPECT_EQ(MyDVDGetPalette(0, 0, untouched), -1);
        EXPECT_EQ(untouched[0], 0xABCDEFu);
        MyDVDClose(h);
        EXPECT_EQ(MyDVDGetPalette(h, 0, untouched), -1);
    }
}

TEST_F(LibDvdDiscTest, WholeTitleReadIsExactlyTheCellSectors) {
    struct Case {
        std::string disc, open, folder;
    };
    std::vector<Case> cases = {
        {"ntsc", manifest.Folder("ntsc"), manifest.Folder("ntsc")},
        {"ntsc", manifest.Iso("ntsc"), manifest.Folder("ntsc")},
        {"pal", manifest.Folder("pal"), manifest.Folder("pal")},
    };
    for (const Case& c : cases) {
        DvdHandle h = MyDVDOpen(c.open.c_str());
        ASSERT_NE(h, 0u) << c.open;
        DvdDiscInfo info;
        ASSERT_EQ(MyDVDGetInfo(h, &info), 0);
        for (int t = 0; t < info.titleCount; ++t) {
            SCOPED_TRACE(c.open + " title " + std::to_string(t));
            ASSERT_EQ(MyDVDSetArea(h, t, 0), 0);
            ASSERT_EQ(MyDvdSetStopPos(h, t + 1, 0), 0);
            Bytes got = ReadAll(h);
            Bytes want = CellBytes(c.folder, t, 0, 1000);
            std::uint64_t sectors = 0;
            for (int ch = 0; ch < info.titles[t].chapterCount; ++ch)
                sectors += info.titles[t].chapterSectors[ch];
            EXPECT_EQ(got.size(), sectors * 2048);
            ASSERT_EQ(got.size(), want.size());
            EXPECT_TRUE(got == want) << "bytes differ from the VOB files' cells";
            EXPECT_EQ(MyDVDRead(h, got.data(), 10240), 0) << "read after the end";
        }
        MyDVDClose(h);
    }
}

TEST_F(LibDvdDiscTest, ChapterAreasAreSlicesOfTheTitle) {
    DvdHandle h = MyDVDOpen(manifest.Folder("ntsc").c_str());
    ASSERT_NE(h, 0u);
    DvdDiscInfo info;
    ASSERT_EQ(MyDVDGetInfo(h, &info), 0);
    const DvdTitleInfo& ti = info.titles[0];
    ASSERT_GE(ti.chapterCount, 2);
    ASSERT_EQ(MyDVDSetArea(h, 0, 0), 0);
    Bytes whole = ReadAll(h); // no stop set: the whole title
    std::size_t start = 0;
    for (int c = 0; c < ti.chapterCount; ++c) {
        SCOPED_TRACE("chapter " + std::to_string(c));
        std::size_t size = std::size_t(ti.chapterSectors[c]) * 2048;
        ASSERT_EQ(MyDVDSetArea(h, 0, c), 0);
        ASSERT_EQ(MyDvdSetStopPos(h, 0, c + 1), 0);
        Bytes one = ReadAll(h, 8192);
        ASSERT_EQ(one.size(), size);
        EXPECT_TRUE(std::equal(one.begin(), one.end(), whole.begin() + start));
        // From this chapter to the end of the title.
        ASSERT_EQ(MyDVDSetArea(h, 0, c), 0);
        ASSERT_EQ(MyDvdSetStopPos(h, 1, 0), 0);
        EXPECT_EQ(ReadAll(h).size(), whole.size() - start);
        start += size;
    }
    EXPECT_EQ(start, whole.size());
    // A stop at the first chapter leaves nothing; out-of-range areas fail.
    ASSERT_EQ(MyDVDSetArea(h, 0, 1), 0);
    ASSERT_EQ(MyDvdSetStopPos(h, 0, 1), 0);
    EXPECT_EQ(ReadAll(h).size(), 0u);
    EXPECT_EQ(MyDVDSetArea(h, 0, ti.chapterCount), -1);
    EXPECT_EQ(MyDVDSetArea(h, info.titleCount, 0), -1);
    EXPECT_EQ(MyDVDSetArea(h, -1, 0), -1);
    MyDVDClose(h);
}

TEST_F(LibDvdDiscTest, SeeksLandOnTheSectorHoldingTheOffset) {
    DvdHandle h = MyDVDOpen(manifest.Iso("ntsc").c_str());
    ASSERT_NE(h, 0u);
    ASSERT_EQ(MyDVDSetArea(h, 0, 0), 0);
    ASSERT_EQ(MyDvdSetStopPos(h, 1, 0), 0);
    Bytes whole = ReadAll(h);
    ASSERT_GT(whole.size(), 1000000u);
    const std::int64_t size = std::int64_t(whole.size());
    std::vector<std::int64_t> targets = {
        0,        1,        2047,        2048,        2049,     20480,   5000000,
        size / 3, size / 2, size - 2049, size - 2048, size - 1, 1234567, size * 2 / 3 + 777};
    Bytes buffer(10240);
    for (std::int64_t target : targets) {
        SCOPED_TRACE("target " + std::to_string(target));
        std::int64_t at = MyDVDSeek(h, target, 0);
        ASSERT_GE(at, 0);
        EXPECT_LE(at, target);
        EXPECT_LT(target - at, 2048); // the interface allows 20480
        EXPECT_EQ(at % 2048, 0);
        int n = MyDVDRead(h, buffer.data(), 10240);
        ASSERT_GT(n, 0);
        ASSERT_LE(at + n, size);
        EXPECT_TRUE(std::equal(buffer.begin(), buffer.begin() + n, whole.begin() + at));
    }
    // At or past the stop position: the position is the end, and reads give 0.
    EXPECT_EQ(MyDVDSeek(h, size, 0), size);
    EXPECT_EQ(MyDVDRead(h, buffer.data(), 10240), 0);
    EXPECT_EQ(MyDVDSeek(h, size + 100000, 0), size);
    EXPECT_EQ(MyDVDRead(h, buffer.data(), 10240), 0);
    EXPECT_EQ(MyDVDSeek(h, -1, 0), -1);
    // Other origins: current position and stop position.
    EXPECT_EQ(MyDVDSeek(h, 4096, 0), 4096);
    EXPECT_EQ(MyDVDSeek(h, 4096, 1), 8192);
    EXPECT_EQ(MyDVDSeek(h, -4096, 2), size - 4096);
    EXPECT_EQ(MyDVDSeek(h, 0, 7), -1);
    // Sizes below a sector cannot be served.
    EXPECT_EQ(MyDVDRead(h, buffer.data(), 100), -1);
    MyDVDClose(h);
}

TEST_F(LibDvdDiscTest, HandlesAreIndependentAndThreadSafe) {
    std::string folder = manifest.Folder("ntsc");
    DvdHandle a = MyDVDOpen(folder.c_str());
    DvdHandle b = MyDVDOpen(manifest.Iso("ntsc").c_str());
    ASSERT_NE(a, 0u);
    ASSERT_NE(b, 0u);
    ASSERT_NE(a, b);
    ASSERT_EQ(MyDVDSetArea(a, 0, 0), 0);
    Bytes whole = ReadAll(a);

    // Two threads per handle: one reads on, one seeks about; the reads stay whole sectors
    // of the title, and nothing crashes or deadlocks (the test has a timeout).
    auto worker = [&](DvdHandle h, bool seeker, int* failures) {
        Bytes buffer(10240);
        for (int i = 0; i < 300; ++i) {
            if (seeker) {
                std::int64_t target = std::int64_t(i) * 104729 % std::int64_t(whole.size());
                std::int64_t at = MyDVDSeek(h, target, 0);
                if (at < 0 || at > target || target - at >= 2048) ++*failures;
            } else {
                int n = MyDVDRead(h, buffer.data(), 10240);
                if (n < 0 || n % 2048) ++*failures;
                if (n == 0) MyDVDSeek(h, 0, 0);
            }
        }
    };
    for (DvdHandle h : {a, b}) {
        ASSERT_EQ(MyDVDSetArea(h, 0, 0), 0);
        ASSERT_EQ(MyDvdSetStopPos(h, 1, 0), 0);
    }
    int failures[4] = {};
    std::vector<std::thread> threads;
    threads.emplace_back(worker, a, false, &failures[0]);
    threads.emplace_back(worker, a, true, &failures[1]);
    threads.emplace_back(worker, b, false, &failures[2]);
    threads.emplace_back(worker, b, true, &failures[3]);
    for (auto& t : threads)
        t.join();
    for (int f : failures)
        EXPECT_EQ(f, 0);

    // Closing one handle while another thread reads it: the reader sees a failure, no crash.
    std::thread reader([&] {
        Bytes buffer(10240);
        for (int i = 0; i < 2000; ++i)
            if (MyDVDRead(b, buffer.data(), 10240) < 0) break;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    MyDVDClose(b);
    reader.join();
    EXPECT_EQ(MyDVDSeek(b, 0, 0), -1);

    // The other handle is untouched.
    ASSERT_EQ(MyDVDSetArea(a, 0, 0), 0);
    EXPECT_TRUE(ReadAll(a) == whole);
    MyDVDClose(a);
}

// A scratch folder removed at the end of the test.
struct TempDir {
    TempDir() {
        char tmpl[] = "/tmp/libdvd-test-XXXXXX";
        path = mkdtemp(tmpl);
    }
    ~TempDir() {
        std::error_code ec;
        fs::remove_all(path, ec);
    }
    std::string path;
};

void WriteGarbage(const fs::path& file, std::size_t size, unsigned seed) {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    std::uint32_t x = seed * 2654435761u + 1;
    for (std::size_t i = 0; i < size; ++i) {
        x ^= x << 13, x ^= x >> 17, x ^= x << 5;
        out.put(char(x));
    }
}

// Opens under a deadline: the open must give 0, quickly.
void ExpectOpenFails(const std::string& path) {
    auto start = std::chrono::steady_clock::now();
    DvdHandle h = MyDVDOpen(path.c_str());
    auto seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_EQ(h, 0u) << path;
    EXPECT_LT(seconds, 10.0) << path;
    MyDVDClose(h);
}

TEST_F(LibDvdDiscTest, BadInputsFailCleanly) {
    TempDir tmp;
    ExpectOpenFails(tmp.path + "/missing");
    ExpectOpenFails(tmp.path + "/missing/VIDEO_TS");

    fs::create_directories(tmp.path + "/nodvd/some_folder");
    WriteGarbage(tmp.path + "/nodvd/file.bin", 100000, 1);
    ExpectOpenFails(tmp.path + "/nodvd");
    fs::create_directories(tmp.path + "/emptyvts/VIDEO_TS");
    ExpectOpenFails(tmp.path + "/emptyvts");
    ExpectOpenFails(tmp.path + "/emptyvts/VIDEO_TS");

    std::ofstream(tmp.path + "/empty.iso").close();
    ExpectOpenFails(tmp.path + "/empty.iso");
    WriteGarbage(tmp.path + "/garbage.iso", 4 << 20, 2);
    ExpectOpenFails(tmp.path + "/garbage.iso");

    // The ISO cut short: at half, and just after its directories (the IFOs still readable).
    std::uintmax_t isoSize = fs::file_size(manifest.Iso("ntsc"));
    for (std::uintmax_t cut : {isoSize / 2, std::uintmax_t(2048 * 600), isoSize - 2048}) {
        fs::copy_file(manifest.Iso("ntsc"), tmp.path + "/cut.iso",
                      fs::copy_options::overwrite_existing);
        fs::resize_file(tmp.path + "/cut.iso", cut);
        ExpectOpenFails(tmp.path + "/cut.iso");
    }

    // A copy of the disc with VIDEO_TS.IFO and its backup damaged.
    std::string copy = tmp.path + "/damaged";
    fs::copy(manifest.Folder("ntsc"), copy, fs::copy_options::recursive);
    std::uintmax_t ifoSize = fs::file_size(copy + "/VIDEO_TS/VIDEO_TS.IFO");
    WriteGarbage(copy + "/VIDEO_TS/VIDEO_TS.IFO", ifoSize, 3);
    { // With the backup intact the disc still opens, as a player would.
        DvdHandle h = MyDVDOpen(copy.c_str());
        EXPECT_NE(h, 0u);
        MyDVDClose(h);
    }
    WriteGarbage(copy + "/VIDEO_TS/VIDEO_TS.BUP", ifoSize, 4);
    ExpectOpenFails(copy);
    ExpectOpenFails(copy + "/VIDEO_TS");
    // Header kept, tables damaged.
    fs::copy_file(manifest.Folder("ntsc") + "/VIDEO_TS/VIDEO_TS.IFO",
                  copy + "/VIDEO_TS/VIDEO_TS.IFO", fs::copy_options::overwrite_existing);
    {
        std::fstream f(copy + "/VIDEO_TS/VIDEO_TS.IFO",
                       std::ios::binary | std::ios::in | std::ios::out);
        f.seekp(2048);
        for (int i = 0; i < 2048; ++i)
            f.put(char(0xFF));
    }
    fs::copy_file(copy + "/VIDEO_TS/VIDEO_TS.IFO", copy + "/VIDEO_TS/VIDEO_TS.BUP",
                  fs::copy_options::overwrite_existing);
    ExpectOpenFails(copy);
    // IFO cut to a few bytes, backup gone.
    fs::resize_file(copy + "/VIDEO_TS/VIDEO_TS.IFO", 100);
    fs::remove(copy + "/VIDEO_TS/VIDEO_TS.BUP");
    ExpectOpenFails(copy);

    // Every title set's IFO and backup damaged: no title can be read.
    std::string sets = tmp.path + "/damaged_sets";
    fs::copy(manifest.Folder("ntsc"), sets, fs::copy_options::recursive);
    for (const char* name : {"VTS_01_0.IFO", "VTS_01_0.BUP", "VTS_02_0.IFO", "VTS_02_0.BUP"})
        WriteGarbage(sets + "/VIDEO_TS/" + name, fs::file_size(sets + "/VIDEO_TS/" + name), 5);
    ExpectOpenFails(sets);

    // A title set whose video file is cut: its titles are listed empty, the others stay.
    std::string cutVob = tmp.path + "/cut_vob";
    fs::copy(manifest.Folder("ntsc"), cutVob, fs::copy_options::recursive);
    fs::resize_file(cutVob + "/VIDEO_TS/VTS_01_1.VOB", 2048 * 100);
    DvdHandle h = MyDVDOpen(cutVob.c_str());
    ASSERT_NE(h, 0u);
    DvdDiscInfo info;
    ASSERT_EQ(MyDVDGetInfo(h, &info), 0);
    EXPECT_EQ(info.titles[0].chapterCount, 0);
    EXPECT_EQ(MyDVDSetArea(h, 0, 0), -1);
    EXPECT_EQ(info.titles[1].chapterCount,
              manifest.Int(DiscManifest::Title("ntsc", 1, "chapters")));
    EXPECT_EQ(MyDVDSetArea(h, 1, 0), 0);
    MyDVDClose(h);
}

// A copy of the NTSC disc whose first title is turned into a 3-chapter title ending in a
// two-angle block: cells 3 and 4 of the PGC become angles 1 and 2 of one block and the PGC
// keeps 3 programs. Only angle 1 is read.
TEST_F(LibDvdDiscTest, OnlyTheFirstAngleOfAnAngleBlockIsRead) {
    TempDir tmp;
    std::string copy = tmp.path + "/angles";
    fs::copy(manifest.Folder("ntsc"), copy, fs::copy_options::recursive);
    std::string ifoPath = copy + "/VIDEO_TS/VTS_01_0.IFO";
    std::ifstream in(ifoPath, std::ios::binary);
    Bytes ifo((std::istreambuf_iterator<char>(in)), {});
    in.close();
    auto u16 = [&](std::size_t at) { return std::size_t(ifo[at]) << 8 | ifo[at + 1]; };
    auto u32 = [&](std::size_t at) { return u16(at) << 16 | u16(at + 2); };
    std::size_t pgcit = u32(0xCC) * 2048;
    std::size_t pgc = pgcit + u32(pgcit + 8 + 4);
    ASSERT_EQ(ifo[pgc + 2], 4) << "programs";
    ASSERT_EQ(ifo[pgc + 3], 4) << "cells";
    std::size_t cells = pgc + u16(pgc + 232);
    ifo[pgc + 2] = 3; // programs 1-3; program 3 = cells 3, 4
    ifo[cells + 2 * 24] = (ifo[cells + 2 * 24] & 0x0F) | 0x50; // cell 3: first cell, angle block
    ifo[cells + 3 * 24] = (ifo[cells + 3 * 24] & 0x0F) | 0xD0; // cell 4: last cell, angle block
    for (const char* name : {"/VIDEO_TS/VTS_01_0.IFO", "/VIDEO_TS/VTS_01_0.BUP"}) {
        std::ofstream out(copy + name, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(ifo.data()), std::streamsize(ifo.size()));
    }

    DvdHandle h = MyDVDOpen(copy.c_str());
    ASSERT_NE(h, 0u);
    DvdDiscInfo info;
    ASSERT_EQ(MyDVDGetInfo(h, &info), 0);
    ASSERT_EQ(info.titles[0].chapterCount, 3);
    ASSERT_EQ(MyDVDSetArea(h, 0, 0), 0);
    ASSERT_EQ(MyDvdSetStopPos(h, 1, 0), 0);
    Bytes got = ReadAll(h);
    Bytes firstThreeCells = CellBytes(manifest.Folder("ntsc"), 0, 0, 3); // the original's cells 1-3
    EXPECT_EQ(got.size(),
              std::size_t(info.titles[0].chapterSectors[0] + info.titles[0].chapterSectors[1] +
                          info.titles[0].chapterSectors[2]) *
                  2048);
    ASSERT_EQ(got.size(), firstThreeCells.size());
    EXPECT_TRUE(got == firstThreeCells);
    MyDVDClose(h);
}

// The PAL disc's second title has 70 chapters: 64 are listed, the 64th standing for the rest,
// and all of them can be read.
TEST_F(LibDvdDiscTest, TitlesOfMoreThan64ChaptersAreReadWhole) {
    const int t = 1;
    const int authored = int(manifest.Int(DiscManifest::Title("pal", t, "chapters")));
    ASSERT_GT(authored, kDvdMaxChapters);
    DvdHandle h = MyDVDOpen(manifest.Folder("pal").c_str());
    ASSERT_NE(h, 0u);
    DvdDiscInfo info;
    ASSERT_EQ(MyDVDGetInfo(h, &info), 0);
    const DvdTitleInfo& ti = info.titles[t];
    ASSERT_EQ(ti.chapterCount, kDvdMaxChapters);

    ASSERT_EQ(MyDVDSetArea(h, t, 0), 0);
    ASSERT_EQ(MyDvdSetStopPos(h, t + 1, 0), 0);
    Bytes whole = ReadAll(h);
    std::uint64_t listed = 0;
    for (int c = 0; c < ti.chapterCount; ++c)
        listed += ti.chapterSectors[c];
    EXPECT_EQ(listed * 2048, whole.size()) << "the listed chapters add up to the title";
    EXPECT_TRUE(whole == CellBytes(manifest.Folder("pal"), t, 0, authored));

    // The 64th listed chapter, as one chapter (title, 63) to (title, 64): the rest of the title.
    ASSERT_EQ(MyDVDSetArea(h, t, 63), 0);
    ASSERT_EQ(MyDvdSetStopPos(h, t, 64), 0);
    Bytes rest = ReadAll(h);
    EXPECT_EQ(rest.size(), std::size_t(ti.chapterSectors[63]) * 2048);
    EXPECT_TRUE(std::equal(rest.begin(), rest.end(), whole.end() - std::ptrdiff_t(rest.size())));

    // A chapter past the listed ones can still be chosen by number.
    ASSERT_EQ(MyDVDSetArea(h, t, authored - 1), 0);
    ASSERT_EQ(MyDvdSetStopPos(h, t + 1, 0), 0);
    Bytes last = ReadAll(h);
    EXPECT_TRUE(last == CellBytes(manifest.Folder("pal"), t, authored - 1, authored));
    EXPECT_EQ(MyDVDSetArea(h, t, authored), -1);
    MyDVDClose(h);
}

} // namespace
