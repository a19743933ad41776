// CVideoPrePin: "Video Pre", the sink's preview output. Offers the picture
// type of "Video In"; while active and connected it owns an output queue with
// its own thread (batches of 5, at most 5 waiting), so a slow preview never
// holds the conversion back. Samples are taken without waiting: when all five
// are in use the preview copy is skipped.
#pragma once

#include <atomic>

#include "platform/dshow/QueuedOutputPin.h"

class CConvFilter;

class CVideoPrePin : public CQueuedOutputPin {
public:
    static constexpr LONG kBuffers = 5;

    CVideoPrePin(CConvFilter* filter, HRESULT* phr);

    HRESULT GetMediaType(int iPosition, CMediaType* pMediaType) override;
    // Accepts any type; its picture width becomes the stride.
    HRESULT CheckMediaType(const CMediaType* pmt) override;
    HRESULT DecideBufferSize(IMemAllocator* pAlloc, ALLOCATOR_PROPERTIES* pProp) override;
    HRESULT Notify(IBaseFilter* pSender, Quality q) override { return S_OK; }

    // Set by "Video In" on its connection.
    void SetOfferedType(const CMediaType& mt);
    LONG Stride() const { return m_stride; }

private:
    CCritSec m_typeLock;
    CMediaType m_offered; // -- protected by m_typeLock
    std::atomic<LONG> m_stride{0};
};
