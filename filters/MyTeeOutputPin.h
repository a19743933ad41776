// CMyTeeOutputPin: one output of the tee. Offers and accepts exactly the
// input's type; while active and connected it owns a COutputQueue (own
// thread, batches of up to 5, at most 5 samples waiting) that delivers the
// shared samples downstream.
//
// Locks: the queue is created and deleted under the filter lock and the
// exclusive side of m_queueLock; streaming calls (Deliver, end of stream,
// flushes, new segment) hold its shared side, so a flush can always reach a
// queue whose producer is waiting for room, and the queue is never deleted
// under a caller.
#pragma once

#include <shared_mutex>

#include "platform/dshow/BaseOutputPin.h"

class CMyTeeFilter;
class COutputQueue;

class CMyTeeOutputPin : public CBaseOutputPin {
public:
    static constexpr LONG kBatch = 5;

    CMyTeeOutputPin(CMyTeeFilter* filter, HRESULT* phr, LPCWSTR name);
    ~CMyTeeOutputPin() override;

    // IMediaPosition and IMediaSeeking are not offered (E_NOINTERFACE).
    HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

    // S_OK only for the input's type (input connected); else VFW_E_TYPE_NOT_ACCEPTED.
    HRESULT CheckMediaType(const CMediaType* pmt) override;
    // Position 0: the input's type; others VFW_S_NO_MORE_ITEMS.
    HRESULT GetMediaType(int iPosition, CMediaType* pMediaType) override;
    // 5 buffers of the connected type's image size.
    HRESULT DecideBufferSize(IMemAllocator* pAlloc, ALLOCATOR_PROPERTIES* pProp) override;
    HRESULT Active() override;
    HRESULT Inactive() override;

    // Queues a shared sample (adds a reference; the caller keeps its own).
    // E_POINTER for null; dropped with S_OK when there is no queue.
    HRESULT Deliver(IMediaSample* pSample) override;
    HRESULT DeliverEndOfStream() override;
    HRESULT DeliverBeginFlush() override;
    HRESULT DeliverEndFlush() override;
    HRESULT DeliverNewSegment(REFERENCE_TIME tStart, REFERENCE_TIME tStop, double dRate) override;

    // Quality notifications are accepted and ignored.
    HRESULT Notify(IBaseFilter* pSender, Quality q) override { return S_OK; }

    // For tests: whether the pin has a queue now.
    bool HasQueue();

private:
    CMyTeeFilter* m_pTee;
    std::shared_mutex m_queueLock;
    COutputQueue* m_pQueue = nullptr; // owned
};
