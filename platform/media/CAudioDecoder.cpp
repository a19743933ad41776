#include "platform/media/CAudioDecoder.h"

#include "platform/dshow/FilterFactory.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "platform/dshow/FormatBlocks.h"
#include "platform/media/MediaClsids.h"
#include "platform/win/DebugTrace.h"

CUnknown* CAudioDecoder::CreateInstance(IUnknown* outer, HRESULT* phr) {
    return CreateFilterInstance<CAudioDecoder>(outer, phr);
}

CAudioDecoder::CAudioDecoder(IUnknown* outer, HRESULT*)
    : CTransformFilter("Audio decoder", outer, CLSID_MpaDecoder) {}

HRESULT CAudioDecoder::CheckInputType(const CMediaType* mtIn) {
    return mtIn && AudioDecodeCore::Accepts(*mtIn) ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
}

HRESULT CAudioDecoder::SetMediaType(PIN_DIRECTION direction, const CMediaType* pmt) {
    if (direction != PINDIR_INPUT) return S_OK;
    inputType_ = *pmt;
    AudioDecodeCore::OutputFormat(*pmt, &rate_, &channels_);
    return rate_ > 0 ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
}

HRESULT CAudioDecoder::GetMediaType(int iPosition, CMediaType* mt) {
    if (iPosition < 0) return E_INVALIDARG;
    if (iPosition > 0) return VFW_S_NO_MORE_ITEMS;
    mt->InitMediaType();
    mt->SetType(&MEDIATYPE_Audio);
    mt->SetSubtype(&MEDIASUBTYPE_PCM);
    mt->SetFormatType(&FORMAT_WaveFormatEx);
    auto* wfe = reinterpret_cast<WAVEFORMATEX*>(mt->AllocFormatBuffer(sizeof(WAVEFORMATEX)));
    if (!wfe) return E_OUTOFMEMORY;
    wfe->wFormatTag = WAVE_FORMAT_PCM;
    wfe->nChannels = WORD(channels_);
    wfe->nSamplesPerSec = DWORD(rate_);
    wfe->wBitsPerSample = 16;
    wfe->nBlockAlign = WORD(channels_ * 2);
    wfe->nAvgBytesPerSec = DWORD(rate_) * wfe->nBlockAlign;
    wfe->cbSize = 0;
    mt->SetSampleSize(wfe->nBlockAlign);
    return S_OK;
}

HRESULT CAudioDecoder::CheckTransform(const CMediaType*, const CMediaType* mtOut) {
    if (!mtOut || mtOut->majortype != MEDIATYPE_Audio || mtOut->subtype != MEDIASUBTYPE_PCM ||
        mtOut->formattype != FORMAT_WaveFormatEx || !mtOut->pbFormat ||
        mtOut->cbFormat < sizeof(WAVEFORMATEX))
        return VFW_E_TYPE_NOT_ACCEPTED;
    const auto* w = reinterpret_cast<const WAVEFORMATEX*>(mtOut->pbFormat);
    return w->wBitsPerSample == 16 && w->nChannels == channels_ && int(w->nSamplesPerSec) == rate_
               ? S_OK
               : VFW_E_TYPE_NOT_ACCEPTED;
}

HRESULT CAudioDecoder::DecideBufferSize(IMemAllocator* alloc, ALLOCATOR_PROPERTIES* prop) {
    prop->cBuffers = std::max<LONG>(prop->cBuffers, 8);
    prop->cbBuffer = std::max<LONG>(prop->cbBuffer, kBufferBytes);
    prop->cbAlign = std::max<LONG>(prop->cbAlign, 1);
    ALLOCATOR_PROPERTIES actual{};
    HRESULT hr = alloc->SetProperties(prop, &actual);
    if (FAILED(hr)) return hr;
    return actual.cbBuffer >= LONG(channels_ * 2) ? S_OK : E_FAIL;
}

HRESULT CAudioDecoder::StartStreaming() {
    discontinuity_ = true;
    return core_.Open(inputType_) ? S_OK : E_FAIL;
}

HRESULT CAudioDecoder::StopStreaming() {
    core_.Close();
    return S_OK;
}

