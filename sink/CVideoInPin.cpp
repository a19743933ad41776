#include "sink/CVideoInPin.h"

#include "platform/dshow/FormatBlocks.h"
#include "platform/dshow/MediaGuids.h"
#include "sink/CConvFilter.h"
#include "sink/CVideoPrePin.h"

CVideoInPin::CVideoInPin(CConvFilter* filter, HRESULT* phr)
    : CConvInputPin("CVideoInPin", filter, phr, L"Video In") {}

HRESULT CVideoInPin::Receive(IMediaSample* pSample) {
    HRESULT hr = CBaseInputPin::Receive(pSample);
    if (hr != S_OK) return hr;
    return m_pConv->ReceiveVideo(pSample);
}

HRESULT CVideoInPin::CompleteConnect(IPin* pReceivePin) {
    const CMediaType& mt = CurrentMediaType();
    BITMAPINFOHEADER header{};
    if (mt.formattype == FORMAT_VideoInfo2 && mt.cbFormat >= sizeof(VIDEOINFOHEADER2))
        header = reinterpret_cast<const VIDEOINFOHEADER2*>(mt.pbFormat)->bmiHeader;
    else if (mt.formattype == FORMAT_VideoInfo && mt.cbFormat >= sizeof(VIDEOINFOHEADER))
        header = reinterpret_cast<const VIDEOINFOHEADER*>(mt.pbFormat)->bmiHeader;
    m_pConv->SetVideoHeader(header);
    m_pConv->VideoPre()->SetOfferedType(mt);
    return CConvInputPin::CompleteConnect(pReceivePin);
}

HRESULT CVideoInPin::EndOfStream() {
    m_pConv->VideoPre()->DeliverEndOfStream();
    return CConvInputPin::EndOfStream();
}
