#include "filters/MyAudioConveFilter.h"

#include "platform/dshow/FilterFactory.h"

#include <new>

#include "platform/dshow/VfwCodes.h"
#include "platform/win/DebugTrace.h"

CUnknown* CMyAudioConveFilter::CreateInstance(IUnknown* outer, HRESULT* phr) {
    return CreateFilterInstance<CMyAudioConveFilter>(outer, phr);
}

HRESULT CMyAudioConveFilter::Create(IBaseFilter** ppFilter) { return CreateFilter<CMyAudioConveFilter>(ppFilter); }

CMyAudioConveFilter::CMyAudioConveFilter(IUnknown* outer, HRESULT* phr)
    : CTransformFilter("CMyAudioConveFilter", outer, CLSID_MyAudioConvFilter) {}

CMyAudioConveFilter::~CMyAudioConveFilter() = default;

HRESULT CMyAudioConveFilter::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    if (riid == IID_IMyAudioConvFilter)
        return GetInterface(static_cast<IMyAudioConvFilter*>(this), ppv);
    return CTransformFilter::NonDelegatingQueryInterface(riid, ppv);
}

HRESULT CMyAudioConveFilter::SetOutputFormat(LONG channels, LONG sampleRate) {
    CAutoLock lock(&m_csSettings);
    m_outChannels = WORD(channels & 0xFFFF);
    m_outRate = sampleRate;
    return S_OK;
}

HRESULT CMyAudioConveFilter::SetVolume(LONG volume) {
    m_volume = volume;
    return S_OK;
}

bool CMyAudioConveFilter::Resampling() {
    CAutoLock lock(&m_csCore);
    return m_core.Resampling();
}

size_t CMyAudioConveFilter::FifoBytes() {
    CAutoLock lock(&m_csCore);
    return m_core.Fifo().Count();
}

// -- types

const WAVEFORMATEX* CMyAudioConveFilter::PcmFormat(const CMediaType* mt) {
    if (!mt || *mt->Type() != MEDIATYPE_Audio || *mt->Subtype() != MEDIASUBTYPE_PCM ||
        *mt->FormatType() != FORMAT_WaveFormatEx || !mt->Format() ||
        mt->FormatLength() < sizeof(WAVEFORMATEX))
        return nullptr;
    return reinterpret_cast<const WAVEFORMATEX*>(mt->Format());
}

HRESULT CMyAudioConveFilter::CheckInputType(const CMediaType* mtIn) {
    const WAVEFORMATEX* wfx = PcmFormat(mtIn);
    // Sound is read as 16-bit samples of whole frames: other sample sizes or
    // formats without channels or rate would be misread.
    if (!wfx || wfx->wBitsPerSample != 16 || wfx->nChannels < 1 ||
        wfx->nChannels > CAudioResampler::kMaxChannels || wfx->nSamplesPerSec < 1)
        return VFW_E_TYPE_NOT_ACCEPTED;
    return S_OK;
}

HRESULT CMyAudioConveFilter::CheckTransform(const CMediaType* mtIn, const CMediaType* mtOut) {
    const WAVEFORMATEX* in = PcmFormat(mtIn);
    const WAVEFORMATEX* out = PcmFormat(mtOut);
    if (!in || !out || out->wBitsPerSample != 16) return VFW_E_TYPE_NOT_ACCEPTED;
    // Only the format the converter makes: another one would be mislabelled.
    CAutoLock lock(&m_csSettings);
    DWORD channels = m_outChannels == kInputChannels ? in->nChannels : m_outChannels;
    DWORD rate = m_outRate == kInputRate ? in->nSamplesPerSec : DWORD(m_outRate);
    if (out->nChannels != channels || out->nSamplesPerSec != rate) return VFW_E_TYPE_NOT_ACCEPTED;
    return S_OK;
}

HRESULT CMyAudioConveFilter::SetMediaType(PIN_DIRECTION direction, const CMediaType* pmt) {
    CAutoLock lock(&m_csSettings);
    const WAVEFORMATEX* wfx = PcmFormat(pmt);
    if (!wfx) return VFW_E_TYPE_NOT_ACCEPTED;
    if (direction == PINDIR_INPUT) {
        HRESULT hr = m_mtIn.Set(*pmt);
        if (FAILED(hr)) return hr;
        if (m_outChannels == kInputChannels) m_outChannels = wfx->nChannels;
        if (m_outRate == kInputRate) m_outRate = LONG(wfx->nSamplesPerSec);
        return m_mtOut.Set(*pmt);
    }
    const WAVEFORMATEX* in = PcmFormat(&m_mtIn);
    if (!in) return E_UNEXPECTED;
    if (in->nChannels != wfx->nChannels || in->nSamplesPerSec != wfx->nSamplesPerSec)
        m_resample = true;
    CAutoLock coreLock(&m_csCore);
    if (!m_core.Configure(in->nChannels, int(in->nSamplesPerSec), wfx->nChannels,
                          int(wfx->nSamplesPerSec), m_resample)) {
        DebugTrace("audio converter: cannot convert %u ch %u Hz to %u ch %u Hz\n",
                   unsigned(in->nChannels), unsigned(in->nSamplesPerSec),
                   unsigned(wfx->nChannels), unsigned(wfx->nSamplesPerSec));
        return E_FAIL;
    }
    return S_OK;
}

