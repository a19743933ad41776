// The cached byte and bit reader.
#include <gtest/gtest.h>

#include <numeric>

#include "TestBytes.h"
#include "demux/CBaseSplitterFile.h"

namespace {

std::vector<std::uint8_t> Counting(std::size_t n) {
    std::vector<std::uint8_t> v(n);
    for (std::size_t i = 0; i < n; ++i)
        v[i] = static_cast<std::uint8_t>(i * 7 + (i >> 8));
    return v;
}

TEST(BaseSplitterFile, ConstructionResults) {
    auto data = Counting(100);
    HRESULT hr = E_UNEXPECTED;
    {
        CBaseSplitterFile f(ReaderOf(data), hr, 65536, false, true);
        EXPECT_EQ(hr, S_OK);
        EXPECT_TRUE(f.IsRandomAccess());
        EXPECT_FALSE(f.IsStreaming());
        EXPECT_EQ(f.GetLength(), 100);
    }
    auto failing = ReaderOf(data);
    failing->FailLength(true);
    {
        CBaseSplitterFile f(failing, hr, 65536, false, true);
        EXPECT_EQ(hr, E_FAIL);
    }
    auto streaming = ReaderOf(data);
    streaming->SetStreaming(true);
    {
        CBaseSplitterFile f(streaming, hr, 65536, false, false);
        EXPECT_EQ(hr, E_FAIL);
    }
    {
        CBaseSplitterFile f(streaming, hr, 65536, true, true);
        EXPECT_EQ(hr, E_FAIL);
    }
    {
        CBaseSplitterFile f(streaming, hr, 65536, false, true);
        EXPECT_EQ(hr, S_OK);
        EXPECT_TRUE(f.IsStreaming());
        EXPECT_EQ(f.CheckDataAvailable(100, 0), S_OK);
        EXPECT_EQ(f.CheckDataAvailable(101, 0), S_FALSE);
    }
    {
        CBaseSplitterFile f(nullptr, hr, 65536, false, true);
        EXPECT_EQ(hr, E_FAIL);
    }
}

TEST(BaseSplitterFile, BitsAcrossBytesAndPeek) {
    HRESULT hrDummy;
    CBaseSplitterFile f(ReaderOf(Hex("A5 F0 0F 12 34 56 78 9A BC DE F0 11")), hrDummy, 65536, false,
                        true);
    EXPECT_EQ(f.ReadBits(4, true), 0xAu); // peeked, still unread
    EXPECT_EQ(f.ReadBits(4), 0xAu);
    EXPECT_EQ(f.ReadBits(12), 0x5F0u);
    EXPECT_EQ(f.GetPos(), 2);
    EXPECT_EQ(f.ReadBits(4), 0x0u);
    EXPECT_EQ(f.GetPos(), 3) << "a partly read byte counts as read";
    f.AlignToByte();
    EXPECT_EQ(f.ReadBits(64, true), 0x123456789ABCDEF0ull);
    EXPECT_EQ(f.GetPos(), 3);
    EXPECT_EQ(f.ReadBits(4), 0x1u);
    EXPECT_EQ(f.ReadBits(64), 0x23456789ABCDEF01ull); // wide read from an odd bit offset
    EXPECT_EQ(f.GetPos(), 12);
    EXPECT_EQ(f.ReadBits(4), 0x1u);
    EXPECT_FALSE(f.ReadFailed());
    EXPECT_EQ(f.ReadBits(8), 0u); // past the end: no bits
    EXPECT_TRUE(f.ReadFailed());
}

TEST(BaseSplitterFile, SeekClampsAndDropsBits) {
    HRESULT hr;
    CBaseSplitterFile f(ReaderOf(Counting(1000)), hr, 65536, false, true);
    f.ReadBits(3);
    f.Seek(-5);
    EXPECT_EQ(f.GetPos(), 0);
    f.Seek(5000);
    EXPECT_EQ(f.GetPos(), 1000);
    EXPECT_EQ(f.GetRemaining(), 0);
    f.Seek(10);
    f.ReadBits(5);
    BYTE b = 0;
    EXPECT_EQ(f.ReadBytes(&b, 1), S_OK); // drops the 3 bits left of byte 10
    EXPECT_EQ(b, Counting(1000)[11]);
}

TEST(BaseSplitterFile, ReadsThroughAndAroundTheCache) {
    const auto data = Counting(300000);
    HRESULT hr;
    for (int cache : {0, 4096, 65536}) {
        CBaseSplitterFile f(ReaderOf(data), hr, cache, false, true);
        ASSERT_EQ(hr, S_OK);
        // A mix of small reads, a read larger than the cache and reads across block edges.
        for (std::int64_t pos : {0, 65530, 1, 200000, 299990}) {
            for (std::int64_t n : {1, 7, 70000}) {
                if (pos + n > 300000) continue;
                std::vector<std::uint8_t> out(n);
                f.Seek(pos);
                ASSERT_EQ(f.ReadBytes(out.data(), n), S_OK) << cache << " " << pos << " " << n;
                ASSERT_TRUE(std::equal(out.begin(), out.end(), data.begin() + pos))
                    << pos << " " << n;
                EXPECT_EQ(f.GetPos(), pos + n);
            }
        }
        std::vector<std::uint8_t> out(20);
        f.Seek(299990);
        EXPECT_NE(f.ReadBytes(out.data(), 20), S_OK); // the data ends first
    }
}

TEST(BaseSplitterFile, ReadErrorsAreReturned) {
    auto reader = ReaderOf(Counting(200000));
    reader->FailReadsFrom(100000);
    HRESULT hr;
    CBaseSplitterFile f(reader, hr, 65536, false, true);
    std::vector<std::uint8_t> out(10);
    f.Seek(150000);
    EXPECT_EQ(f.ReadBytes(out.data(), 10), E_FAIL);
    f.Seek(150000);
    EXPECT_EQ(f.ReadBits(8), 0u);
    EXPECT_TRUE(f.ReadFailed());
}

TEST(BaseSplitterFile, ExpGolombCodes) {
    // 1 | 010 | 011 | 00100 | 00101 | 0001000 -> 0, 1, 2, 3, 4, 7
    HRESULT hr;
    CBaseSplitterFile f(
        ReaderOf(Bits().Put(1, 1).Put(3, 2).Put(3, 3).Put(5, 4).Put(5, 5).Put(7, 8).Done()), hr,
        65536, false, true);
    EXPECT_EQ(f.ReadUnsignedExpGolomb(), 0u);
    EXPECT_EQ(f.ReadSignedExpGolomb(), 1);  // k = 1
    EXPECT_EQ(f.ReadSignedExpGolomb(), -1); // k = 2
    EXPECT_EQ(f.ReadUnsignedExpGolomb(), 3u);
    EXPECT_EQ(f.ReadSignedExpGolomb(), -2); // k = 4
    EXPECT_EQ(f.ReadUnsignedExpGolomb(), 7u);
    // Only zeros: stops after 31 instead of reading forever.
    CBaseSplitterFile z(ReaderOf(std::vector<std::uint8_t>(64, 0)), hr, 65536, false, true);
    EXPECT_EQ(z.ReadUnsignedExpGolomb(), 0u);
}

} // namespace

