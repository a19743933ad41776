// Control interface of the audio converter (CMyAudioConveFilter). Methods in
// slot order after IUnknown; both return S_OK. Callable from any thread.
#pragma once

#include "platform/com/IUnknown.h"

constexpr IID IID_IMyAudioConvFilter = MakeGuid("D9983DA2-084D-4BA4-BCD4-9C61DB0FC2B3");

struct IMyAudioConvFilter : IUnknown {
    static constexpr const IID& kIid = IID_IMyAudioConvFilter;

    // Output channel count (its low 16 bits; 0xFFFF = the input's) and sample
    // rate in Hz (0x0FFFFFFF = the input's). Takes effect when the media
    // types are next set, so call it before connecting.
    virtual HRESULT SetOutputFormat(LONG channels, LONG sampleRate) = 0;
    // 256 = unchanged, 128 = half; not clamped (samples are). From the next sample.
    virtual HRESULT SetVolume(LONG volume) = 0;

protected:
    ~IMyAudioConvFilter() = default;
};