HRESULT CMyAudioConveFilter::GetMediaType(int iPosition, CMediaType* pMediaType) {
    if (iPosition < 0) return E_INVALIDARG;
    if (iPosition > 0 || !m_pInput || !m_pInput->IsConnected()) return VFW_S_NO_MORE_ITEMS;
    if (!pMediaType) return E_POINTER;
    CAutoLock lock(&m_csSettings);
    const WAVEFORMATEX* kept = PcmFormat(&m_mtOut);
    if (!kept) return VFW_S_NO_MORE_ITEMS;
    if (kept->nChannels != m_outChannels || kept->nSamplesPerSec != DWORD(m_outRate)) {
        // A plain PCM block: an extensible one's channel mask would no longer fit.
        WAVEFORMATEX wfx = *kept;
        wfx.wFormatTag = WAVE_FORMAT_PCM;
        wfx.cbSize = 0;
        wfx.nChannels = m_outChannels;
        wfx.nSamplesPerSec = DWORD(m_outRate);
        wfx.nBlockAlign = WORD(2 * m_outChannels);
        wfx.nAvgBytesPerSec = DWORD(2 * m_outChannels) * DWORD(m_outRate);
        if (!m_mtOut.SetFormat(reinterpret_cast<const BYTE*>(&wfx), sizeof wfx))
            return E_OUTOFMEMORY;
        m_mtOut.SetSampleSize(wfx.nBlockAlign);
    }
    return pMediaType->Set(m_mtOut);
}

// -- buffers and sound

HRESULT CMyAudioConveFilter::DecideBufferSize(IMemAllocator* pAlloc, ALLOCATOR_PROPERTIES* pProp) {
    if (!m_pInput || !m_pInput->IsConnected()) return E_UNEXPECTED;
    if (!pAlloc) return E_POINTER;
    ALLOCATOR_PROPERTIES request{kBufferCount, kBufferBytes, 1, 0}, actual{};
    HRESULT hr = pAlloc->SetProperties(&request, &actual);
    if (FAILED(hr)) return hr;
    if (actual.cBuffers < request.cBuffers || actual.cbBuffer < request.cbBuffer) return E_FAIL;
    return S_OK;
}

HRESULT CMyAudioConveFilter::FillFromFifo(IMediaSample* pOut) {
    BYTE* dst = nullptr;
    if (FAILED(pOut->GetPointer(&dst)) || !dst) return E_FAIL;
    LONG room = pOut->GetSize();
    CAutoLock lock(&m_csCore);
    size_t got = m_core.Pull(dst, room > 0 ? size_t(room) : 0, m_volume);
    return pOut->SetActualDataLength(LONG(got));
}

HRESULT CMyAudioConveFilter::Transform(IMediaSample* pIn, IMediaSample* pOut) {
    BYTE* src = nullptr;
    if (!pIn || !pOut || FAILED(pIn->GetPointer(&src)) || !src) return E_FAIL;
    LONG n = pIn->GetActualDataLength();
    if (n > pIn->GetSize()) n = pIn->GetSize();
    {
        CAutoLock lock(&m_csCore);
        m_lastHasTime = pIn->GetTime(&m_lastStart, &m_lastStop) == S_OK;
    }
    if (n > 0) {
        CAutoLock lock(&m_csCore);
        size_t dropped = m_core.Push(src, size_t(n));
        if (dropped) DebugTrace("audio converter: FIFO full, %zu bytes dropped\n", dropped);
    }
    return FillFromFifo(pOut);
}

HRESULT CMyAudioConveFilter::Receive(IMediaSample* pSample) {
    HRESULT hr = CTransformFilter::Receive(pSample);
    if (hr != S_OK) return hr;
    // Whole output buffers still waiting leave now, so big inputs cannot
    // pile up in the FIFO until it drops sound.
    ALLOCATOR_PROPERTIES props{};
    IMemAllocator* alloc = m_pOutput ? m_pOutput->Allocator() : nullptr;
    if (!alloc || FAILED(alloc->GetProperties(&props)) || props.cbBuffer <= 0) return S_OK;
    while (FifoBytes() >= size_t(props.cbBuffer)) {
        IMediaSample* out = nullptr;
        hr = InitializeOutputSample(pSample, &out);
        if (FAILED(hr)) return hr;
        hr = FillFromFifo(out);
        if (SUCCEEDED(hr)) hr = m_pOutput->Deliver(out);
        out->Release();
        if (hr != S_OK) return hr;
    }
    return S_OK;
}

HRESULT CMyAudioConveFilter::EndOfStream() {
    // The rest of the sound would otherwise stay in the FIFO for good.
    if (m_pOutput && m_pOutput->IsConnected() && FifoBytes() > 0) {
        IMediaSample* out = nullptr;
        if (SUCCEEDED(m_pOutput->GetDeliveryBuffer(&out, nullptr, nullptr, 0))) {
            bool hasTime;
            REFERENCE_TIME start, stop;
            {
                CAutoLock lock(&m_csCore);
                hasTime = m_lastHasTime;
                start = m_lastStart;
                stop = m_lastStop;
            }
            if (hasTime) out->SetTime(&start, &stop);
            if (SUCCEEDED(FillFromFifo(out)) && out->GetActualDataLength() > 0)
                m_pOutput->Deliver(out);
            out->Release();
        }
    }
    return CTransformFilter::EndOfStream();
}
