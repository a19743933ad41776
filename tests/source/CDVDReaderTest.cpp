// The DVD source filter on the authored NTSC disc: its control interface,
// its pin's type and transport negotiation, and IAsyncReader reads (the
// synchronous ones the demultiplexer uses and the queued sample reads).
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <random>
#include <thread>

#include "platform/dshow/BasePin.h"
#include "platform/dshow/MemAllocator.h"
#include "source/CDVDReader.h"
#include "tests/source/TestDisc.h"

using testdisc::AreaBytes;
using testdisc::Disc;
using testdisc::NtscFolder;

namespace {

constexpr LONGLONG kUnits = 10'000'000;

// A downstream filter with one input pin that takes byte streams and, if
// told to, asks the upstream pin for IAsyncReader while connecting (as the
// demultiplexer does).
class PullSink : public CBaseFilter {
public:
    explicit PullSink(bool asksForReader)
        : CBaseFilter("pull sink", nullptr, &lock_, GUID_NULL), pin_(this, &lock_, asksForReader) {}
    int GetPinCount() override { return 1; }
    CBasePin* GetPin(int n) override { return n == 0 ? &pin_ : nullptr; }
    IPin* Pin() { return &pin_; }
    ComPtr<IAsyncReader> Reader() { return pin_.reader; }

private:
    struct InputPin : CBasePin {
        InputPin(CBaseFilter* f, CCritSec* l, bool ask)
            : CBasePin("pull sink input", f, l, nullptr, L"Input", PINDIR_INPUT), ask(ask) {}
        HRESULT CheckMediaType(const CMediaType* pmt) override {
            return pmt->majortype == MEDIATYPE_Stream ? S_OK : S_FALSE;
        }
        HRESULT CompleteConnect(IPin* pin) override {
            if (ask) {
                reader = ComPtr<IPin>(pin).As<IAsyncReader>();
                if (!reader) return E_NOINTERFACE;
            }
            return CBasePin::CompleteConnect(pin);
        }
        HRESULT BreakConnect() override {
            reader.Reset();
            return CBasePin::BreakConnect();
        }
        HRESULT BeginFlush() override { return S_OK; }
        HRESULT EndFlush() override { return S_OK; }
        bool ask;
        ComPtr<IAsyncReader> reader;
    };
    CCritSec lock_;
    InputPin pin_;
};

// The filter, with the disc handed over, and its pin's IAsyncReader.
class DvdReaderTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_NE(disc.Handle(), 0u) << "no test disc at " << NtscFolder();
        ASSERT_EQ(CDVDReader::Create(&filter), S_OK);
        control = filter.As<IMyDVDReader>();
        ASSERT_TRUE(control);
        ASSERT_EQ(control->SetDvdHandle(disc.Handle()), S_OK);
        ASSERT_EQ(filter->FindPin(L"Output", &pin), S_OK);
        reader = pin.As<IAsyncReader>();
        ASSERT_TRUE(reader);
    }
    LONGLONG Length() {
        LONGLONG total = -1, available = -2;
        EXPECT_EQ(reader->Length(&total, &available), S_OK);
        EXPECT_EQ(total, available);
        return total;
    }
    // Reads from 0 in pieces as the demultiplexer does, until a short read
    // or a failure; every piece must hold the expected bytes.
    std::vector<std::uint8_t> SyncReadAll(LONG piece) {
        std::vector<std::uint8_t> out;
        std::vector<std::uint8_t> buf(piece);
        for (;;) {
            const LONGLONG pos = static_cast<LONGLONG>(out.size());
            const LONG want = static_cast<LONG>(std::min<LONGLONG>(piece, Length() - pos));
            if (want <= 0) break;
            HRESULT hr = reader->SyncRead(pos, want, buf.data());
            if (FAILED(hr)) break;
            // A short read (S_FALSE) cuts the length to what was delivered.
            const LONG got = hr == S_OK ? want : static_cast<LONG>(Length() - pos);
            out.insert(out.end(), buf.begin(), buf.begin() + got);
            if (hr != S_OK) break;
        }
        return out;
    }

    Disc disc{NtscFolder()};
    ComPtr<IBaseFilter> filter;
    ComPtr<IMyDVDReader> control;
    ComPtr<IPin> pin;
    ComPtr<IAsyncReader> reader;
};

