// Control interface of the video converter (CMyVideoConveFilter). Methods in
// slot order after IUnknown; all return S_OK. Callable from any thread.
#pragma once

#include "platform/com/IUnknown.h"

constexpr IID IID_IMyVideoConvFilter = MakeGuid("A264C372-A83D-42E1-9D93-D6F10B3D95CD");

struct IMyVideoConvFilter : IUnknown {
    static constexpr const IID& kIid = IID_IMyVideoConvFilter;

    // Aspect mode (AspectMode), crop rectangle in input pixels and the output
    // frame (0, 0, width, height). Stored as given; the plan is made at the
    // next check of the output connection, so set it before connecting the
    // output pin. Nonsense is repaired by the plan (see CVideoConvPlan).
    virtual HRESULT SetGeometry(LONG aspectMode, LONG cropLeft, LONG cropTop, LONG cropRight,
                                LONG cropBottom, LONG outLeft, LONG outTop, LONG outRight,
                                LONG outBottom) = 0;
    // 0..128, 64 leaves chroma unchanged; clamped. From the next picture.
    virtual HRESULT SetSaturation(LONG value) = 0;
    // -180..180 degrees of chroma rotation; clamped. From the next picture.
    virtual HRESULT SetHue(LONG degrees) = 0;
    // 0..256, 128 leaves luma unchanged; clamped. From the next picture.
    virtual HRESULT SetLumaGain(LONG value) = 0;

protected:
    ~IMyVideoConvFilter() = default;
};
