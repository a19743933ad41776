#include "sink/CAudioInPin.h"

#include "sink/CConvFilter.h"

CAudioInPin::CAudioInPin(CConvFilter* filter, HRESULT* phr)
    : CConvInputPin("CAudioInPin", filter, phr, L"Audio In") {}

HRESULT CAudioInPin::Receive(IMediaSample* pSample) {
    HRESULT hr = CBaseInputPin::Receive(pSample);
    if (hr != S_OK) return hr;
    return m_pConv->ReceiveAudio(pSample);
}
