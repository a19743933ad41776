// COutputQueue against a recording input pin.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>

#include <cstring>
#include <future>

#include "TestFilters.h"
#include "platform/dshow/MemAllocator.h"

using namespace dshowtest;

namespace {

// A downstream input pin that records what reaches it, and can block.
class RecordingPin : public CUnknown, public IPin, public IMemInputPin {
public:
    RecordingPin() : CUnknown("RecordingPin", nullptr) {}
    DECLARE_IUNKNOWN
    HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) override {
        if (riid == IID_IPin) return ::GetInterface(static_cast<IPin*>(this), ppv);
        if (riid == IID_IMemInputPin) return ::GetInterface(static_cast<IMemInputPin*>(this), ppv);
        return CUnknown::NonDelegatingQueryInterface(riid, ppv);
    }
    // IPin
    HRESULT Connect(IPin*, const AM_MEDIA_TYPE*) override { return E_NOTIMPL; }
    HRESULT ReceiveConnection(IPin*, const AM_MEDIA_TYPE*) override { return E_NOTIMPL; }
    HRESULT Disconnect() override { return E_NOTIMPL; }
    HRESULT ConnectedTo(IPin**) override { return E_NOTIMPL; }
    HRESULT ConnectionMediaType(AM_MEDIA_TYPE*) override { return E_NOTIMPL; }
    HRESULT QueryPinInfo(PIN_INFO*) override { return E_NOTIMPL; }
    HRESULT QueryDirection(PIN_DIRECTION* d) override {
        *d = PINDIR_INPUT;
        return S_OK;
    }
    HRESULT QueryId(LPWSTR*) override { return E_NOTIMPL; }
    HRESULT QueryAccept(const AM_MEDIA_TYPE*) override { return S_OK; }
    HRESULT EnumMediaTypes(IEnumMediaTypes**) override { return E_NOTIMPL; }
    HRESULT QueryInternalConnections(IPin**, ULONG*) override { return E_NOTIMPL; }
    HRESULT EndOfStream() override { return Log("eos"); }
    HRESULT BeginFlush() override {
        {
            std::lock_guard lk(m);
            flushing = true;
        }
        cv.notify_all();
        return Log("begin-flush");
    }
    HRESULT EndFlush() override {
        {
            std::lock_guard lk(m);
            flushing = false;
        }
        return Log("end-flush");
    }
    HRESULT NewSegment(REFERENCE_TIME start, REFERENCE_TIME, double) override {
        return Log("segment " + std::to_string(start));
    }
    // IMemInputPin
    HRESULT GetAllocator(IMemAllocator**) override { return E_NOTIMPL; }
    HRESULT NotifyAllocator(IMemAllocator*, BOOL) override { return S_OK; }
    HRESULT GetAllocatorRequirements(ALLOCATOR_PROPERTIES*) override { return E_NOTIMPL; }
    HRESULT Receive(IMediaSample* s) override {
        LONG n = 0;
        return ReceiveMultiple(&s, 1, &n);
    }
    HRESULT ReceiveMultiple(IMediaSample** pp, LONG n, LONG* done) override {
        std::unique_lock lk(m);
        cv.wait(lk, [&] { return !block || flushing; });
        batches.push_back(n);
        for (LONG i = 0; i < n; ++i) {
            BYTE* p = nullptr;
            pp[i]->GetPointer(&p);
            std::uint32_t v;
            std::memcpy(&v, p, 4);
            log.push_back("sample " + std::to_string(v));
        }
        threads.insert(std::this_thread::get_id());
        *done = n;
        cv.notify_all();
        return fail;
    }
    HRESULT ReceiveCanBlock() override { return S_OK; }

    HRESULT Log(const std::string& s) {
        {
            std::lock_guard lk(m);
            log.push_back(s);
        }
        cv.notify_all();
        return S_OK;
    }
    size_t LogSize() {
        std::lock_guard lk(m);
        return log.size();
    }
    void SetBlock(bool b) {
        {
            std::lock_guard lk(m);
            block = b;
        }
        cv.notify_all();
    }

