// CAudioDecoder: the audio decoder component (CLSID_MpaDecoder). Input 0 takes
// the demultiplexer's AC-3, DTS, MPEG audio and DVD LPCM types; output 0 offers
// Audio / PCM / FORMAT_WaveFormatEx, 16-bit signed interleaved samples at the
// stream's rate and channel count. Output samples carry start and stop times
// (100-ns units); end of stream drains the decoder, flush and new segment pass
// through and restart the times.
//
// Threads: Receive and EndOfStream on the audio streaming thread under the
// streaming lock; flushes on the seeking thread; the rest on the application thread.
#pragma once

#include "platform/dshow/TransformFilter.h"
#include "platform/media/AudioDecodeCore.h"

class CAudioDecoder : public CTransformFilter {
public:
    static CUnknown* CreateInstance(IUnknown* outer, HRESULT* phr);
    CAudioDecoder(IUnknown* outer, HRESULT* phr);

    HRESULT CheckInputType(const CMediaType* mtIn) override;
    HRESULT CheckTransform(const CMediaType* mtIn, const CMediaType* mtOut) override;
    HRESULT DecideBufferSize(IMemAllocator* pAllocator, ALLOCATOR_PROPERTIES* pprop) override;
    HRESULT GetMediaType(int iPosition, CMediaType* pMediaType) override;
    HRESULT SetMediaType(PIN_DIRECTION direction, const CMediaType* pmt) override;
    HRESULT StartStreaming() override;
    HRESULT StopStreaming() override;

    HRESULT Receive(IMediaSample* pSample) override;
    HRESULT EndOfStream() override;
    HRESULT EndFlush() override;
    HRESULT NewSegment(REFERENCE_TIME tStart, REFERENCE_TIME tStop, double dRate) override;

    static constexpr LONG kBufferBytes = 96000; // one output sample at most

private:
    // Splits pcm into output samples of at most kBufferBytes and delivers them.
    HRESULT FollowTypeChange(IMediaSample* sample);
    HRESULT DeliverPcm(const std::int16_t* pcm, int frames, REFERENCE_TIME start,
                       REFERENCE_TIME stop);

    // -- set at connection (filter lock), read while streaming
    CMediaType inputType_;
    int rate_ = 0, channels_ = 0;
    // -- under the streaming lock
    AudioDecodeCore core_;
    bool discontinuity_ = true;
};
