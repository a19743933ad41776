// CVideoPrePin: "Video Pre", the sink's preview output. Offers the picture
// type of "Video In"; while active and connected it owns an output queue with
// its own thread (batches of 5, at most 5 waiting), so a slow preview never
// holds the conversion back. Samples are taken without waiting: when all five
// are in use the preview copy is skipped.
//
// Locks: the queue is made and deleted under the exclusive side of
// m_queueLock; Deliver and end of stream hold its shared side.
#pragma once

#include <shared_mutex>

#include "platform/dshow/BaseOutputPin.h"

class CConvFilter;
class COutputQueue;

class CVideoPrePin : public CBaseOutputPin {
public:
    static constexpr LONG kBuffers = 5;

    CVideoPrePin(CConvFilter* filter, HRESULT* phr);
    ~CVideoPrePin() override;

    HRESULT GetMediaType(int iPosition, CMediaType* pMediaType) override;
    // Accepts any type; its picture width becomes the stride.
    HRESULT CheckMediaType(const CMediaType* pmt) override;
    HRESULT DecideBufferSize(IMemAllocator* pAlloc, ALLOCATOR_PROPERTIES* pProp) override;
    HRESULT Active() override;
    HRESULT Inactive() override;
    // Queues the sample (takes a reference of its own); dropped without a queue.
    HRESULT Deliver(IMediaSample* pSample) override;
    HRESULT DeliverEndOfStream() override;
    HRESULT Notify(IBaseFilter* pSender, Quality q) override { return S_OK; }

    // Set by "Video In" on its connection.
    void SetOfferedType(const CMediaType& mt);
    LONG Stride() const { return m_stride; }
    bool HasQueue();

private:
    CCritSec m_typeLock;
    CMediaType m_offered; // -- protected by m_typeLock
    std::atomic<LONG> m_stride{0};
    std::shared_mutex m_queueLock;
    COutputQueue* m_pQueue = nullptr; // owned
};
