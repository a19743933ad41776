#include "sink/CConvFilter.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>

#include "platform/dshow/MediaGuids.h"
#include "platform/dshow/PosPassThru.h"
#include "platform/dshow/VfwCodes.h"
#include "platform/win/DebugTrace.h"
#include "sink/CAudioInPin.h"
#include "sink/CVideoInPin.h"
#include "sink/CVideoPrePin.h"
#include "sink/OutputFileWriter.h"

HRESULT CConvFilter::Create(CConvFilter** ppFilter) {
    if (!ppFilter) return E_POINTER;
    *ppFilter = nullptr;
    HRESULT hr = S_OK;
    auto* filter = new (std::nothrow) CConvFilter(nullptr, &hr);
    if (!filter) return E_OUTOFMEMORY;
    filter->NonDelegatingAddRef();
    if (FAILED(hr)) {
        filter->NonDelegatingRelease();
        return hr;
    }
    *ppFilter = filter;
    return S_OK;
}

CConvFilter::CConvFilter(IUnknown* outer, HRESULT* phr)
    : CBaseFilter("CConvFilter", outer, this, CLSID_ConvFilter, phr) {
    m_pAudioIn = new (std::nothrow) CAudioInPin(this, phr);
    m_pVideoIn = new (std::nothrow) CVideoInPin(this, phr);
    m_pVideoPre = new (std::nothrow) CVideoPrePin(this, phr);
    if ((!m_pAudioIn || !m_pVideoIn || !m_pVideoPre) && phr) *phr = E_OUTOFMEMORY;
}

CConvFilter::~CConvFilter() {
    if (m_pPosition) m_pPosition->NonDelegatingRelease();
    delete m_pVideoPre;
    delete m_pVideoIn;
    delete m_pAudioIn;
}

HRESULT CConvFilter::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    if (riid == IID_IMediaPosition || riid == IID_IMediaSeeking) {
        CAutoLock lock(this);
        if (!m_pPosition) {
            HRESULT hr = CreatePosPassThru(GetOwner(), m_pAudioIn, &m_pPosition);
            if (FAILED(hr) || !m_pPosition) {
                m_pPosition = nullptr;
                *ppv = nullptr;
                return E_OUTOFMEMORY;
            }
        }
        HRESULT hr = m_pPosition->NonDelegatingQueryInterface(riid, ppv);
        return FAILED(hr) ? E_NOINTERFACE : hr;
    }
    return CBaseFilter::NonDelegatingQueryInterface(riid, ppv);
}

CBasePin* CConvFilter::GetPin(int n) {
    switch (n) {
    case 0: return m_pAudioIn;
    case 1: return m_pVideoIn;
    case 2: return m_pVideoPre;
    default: return nullptr;
    }
}

void CConvFilter::AttachWriter(OutputFileWriter* writer) {
    CAutoLock lock(this);
    m_pWriter = writer;
}

void CConvFilter::SetFrameDuration(double duration) {
    CAutoLock lock(this);
    if (duration > 0) m_frameDuration = duration;
}

void CConvFilter::SetTrimWindow(std::int64_t start, std::int64_t end) {
    CAutoLock lock(this);
    m_trimStart = start;
    m_trimEnd = end;
}

void CConvFilter::SetPreviewEnabled(bool enabled) { m_previewEnabled = enabled; }

void CConvFilter::SetVideoHeader(const BITMAPINFOHEADER& header) {
    CAutoLock lock(this);
    m_header = header;
}

std::int64_t CConvFilter::WindowEnd() const {
    return m_trimEnd > m_trimStart ? m_trimEnd : std::numeric_limits<std::int64_t>::max();
}

bool CConvFilter::StartSegmentLocked() {
    if (!m_segmentStarted) {
        m_segmentStarted = true;
        m_pWriter->BeginSegment();
    }
    return true;
}

void CConvFilter::CopyToPreview(const BYTE* data, LONG length) {
    if (!m_previewEnabled) return;
    if (m_previewCounter++ % 5 != 0) return;
    if (!m_pVideoPre->IsConnected()) return;
    BITMAPINFOHEADER h;
    {
        CAutoLock lock(this);
        h = m_header;
    }
    const LONG w = h.biWidth, rows = std::abs(h.biHeight);
    const LONG stride = std::max(m_pVideoPre->Stride(), w);
    if (w <= 0 || rows <= 0 || length < w * rows * 3 / 2) return;
    IMediaSample* out = nullptr;
    if (FAILED(m_pVideoPre->GetDeliveryBuffer(&out, nullptr, nullptr, AM_GBF_NOWAIT)) || !out)
        return; // every preview buffer is still in use: skip this one
    BYTE* dst = nullptr;
    const LONG outBytes = stride * rows + 2 * (stride / 2) * (rows / 2);
    if (SUCCEEDED(out->GetPointer(&dst)) && dst && out->GetSize() >= outBytes) {
        const BYTE* src = data;
        for (LONG y = 0; y < rows; ++y) std::memcpy(dst + y * stride, src + y * w, size_t(w));
        src += w * rows;
        BYTE* d = dst + stride * rows;
        for (int plane = 0; plane < 2; ++plane) {
            for (LONG y = 0; y < rows / 2; ++y)
                std::memcpy(d + y * (stride / 2), src + y * (w / 2), size_t(w / 2));
            src += (w / 2) * (rows / 2);
            d += (stride / 2) * (rows / 2);
        }
        out->SetActualDataLength(outBytes);
        out->SetTime(nullptr, nullptr);
        m_pVideoPre->Deliver(out);
    }
    out->Release();
}

