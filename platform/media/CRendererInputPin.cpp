#include "platform/media/CRendererInputPin.h"

CRendererInputPin::CRendererInputPin(CBaseFilter* filter, CCritSec* lock, HRESULT* phr,
                                     LPCWSTR name, IRendererSink* sink)
    : CBaseInputPin("Renderer input pin", filter, lock, phr, name), sink_(sink) {}

HRESULT CRendererInputPin::CheckMediaType(const CMediaType* pmt) {
    return pmt ? sink_->CheckRenderType(pmt) : E_POINTER;
}

HRESULT CRendererInputPin::SetMediaType(const CMediaType* pmt) {
    HRESULT hr = CBaseInputPin::SetMediaType(pmt);
    if (FAILED(hr)) return hr;
    return sink_->SetRenderType(pmt);
}

HRESULT CRendererInputPin::Receive(IMediaSample* pSample) {
    HRESULT hr = CBaseInputPin::Receive(pSample);
    if (hr != S_OK) return hr;
    return sink_->Render(pSample);
}

HRESULT CRendererInputPin::EndOfStream() {
    HRESULT hr = CheckStreaming();
    if (hr != S_OK) return hr;
    return sink_->RenderEndOfStream();
}

HRESULT CRendererInputPin::BeginFlush() {
    CBaseInputPin::BeginFlush();
    sink_->FlushStarted();
    return S_OK;
}

HRESULT CRendererInputPin::EndFlush() {
    sink_->FlushEnded();
    return CBaseInputPin::EndFlush();
}
