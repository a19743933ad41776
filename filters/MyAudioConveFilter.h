// CMyAudioConveFilter: the audio converter stage. 16-bit PCM in, 16-bit PCM
// of the output channel count and sample rate out: resampling and remixing
// with libswresample, a 512 KiB FIFO that re-cuts the sound to the output
// buffer size, and a volume factor (CAudioConvCore does the work).
//
// Each output sample carries the times of the input sample it was made for,
// also when it holds older sound from the FIFO. When the FIFO holds a whole
// output buffer or more after a sample (inputs bigger than the output
// buffers), the extra buffers are delivered at once, with the same times,
// rather than letting the FIFO fill up and drop sound. At end of stream
// what is left in the FIFO leaves in one last sample (with the times of the
// last input sample) before the end-of-stream notice.
//
// Threads: settings from any thread; types on the application thread under
// the filter lock; Receive/Transform on the upstream streaming thread.
#pragma once

#include <atomic>

#include "filters/AudioConvCore.h"
#include "filters/IMyAudioConvFilter.h"
#include "platform/dshow/FormatBlocks.h"
#include "platform/dshow/TransformFilter.h"

constexpr CLSID CLSID_MyAudioConvFilter = MakeGuid("F410BCFF-57B4-4A02-A1EE-41FC4C22A1C9");

class CMyAudioConveFilter : public CTransformFilter, public IMyAudioConvFilter {
public:
    static constexpr WORD kInputChannels = 0xFFFF;  // output channels: take the input's
    static constexpr LONG kInputRate = 0x0FFFFFFF;   // output rate: take the input's
    static constexpr LONG kBufferBytes = 115200;     // per output sample
    static constexpr LONG kBufferCount = 4;

    // Classic factory: a new filter with a reference count of 0; null and
    // *phr = E_OUTOFMEMORY on failure.
    static CUnknown* CreateInstance(IUnknown* outer, HRESULT* phr);
    // A new filter with one reference held by *ppFilter. E_POINTER, E_OUTOFMEMORY.
    static HRESULT Create(IBaseFilter** ppFilter);

    CMyAudioConveFilter(IUnknown* outer, HRESULT* phr);
    ~CMyAudioConveFilter() override;

    DECLARE_IUNKNOWN
    HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

    // IMyAudioConvFilter
    HRESULT SetOutputFormat(LONG channels, LONG sampleRate) override;
    HRESULT SetVolume(LONG volume) override;

    // CTransformFilter
    HRESULT CheckInputType(const CMediaType* mtIn) override;
    HRESULT CheckTransform(const CMediaType* mtIn, const CMediaType* mtOut) override;
    HRESULT SetMediaType(PIN_DIRECTION direction, const CMediaType* pmt) override;
    HRESULT GetMediaType(int iPosition, CMediaType* pMediaType) override;
    HRESULT DecideBufferSize(IMemAllocator* pAlloc, ALLOCATOR_PROPERTIES* pProp) override;
    HRESULT Receive(IMediaSample* pSample) override;
    HRESULT EndOfStream() override;
    HRESULT Transform(IMediaSample* pIn, IMediaSample* pOut) override;

    // For tests: whether sound is resampled, and the bytes waiting in the FIFO.
    bool Resampling();
    size_t FifoBytes();

private:
    // The wave format of a 16-bit PCM audio type, or null.
    static const WAVEFORMATEX* PcmFormat(const CMediaType* mt);
    // Moves one output buffer's worth from the FIFO into pOut.
    HRESULT FillFromFifo(IMediaSample* pOut);

    // -- protected by m_csSettings
    CCritSec m_csSettings;
    WORD m_outChannels = kInputChannels;
    LONG m_outRate = kInputRate;
    bool m_resample = false; // set once the formats differ; never cleared
    CMediaType m_mtIn, m_mtOut;

    std::atomic<LONG> m_volume{CAudioConvCore::kUnityVolume};

    // -- protected by m_csCore
    CCritSec m_csCore;
    CAudioConvCore m_core;
    REFERENCE_TIME m_lastStart = 0, m_lastStop = 0; // of the last input sample
    bool m_lastHasTime = false;
};
