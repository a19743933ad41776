// Parameter-set parsing of AVC and VC-1 streams, from payload bytes copied out of
// the stream. Only what the media type needs is read (profile, level, picture
// size, frame period). Pure functions; safe on any bytes.
#pragma once

#include <cstdint>
#include <vector>

#include "demux/MpegHeaders.h"

// Finds the first sequence parameter set (NAL type 7) and a picture parameter set
// (type 8) in start-code form; fills profile, level, size, frame period (when the
// VUI has timing) and the parameter sets, each prefixed by its 2-byte size.
bool ParseAvcParameterSets(const std::vector<std::uint8_t>& data, AvcHeader& h);

// Finds an advanced-profile sequence header (00 00 01 0F) and fills profile, level,
// size, frame period and the raw bytes (sequence header and entry point).
bool ParseVc1SequenceHeader(const std::vector<std::uint8_t>& data, Vc1Header& h);