HRESULT CConvFilter::ReceiveVideo(IMediaSample* sample) {
    OutputFileWriter* writer = m_pWriter;
    if (!writer || !writer->HasVideo()) return S_OK;
    REFERENCE_TIME start = 0, stop = 0;
    HRESULT timeResult = sample->GetTime(&start, &stop);
    if (FAILED(timeResult)) {
        // An untimed picture fills the next slot.
        start = m_trimStart + m_nextVideoTime;
        stop = start + std::int64_t(m_frameDuration);
    } else if (timeResult == VFW_S_NO_STOP_TIME) {
        stop = start + std::int64_t(m_frameDuration);
    }
    // Each frame slot takes the picture whose start is nearest to it: this
    // picture serves the slots up to half its length before its end.
    const std::int64_t servesUntil = stop - std::max<std::int64_t>(stop - start, 0) / 2;
    if (servesUntil <= m_trimStart || start > WindowEnd()) return S_OK;

    BYTE* data = nullptr;
    if (FAILED(sample->GetPointer(&data)) || !data) return S_OK;
    const LONG length = sample->GetActualDataLength();
    if (length < writer->PictureBytes()) {
        DebugTrace("CConvFilter: picture of %ld bytes, %ld expected; dropped\n", long(length),
                   long(writer->PictureBytes()));
        return S_OK;
    }
    CopyToPreview(data, length);

    CAutoLock lock(this);
    if (m_completed) return S_OK;
    StartSegmentLocked();
    m_videoEnd = std::max(m_videoEnd, std::min<std::int64_t>(stop, WindowEnd()) - m_trimStart);
    const std::int64_t limit = std::min<std::int64_t>(servesUntil, WindowEnd()) - m_trimStart;
    return FillSlotsLocked(limit, [&] { return writer->WriteVideo(data); });
}

// Writes the frame slots before `limit` (output time) with `write`.
template <typename Write>
HRESULT CConvFilter::FillSlotsLocked(std::int64_t limit, Write write) {
    std::int64_t next = m_nextVideoTime;
    while (next < limit) {
        if (write() < 0) {
            DebugTrace("CConvFilter: %s\n", m_pWriter->LastError().c_str());
            NotifyEvent(EC_ERRORABORT, E_FAIL, 0);
            return E_FAIL;
        }
        next = std::int64_t(double(next) + m_frameDuration);
        m_nextVideoTime = next;
    }
    return S_OK;
}

HRESULT CConvFilter::ReceiveAudio(IMediaSample* sample) {
    OutputFileWriter* writer = m_pWriter;
    if (!writer || !writer->HasAudio()) return S_OK;
    REFERENCE_TIME start = 0, stop = 0;
    const bool timed = SUCCEEDED(sample->GetTime(&start, &stop));
    if (timed && (stop < m_trimStart || start > WindowEnd())) return S_OK;

    BYTE* data = nullptr;
    if (FAILED(sample->GetPointer(&data)) || !data) return S_OK;
    const std::int64_t block = 2 * std::int64_t(writer->Channels());
    const std::int64_t rate = writer->SampleRate();
    std::int64_t length = sample->GetActualDataLength() / block * block;
    std::int64_t skip = 0;

    CAutoLock lock(this);
    if (m_completed) return S_OK;
    StartSegmentLocked();
    if (!m_audioAnchored) {
        // The first sound sets where sound begins in this item: silence in
        // front when it starts after the window's start, its early part cut
        // off when it starts before.
        m_audioAnchored = true;
        const std::int64_t at = timed ? std::llround(double(start - m_trimStart) * rate / 1e7) : 0;
        const std::int64_t have = writer->SegmentAudioSamples();
        if (at > have)
            writer->WriteSilence(at - have);
        else
            skip = std::min(length, (have - at) * block);
    }
    if (m_trimEnd > m_trimStart) {
        const std::int64_t most = std::llround(double(m_trimEnd - m_trimStart) * rate / 1e7);
        const std::int64_t room = std::max<std::int64_t>(0, most - writer->SegmentAudioSamples());
        length = std::min(length, skip + room * block);
    }
    if (length > skip && writer->WriteAudio(data + skip, size_t(length - skip)) < 0) {
        DebugTrace("CConvFilter: %s\n", writer->LastError().c_str());
        NotifyEvent(EC_ERRORABORT, E_FAIL, 0);
        return E_FAIL;
    }
    m_lastAudioTime = writer->SegmentAudioSamples() * 10000000 / std::max<std::int64_t>(rate, 1);
    return S_OK;
}

void CConvFilter::CheckEndOfStream() {
    CAutoLock lock(this);
    if (m_pAudioIn->IsConnected() && !m_pAudioIn->Ended()) return;
    if (m_pVideoIn->IsConnected() && !m_pVideoIn->Ended()) return;
    if (m_completed) return;
    m_completed = true;
    // The last picture also serves the slots up to its own end.
    if (m_pWriter && m_segmentStarted && m_pVideoIn->IsConnected() && m_pWriter->HasVideo())
        FillSlotsLocked(m_videoEnd, [&] { return m_pWriter->RepeatVideo(); });
    // Both streams of the item end together, so the next item of a merged
    // file starts in step.
    if (m_pWriter && m_segmentStarted) m_pWriter->FinishSegment();
    NotifyEvent(EC_COMPLETE, S_OK, reinterpret_cast<LONG_PTR>(static_cast<IBaseFilter*>(this)));
}
