// ConvertTask and PictureSettings: what one title-list item asks of a
// conversion. Plain records, copied freely.
//
// Units: milliseconds for lengths and the trim; crop in source pixels.
#pragma once

#include <cstdint>

#include "filters/VideoConvPlan.h" // AspectMode

struct PictureSettings {
    std::int32_t aspectMode = AspectKeepOriginal; // AspectMode
    std::int32_t cropLeft = 0, cropTop = 0, cropRight = 0, cropBottom = 0; // 0,0,0,0: whole picture
    std::int32_t volume = 256;     // 256 unchanged
    std::int32_t lumaGain = 128;   // 0..256, 128 unchanged
    std::int32_t saturation = 64;  // 0..128, 64 unchanged
    std::int32_t hue = 0;          // -180..180 degrees
};

struct ConvertTask {
    std::int32_t titleIndex = 0;    // from 0
    std::int32_t chapterIndex = -1; // from 0; -1 the whole title
    double titleLengthMs = 0;
    double trimStartMs = 0;
    double trimLengthMs = 0;
    PictureSettings picture;
};