TEST(DvdReader, IdentityAndPins) {
    HRESULT hr = E_FAIL;
    CUnknown* unknown = CDVDReader::CreateInstance(nullptr, &hr);
    ASSERT_NE(unknown, nullptr);
    EXPECT_EQ(hr, S_OK);
    ComPtr<IBaseFilter> filter;
    ASSERT_EQ(unknown->NonDelegatingQueryInterface(IID_IBaseFilter,
                                                   reinterpret_cast<void**>(&filter)),
              S_OK);
    EXPECT_TRUE(filter.As<IMyDVDReader>());
    CLSID clsid{};
    ASSERT_EQ(filter->GetClassID(&clsid), S_OK);
    EXPECT_EQ(clsid, MakeGuid("783EAEDE-D5EE-4FCE-1C8F-A4F53D0A2F73"));
    EXPECT_EQ(IID_IMyDVDReader, MakeGuid("1ADB4EE7-45A0-4459-A508-AD77B32C01B2"));

    auto* reader = static_cast<CDVDReader*>(unknown);
    EXPECT_EQ(reader->GetPinCount(), 1);
    EXPECT_EQ(reader->GetPin(1), nullptr);
    EXPECT_EQ(reader->GetPin(-1), nullptr);
    ASSERT_NE(reader->GetPin(0), nullptr);
    EXPECT_EQ(reader->GetPin(0)->Name(), L"Output");
    EXPECT_EQ(reader->GetPin(0)->Direction(), PINDIR_OUTPUT);

    // Before a disc is given: no type, no duration.
    CMediaType mt;
    EXPECT_EQ(reader->GetPin(0)->GetMediaType(0, &mt), S_OK);
    EXPECT_FALSE(mt.IsValid());
    LONGLONG ms = -1;
    EXPECT_EQ(reader->GetTitleDuration(&ms), S_OK);
    EXPECT_EQ(ms, 0);
    EXPECT_EQ(reader->GetTitleDuration(nullptr), E_POINTER);
    EXPECT_EQ(reader->SetTitleArea(0, -1), E_INVALIDARG);
}

TEST_F(DvdReaderTest, OffersAPlainByteStream) {
    auto* out = static_cast<CBasePin*>(pin.Get());
    CMediaType mt;
    ASSERT_EQ(out->GetMediaType(0, &mt), S_OK);
    EXPECT_EQ(mt.majortype, MEDIATYPE_Stream);
    EXPECT_EQ(mt.subtype, GUID_NULL);
    EXPECT_EQ(mt.FormatLength(), 0u);
    EXPECT_EQ(out->GetMediaType(1, &mt), VFW_S_NO_MORE_ITEMS);
    EXPECT_EQ(out->GetMediaType(-1, &mt), E_INVALIDARG);

    struct Case {
        GUID major, sub;
        HRESULT want;
    };
    const Case cases[] = {
        {MEDIATYPE_Stream, GUID_NULL, S_OK},
        {MEDIATYPE_Stream, MakeGuid("E436EB84-524F-11CE-9F53-0020AF0BA770"), S_OK}, // any subtype
        {MEDIATYPE_Video, GUID_NULL, S_FALSE},
        {GUID_NULL, GUID_NULL, S_FALSE},
    };
    for (const Case& c : cases) {
        CMediaType t(&c.major);
        t.SetSubtype(&c.sub);
        EXPECT_EQ(out->CheckMediaType(&t), c.want) << GuidToString(c.major);
    }
    // Selecting a title leaves the type as it is.
    ASSERT_EQ(control->SetTitleArea(1, -1), S_OK);
    ASSERT_EQ(out->GetMediaType(0, &mt), S_OK);
    EXPECT_EQ(mt.majortype, MEDIATYPE_Stream);
}

