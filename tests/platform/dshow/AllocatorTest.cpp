#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "platform/dshow/MemAllocator.h"
#include "platform/dshow/MediaType.h"

namespace {
ComPtr<IMemAllocator> MakeAllocator(LONG count, LONG size) {
    ComPtr<IMemAllocator> a;
    EXPECT_EQ(CMemAllocator::Create(&a), S_OK);
    ALLOCATOR_PROPERTIES req{count, size, 16, 0}, act{};
    EXPECT_EQ(a->SetProperties(&req, &act), S_OK);
    EXPECT_EQ(act.cBuffers, count);
    EXPECT_GE(act.cbBuffer, size);
    return a;
}
} // namespace

TEST(MemAllocator, NeedsCommitAndSize) {
    ComPtr<IMemAllocator> a;
    ASSERT_EQ(CMemAllocator::Create(&a), S_OK);
    IMediaSample* s = nullptr;
    EXPECT_EQ(a->GetBuffer(&s, nullptr, nullptr, 0), VFW_E_NOT_COMMITTED);
    EXPECT_EQ(a->Commit(), VFW_E_SIZENOTSET);
    ALLOCATOR_PROPERTIES bad{0, 100, 1, 0}, act{};
    EXPECT_EQ(a->SetProperties(&bad, &act), E_INVALIDARG);
}

TEST(MemAllocator, SampleCarriesTimesFlagsAndType) {
    auto a = MakeAllocator(1, 100);
    ASSERT_EQ(a->Commit(), S_OK);
    IMediaSample* s = nullptr;
    ASSERT_EQ(a->GetBuffer(&s, nullptr, nullptr, 0), S_OK);
    REFERENCE_TIME t0 = 0, t1 = 0;
    EXPECT_EQ(s->GetTime(&t0, &t1), VFW_E_SAMPLE_TIME_NOT_SET);
    REFERENCE_TIME st = 100, en = 200;
    s->SetTime(&st, &en);
    EXPECT_EQ(s->GetTime(&t0, &t1), S_OK);
    EXPECT_EQ(t0, 100);
    EXPECT_EQ(t1, 200);
    s->SetTime(&st, nullptr);
    EXPECT_EQ(s->GetTime(&t0, &t1), VFW_S_NO_STOP_TIME);
    EXPECT_EQ(s->SetActualDataLength(s->GetSize() + 1), VFW_E_BUFFER_OVERFLOW);
    EXPECT_EQ(s->SetActualDataLength(100), S_OK);
    s->SetSyncPoint(TRUE);
    s->SetDiscontinuity(TRUE);
    s->SetPreroll(TRUE);
    CMediaType mt(&MEDIATYPE_Audio);
    s->SetMediaType(&mt);
    AM_MEDIA_TYPE* got = nullptr;
    EXPECT_EQ(s->GetMediaType(&got), S_OK);
    ASSERT_NE(got, nullptr);
    EXPECT_EQ(got->majortype, MEDIATYPE_Audio);
    DeleteMediaType(got);
    EXPECT_EQ(s->IsSyncPoint(), S_OK);
    s->Release();
    // Back in the pool, cleared.
    ASSERT_EQ(a->GetBuffer(&s, nullptr, nullptr, 0), S_OK);
    EXPECT_EQ(s->IsSyncPoint(), S_FALSE);
    EXPECT_EQ(s->IsDiscontinuity(), S_FALSE);
    EXPECT_EQ(s->IsPreroll(), S_FALSE);
    EXPECT_EQ(s->GetActualDataLength(), 0);
    EXPECT_EQ(s->GetMediaType(&got), S_FALSE);
    s->Release();
    a->Decommit();
}

TEST(MemAllocator, GetBufferBlocksUntilReleased) {
    auto a = MakeAllocator(1, 64);
    ASSERT_EQ(a->Commit(), S_OK);
    IMediaSample* first = nullptr;
    ASSERT_EQ(a->GetBuffer(&first, nullptr, nullptr, 0), S_OK);
    IMediaSample* none = nullptr;
    EXPECT_EQ(a->GetBuffer(&none, nullptr, nullptr, AM_GBF_NOWAIT), VFW_E_TIMEOUT);
    std::atomic<bool> got{false};
    std::thread t([&] {
        IMediaSample* s = nullptr;
        EXPECT_EQ(a->GetBuffer(&s, nullptr, nullptr, 0), S_OK);
        got = true;
        s->Release();
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(got.load());
    first->Release();
    t.join();
    EXPECT_TRUE(got.load());
    a->Decommit();
}

TEST(MemAllocator, DecommitReleasesWaiters) {
    auto a = MakeAllocator(1, 64);
    ASSERT_EQ(a->Commit(), S_OK);
    IMediaSample* first = nullptr;
    ASSERT_EQ(a->GetBuffer(&first, nullptr, nullptr, 0), S_OK);
    std::atomic<HRESULT> result{S_OK};
    std::thread t([&] {
        IMediaSample* s = nullptr;
        result = a->GetBuffer(&s, nullptr, nullptr, 0);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    a->Decommit();
    t.join();
    EXPECT_EQ(result.load(), VFW_E_NOT_COMMITTED);
    ALLOCATOR_PROPERTIES req{2, 64, 1, 0}, act{};
    EXPECT_EQ(a->SetProperties(&req, &act), VFW_E_BUFFERS_OUTSTANDING);
    first->Release(); // memory freed now
    EXPECT_EQ(a->SetProperties(&req, &act), S_OK);
}