// The splitter announces another stream on its pin (a different audio track
// chosen) with the new type on the next sample: decode it from there on.
HRESULT CAudioDecoder::FollowTypeChange(IMediaSample* sample) {
    AM_MEDIA_TYPE* pmt = nullptr;
    if (sample->GetMediaType(&pmt) != S_OK || !pmt) return S_OK;
    CMediaType next(*pmt);
    DeleteMediaType(pmt);
    if (next == inputType_) return S_OK;
    if (!AudioDecodeCore::Accepts(next)) return VFW_E_TYPE_NOT_ACCEPTED;
    int rate = 0, channels = 0;
    AudioDecodeCore::OutputFormat(next, &rate, &channels);
    if (rate != rate_ || channels != channels_) {
        // The output format is fixed at connection time; a track of another
        // rate or channel count cannot be followed here.
        DebugTrace("audio decoder: new track has %d Hz %d ch, output stays %d Hz %d ch\n", rate,
                   channels, rate_, channels_);
        return VFW_E_TYPE_NOT_ACCEPTED;
    }
    core_.Close();
    inputType_ = next;
    discontinuity_ = true;
    return core_.Open(inputType_) ? S_OK : E_FAIL;
}

HRESULT CAudioDecoder::Receive(IMediaSample* sample) {
    HRESULT hr = FollowTypeChange(sample);
    if (FAILED(hr)) return hr;
    BYTE* data = nullptr;
    hr = sample->GetPointer(&data);
    if (FAILED(hr)) return hr;
    REFERENCE_TIME start = 0, stop = 0;
    const bool hasTime = SUCCEEDED(sample->GetTime(&start, &stop));
    return core_.Decode(data, sample->GetActualDataLength(), hasTime, start,
                        [this](const std::int16_t* p, int n, REFERENCE_TIME s, REFERENCE_TIME e) {
                            return DeliverPcm(p, n, s, e);
                        });
}

HRESULT CAudioDecoder::DeliverPcm(const std::int16_t* pcm, int frames, REFERENCE_TIME start,
                                  REFERENCE_TIME stop) {
    const int frameBytes = channels_ * 2;
    int done = 0;
    while (done < frames) {
        IMediaSample* out = nullptr;
        HRESULT hr = m_pOutput->GetDeliveryBuffer(&out, nullptr, nullptr, 0);
        if (FAILED(hr)) return hr;
        BYTE* dst = nullptr;
        out->GetPointer(&dst);
        const int n = std::min(frames - done, int(out->GetSize() / frameBytes));
        if (n <= 0) {
            out->Release();
            return E_FAIL;
        }
        std::memcpy(dst, pcm + std::size_t(done) * channels_, std::size_t(n) * frameBytes);
        out->SetActualDataLength(n * frameBytes);
        REFERENCE_TIME s = start + (stop - start) * done / frames;
        REFERENCE_TIME e = start + (stop - start) * (done + n) / frames;
        out->SetTime(&s, &e);
        out->SetSyncPoint(TRUE);
        out->SetDiscontinuity(discontinuity_);
        discontinuity_ = false;
        hr = m_pOutput->Deliver(out);
        out->Release();
        if (hr != S_OK) return hr;
        done += n;
    }
    return S_OK;
}

HRESULT CAudioDecoder::EndOfStream() {
    if (core_.IsOpen() && m_pOutput->IsConnected())
        core_.Drain([this](const std::int16_t* p, int n, REFERENCE_TIME s, REFERENCE_TIME e) {
            return DeliverPcm(p, n, s, e);
        });
    return CTransformFilter::EndOfStream();
}

HRESULT CAudioDecoder::EndFlush() {
    {
        CAutoLock lock(&m_csReceive);
        core_.Reset();
        discontinuity_ = true;
    }
    return CTransformFilter::EndFlush();
}

HRESULT CAudioDecoder::NewSegment(REFERENCE_TIME tStart, REFERENCE_TIME tStop, double dRate) {
    {
        CAutoLock lock(&m_csReceive);
        discontinuity_ = true;
    }
    return CTransformFilter::NewSegment(tStart, tStop, dRate);
}