// The subpicture colours offered to the demultiplexer are those of the title
// selected last; nothing is offered before a disc is given.
TEST_F(DvdReaderTest, OffersTheSelectedTitlesSubpictureColours) {
    auto palette = filter.As<ISubpicturePalette>();
    ASSERT_TRUE(palette);
    EXPECT_EQ(palette->GetSubpicturePalette(nullptr), E_POINTER);
    for (int title : {0, 1, 0}) {
        SCOPED_TRACE(title);
        ASSERT_EQ(control->SetTitleArea(title, -1), S_OK);
        std::uint32_t want[16];
        ASSERT_EQ(MyDVDGetPalette(disc.Handle(), title, want), 0);
        DWORD got[16] = {};
        ASSERT_EQ(palette->GetSubpicturePalette(got), S_OK);
        for (int i = 0; i < 16; ++i)
            EXPECT_EQ(got[i], want[i]) << i;
    }
    ComPtr<IBaseFilter> fresh;
    ASSERT_EQ(CDVDReader::Create(&fresh), S_OK);
    DWORD untouched[16] = {7};
    EXPECT_EQ(fresh.As<ISubpicturePalette>()->GetSubpicturePalette(untouched), S_FALSE);
    EXPECT_EQ(untouched[0], 7u);
}

TEST_F(DvdReaderTest, ConnectsOnlyToAPeerThatPulls) {
    ComPtr<PullSink> puller = new PullSink(true);
    ASSERT_EQ(pin->Connect(puller->Pin(), nullptr), S_OK);
    ComPtr<IPin> peer;
    ASSERT_EQ(pin->ConnectedTo(&peer), S_OK);
    EXPECT_EQ(peer.Get(), puller->Pin());
    ASSERT_TRUE(puller->Reader());
    LONGLONG total = 0, available = 0;
    EXPECT_EQ(puller->Reader()->Length(&total, &available), S_OK);
    EXPECT_EQ(total, Length());
    EXPECT_EQ(pin->Disconnect(), S_OK);
    EXPECT_EQ(puller->Pin()->Disconnect(), S_OK);

    // A peer that never asks for IAsyncReader cannot complete the connection.
    ComPtr<PullSink> pusher = new PullSink(false);
    EXPECT_EQ(pin->Connect(pusher->Pin(), nullptr), VFW_E_NO_TRANSPORT);
    EXPECT_EQ(pin->ConnectedTo(&peer), VFW_E_NOT_CONNECTED);
    // Nor does an earlier query count for a later connection.
    EXPECT_EQ(pin->Connect(pusher->Pin(), nullptr), VFW_E_NO_TRANSPORT);
}

TEST_F(DvdReaderTest, SyncReadsDeliverEveryTitle) {
    const DvdDiscInfo info = disc.Info();
    for (int title = 0; title < info.titleCount; ++title) {
        SCOPED_TRACE(title);
        ASSERT_EQ(control->SetTitleArea(title, -1), S_OK);
        LONGLONG ms = 0;
        ASSERT_EQ(control->GetTitleDuration(&ms), S_OK);
        EXPECT_EQ(ms, static_cast<LONGLONG>(info.titles[title].durationMs));
        const auto want = AreaBytes(NtscFolder(), title, -1);
        EXPECT_EQ(Length(), static_cast<LONGLONG>(want.size()));
        EXPECT_TRUE(SyncReadAll(65536) == want);
    }
}

// One chapter: the length is the whole title's until the reads reach the
// chapter's end, which comes back short (S_FALSE); then the length is exact.
TEST_F(DvdReaderTest, ChapterReadEndsShortAndTheLengthFollows) {
    ASSERT_EQ(control->SetTitleArea(0, 1), S_OK);
    const auto want = AreaBytes(NtscFolder(), 0, 1);
    const LONGLONG whole = testdisc::DescribedBytes(disc.Info().titles[0]);
    EXPECT_EQ(Length(), whole);
    std::vector<std::uint8_t> buf(100000);
    const LONGLONG last = static_cast<LONGLONG>(want.size()) - 30000;
    EXPECT_EQ(reader->SyncRead(last, 100000, buf.data()), S_FALSE);
    EXPECT_EQ(std::memcmp(buf.data(), want.data() + last, 30000), 0);
    EXPECT_EQ(Length(), static_cast<LONGLONG>(want.size()));
    EXPECT_TRUE(SyncReadAll(50000) == want);
}