namespace {

TEST(BaseSplitterFile, SkipToByteAcrossCacheBlocks) {
    std::vector<std::uint8_t> data(20000, 0);
    data[5] = 0x41;
    data[4095] = 0x41; // last byte of the first 4096-byte block
    data[4096] = 0x41;
    data[12345] = 0x41;
    for (int cache : {0, 4096, 65536}) {
        HRESULT hr;
        CBaseSplitterFile f(ReaderOf(data), hr, cache, false, true);
        ASSERT_EQ(hr, S_OK);
        std::vector<std::int64_t> hits;
        while (f.SkipToByte(0x41, 1 << 20)) {
            hits.push_back(f.GetPos());
            f.ReadBits(8);
        }
        EXPECT_EQ(hits, (std::vector<std::int64_t>{5, 4095, 4096, 12345})) << cache;
        EXPECT_EQ(f.GetPos(), 20000) << cache;
        f.Seek(6);
        EXPECT_FALSE(f.SkipToByte(0x41, 4089)) << "the limit ends before 4095";
        EXPECT_EQ(f.GetPos(), 4095);
        f.Seek(1);
        f.ReadBits(3); // a partly read byte counts as read
        EXPECT_TRUE(f.SkipToByte(0x41, 100));
        EXPECT_EQ(f.GetPos(), 5);
    }
}

} // namespace
