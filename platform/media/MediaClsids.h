// Class identifiers of the decoder and renderer components that pipelines
// create by identifier through the component registry (RegisterMediaComponents).
#pragma once

#include "platform/com/Guid.h"

// MPEG-2 video decoder: input 0 MPEG-1/2 video, input 1 DVD subpictures, output YV12.
constexpr CLSID CLSID_MpegDecoder = MakeGuid("39F498AF-1A09-4275-B193-673B0BA3D478");
// Audio decoder: AC-3, DTS, MPEG audio, DVD LPCM in; 16-bit PCM out.
constexpr CLSID CLSID_MpaDecoder = MakeGuid("3D446B6F-71DE-4437-BE15-8CE47174340F");
// Video renderer with the windowless control and the mixer bitmap.
constexpr CLSID CLSID_VideoMixingRenderer9 = MakeGuid("B87BEB7B-8D29-423F-AE4D-6582C10175AC");
// Audio renderer (Qt Multimedia output, or a clocked null output).
constexpr CLSID CLSID_AudioRenderer = MakeGuid("6BC1CFFA-8FC1-4261-AC22-CFDF4A1D7C0B");
