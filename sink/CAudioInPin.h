// CAudioInPin: "Audio In" of the sink; sound goes to CConvFilter::ReceiveAudio.
// Threads: as CConvInputPin.
#pragma once

#include "sink/CConvInputPin.h"

class CAudioInPin : public CConvInputPin {
public:
    CAudioInPin(CConvFilter* filter, HRESULT* phr);
    HRESULT Receive(IMediaSample* pSample) override;
};
