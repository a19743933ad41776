// A plain-text listing of what the parser found, for command-line tools and traces:
//
//   container: program stream
//   rate: 1260000 bytes/s
//   time span: 0.960 s (first PTS 0.500 s)
//   video    e000 (0000,e0,00) Video - MPEG2, Main Profile, Main Level, 720x480, ...
//   audio    bd80 (0000,bd,80) Audio - Dolby Digital, 48.0 kHz, 2 chn, 192.0 kbit/s
//   subtitle 0000 (0000,00,00) Video - DVD Sub Picture
//
// Each stream line also names the media subtype. Call on the parser's thread.
#pragma once

#include <string>

class CMpegSplitterFile;

std::string StreamListText(const CMpegSplitterFile& file);