    std::mutex m;
    std::condition_variable cv;
    std::vector<std::string> log;
    std::vector<LONG> batches;
    std::set<std::thread::id> threads;
    bool block = false, flushing = false;
    HRESULT fail = S_OK;
};

struct Pool {
    ComPtr<IMemAllocator> alloc;
    explicit Pool(LONG count) {
        CMemAllocator::Create(&alloc);
        ALLOCATOR_PROPERTIES req{count, 64, 1, 0}, act{};
        alloc->SetProperties(&req, &act);
        alloc->Commit();
    }
    ~Pool() { alloc->Decommit(); }
    IMediaSample* Sample(std::uint32_t n) {
        IMediaSample* s = nullptr;
        alloc->GetBuffer(&s, nullptr, nullptr, 0);
        BYTE* p = nullptr;
        s->GetPointer(&p);
        std::memcpy(p, &n, 4);
        s->SetActualDataLength(4);
        return s;
    }
};

} // namespace

TEST(OutputQueue, DeliversInOrderOnItsOwnThreadWithControlItems) {
    Watchdog dog(30);
    auto* pin = new RecordingPin;
    ComPtr<IPin> keep(static_cast<IPin*>(pin));
    Pool pool(64);
    HRESULT hr = E_FAIL;
    {
        COutputQueue q(pin, &hr, FALSE, TRUE, 5, FALSE, 10);
        ASSERT_EQ(hr, S_OK);
        EXPECT_TRUE(q.IsQueued());
        q.NewSegment(7, MAX_TIME, 1.0);
        for (std::uint32_t i = 0; i < 40; ++i) ASSERT_EQ(q.Receive(pool.Sample(i)), S_OK);
        q.EOS();
        ASSERT_TRUE(WaitFor([&] { return pin->LogSize() == 42; }));
        EXPECT_TRUE(q.IsIdle() || WaitFor([&] { return q.IsIdle(); }));
    }
    std::lock_guard lk(pin->m);
    EXPECT_EQ(pin->log.front(), "segment 7");
    for (int i = 0; i < 40; ++i) EXPECT_EQ(pin->log[std::size_t(i) + 1], "sample " + std::to_string(i));
    EXPECT_EQ(pin->log.back(), "eos");
    for (LONG b : pin->batches) EXPECT_LE(b, 5);
    ASSERT_EQ(pin->threads.size(), 1u);
    EXPECT_NE(*pin->threads.begin(), std::this_thread::get_id());
}

