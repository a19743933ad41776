// CAudioRenderer: plays 16-bit PCM (CLSID_AudioRenderer). One input pin
// ("Audio Input pin") taking Audio / PCM / FORMAT_WaveFormatEx with 16 bits.
//
// Samples are released by the graph's clock, so preview sound and pictures
// keep in step: each sample is handed to the audio device when its start time
// comes (at once without a clock; held while paused). With no audio device (or
// no application object) samples are consumed on the clock and nothing plays.
// End of stream raises EC_COMPLETE once the last sample's stop time has come.
//
// Threads: Render and end of stream on the streaming thread; state changes on
// the application thread; flushes on the seeking thread.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>

#include "platform/dshow/BaseFilter.h"
#include "platform/media/CRendererInputPin.h"
#include "platform/media/PresentationWait.h"

class QtAudioOutput;

class CAudioRenderer : public CCritSec, public CBaseFilter, public IRendererSink {
public:
    static CUnknown* CreateInstance(IUnknown* outer, HRESULT* phr);
    CAudioRenderer(IUnknown* outer, HRESULT* phr);
    ~CAudioRenderer() override;

    int GetPinCount() override { return 1; }
    CBasePin* GetPin(int n) override;
    HRESULT Stop() override;
    HRESULT Pause() override;
    HRESULT Run(REFERENCE_TIME tStart) override;

    HRESULT CheckRenderType(const CMediaType* pmt) override;
    HRESULT SetRenderType(const CMediaType* pmt) override;
    HRESULT Render(IMediaSample* sample) override;
    HRESULT RenderEndOfStream() override;
    void FlushStarted() override;
    void FlushEnded() override;

    // Sample frames consumed (played or dropped on time) since the filter was made.
    long long FramesConsumed() const { return frames_.load(); }
    // True when a device plays the sound (set while paused or running).
    bool HasDevice();

private:
    std::unique_ptr<CRendererInputPin> pin_;
    PresentationWait wait_;
    std::atomic<bool> flushing_{false};
    std::atomic<long long> frames_{0};
    int rate_ = 0, channels_ = 0; // set at connection
    std::mutex outputLock_;
    std::unique_ptr<QtAudioOutput> output_;   // protected by outputLock_; made on pause
    std::atomic<REFERENCE_TIME> lastStop_{0}; // set while streaming, cleared by a flush
};
