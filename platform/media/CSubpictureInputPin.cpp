#include "platform/media/CSubpictureInputPin.h"

#include <string>

#include "platform/media/SubpictureOverlay.h"

CSubpictureInputPin::CSubpictureInputPin(CBaseFilter* filter, CCritSec* lock, HRESULT* phr,
                                         SubpictureOverlay* overlay)
    : CBaseInputPin("Subpicture input pin", filter, lock, phr, L"Subpicture"), overlay_(overlay) {}

HRESULT CSubpictureInputPin::CheckMediaType(const CMediaType* pmt) {
    if (!pmt) return E_POINTER;
    return pmt->majortype == MEDIATYPE_Video && pmt->subtype == MEDIASUBTYPE_DVD_SUBPICTURE
               ? S_OK
               : VFW_E_TYPE_NOT_ACCEPTED;
}

HRESULT CSubpictureInputPin::GetMediaType(int iPosition, CMediaType* pmt) {
    if (iPosition < 0) return E_INVALIDARG;
    if (iPosition > 0) return VFW_S_NO_MORE_ITEMS;
    pmt->InitMediaType();
    pmt->SetType(&MEDIATYPE_Video);
    pmt->SetSubtype(&MEDIASUBTYPE_DVD_SUBPICTURE);
    return S_OK;
}

HRESULT CSubpictureInputPin::CompleteConnect(IPin* pReceivePin) {
    HRESULT hr = CBaseInputPin::CompleteConnect(pReceivePin);
    if (FAILED(hr)) return hr;
    // A format block holding "palette: ..." text gives the colours.
    std::string palette;
    if (m_mt.pbFormat && m_mt.cbFormat > 8) {
        palette.assign(reinterpret_cast<const char*>(m_mt.pbFormat), m_mt.cbFormat);
        if (palette.find("palette:") == std::string::npos) palette.clear();
    }
    return overlay_->Open(palette) ? S_OK : E_FAIL;
}

HRESULT CSubpictureInputPin::BreakConnect() {
    overlay_->Close();
    return CBaseInputPin::BreakConnect();
}

HRESULT CSubpictureInputPin::Receive(IMediaSample* pSample) {
    HRESULT hr = CBaseInputPin::Receive(pSample);
    if (hr != S_OK) return hr;
    BYTE* data = nullptr;
    if (FAILED(pSample->GetPointer(&data))) return S_OK;
    REFERENCE_TIME start = 0, stop = 0;
    const bool hasTime = SUCCEEDED(pSample->GetTime(&start, &stop));
    overlay_->AddPayload(data, pSample->GetActualDataLength(), hasTime, start);
    return S_OK;
}

HRESULT CSubpictureInputPin::EndOfStream() {
    return S_OK;
}

HRESULT CSubpictureInputPin::BeginFlush() {
    CBaseInputPin::BeginFlush();
    overlay_->Clear();
    return S_OK;
}

HRESULT CSubpictureInputPin::EndFlush() {
    return CBaseInputPin::EndFlush();
}
