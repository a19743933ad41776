// CMyTeeInputPin: the tee's input. Takes YV12 video with FORMAT_VideoInfo
// only; hands each sample to every connected output (which queue it) and
// passes end of stream, flushes and new segments to both outputs before
// its own handling. Threads as in CBaseInputPin.
#pragma once

#include "platform/dshow/BaseInputPin.h"

class CMyTeeFilter;

class CMyTeeInputPin : public CBaseInputPin {
public:
    CMyTeeInputPin(CMyTeeFilter* filter, HRESULT* phr);

    // S_OK for MEDIATYPE_Video / MEDIASUBTYPE_YV12 / FORMAT_VideoInfo with a
    // positive height; S_FALSE for anything else.
    HRESULT CheckMediaType(const CMediaType* pmt) override;
    // The base's, then the filter keeps a copy.
    HRESULT SetMediaType(const CMediaType* pmt) override;
    // The sample stays the caller's; each output queue adds its own reference.
    HRESULT Receive(IMediaSample* pSample) override;
    HRESULT EndOfStream() override;
    HRESULT BeginFlush() override;
    HRESULT EndFlush() override;
    HRESULT NewSegment(REFERENCE_TIME tStart, REFERENCE_TIME tStop, double dRate) override;

private:
    CMyTeeFilter* m_pTee;
};
