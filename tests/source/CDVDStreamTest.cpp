// CDVDStream over the authored NTSC disc, checked against the bytes the disc
// functions deliver directly.
#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "source/CDVDStream.h"
#include "tests/source/TestDisc.h"

using testdisc::AreaBytes;
using testdisc::Disc;
using testdisc::NtscFolder;

namespace {

// Reads from the stream's position to its end in pieces of `chunk` bytes.
std::vector<std::uint8_t> ReadToEnd(CDVDStream& s, DWORD chunk) {
    std::vector<std::uint8_t> out;
    std::vector<std::uint8_t> buf(chunk);
    for (;;) {
        DWORD got = 12345;
        HRESULT hr = s.Read(buf.data(), chunk, TRUE, &got);
        if (hr != S_OK) {
            EXPECT_EQ(hr, E_FAIL);
            EXPECT_EQ(got, 0u);
            break;
        }
        EXPECT_GT(got, 0u);
        out.insert(out.end(), buf.begin(), buf.begin() + got);
        if (got < chunk) break;
    }
    return out;
}

class DvdStreamTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_NE(disc.Handle(), 0u) << "no test disc at " << NtscFolder();
        ASSERT_EQ(stream.SetDvdHandle(disc.Handle()), S_OK);
    }
    Disc disc{NtscFolder()};
    CDVDStream stream;
};

TEST_F(DvdStreamTest, EveryWholeTitleEqualsItsCells) {
    const DvdDiscInfo info = disc.Info();
    ASSERT_GE(info.titleCount, 3);
    for (int title = 0; title < info.titleCount; ++title) {
        SCOPED_TRACE(title);
        const auto want = AreaBytes(NtscFolder(), title, -1);
        ASSERT_FALSE(want.empty());
        ASSERT_EQ(stream.SetTitleArea(title, -1), S_OK);
        EXPECT_EQ(stream.Size(), testdisc::DescribedBytes(info.titles[title]));
        // An odd piece size crosses every block and sector boundary somewhere.
        const auto got = ReadToEnd(stream, 7777);
        EXPECT_TRUE(got == want) << got.size() << " bytes read, " << want.size() << " expected";
        LONGLONG available = -1;
        EXPECT_EQ(stream.Size(&available), static_cast<LONGLONG>(want.size()));
        EXPECT_EQ(available, static_cast<LONGLONG>(want.size()));
    }
}

TEST_F(DvdStreamTest, HandingOverTheDiscSelectsTitleZeroWhole) {
    EXPECT_EQ(stream.Title(), 0);
    EXPECT_EQ(stream.Chapter(), -1);
    EXPECT_EQ(stream.Size(), testdisc::DescribedBytes(disc.Info().titles[0]));
    const auto want = AreaBytes(NtscFolder(), 0, -1);
    std::vector<std::uint8_t> head(4096);
    DWORD got = 0;
    ASSERT_EQ(stream.Read(head.data(), 4096, TRUE, &got), S_OK);
    ASSERT_EQ(got, 4096u);
    EXPECT_EQ(std::memcmp(head.data(), want.data(), 4096), 0);
}

// One chapter: the length starts as the whole title's and shrinks to the
// chapter's bytes once the library stops delivering at the chapter's end.
TEST_F(DvdStreamTest, ChapterEndsWhereTheLibraryStops) {
    const DvdDiscInfo info = disc.Info();
    ASSERT_GE(info.titles[0].chapterCount, 4);
    const auto want = AreaBytes(NtscFolder(), 0, 2);
    ASSERT_FALSE(want.empty());
    ASSERT_EQ(stream.SetTitleArea(0, 2), S_OK);
    EXPECT_EQ(stream.Title(), 0);
    EXPECT_EQ(stream.Chapter(), 2);
    const LONGLONG whole = testdisc::DescribedBytes(info.titles[0]);
    EXPECT_EQ(stream.Size(), whole);
    ASSERT_LT(static_cast<LONGLONG>(want.size()), whole);

    // The last read near the real end comes back short, then the length is exact.
    const LONGLONG nearEnd = static_cast<LONGLONG>(want.size()) - 1000;
    ASSERT_EQ(stream.SetPointer(nearEnd), S_OK);
    std::vector<std::uint8_t> buf(4000);
    DWORD got = 0;
    EXPECT_EQ(stream.Read(buf.data(), 4000, TRUE, &got), S_OK);
    EXPECT_EQ(got, 1000u);
    EXPECT_EQ(std::memcmp(buf.data(), want.data() + nearEnd, 1000), 0);
    EXPECT_EQ(stream.Size(), static_cast<LONGLONG>(want.size()));

    // Nothing is left: the next read fails without copying.
    EXPECT_EQ(stream.Read(buf.data(), 10, TRUE, &got), E_FAIL);
    EXPECT_EQ(got, 0u);

    // Reading the chapter again from the start gives the same bytes.
    ASSERT_EQ(stream.SetPointer(0), S_OK);
    EXPECT_TRUE(ReadToEnd(stream, 10240) == want);
}

