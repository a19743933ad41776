// The request queue over an in-memory stream whose reads can be held, so
// flushing and stopping are tested with requests really waiting.
#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <thread>
#include <vector>

#include "platform/dshow/MemAllocator.h"
#include "source/AsyncRequestQueue.h"
#include "tests/source/FakeStream.h"

namespace {

constexpr LONGLONG kSize = 100000;

bool HoldsStreamBytes(const std::vector<BYTE>& buf, LONGLONG pos, LONG len) {
    for (LONG i = 0; i < len; ++i)
        if (buf[i] != FakeStream::ByteAt(pos + i)) return false;
    return true;
}

TEST(AsyncRequestQueue, QueuedReadsCompleteInOrderWithTheirCookies) {
    FakeStream stream(kSize);
    AsyncRequestQueue queue(&stream);
    std::vector<std::vector<BYTE>> bufs(20, std::vector<BYTE>(3000));
    for (int i = 0; i < 20; ++i)
        ASSERT_EQ(queue.RequestBytes(i * 4001, 3000, bufs[i].data(), nullptr, 100 + i), S_OK);
    for (int i = 0; i < 20; ++i) {
        IMediaSample* sample = reinterpret_cast<IMediaSample*>(1);
        DWORD_PTR cookie = 0;
        ASSERT_EQ(queue.WaitForNext(10000, &sample, &cookie), S_OK);
        EXPECT_EQ(sample, nullptr);
        EXPECT_EQ(cookie, DWORD_PTR(100 + i));
        EXPECT_TRUE(HoldsStreamBytes(bufs[i], i * 4001, 3000)) << i;
    }
    IMediaSample* sample = nullptr;
    DWORD_PTR cookie = 0;
    EXPECT_EQ(queue.WaitForNext(10, &sample, &cookie), VFW_E_TIMEOUT);
}

// A read cut short exactly at the end of the stream is a success; one cut
// short anywhere else is a read error.
TEST(AsyncRequestQueue, ShortReadsAreFineOnlyAtTheEnd) {
    FakeStream stream(kSize);
    AsyncRequestQueue queue(&stream);
    std::vector<BYTE> a(500), b(500);
    ASSERT_EQ(queue.RequestBytes(kSize - 100, 500, a.data(), nullptr, 1), S_OK);
    IMediaSample* sample = nullptr;
    DWORD_PTR cookie = 0;
    EXPECT_EQ(queue.WaitForNext(10000, &sample, &cookie), S_OK);
    EXPECT_TRUE(HoldsStreamBytes(a, kSize - 100, 100));

    stream.SetHole(5000);
    ASSERT_EQ(queue.RequestBytes(4900, 500, b.data(), nullptr, 2), S_OK);
    EXPECT_EQ(queue.WaitForNext(10000, &sample, &cookie), E_FAIL);
    EXPECT_EQ(cookie, DWORD_PTR(2));

    // Synchronous reads report the short count as S_FALSE, nothing as E_FAIL.
    EXPECT_EQ(queue.SyncRead(4900, 500, b.data()), S_FALSE);
    EXPECT_TRUE(HoldsStreamBytes(b, 4900, 100));
    EXPECT_EQ(queue.SyncRead(6000, 10, b.data()), E_FAIL);
    EXPECT_EQ(queue.SyncRead(0, 500, b.data()), S_OK);
}

TEST(AsyncRequestQueue, LengthIsTheStreamSize) {
    FakeStream stream(kSize);
    AsyncRequestQueue queue(&stream);
    LONGLONG total = 0, available = 0;
    ASSERT_EQ(queue.Length(&total, &available), S_OK);
    EXPECT_EQ(total, kSize);
    EXPECT_EQ(available, kSize);
    EXPECT_EQ(queue.Length(nullptr, &available), E_POINTER);
}

// Flush while the worker is inside a read and more requests wait: the flush
// returns once that read is done, the waiting ones come back unread, and no
// new request is taken until the flush ends.
TEST(AsyncRequestQueue, FlushWhileRequestsWait) {
    FakeStream stream(kSize);
    AsyncRequestQueue queue(&stream);
    std::vector<std::vector<BYTE>> bufs(5, std::vector<BYTE>(1000));
    stream.CloseGate();
    for (int i = 0; i < 5; ++i)
        ASSERT_EQ(queue.RequestBytes(i * 1000, 1000, bufs[i].data(), nullptr, i), S_OK);
    ASSERT_TRUE(stream.WaitForReadsStarted(1));

    auto flush = std::async(std::launch::async, [&] { return queue.BeginFlush(); });
    // The waiting requests come back at once, unread, while the flush still
    // waits for the read in progress.
    for (int i = 1; i < 5; ++i) {
        IMediaSample* sample = nullptr;
        DWORD_PTR cookie = 0;
        EXPECT_EQ(queue.WaitForNext(10000, &sample, &cookie), VFW_E_TIMEOUT);
        EXPECT_EQ(cookie, DWORD_PTR(i));
    }
    EXPECT_EQ(flush.wait_for(std::chrono::milliseconds(50)), std::future_status::timeout);
    std::vector<BYTE> extra(10);
    EXPECT_EQ(queue.RequestBytes(0, 10, extra.data(), nullptr, 99), VFW_E_WRONG_STATE);

    stream.OpenGate();
    ASSERT_EQ(flush.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    EXPECT_EQ(flush.get(), S_OK);
    EXPECT_EQ(stream.ReadsStarted(), 1);
    {
        IMediaSample* sample = nullptr;
        DWORD_PTR cookie = 99;
        EXPECT_EQ(queue.WaitForNext(0, &sample, &cookie), S_OK);
        EXPECT_EQ(cookie, DWORD_PTR(0));
        EXPECT_TRUE(HoldsStreamBytes(bufs[0], 0, 1000));
    }

    // Flushing with nothing left: no waiting.
    IMediaSample* sample = nullptr;
    DWORD_PTR cookie = 0;
    EXPECT_EQ(queue.WaitForNext(INFINITE, &sample, &cookie), VFW_E_WRONG_STATE);

    ASSERT_EQ(queue.EndFlush(), S_OK);
    EXPECT_EQ(queue.WaitForNext(0, &sample, &cookie), VFW_E_TIMEOUT);
    ASSERT_EQ(queue.RequestBytes(7, 10, extra.data(), nullptr, 7), S_OK);
    EXPECT_EQ(queue.WaitForNext(10000, &sample, &cookie), S_OK);
    EXPECT_EQ(cookie, DWORD_PTR(7));
    EXPECT_TRUE(HoldsStreamBytes(extra, 7, 10));
}

// A flush with nothing in flight returns at once and wakes a waiting reader.
TEST(AsyncRequestQueue, FlushWakesAWaitingCollector) {
    FakeStream stream(kSize);
    AsyncRequestQueue queue(&stream);
    auto waiter = std::async(std::launch::async, [&] {
        IMediaSample* sample = nullptr;
        DWORD_PTR cookie = 0;
        return queue.WaitForNext(INFINITE, &sample, &cookie);
    });
    EXPECT_EQ(waiter.wait_for(std::chrono::milliseconds(50)), std::future_status::timeout);
    ASSERT_EQ(queue.BeginFlush(), S_OK);
    ASSERT_EQ(waiter.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    EXPECT_EQ(waiter.get(), VFW_E_WRONG_STATE);
    EXPECT_EQ(queue.EndFlush(), S_OK);
}

// Destroying the queue with many requests pending on a slow stream waits
// only for the read in progress; the rest are dropped unread.
TEST(AsyncRequestQueue, StoppingWithRequestsPendingReturnsPromptly) {
    FakeStream stream(kSize);
    stream.SetReadDelay(std::chrono::milliseconds(100));
    std::vector<BYTE> buf(100 * 1000);
    auto queue = std::make_unique<AsyncRequestQueue>(&stream);
    for (int i = 0; i < 100; ++i)
        ASSERT_EQ(queue->RequestBytes(i * 1000, 1000, buf.data() + i * 1000, nullptr, i), S_OK);
    ASSERT_TRUE(stream.WaitForReadsStarted(1));
    queue.reset();
    // Reading all of them would take 10 s.
    EXPECT_LT(stream.ReadsStarted(), 10);
}

TEST(AsyncRequestQueue, BadRequestsAreRefused) {
    FakeStream stream(kSize);
    AsyncRequestQueue queue(&stream);
    BYTE b[4];
    EXPECT_EQ(queue.RequestBytes(0, -1, b, nullptr, 0), E_INVALIDARG);
    EXPECT_EQ(queue.RequestBytes(0, 4, nullptr, nullptr, 0), E_INVALIDARG);
    EXPECT_EQ(queue.SyncRead(-5, 4, b), E_INVALIDARG);
    EXPECT_EQ(queue.SyncRead(0, 4, nullptr), E_POINTER);
    EXPECT_EQ(queue.WaitForNext(0, nullptr, nullptr), E_POINTER);
}

// Synchronous reads from several threads and queued reads at the same time
// never interleave inside one request.
TEST(AsyncRequestQueue, ConcurrentReadersEachGetTheirOwnBytes) {
    FakeStream stream(kSize);
    AsyncRequestQueue queue(&stream);
    std::atomic<int> bad{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {
            std::vector<BYTE> buf(777);
            for (int i = 0; i < 200; ++i) {
                const LONGLONG pos = (t * 9973 + i * 331) % (kSize - 777);
                if (queue.SyncRead(pos, 777, buf.data()) != S_OK || !HoldsStreamBytes(buf, pos, 777))
                    ++bad;
            }
        });
    std::vector<std::vector<BYTE>> bufs(50, std::vector<BYTE>(555));
    for (int i = 0; i < 50; ++i)
        ASSERT_EQ(queue.RequestBytes(i * 1500, 555, bufs[i].data(), nullptr, i), S_OK);
    for (int i = 0; i < 50; ++i) {
        IMediaSample* sample = nullptr;
        DWORD_PTR cookie = 0;
        ASSERT_EQ(queue.WaitForNext(10000, &sample, &cookie), S_OK);
        EXPECT_TRUE(HoldsStreamBytes(bufs[cookie], LONGLONG(cookie) * 1500, 555));
    }
    for (auto& t : threads) t.join();
    EXPECT_EQ(bad.load(), 0);
}

// Samples from a committed memory allocator, released at the end.
class Samples {
public:
    explicit Samples(LONG size, LONG align = 1) {
        EXPECT_EQ(CMemAllocator::Create(&alloc_), S_OK);
        ALLOCATOR_PROPERTIES want{8, size, align, 0}, got{};
        EXPECT_EQ(alloc_->SetProperties(&want, &got), S_OK);
        EXPECT_EQ(alloc_->Commit(), S_OK);
    }
    ~Samples() {
        for (IMediaSample* s : out_) s->Release();
        alloc_->Decommit();
    }
    // A sample covering bytes [from, to): times are byte offsets x 10^7.
    IMediaSample* Get(LONGLONG from, LONGLONG to) {
        IMediaSample* s = nullptr;
        EXPECT_EQ(alloc_->GetBuffer(&s, nullptr, nullptr, 0), S_OK);
        REFERENCE_TIME start = from * AsyncRequestQueue::kUnits;
        REFERENCE_TIME stop = to * AsyncRequestQueue::kUnits;
        s->SetTime(&start, &stop);
        out_.push_back(s);
        return s;
    }

private:
    ComPtr<IMemAllocator> alloc_;
    std::vector<IMediaSample*> out_;
};

REFERENCE_TIME StopTime(IMediaSample* s) {
    REFERENCE_TIME start = 0, stop = 0;
    s->GetTime(&start, &stop);
    return stop;
}

bool SampleHoldsStreamBytes(IMediaSample* s, LONGLONG pos) {
    BYTE* p = nullptr;
    s->GetPointer(&p);
    return HoldsStreamBytes(std::vector<BYTE>(p, p + s->GetActualDataLength()), pos,
                            s->GetActualDataLength());
}

TEST(AsyncRequestQueue, SampleTimesCarryByteOffsets) {
    FakeStream stream(kSize);
    AsyncRequestQueue queue(&stream);
    Samples samples(8192);
    IMediaSample* a = samples.Get(1000, 3000);
    IMediaSample* b = samples.Get(77777, 77777 + 8192);
    ASSERT_EQ(queue.Request(a, 1), S_OK);
    ASSERT_EQ(queue.Request(b, 2), S_OK);
    for (IMediaSample* want : {a, b}) {
        IMediaSample* got = nullptr;
        DWORD_PTR cookie = 0;
        ASSERT_EQ(queue.WaitForNext(10000, &got, &cookie), S_OK);
        EXPECT_EQ(got, want);
        EXPECT_EQ(cookie, want == a ? 1u : 2u);
    }
    EXPECT_EQ(a->GetActualDataLength(), 2000);
    EXPECT_TRUE(SampleHoldsStreamBytes(a, 1000));
    EXPECT_EQ(b->GetActualDataLength(), 8192);
    EXPECT_TRUE(SampleHoldsStreamBytes(b, 77777));
    EXPECT_EQ(StopTime(b), (77777 + 8192) * AsyncRequestQueue::kUnits);

    IMediaSample* c = samples.Get(5, 4005);
    ASSERT_EQ(queue.SyncReadAligned(c), S_OK);
    EXPECT_EQ(c->GetActualDataLength(), 4000);
    EXPECT_TRUE(SampleHoldsStreamBytes(c, 5));
}

// A range running past the end is cut there, and so is the sample's stop time.
TEST(AsyncRequestQueue, SampleRangePastTheEndIsCut) {
    FakeStream stream(kSize);
    AsyncRequestQueue queue(&stream);
    Samples samples(1000);
    IMediaSample* a = samples.Get(kSize - 100, kSize + 400);
    ASSERT_EQ(queue.Request(a, 0), S_OK);
    EXPECT_EQ(StopTime(a), kSize * AsyncRequestQueue::kUnits);
    IMediaSample* got = nullptr;
    DWORD_PTR cookie = 0;
    ASSERT_EQ(queue.WaitForNext(10000, &got, &cookie), S_OK);
    EXPECT_EQ(a->GetActualDataLength(), 100);
    EXPECT_TRUE(SampleHoldsStreamBytes(a, kSize - 100));

    IMediaSample* b = samples.Get(kSize - 10, kSize + 990);
    EXPECT_EQ(queue.SyncReadAligned(b), S_OK);
    EXPECT_EQ(b->GetActualDataLength(), 10);
    EXPECT_EQ(StopTime(b), kSize * AsyncRequestQueue::kUnits);
    EXPECT_TRUE(SampleHoldsStreamBytes(b, kSize - 10));
}

TEST(AsyncRequestQueue, BadSampleRequestsAreRefused) {
    FakeStream aligned(kSize, 512);
    AsyncRequestQueue queue(&aligned);
    Samples samples(4096, 512);
    EXPECT_EQ(queue.Request(samples.Get(100, 612), 0), VFW_E_BADALIGN);
    EXPECT_EQ(queue.Request(samples.Get(512, 1000), 0), VFW_E_BADALIGN);
    EXPECT_EQ(queue.Request(samples.Get(0, 5000), 0), E_INVALIDARG); // larger than the buffer
    EXPECT_EQ(queue.Request(nullptr, 0), E_POINTER);
    IMediaSample* ok = samples.Get(1024, 2048);
    ASSERT_EQ(queue.Request(ok, 9), S_OK);
    IMediaSample* got = nullptr;
    DWORD_PTR cookie = 0;
    ASSERT_EQ(queue.WaitForNext(10000, &got, &cookie), S_OK);
    EXPECT_EQ(ok->GetActualDataLength(), 1024);
}

} // namespace
