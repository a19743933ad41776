#include "PcmCapture.h"

#include "platform/dshow/FormatBlocks.h"

namespace mediatest {

CPcmCapture::CPcmCapture()
    : CBaseFilter("PCM capture", nullptr, this, MakeGuid("6A1F0000-0000-4000-8000-0000000000A2")) {
    HRESULT hr = S_OK;
    pin_ = std::make_unique<CRendererInputPin>(this, this, &hr, L"In", this);
}

HRESULT CPcmCapture::CheckRenderType(const CMediaType* pmt) {
    if (pmt->majortype != MEDIATYPE_Audio || pmt->subtype != MEDIASUBTYPE_PCM ||
        pmt->formattype != FORMAT_WaveFormatEx || pmt->cbFormat < sizeof(WAVEFORMATEX))
        return VFW_E_TYPE_NOT_ACCEPTED;
    return reinterpret_cast<const WAVEFORMATEX*>(pmt->pbFormat)->wBitsPerSample == 16
               ? S_OK
               : VFW_E_TYPE_NOT_ACCEPTED;
}

HRESULT CPcmCapture::SetRenderType(const CMediaType* pmt) {
    const auto* w = reinterpret_cast<const WAVEFORMATEX*>(pmt->pbFormat);
    std::lock_guard<std::mutex> g(m);
    rate = int(w->nSamplesPerSec);
    channels = w->nChannels;
    return S_OK;
}

HRESULT CPcmCapture::Render(IMediaSample* s) {
    BYTE* p = nullptr;
    s->GetPointer(&p);
    REFERENCE_TIME a = 0, b = 0;
    s->GetTime(&a, &b);
    const auto* pcmData = reinterpret_cast<const std::int16_t*>(p);
    std::lock_guard<std::mutex> g(m);
    pcm.insert(pcm.end(), pcmData, pcmData + s->GetActualDataLength() / 2);
    starts.push_back(a);
    stops.push_back(b);
    return S_OK;
}

HRESULT CPcmCapture::RenderEndOfStream() {
    {
        std::lock_guard<std::mutex> g(m);
        ++eos;
    }
    NotifyEvent(EC_COMPLETE, S_OK, 0);
    return S_OK;
}

} // namespace mediatest
