// CTransformFilter: a filter with one input and one output pin that turns each
// input sample into one output sample. A derived class provides the type rules
// (CheckInputType, CheckTransform, GetMediaType), the buffers (DecideBufferSize)
// and the work (Transform); the base copies times, media times and the sync
// point, discontinuity and preroll flags from the input sample to the output
// sample before Transform, and passes end of stream, flushes and new segments
// downstream.
//
// Locks: m_csFilter (filter lock: state changes, connection) and m_csReceive
// (streaming lock: held around Receive and EndOfStream on the streaming thread).
// Stop takes the filter lock, stops the input (decommits its allocator), then
// takes the streaming lock.
#pragma once

#include <memory>

#include "platform/dshow/BaseFilter.h"
#include "platform/dshow/BaseInputPin.h"
#include "platform/dshow/BaseOutputPin.h"

class CTransformFilter;
class CPosPassThru;

class CTransformInputPin : public CBaseInputPin {
public:
    CTransformInputPin(const char* objectName, CTransformFilter* filter, HRESULT* phr,
                       LPCWSTR name);

    HRESULT CheckConnect(IPin* pPin) override;
    HRESULT BreakConnect() override;
    HRESULT CompleteConnect(IPin* pReceivePin) override;
    // CheckInputType, and CheckTransform against a connected output.
    HRESULT CheckMediaType(const CMediaType* mtIn) override;
    HRESULT SetMediaType(const CMediaType* mt) override;
    // Under the streaming lock: CheckStreaming, then the filter's Receive.
    HRESULT Receive(IMediaSample* pSample) override;
    HRESULT EndOfStream() override;
    HRESULT BeginFlush() override;
    HRESULT EndFlush() override;
    HRESULT NewSegment(REFERENCE_TIME tStart, REFERENCE_TIME tStop, double dRate) override;

protected:
    CTransformFilter* m_pTransformFilter;
};

class CTransformOutputPin : public CBaseOutputPin {
public:
    CTransformOutputPin(const char* objectName, CTransformFilter* filter, HRESULT* phr,
                        LPCWSTR name);
    ~CTransformOutputPin() override;

    // Adds IMediaSeeking and IMediaPosition, passed upstream through the input
    // pin (a CPosPassThru made on first request).
    HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) override;
    // The input must be connected first (E_UNEXPECTED).
    HRESULT CheckConnect(IPin* pPin) override;
    HRESULT BreakConnect() override;
    HRESULT CompleteConnect(IPin* pReceivePin) override;
    // CheckTransform(input type, mtOut); E_UNEXPECTED with no input.
    HRESULT CheckMediaType(const CMediaType* mtOut) override;
    HRESULT SetMediaType(const CMediaType* pmt) override;
    HRESULT DecideBufferSize(IMemAllocator* pAlloc, ALLOCATOR_PROPERTIES* pProp) override;
    // The filter's GetMediaType; VFW_S_NO_MORE_ITEMS while the input is unconnected.
    HRESULT GetMediaType(int iPosition, CMediaType* pMediaType) override;
    // Quality notifications are ignored (S_OK).
    HRESULT Notify(IBaseFilter* pSender, Quality q) override;

protected:
    CTransformFilter* m_pTransformFilter;
    IUnknown* m_pPosition = nullptr; // the CPosPassThru's non-delegating identity
    CPosPassThru* m_pPassThru = nullptr;
};

class CTransformFilter : public CBaseFilter {
public:
    CTransformFilter(const char* name, IUnknown* outer, REFCLSID clsid);
    ~CTransformFilter() override;

    // Two pins: 0 input ("XForm In"), 1 output ("XForm Out"), made on first use.
    int GetPinCount() override;
    CBasePin* GetPin(int n) override;
    HRESULT FindPin(LPCWSTR Id, IPin** ppPin) override;

    HRESULT Stop() override;
    HRESULT Pause() override;

    // -- what a derived transform provides
    // Fills pOut from pIn (both borrowed). S_OK delivers pOut, S_FALSE skips it
    // (once: EC_QUALITY_CHANGE), a failure is returned to upstream. Called on the
    // streaming thread under the streaming lock.
    virtual HRESULT Transform(IMediaSample* pIn, IMediaSample* pOut);
    virtual HRESULT CheckInputType(const CMediaType* mtIn) = 0;
    virtual HRESULT CheckTransform(const CMediaType* mtIn, const CMediaType* mtOut) = 0;
    virtual HRESULT DecideBufferSize(IMemAllocator* pAllocator, ALLOCATOR_PROPERTIES* pprop) = 0;
    virtual HRESULT GetMediaType(int iPosition, CMediaType* pMediaType) = 0;

    // -- optional overrides
    virtual HRESULT StartStreaming() { return S_OK; } // stopped -> paused
    virtual HRESULT StopStreaming() { return S_OK; }  // -> stopped
    virtual HRESULT AlterQuality(Quality q) { return S_FALSE; }
    // The type agreed on a pin (after the pin stored it).
    virtual HRESULT SetMediaType(PIN_DIRECTION direction, const CMediaType* pmt) { return S_OK; }
    virtual HRESULT CheckConnect(PIN_DIRECTION dir, IPin* pPin) { return S_OK; }
    virtual HRESULT BreakConnect(PIN_DIRECTION dir) { return S_OK; }
    virtual HRESULT CompleteConnect(PIN_DIRECTION direction, IPin* pReceivePin) { return S_OK; }
    // Streaming, called by the input pin; the defaults pass downstream.
    virtual HRESULT Receive(IMediaSample* pSample);
    virtual HRESULT EndOfStream();
    virtual HRESULT BeginFlush();
    virtual HRESULT EndFlush();
    virtual HRESULT NewSegment(REFERENCE_TIME tStart, REFERENCE_TIME tStop, double dRate);

    CTransformInputPin* InputPin() const { return m_pInput; }
    CTransformOutputPin* OutputPin() const { return m_pOutput; }

protected:
    // A delivery buffer with the input's times and flags copied onto it.
    virtual HRESULT InitializeOutputSample(IMediaSample* pSample, IMediaSample** ppOutSample);

    bool m_bEOSDelivered = false;
    bool m_bSampleSkipped = false;
    bool m_bQualityChanged = false;
    CCritSec m_csFilter;
    CCritSec m_csReceive;
    CTransformInputPin* m_pInput = nullptr;
    CTransformOutputPin* m_pOutput = nullptr;

    friend class CTransformInputPin;
    friend class CTransformOutputPin;
};
