// IMyMpegSplitter: the control interface of the MPEG demultiplexer, called by
// the pipeline builders on the application thread before the graph runs.
// Times are milliseconds.
#pragma once

#include "platform/com/IUnknown.h"
#include "platform/dshow/DshowTypes.h"

constexpr IID IID_IMyMpegSplitter = MakeGuid("FB644229-D658-40AB-838D-619AD5A2DEB1");

struct IMyMpegSplitter : IUnknown {
    static constexpr const IID& kIid = IID_IMyMpegSplitter;
    // `titleRecord` points to a 1304-byte DvdTitleInfo record of the disc
    // description: the title's declared audio and subtitle streams, which the
    // parser waits for while scanning. Copied. S_OK (E_POINTER for null).
    virtual HRESULT SetTitleStreams(const void* titleRecord) = 0;
    // Play range and title duration, each in milliseconds. The pass starts at
    // `start` and ends once a packet starts at or after start + length.
    virtual HRESULT SetPlayRange(LONGLONG start, LONGLONG length, LONGLONG duration) = 0;

protected:
    ~IMyMpegSplitter() = default;
};