// Reads at arbitrary offsets and sizes, forwards and backwards, inside the
// buffered block and far from it, against the title's bytes.
TEST_F(DvdStreamTest, ReadsAtArbitraryOffsetsMatchTheTitle) {
    const auto want = AreaBytes(NtscFolder(), 0, -1);
    ASSERT_GT(want.size(), 200000u);
    const LONGLONG size = static_cast<LONGLONG>(want.size());
    struct Case {
        LONGLONG pos;
        DWORD len;
    };
    const Case table[] = {
        {0, 1},           {1, 2047},        {2047, 2},          {10239, 2},     // sector, block edges
        {10240, 10240},   {10000, 30000},   {4096, 1},          {3, 65536},     // backwards, long
        {20480 + 5, 100}, {20480 + 4, 1},   {20480 + 2048, 10}, {100003, 7},    // just behind, forward
        {50000, 20481},   {size - 5, 5},    {size - 3, 100},    {17, 17},       // the end, back again
    };
    for (const Case& c : table) {
        SCOPED_TRACE(testing::Message() << "pos " << c.pos << " len " << c.len);
        ASSERT_EQ(stream.SetPointer(c.pos), S_OK);
        std::vector<std::uint8_t> buf(c.len);
        DWORD got = 0;
        ASSERT_EQ(stream.Read(buf.data(), c.len, TRUE, &got), S_OK);
        const DWORD expect = static_cast<DWORD>(std::min<LONGLONG>(c.len, size - c.pos));
        ASSERT_EQ(got, expect);
        EXPECT_EQ(std::memcmp(buf.data(), want.data() + c.pos, got), 0);
    }

    std::mt19937 rng(20261211);
    for (int i = 0; i < 300; ++i) {
        const LONGLONG pos = std::uniform_int_distribution<LONGLONG>(0, size - 1)(rng);
        const DWORD len = std::uniform_int_distribution<DWORD>(1, 50000)(rng);
        SCOPED_TRACE(testing::Message() << "pos " << pos << " len " << len);
        ASSERT_EQ(stream.SetPointer(pos), S_OK);
        std::vector<std::uint8_t> buf(len);
        DWORD got = 0;
        ASSERT_EQ(stream.Read(buf.data(), len, TRUE, &got), S_OK);
        ASSERT_EQ(got, static_cast<DWORD>(std::min<LONGLONG>(len, size - pos)));
        ASSERT_EQ(std::memcmp(buf.data(), want.data() + pos, got), 0);
    }
}

// A position inside the buffered block, its end included, is reached without
// the library: it still works after the disc handle has been closed, while a
// seek outside the block then fails.
TEST(DvdStream, PositionInsideTheBufferNeedsNoLibraryCall) {
    const auto want = AreaBytes(NtscFolder(), 0, -1);
    ASSERT_GT(want.size(), 30000u);
    Disc disc(NtscFolder());
    CDVDStream stream;
    ASSERT_EQ(stream.SetDvdHandle(disc.Handle()), S_OK);
    ASSERT_EQ(stream.SetPointer(100), S_OK);
    std::vector<std::uint8_t> buf(1000);
    DWORD got = 0;
    ASSERT_EQ(stream.Read(buf.data(), 100, TRUE, &got), S_OK);
    disc.Close();

    // The library's block was 10240 bytes: up to 10240 is buffered.
    ASSERT_EQ(stream.SetPointer(5000), S_OK);
    ASSERT_EQ(stream.Read(buf.data(), 1000, TRUE, &got), S_OK);
    EXPECT_EQ(std::memcmp(buf.data(), want.data() + 5000, 1000), 0);
    EXPECT_EQ(stream.SetPointer(10240), S_OK);
    EXPECT_EQ(stream.Read(buf.data(), 10, TRUE, &got), E_FAIL);
    EXPECT_EQ(got, 0u);
    // Not before the buffered position either.
    EXPECT_EQ(stream.SetPointer(50), E_FAIL);
}

