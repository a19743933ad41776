// IMyDVDReader: the control interface of the DVD source filter. The pipeline
// builders call it on the application thread, in this order: SetDvdHandle,
// SetTitleArea, GetTitleDuration, before the output pin is connected.
#pragma once

#include "platform/com/IUnknown.h"
#include "platform/dvd/LibDvd.h"

constexpr IID IID_IMyDVDReader = MakeGuid("1ADB4EE7-45A0-4459-A508-AD77B32C01B2");

struct IMyDVDReader : IUnknown {
    static constexpr const IID& kIid = IID_IMyDVDReader;

    // Takes a handle from MyDVDOpen; the caller keeps it open while the
    // filter exists and closes it itself. Selects title 0 as a whole and sets
    // the output type to a plain byte stream. E_FAIL when the read buffer
    // cannot be allocated, E_INVALIDARG for handle 0 or a disc without titles.
    virtual HRESULT SetDvdHandle(DvdHandle handle) = 0;
    // Selects a title (0-based) whole (chapter -1) or one of its chapters
    // (0-based); reading starts again at byte 0. E_INVALIDARG for an index
    // the disc does not have, or before SetDvdHandle.
    virtual HRESULT SetTitleArea(int title, int chapter) = 0;
    // The selected title's length in milliseconds, truncated toward zero.
    virtual HRESULT GetTitleDuration(LONGLONG* durationMs) = 0;

protected:
    ~IMyDVDReader() = default;
};
