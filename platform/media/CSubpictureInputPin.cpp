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

namespace {

// The "palette: ..." text of a type's format block, or "" when it has none.
std::string PaletteOf(const CMediaType& mt) {
    std::string palette;
    if (mt.pbFormat && mt.cbFormat > 8) {
        palette.assign(reinterpret_cast<const char*>(mt.pbFormat), mt.cbFormat);
        if (palette.find("palette:") == std::string::npos) palette.clear();
    }
    return palette;
}

} // namespace

HRESULT CSubpictureInputPin::CompleteConnect(IPin* pReceivePin) {
    HRESULT hr = CBaseInputPin::CompleteConnect(pReceivePin);
    if (FAILED(hr)) return hr;
    palette_ = PaletteOf(m_mt);
    return overlay_->Open(palette_) ? S_OK : E_FAIL;
}

HRESULT CSubpictureInputPin::BreakConnect() {
    overlay_->Close();
    return CBaseInputPin::BreakConnect();
}

HRESULT CSubpictureInputPin::Receive(IMediaSample* pSample) {
    HRESULT hr = CBaseInputPin::Receive(pSample);
    if (hr != S_OK) return hr;
    // A stream switch may bring another colour table with its type.
    if (std::string palette = PaletteOf(m_mt); palette != palette_) {
        palette_ = palette;
        overlay_->Open(palette_);
    }
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
