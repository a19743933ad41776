#include "platform/media/CAudioRenderer.h"

#include "platform/dshow/FilterFactory.h"

#include <algorithm>
#include <new>

#include "platform/dshow/FormatBlocks.h"
#include "platform/media/MediaClsids.h"
#include "platform/media/QtAudioOutput.h"

namespace {
// Sound is handed to the device this much before it is due, for its buffer.
constexpr REFERENCE_TIME kDeviceLead = 100 * MILLISECONDS;
} // namespace

CUnknown* CAudioRenderer::CreateInstance(IUnknown* outer, HRESULT* phr) {
    return CreateFilterInstance<CAudioRenderer>(outer, phr);
}

CAudioRenderer::CAudioRenderer(IUnknown* outer, HRESULT* phr)
    : CBaseFilter("Audio renderer", outer, this, CLSID_AudioRenderer, phr) {
    pin_ = std::make_unique<CRendererInputPin>(this, this, phr, L"Audio Input pin", this);
}

CAudioRenderer::~CAudioRenderer() {
    std::lock_guard<std::mutex> g(outputLock_);
    output_.reset();
}

CBasePin* CAudioRenderer::GetPin(int n) {
    return n == 0 ? pin_.get() : nullptr;
}

HRESULT CAudioRenderer::Stop() {
    HRESULT hr = CBaseFilter::Stop();
    wait_.Wake();
    std::lock_guard<std::mutex> g(outputLock_);
    output_.reset();
    return hr;
}

HRESULT CAudioRenderer::Pause() {
    const bool wasStopped = IsStopped();
    HRESULT hr = CBaseFilter::Pause();
    if (SUCCEEDED(hr) && wasStopped && pin_->IsConnected()) {
        std::lock_guard<std::mutex> g(outputLock_);
        output_ = QtAudioOutput::Create(rate_, channels_);
    }
    wait_.Wake();
    return hr;
}

HRESULT CAudioRenderer::Run(REFERENCE_TIME tStart) {
    HRESULT hr = CBaseFilter::Run(tStart);
    wait_.Wake();
    return hr;
}

bool CAudioRenderer::HasDevice() {
    std::lock_guard<std::mutex> g(outputLock_);
    return output_ != nullptr;
}

HRESULT CAudioRenderer::CheckRenderType(const CMediaType* pmt) {
    if (pmt->majortype != MEDIATYPE_Audio || pmt->subtype != MEDIASUBTYPE_PCM ||
        pmt->formattype != FORMAT_WaveFormatEx || !pmt->pbFormat ||
        pmt->cbFormat < sizeof(WAVEFORMATEX))
        return VFW_E_TYPE_NOT_ACCEPTED;
    const auto* w = reinterpret_cast<const WAVEFORMATEX*>(pmt->pbFormat);
    return w->wBitsPerSample == 16 && w->nChannels >= 1 && w->nChannels <= 8 &&
                   w->nSamplesPerSec >= 8000 && w->nSamplesPerSec <= 192000
               ? S_OK
               : VFW_E_TYPE_NOT_ACCEPTED;
}

HRESULT CAudioRenderer::SetRenderType(const CMediaType* pmt) {
    const auto* w = reinterpret_cast<const WAVEFORMATEX*>(pmt->pbFormat);
    rate_ = int(w->nSamplesPerSec);
    channels_ = w->nChannels;
    return S_OK;
}

HRESULT CAudioRenderer::Render(IMediaSample* sample) {
    BYTE* data = nullptr;
    if (FAILED(sample->GetPointer(&data))) return E_POINTER;
    REFERENCE_TIME start = 0, stop = 0;
    const bool timed = SUCCEEDED(sample->GetTime(&start, &stop));
    if (timed && !wait_.Wait(this, start - kDeviceLead, [this] { return flushing_.load(); }))
        return flushing_ ? S_OK : VFW_E_WRONG_STATE;
    const int bytes = sample->GetActualDataLength();
    const long long frames = channels_ > 0 ? bytes / (2 * channels_) : 0;
    frames_ += frames;
    // The sound ends where its samples do, whatever stop time the sample carries.
    if (timed && rate_ > 0)
        lastStop_ = std::max<REFERENCE_TIME>(stop, start + frames * UNITS / rate_);
    std::lock_guard<std::mutex> g(outputLock_);
    if (output_) output_->Write(reinterpret_cast<const char*>(data), bytes);
    return S_OK;
}

HRESULT CAudioRenderer::RenderEndOfStream() {
    if (!wait_.Wait(this, lastStop_, [this] { return flushing_.load(); })) return S_OK;
    NotifyEvent(EC_COMPLETE, S_OK, 0);
    return S_OK;
}

void CAudioRenderer::FlushStarted() {
    flushing_ = true;
    wait_.Wake();
    std::lock_guard<std::mutex> g(outputLock_);
    if (output_) output_->Discard();
}

void CAudioRenderer::FlushEnded() {
    flushing_ = false;
    lastStop_ = 0;
}