TEST(DvdStream, TitleAndChapterIndicesAreChecked) {
    Disc disc(NtscFolder());
    CDVDStream stream;
    EXPECT_EQ(stream.SetTitleArea(0, -1), E_INVALIDARG); // no disc yet
    EXPECT_EQ(stream.SetDvdHandle(0), E_INVALIDARG);
    ASSERT_EQ(stream.SetDvdHandle(disc.Handle()), S_OK);
    const DvdDiscInfo info = disc.Info();
    EXPECT_EQ(stream.SetTitleArea(info.titleCount, -1), E_INVALIDARG);
    EXPECT_EQ(stream.SetTitleArea(-1, -1), E_INVALIDARG);
    EXPECT_EQ(stream.SetTitleArea(32, -1), E_INVALIDARG);
    EXPECT_EQ(stream.SetTitleArea(0, info.titles[0].chapterCount), E_INVALIDARG);
    EXPECT_EQ(stream.SetTitleArea(0, -2), E_INVALIDARG);
    // A refused selection keeps the previous one.
    EXPECT_EQ(stream.Title(), 0);
    EXPECT_EQ(stream.Chapter(), -1);
    EXPECT_EQ(stream.SetTitleArea(1, 1), S_OK);
}

TEST(DvdStream, DurationIsTruncatedToWholeMilliseconds) {
    Disc disc(NtscFolder());
    CDVDStream stream;
    EXPECT_EQ(stream.TitleDurationMs(), 0);
    ASSERT_EQ(stream.SetDvdHandle(disc.Handle()), S_OK);
    const DvdDiscInfo info = disc.Info();
    ASSERT_EQ(stream.SetTitleArea(1, -1), S_OK);
    EXPECT_EQ(stream.TitleDurationMs(), static_cast<LONGLONG>(info.titles[1].durationMs));
    EXPECT_GT(stream.TitleDurationMs(), 0);
    CDVDStream::SharedDiscInfo().titles[1].durationMs = 5999.9;
    EXPECT_EQ(stream.TitleDurationMs(), 5999);
    ASSERT_EQ(stream.SetDvdHandle(disc.Handle()), S_OK); // refills the description
    ASSERT_EQ(stream.SetTitleArea(1, -1), S_OK);
    EXPECT_EQ(stream.TitleDurationMs(), static_cast<LONGLONG>(info.titles[1].durationMs));
}

// A title whose data stops early (the video file is cut after the disc was
// opened, as a damaged disc stops delivering): the stream delivers what there
// is, reports its end exactly there and never hangs.
TEST(DvdStream, TruncatedTitleEndsCleanlyWhereTheDataEnds) {
    const auto full = AreaBytes(NtscFolder(), 1, -1);
    ASSERT_GT(full.size(), 100000u);
    testdisc::TempDir tmp;
    testdisc::CopyDiscWithOwnVob(NtscFolder(), tmp.Path(), "VTS_02_1.VOB");

    Disc disc(tmp.Path());
    ASSERT_NE(disc.Handle(), 0u);
    CDVDStream stream;
    ASSERT_EQ(stream.SetDvdHandle(disc.Handle()), S_OK);
    ASSERT_EQ(stream.SetTitleArea(1, -1), S_OK);
    EXPECT_EQ(stream.Size(), static_cast<LONGLONG>(full.size()));
    const std::uintmax_t keep = full.size() / 3 + 1234; // mid-sector on purpose
    testdisc::fs::resize_file(tmp.Path() / "VIDEO_TS" / "VTS_02_1.VOB", keep);

    const auto got = ReadToEnd(stream, 10000);
    ASSERT_GT(got.size(), 0u);
    ASSERT_LE(got.size(), keep);
    EXPECT_EQ(std::memcmp(got.data(), full.data(), got.size()), 0);
    EXPECT_EQ(stream.Size(), static_cast<LONGLONG>(got.size()));

    // Later reads fail at once, and reading again from the start gives the same.
    std::uint8_t b[16];
    DWORD n = 0;
    EXPECT_EQ(stream.Read(b, sizeof b, TRUE, &n), E_FAIL);
    ASSERT_EQ(stream.SetPointer(0), S_OK);
    const auto again = ReadToEnd(stream, 65536);
    EXPECT_TRUE(again == got) << again.size() << " bytes the second time, " << got.size()
                              << " the first";

    // After the failure, selecting another (intact) title reads normally.
    EXPECT_EQ(stream.Read(b, sizeof b, TRUE, &n), E_FAIL);
    ASSERT_EQ(stream.SetTitleArea(0, 0), S_OK);
    EXPECT_TRUE(ReadToEnd(stream, 10240) == AreaBytes(NtscFolder(), 0, 0));
}

} // namespace
