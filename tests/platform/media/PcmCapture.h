// Test sink that keeps every 16-bit PCM sample it receives with its times.
#pragma once

#include <memory>
#include <mutex>
#include <vector>

#include "platform/dshow/BaseFilter.h"
#include "platform/media/CRendererInputPin.h"

namespace mediatest {

class CPcmCapture : public CCritSec, public CBaseFilter, public IRendererSink {
public:
    CPcmCapture();
    int GetPinCount() override { return 1; }
    CBasePin* GetPin(int n) override { return n == 0 ? pin_.get() : nullptr; }

    HRESULT CheckRenderType(const CMediaType* pmt) override;
    HRESULT SetRenderType(const CMediaType* pmt) override;
    HRESULT Render(IMediaSample* sample) override;
    HRESULT RenderEndOfStream() override;
    void FlushStarted() override {}
    void FlushEnded() override {}

    std::mutex m;
    // -- under m
    int rate = 0, channels = 0;
    std::vector<std::int16_t> pcm;
    std::vector<REFERENCE_TIME> starts, stops;
    int eos = 0;

private:
    std::unique_ptr<CRendererInputPin> pin_;
};

} // namespace mediatest
