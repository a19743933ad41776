// CBaseOutputPin: an output pin that pushes samples to an IMemInputPin. At
// connection it agrees on an allocator: the input pin's own first, then one of
// ours (InitAllocator), each sized by the derived DecideBufferSize and announced
// with NotifyAllocator. Active commits the allocator, Inactive decommits it (which
// releases a thread blocked in GetDeliveryBuffer).
//
// Threads: GetDeliveryBuffer, Deliver, DeliverEndOfStream, DeliverNewSegment on
// the streaming thread; the flushes on the seeking thread; the rest on the
// application thread under the filter lock.
#pragma once

#include "platform/dshow/BasePin.h"

class CBaseOutputPin : public CBasePin {
public:
    CBaseOutputPin(const char* objectName, CBaseFilter* filter, CCritSec* lock, HRESULT* phr,
                   LPCWSTR name);
    ~CBaseOutputPin() override;

    // Asks the peer for IMemInputPin (its absence refuses the connection).
    HRESULT CheckConnect(IPin* pPin) override;
    // Agrees on the allocator (DecideAllocator).
    HRESULT CompleteConnect(IPin* pReceivePin) override;
    // Releases the allocator and the peer's IMemInputPin.
    HRESULT BreakConnect() override;
    HRESULT Active() override;   // commits the allocator (VFW_E_NO_ALLOCATOR without one)
    HRESULT Inactive() override; // decommits it

    // Sizes the allocator: call SetProperties with what the pin needs and check
    // what was granted. pProp holds the input pin's requirements (cbAlign >= 1).
    virtual HRESULT DecideBufferSize(IMemAllocator* pAlloc, ALLOCATOR_PROPERTIES* pProp) = 0;
    virtual HRESULT DecideAllocator(IMemInputPin* pPin, IMemAllocator** pAlloc);
    // A new CMemAllocator with one reference.
    virtual HRESULT InitAllocator(IMemAllocator** ppAlloc);

    // A free sample of the agreed allocator (one reference, the caller releases
    // it). Blocks while all are in use; VFW_E_NOT_COMMITTED once decommitted.
    virtual HRESULT GetDeliveryBuffer(IMediaSample** ppSample, REFERENCE_TIME* pStartTime,
                                      REFERENCE_TIME* pEndTime, DWORD dwFlags);
    // Hands a sample to the peer's Receive (the sample stays the caller's).
    virtual HRESULT Deliver(IMediaSample* pSample);
    virtual HRESULT DeliverEndOfStream();
    virtual HRESULT DeliverBeginFlush();
    virtual HRESULT DeliverEndFlush();
    virtual HRESULT DeliverNewSegment(REFERENCE_TIME tStart, REFERENCE_TIME tStop, double dRate);

    // Output pins receive no stream control: E_UNEXPECTED.
    HRESULT EndOfStream() override;
    HRESULT BeginFlush() override;
    HRESULT EndFlush() override;

    IMemAllocator* Allocator() const { return m_pAllocator; }
    IMemInputPin* InputPin() const { return m_pInputPin; }

protected:
    IMemAllocator* m_pAllocator = nullptr; // added reference
    IMemInputPin* m_pInputPin = nullptr;   // added reference
};