// The demultiplexer's thread, a second synchronous reader and the queue's
// worker read the same title at once; each read gets exactly its own bytes.
TEST_F(DvdReaderTest, ConcurrentReadersEachGetTheirOwnBytes) {
    const auto want = AreaBytes(NtscFolder(), 0, -1);
    const LONGLONG size = static_cast<LONGLONG>(want.size());
    std::atomic<int> bad{0};
    auto syncReader = [&](unsigned seed) {
        std::mt19937 rng(seed);
        std::vector<std::uint8_t> buf(40000);
        for (int i = 0; i < 150; ++i) {
            const LONG len = std::uniform_int_distribution<LONG>(1, 40000)(rng);
            const LONGLONG pos = std::uniform_int_distribution<LONGLONG>(0, size - len)(rng);
            if (reader->SyncRead(pos, len, buf.data()) != S_OK ||
                std::memcmp(buf.data(), want.data() + pos, len) != 0)
                ++bad;
        }
    };
    std::thread a(syncReader, 1u), b(syncReader, 2u);

    ALLOCATOR_PROPERTIES props{4, 30000, 1, 0};
    ComPtr<IMemAllocator> alloc;
    ASSERT_EQ(reader->RequestAllocator(nullptr, &props, &alloc), S_OK);
    ASSERT_EQ(alloc->Commit(), S_OK);
    for (int i = 0; i < 100; ++i) {
        IMediaSample* s = nullptr;
        ASSERT_EQ(alloc->GetBuffer(&s, nullptr, nullptr, 0), S_OK);
        const LONGLONG pos = (LONGLONG(i) * 297371) % (size - 30000);
        REFERENCE_TIME start = pos * kUnits, stop = (pos + 30000) * kUnits;
        s->SetTime(&start, &stop);
        ASSERT_EQ(reader->Request(s, static_cast<DWORD_PTR>(pos)), S_OK);
        IMediaSample* back = nullptr;
        DWORD_PTR cookie = 0;
        ASSERT_EQ(reader->WaitForNext(10000, &back, &cookie), S_OK);
        BYTE* p = nullptr;
        back->GetPointer(&p);
        EXPECT_EQ(std::memcmp(p, want.data() + cookie, 30000), 0) << cookie;
        back->Release();
    }
    a.join();
    b.join();
    EXPECT_EQ(bad.load(), 0);
    alloc->Decommit();
}

// Queued sample reads over a whole title: byte offsets x 10^7 in the sample
// times, the last sample cut at the end of the title.
TEST_F(DvdReaderTest, QueuedSampleReadsDeliverTheTitle) {
    ASSERT_EQ(control->SetTitleArea(1, -1), S_OK);
    const auto want = AreaBytes(NtscFolder(), 1, -1);
    const LONG piece = 65536;

    ALLOCATOR_PROPERTIES props{4, piece, 0, 0};
    ComPtr<IMemAllocator> alloc;
    ASSERT_EQ(reader->RequestAllocator(nullptr, &props, &alloc), S_OK);
    EXPECT_EQ(props.cbAlign, 1); // 0 is replaced by the stream's alignment
    ASSERT_EQ(alloc->Commit(), S_OK);

    std::vector<std::uint8_t> got(want.size());
    LONGLONG next = 0, done = 0;
    int out = 0;
    while (done < static_cast<LONGLONG>(want.size())) {
        // Keep up to four requests in flight.
        while (out < 4 && next < static_cast<LONGLONG>(want.size())) {
            IMediaSample* s = nullptr;
            ASSERT_EQ(alloc->GetBuffer(&s, nullptr, nullptr, 0), S_OK);
            REFERENCE_TIME start = next * kUnits, stop = (next + piece) * kUnits;
            s->SetTime(&start, &stop);
            ASSERT_EQ(reader->Request(s, static_cast<DWORD_PTR>(next)), S_OK);
            next += piece;
            ++out;
        }
        IMediaSample* s = nullptr;
        DWORD_PTR cookie = 0;
        ASSERT_EQ(reader->WaitForNext(10000, &s, &cookie), S_OK);
        --out;
        REFERENCE_TIME start = 0, stop = 0;
        s->GetTime(&start, &stop);
        EXPECT_EQ(start, static_cast<LONGLONG>(cookie) * kUnits);
        const LONG n = s->GetActualDataLength();
        EXPECT_EQ(stop - start, n * kUnits);
        BYTE* p = nullptr;
        s->GetPointer(&p);
        std::memcpy(got.data() + cookie, p, n);
        done += n;
        s->Release();
    }
    EXPECT_EQ(out, 0);
    EXPECT_TRUE(got == want);
    alloc->Decommit();
}

