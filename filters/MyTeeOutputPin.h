// CMyTeeOutputPin: one output of the tee. Offers and accepts exactly the
// input's type; it delivers the shared samples downstream through its own
// output queue (batches of up to 5, at most 5 samples waiting).
#pragma once

#include "platform/dshow/QueuedOutputPin.h"

class CMyTeeFilter;

class CMyTeeOutputPin : public CQueuedOutputPin {
public:
    static constexpr LONG kBatch = 5;

    CMyTeeOutputPin(CMyTeeFilter* filter, HRESULT* phr, LPCWSTR name);

    // IMediaPosition and IMediaSeeking are not offered (E_NOINTERFACE).
    HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

    // S_OK only for the input's type (input connected); else VFW_E_TYPE_NOT_ACCEPTED.
    HRESULT CheckMediaType(const CMediaType* pmt) override;
    // Position 0: the input's type; others VFW_S_NO_MORE_ITEMS.
    HRESULT GetMediaType(int iPosition, CMediaType* pMediaType) override;
    // 5 buffers of the connected type's image size.
    HRESULT DecideBufferSize(IMemAllocator* pAlloc, ALLOCATOR_PROPERTIES* pProp) override;
    // Quality notifications are accepted and ignored.
    HRESULT Notify(IBaseFilter* pSender, Quality q) override { return S_OK; }

private:
    CMyTeeFilter* m_pTee;
};
