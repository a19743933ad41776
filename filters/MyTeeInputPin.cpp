#include "filters/MyTeeInputPin.h"

#include "filters/MyTeeFilter.h"
#include "filters/MyTeeOutputPin.h"
#include "platform/dshow/FormatBlocks.h"

CMyTeeInputPin::CMyTeeInputPin(CMyTeeFilter* filter, HRESULT* phr)
    : CBaseInputPin("CMyTeeInputPin", filter, filter, phr, L"Input"), m_pTee(filter) {}

HRESULT CMyTeeInputPin::CheckMediaType(const CMediaType* pmt) {
    if (!pmt || *pmt->Type() != MEDIATYPE_Video || *pmt->Subtype() != MEDIASUBTYPE_YV12 ||
        *pmt->FormatType() != FORMAT_VideoInfo || !pmt->Format() ||
        pmt->FormatLength() < sizeof(VIDEOINFOHEADER))
        return S_FALSE;
    const auto* vih = reinterpret_cast<const VIDEOINFOHEADER*>(pmt->Format());
    return vih->bmiHeader.biHeight > 0 ? S_OK : S_FALSE;
}

HRESULT CMyTeeInputPin::SetMediaType(const CMediaType* pmt) {
    CAutoLock lock(m_pLock);
    HRESULT hr = CBaseInputPin::SetMediaType(pmt);
    if (FAILED(hr)) return hr;
    m_pTee->SetInputType(*pmt);
    return S_OK;
}

HRESULT CMyTeeInputPin::Receive(IMediaSample* pSample) {
    HRESULT hr = CBaseInputPin::Receive(pSample);
    if (hr != S_OK) return hr;
    for (int i = 0; i < CMyTeeFilter::kOutputs; ++i) {
        CMyTeeOutputPin* out = m_pTee->Output(i);
        if (out->IsConnected()) out->Deliver(pSample);
    }
    return S_OK;
}

HRESULT CMyTeeInputPin::EndOfStream() {
    for (int i = 0; i < CMyTeeFilter::kOutputs; ++i) m_pTee->Output(i)->DeliverEndOfStream();
    return S_OK;
}

HRESULT CMyTeeInputPin::BeginFlush() {
    for (int i = 0; i < CMyTeeFilter::kOutputs; ++i) m_pTee->Output(i)->DeliverBeginFlush();
    return CBaseInputPin::BeginFlush();
}

HRESULT CMyTeeInputPin::EndFlush() {
    for (int i = 0; i < CMyTeeFilter::kOutputs; ++i) m_pTee->Output(i)->DeliverEndFlush();
    return CBaseInputPin::EndFlush();
}

HRESULT CMyTeeInputPin::NewSegment(REFERENCE_TIME tStart, REFERENCE_TIME tStop, double dRate) {
    for (int i = 0; i < CMyTeeFilter::kOutputs; ++i)
        m_pTee->Output(i)->DeliverNewSegment(tStart, tStop, dRate);
    return CBaseInputPin::NewSegment(tStart, tStop, dRate);
}
