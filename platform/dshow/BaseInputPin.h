// CBaseInputPin: an input pin with the push transport (IMemInputPin). It offers
// an allocator (its own CMemAllocator unless the upstream pin brings one), checks
// every sample against the streaming state, and tracks flushing.
//
// Threads: Receive/ReceiveMultiple/EndOfStream on the upstream streaming thread;
// BeginFlush/EndFlush on the seeking thread; the rest on the application thread.
#pragma once

#include "platform/dshow/BasePin.h"

class CBaseInputPin : public CBasePin, public IMemInputPin {
public:
    CBaseInputPin(const char* objectName, CBaseFilter* filter, CCritSec* lock, HRESULT* phr,
                  LPCWSTR name);
    ~CBaseInputPin() override;

    DECLARE_IUNKNOWN
    // Adds IMemInputPin.
    HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

    // IMemInputPin
    // The agreed allocator, or a new CMemAllocator of ours.
    HRESULT GetAllocator(IMemAllocator** ppAllocator) override;
    // Keeps the allocator the output pin chose.
    HRESULT NotifyAllocator(IMemAllocator* pAllocator, BOOL bReadOnly) override;
    HRESULT GetAllocatorRequirements(ALLOCATOR_PROPERTIES* pProps) override; // E_NOTIMPL
    // Base behaviour: CheckStreaming, then a media type attached to the sample is
    // checked with CheckMediaType (a refusal raises EC_ERRORABORT and returns
    // VFW_E_INVALIDMEDIATYPE). Derived pins call it first, then process.
    HRESULT Receive(IMediaSample* pSample) override;
    HRESULT ReceiveMultiple(IMediaSample** pSamples, LONG nSamples, LONG* nSamplesProcessed) override;
    HRESULT ReceiveCanBlock() override; // S_OK

    // IPin: a flag for CheckStreaming; derived pins pass the flush downstream.
    HRESULT BeginFlush() override;
    HRESULT EndFlush() override;
    HRESULT Disconnect() override;

    // Releases the allocator.
    HRESULT BreakConnect() override;
    // Decommits the allocator, clears the run-time error.
    HRESULT Inactive() override;

    // S_OK when samples may be processed now; VFW_E_NOT_CONNECTED,
    // VFW_E_WRONG_STATE (stopped), S_FALSE (flushing), VFW_E_RUNTIME_ERROR.
    virtual HRESULT CheckStreaming();
    bool IsFlushing() const { return m_bFlushing; }
    bool IsReadOnly() const { return m_bReadOnly; }
    IMemAllocator* Allocator() const { return m_pAllocator; }

protected:
    IMemAllocator* m_pAllocator = nullptr; // added reference
    bool m_bReadOnly = false;
    std::atomic<bool> m_bFlushing{false};
};