TEST_F(DvdReaderTest, RequestAllocatorPrefersTheOfferedAllocator) {
    ComPtr<IMemAllocator> offered;
    ASSERT_EQ(CMemAllocator::Create(&offered), S_OK);
    ALLOCATOR_PROPERTIES props{2, 4096, 0, 0};
    ComPtr<IMemAllocator> actual;
    ASSERT_EQ(reader->RequestAllocator(offered, &props, &actual), S_OK);
    EXPECT_EQ(actual.Get(), offered.Get());
    ALLOCATOR_PROPERTIES set{};
    ASSERT_EQ(actual->GetProperties(&set), S_OK);
    EXPECT_EQ(set.cBuffers, 2);
    EXPECT_EQ(set.cbAlign, 1);
    EXPECT_EQ(reader->RequestAllocator(nullptr, nullptr, &actual), E_POINTER);
}

// Flushing through the pin while requests wait, then reading on.
TEST_F(DvdReaderTest, FlushThroughThePin) {
    ALLOCATOR_PROPERTIES props{8, 10000, 1, 0};
    ComPtr<IMemAllocator> alloc;
    ASSERT_EQ(reader->RequestAllocator(nullptr, &props, &alloc), S_OK);
    ASSERT_EQ(alloc->Commit(), S_OK);
    std::vector<IMediaSample*> samples;
    for (int i = 0; i < 8; ++i) {
        IMediaSample* s = nullptr;
        ASSERT_EQ(alloc->GetBuffer(&s, nullptr, nullptr, 0), S_OK);
        REFERENCE_TIME start = i * 10000 * kUnits, stop = (i + 1) * 10000 * kUnits;
        s->SetTime(&start, &stop);
        ASSERT_EQ(reader->Request(s, i), S_OK);
        samples.push_back(s);
    }
    ASSERT_EQ(pin->BeginFlush(), S_OK);
    EXPECT_EQ(reader->Request(samples[0], 0), VFW_E_WRONG_STATE);
    int returned = 0;
    for (;;) {
        IMediaSample* s = nullptr;
        DWORD_PTR cookie = 0;
        HRESULT hr = reader->WaitForNext(10000, &s, &cookie);
        if (hr == VFW_E_WRONG_STATE && !s) break;
        EXPECT_TRUE(hr == S_OK || hr == VFW_E_TIMEOUT) << std::hex << hr;
        EXPECT_EQ(s, samples[cookie]);
        ++returned;
    }
    EXPECT_EQ(returned, 8);
    ASSERT_EQ(pin->EndFlush(), S_OK);
    std::vector<std::uint8_t> buf(100);
    EXPECT_EQ(reader->SyncRead(0, 100, buf.data()), S_OK);
    for (IMediaSample* s : samples) s->Release();
    alloc->Decommit();
}

