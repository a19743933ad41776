// ISubpicturePalette: what the demultiplexer asks of the filter upstream of it
// when its input connects. A DVD source answers with the subpicture colour
// table of the title it serves, which the demultiplexer then puts into the
// media type of every DVD subpicture stream, so the decoder draws subtitles in
// the disc's own colours.
//
// Threads: called on the thread that connects the pins (application thread).
#pragma once

#include "platform/com/IUnknown.h"
#include "platform/com/WinTypes.h"

constexpr IID IID_ISubpicturePalette = MakeGuid("71517E6F-F912-4EDF-9A50-12AEAD0E3FD3");

struct ISubpicturePalette : IUnknown {
    static constexpr const IID& kIid = IID_ISubpicturePalette;

    // S_OK with 16 colours, each 0x00YYCrCb (8-bit luma, red and blue
    // difference, as a DVD stores them); S_FALSE when the selected title has
    // no colour table (palette untouched); E_POINTER for null.
    virtual HRESULT GetSubpicturePalette(DWORD palette[16]) = 0;

protected:
    ~ISubpicturePalette() = default;
};
