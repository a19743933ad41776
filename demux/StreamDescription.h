// Readable names of streams: "Video - MPEG2, Main Profile, Main Level, 720x480,
// 29.970 fps, 8000.0 kbit/s", "Audio - Dolby Digital, 48.0 kHz, 6 chn, 448.0 kbit/s".
// Pure functions, safe from any thread.
#pragma once

#include <string>

#include "demux/ClipStreamInfo.h"
#include "platform/dshow/DshowTypes.h"

// "Video", "Audio" or "Subtitle" by major type, " - ", then the parts joined by
// ", " (language, codec, profile, level, size, frame rate, sample rate, channels,
// bits, bit rate). Empty when no part is known. `clip` may be null; `streamType`
// is the transport or clip stream type (0 on DVD).
std::string StreamDescription(const AM_MEDIA_TYPE& mt, const ClipStreamInfo* clip = nullptr,
                              BYTE streamType = 0);

// Name of a transport/clip stream type (0x02 "MPEG-2", 0x81 "Dolby Digital", ...),
// or null for an unknown type (DVD streams have type 0).
const char* StreamTypeName(BYTE streamType);