// The filter goes away with requests still queued: it returns, and no
// request touches the freed stream.
TEST_F(DvdReaderTest, ReleasingWithRequestsPending) {
    ALLOCATOR_PROPERTIES props{32, 65536, 1, 0};
    ComPtr<IMemAllocator> alloc;
    ASSERT_EQ(reader->RequestAllocator(nullptr, &props, &alloc), S_OK);
    ASSERT_EQ(alloc->Commit(), S_OK);
    std::vector<IMediaSample*> samples;
    for (int i = 0; i < 32; ++i) {
        IMediaSample* s = nullptr;
        ASSERT_EQ(alloc->GetBuffer(&s, nullptr, nullptr, 0), S_OK);
        REFERENCE_TIME start = LONGLONG(i) * 65536 * kUnits, stop = LONGLONG(i + 1) * 65536 * kUnits;
        s->SetTime(&start, &stop);
        ASSERT_EQ(reader->Request(s, i), S_OK);
        samples.push_back(s);
    }
    reader.Reset();
    pin.Reset();
    control.Reset();
    filter.Reset(); // the last reference: the filter is destroyed here
    for (IMediaSample* s : samples) s->Release();
    alloc->Decommit();
}

// A title whose data stops early, read the way the demultiplexer reads: the
// reads end cleanly where the data ends and the length follows, also for
// queued requests past that point.
TEST(DvdReader, TruncatedTitleEndsCleanly) {
    const auto full = AreaBytes(NtscFolder(), 1, -1);
    testdisc::TempDir tmp;
    testdisc::CopyDiscWithOwnVob(NtscFolder(), tmp.Path(), "VTS_02_1.VOB");
    Disc disc(tmp.Path());
    ASSERT_NE(disc.Handle(), 0u);

    ComPtr<IBaseFilter> filter;
    ASSERT_EQ(CDVDReader::Create(&filter), S_OK);
    auto control = filter.As<IMyDVDReader>();
    ASSERT_EQ(control->SetDvdHandle(disc.Handle()), S_OK);
    ASSERT_EQ(control->SetTitleArea(1, -1), S_OK);
    ComPtr<IPin> pin;
    ASSERT_EQ(filter->FindPin(L"Output", &pin), S_OK);
    auto reader = pin.As<IAsyncReader>();
    const std::uintmax_t keep = 300000;
    ASSERT_GT(full.size(), keep);
    testdisc::fs::resize_file(tmp.Path() / "VIDEO_TS" / "VTS_02_1.VOB", keep);

    std::vector<std::uint8_t> buf(65536);
    LONGLONG pos = 0;
    HRESULT hr = S_OK;
    LONGLONG total = 0, available = 0;
    while (hr == S_OK) {
        reader->Length(&total, &available);
        ASSERT_LE(total, static_cast<LONGLONG>(full.size()));
        const LONG want = static_cast<LONG>(std::min<LONGLONG>(65536, total - pos));
        if (want <= 0) break;
        hr = reader->SyncRead(pos, want, buf.data());
        if (hr == S_OK) {
            EXPECT_EQ(std::memcmp(buf.data(), full.data() + pos, want), 0);
            pos += want;
        }
    }
    EXPECT_EQ(hr, S_FALSE);
    reader->Length(&total, &available);
    EXPECT_GT(total, pos);
    EXPECT_LE(total, static_cast<LONGLONG>(keep));
    EXPECT_EQ(std::memcmp(buf.data(), full.data() + pos, total - pos), 0);

    // A queued read past the real end fails instead of waiting forever.
    ALLOCATOR_PROPERTIES props{1, 65536, 1, 0};
    ComPtr<IMemAllocator> alloc;
    ASSERT_EQ(reader->RequestAllocator(nullptr, &props, &alloc), S_OK);
    ASSERT_EQ(alloc->Commit(), S_OK);
    IMediaSample* s = nullptr;
    ASSERT_EQ(alloc->GetBuffer(&s, nullptr, nullptr, 0), S_OK);
    REFERENCE_TIME start = (total + 4096) * kUnits, stop = start + 65536 * kUnits;
    s->SetTime(&start, &stop);
    ASSERT_EQ(reader->Request(s, 0), S_OK);
    IMediaSample* back = nullptr;
    DWORD_PTR cookie = 0;
    EXPECT_EQ(reader->WaitForNext(10000, &back, &cookie), E_FAIL);
    EXPECT_EQ(back, s);
    s->Release();
    alloc->Decommit();
}

} // namespace
