// CVideoInPin: "Video In" of the sink; pictures go to CConvFilter::ReceiveVideo.
// On connection the picture header goes to the filter and the whole type to
// "Video Pre" as the type it offers.
// Threads: as CConvInputPin.
#pragma once

#include "sink/CConvInputPin.h"

class CVideoInPin : public CConvInputPin {
public:
    CVideoInPin(CConvFilter* filter, HRESULT* phr);
    HRESULT Receive(IMediaSample* pSample) override;
    HRESULT CompleteConnect(IPin* pReceivePin) override;
    // Passes the end to "Video Pre", then as CConvInputPin.
    HRESULT EndOfStream() override;
};
