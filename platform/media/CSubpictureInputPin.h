// CSubpictureInputPin: the video decoder's second input. Takes DVD subpicture
// payloads and hands them to the decoder's SubpictureOverlay; passes nothing on.
//
// Threads: Receive and EndOfStream on the subpicture streaming thread, flushes
// on the seeking thread; connection on the application thread.
#pragma once

#include <string>

#include "platform/dshow/BaseInputPin.h"

class SubpictureOverlay;

class CSubpictureInputPin : public CBaseInputPin {
public:
    // overlay: the decoder's (borrowed; outlives the pin).
    CSubpictureInputPin(CBaseFilter* filter, CCritSec* lock, HRESULT* phr,
                        SubpictureOverlay* overlay);

    // Video / DVD subpicture, any format.
    HRESULT CheckMediaType(const CMediaType* pmt) override;
    HRESULT GetMediaType(int iPosition, CMediaType* pmt) override;
    // Opens the subpicture decoder, with a palette when the type carries one
    // (a format block holding "palette: rrggbb, ..." text); a sample whose
    // new type brings other colours opens it again with those.
    HRESULT CompleteConnect(IPin* pReceivePin) override;
    HRESULT BreakConnect() override;
    HRESULT Receive(IMediaSample* pSample) override;
    HRESULT EndOfStream() override; // S_OK: the video goes on
    HRESULT BeginFlush() override;
    HRESULT EndFlush() override;

private:
    SubpictureOverlay* overlay_;
    std::string palette_; // of the type in use; connection, then the subpicture thread
};
