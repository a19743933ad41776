// Stream information a Blu-ray clip file gives per PID. The DVD source has no
// clip information, so tables of it stay empty in this system.
#pragma once

#include <map>

#include "platform/com/WinTypes.h"

struct ClipStreamInfo {
    BYTE streamType = 0;     // as in a transport program table (0x80 LPCM, 0x90 graphics, ...)
    BYTE sampleRateCode = 0; // 12: 192 kHz with a 48 kHz core, 14: 96 kHz with a 48 kHz core
    char language[4] = {};   // three-letter code, zero-terminated
};
using ClipStreamTable = std::map<WORD, ClipStreamInfo>;
