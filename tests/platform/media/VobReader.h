// Reads the elementary-stream payloads of a VOB with libavformat, as the
// demultiplexer delivers them: PES payloads in file order without the private
// stream headers (the 3-byte LPCM header is removed too), with the PES time
// stamp (100-ns units, relative to the first video time stamp) where the PES
// header has one.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/dshow/DshowTypes.h"

namespace mediatest {

struct VobPacket {
    int stream =
        0; // the libavformat stream id: 0x1e0 video, 0x80 AC-3, 0xa0 LPCM, 0x20 subpicture...
    std::vector<std::uint8_t> data;
    bool hasTime = false;
    REFERENCE_TIME start = 0;
};

struct VobContents {
    std::vector<VobPacket> packets;
    int width = 0, height = 0;
    REFERENCE_TIME frameDuration = 0;
};

// False when the file cannot be read.
bool ReadVob(const std::string& path, VobContents* out);

// Packets of the given stream ids only, in file order.
std::vector<const VobPacket*> Select(const VobContents& vob, std::initializer_list<int> ids);

} // namespace mediatest
