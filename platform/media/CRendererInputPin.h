// CRendererInputPin: the input pin of both renderers. Checks types and streaming
// state and hands samples, end of stream and flushes to its renderer.
//
// Threads: Receive/EndOfStream on the upstream streaming thread, flushes on the
// seeking thread, the rest on the application thread.
#pragma once

#include "platform/dshow/BaseInputPin.h"

// What a renderer filter provides to its pin.
class IRendererSink {
public:
    virtual HRESULT CheckRenderType(const CMediaType* pmt) = 0;
    virtual HRESULT SetRenderType(const CMediaType* pmt) = 0;
    virtual HRESULT Render(IMediaSample* sample) = 0; // streaming thread, checked sample
    virtual HRESULT RenderEndOfStream() = 0;
    virtual void FlushStarted() = 0;
    virtual void FlushEnded() = 0;

protected:
    ~IRendererSink() = default;
};

class CRendererInputPin : public CBaseInputPin {
public:
    // sink: the filter (borrowed; owns the pin).
    CRendererInputPin(CBaseFilter* filter, CCritSec* lock, HRESULT* phr, LPCWSTR name,
                      IRendererSink* sink);

    HRESULT CheckMediaType(const CMediaType* pmt) override;
    HRESULT SetMediaType(const CMediaType* pmt) override;
    HRESULT Receive(IMediaSample* pSample) override;
    HRESULT EndOfStream() override;
    HRESULT BeginFlush() override;
    HRESULT EndFlush() override;

private:
    IRendererSink* sink_;
};