TEST(OutputQueue, ExactBatchesWaitForAFullBatchOrSendAnyway) {
    Watchdog dog(30);
    auto* pin = new RecordingPin;
    ComPtr<IPin> keep(static_cast<IPin*>(pin));
    Pool pool(16);
    HRESULT hr = E_FAIL;
    COutputQueue q(pin, &hr, FALSE, TRUE, 4, TRUE, 0);
    for (std::uint32_t i = 0; i < 6; ++i) q.Receive(pool.Sample(i));
    ASSERT_TRUE(WaitFor([&] { return pin->LogSize() == 4; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(pin->LogSize(), 4u); // 2 left waiting for a full batch
    q.SendAnyway();
    ASSERT_TRUE(WaitFor([&] { return pin->LogSize() == 6; }));
    std::lock_guard lk(pin->m);
    EXPECT_EQ(pin->batches, (std::vector<LONG>{4, 2}));
}

TEST(OutputQueue, FlushDropsQueuedSamplesAndPassesTheFlush) {
    Watchdog dog(30);
    auto* pin = new RecordingPin;
    ComPtr<IPin> keep(static_cast<IPin*>(pin));
    Pool pool(16);
    HRESULT hr = E_FAIL;
    COutputQueue q(pin, &hr, FALSE, TRUE, 1, FALSE, 0);
    pin->SetBlock(true);
    for (std::uint32_t i = 0; i < 5; ++i) q.Receive(pool.Sample(i));
    q.BeginFlush(); // releases the blocked delivery and drops the rest
    EXPECT_EQ(q.Receive(pool.Sample(99)), S_FALSE);
    q.EndFlush();
    pin->SetBlock(false);
    q.NewSegment(0, MAX_TIME, 1.0);
    q.Receive(pool.Sample(100));
    ASSERT_TRUE(WaitFor([&] {
        std::lock_guard lk(pin->m);
        return !pin->log.empty() && pin->log.back() == "sample 100";
    }));
    std::lock_guard lk(pin->m);
    int samplesBeforeFlush = 0;
    for (auto& s : pin->log) {
        if (s == "begin-flush") break;
        samplesBeforeFlush += s.rfind("sample", 0) == 0;
    }
    EXPECT_LE(samplesBeforeFlush, 1);
    EXPECT_EQ(std::count(pin->log.begin(), pin->log.end(), "sample 99"), 0);
    auto bf = std::find(pin->log.begin(), pin->log.end(), "begin-flush");
    auto ef = std::find(pin->log.begin(), pin->log.end(), "end-flush");
    ASSERT_NE(bf, pin->log.end());
    EXPECT_LT(bf, ef);
    // Every dropped sample went back to the pool.
    EXPECT_TRUE(WaitFor([&] { return static_cast<CMemAllocator*>(pool.alloc.Get())->OutstandingSamples() == 0; }));
}

TEST(OutputQueue, FullQueueBlocksTheProducerUntilDestroyed) {
    Watchdog dog(30);
    auto* pin = new RecordingPin;
    ComPtr<IPin> keep(static_cast<IPin*>(pin));
    Pool pool(16);
    HRESULT hr = E_FAIL;
    auto q = std::make_unique<COutputQueue>(pin, &hr, FALSE, TRUE, 1, FALSE, 2);
    COutputQueue* queue = q.get(); // the producer stays inside Receive until destruction
    pin->SetBlock(true);
    std::atomic<int> accepted{0};
    auto producer = std::async(std::launch::async, [&] {
        HRESULT last = S_OK;
        for (std::uint32_t i = 0; i < 10 && last == S_OK; ++i) {
            last = queue->Receive(pool.Sample(i));
            if (last == S_OK) ++accepted;
        }
        return last;
    });
    ASSERT_TRUE(WaitFor([&] { return accepted.load() == 3; })); // 1 delivering + 2 queued
    EXPECT_EQ(producer.wait_for(std::chrono::milliseconds(50)), std::future_status::timeout);
    // Destruction releases the producer; the blocked delivery is released by the
    // downstream (here: unblocked as a stopped filter would).
    std::thread unblock([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        pin->SetBlock(false);
    });
    {
        std::lock_guard lk(pin->m);
        pin->fail = VFW_E_WRONG_STATE;
    }
    q.reset();
    unblock.join();
    EXPECT_NE(producer.get(), S_OK);
    EXPECT_TRUE(WaitFor([&] { return static_cast<CMemAllocator*>(pool.alloc.Get())->OutstandingSamples() == 0; }));
}

TEST(OutputQueue, ADownstreamFailureIsKeptUntilReset) {
    Watchdog dog(30);
    auto* pin = new RecordingPin;
    ComPtr<IPin> keep(static_cast<IPin*>(pin));
    pin->fail = E_FAIL; // before the queue thread exists
    Pool pool(16);
    HRESULT hr = E_FAIL;
    COutputQueue q(pin, &hr, FALSE, TRUE, 1, FALSE, 0);
    q.Receive(pool.Sample(1));
    ASSERT_TRUE(WaitFor([&] { return q.Receive(pool.Sample(2)) == E_FAIL; }));
    {
        std::lock_guard lk(pin->m);
        pin->fail = S_OK;
    }
    q.Reset();
    EXPECT_EQ(q.Receive(pool.Sample(3)), S_OK);
}

TEST(OutputQueue, UnqueuedModeDeliversOnTheCallersThread) {
    auto* pin = new RecordingPin;
    ComPtr<IPin> keep(static_cast<IPin*>(pin));
    Pool pool(4);
    HRESULT hr = E_FAIL;
    COutputQueue q(pin, &hr, FALSE, FALSE);
    EXPECT_FALSE(q.IsQueued());
    EXPECT_EQ(q.Receive(pool.Sample(5)), S_OK);
    std::lock_guard lk(pin->m);
    EXPECT_EQ(*pin->threads.begin(), std::this_thread::get_id());
}
