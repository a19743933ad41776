// Parsers for the two kinds of DVD-Video information file, over bytes already in memory:
// VIDEO_TS.IFO (the video manager: title search pointer table) and VTS_nn_0.IFO (a title set:
// stream attributes, chapter table, program chains with their programs and cells).
//
// libdvdread's own IFO parser is not used: it trusts the tables' lengths and corrupts the heap
// on a damaged IFO (a VIDEO_TS.IFO whose title table is overwritten with 0xFF crashes it in
// ifoRead_TT_SRPT). These parsers check every offset and count against the bytes present and
// fail, or drop the damaged entry, instead. Only the fields libDvd uses are read.
// All fields are big-endian on disc; offsets below are from the DVD-Video layout.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// One entry of the title search pointer table (VIDEO_TS.IFO).
struct DvdIfoTitle {
    int chapters = 0; // number of parts of title
    int titleSet = 0; // 1-based
    int vtsTitle = 0; // 1-based title number inside the title set
};

struct DvdVmgIfo {
    int titleSets = 0;
    std::vector<DvdIfoTitle> titles;
};

struct DvdIfoAudio {
    int format = 0;         // 0 AC-3, 2 MPEG-1, 3 MPEG-2 ext, 4 LPCM, 6 DTS, 7 SDDS
    int langType = 0;       // 1 = lang holds a language code
    std::uint16_t lang = 0; // first letter in bits 8-15
    int channels = 0;       // channel count minus one
};

struct DvdIfoSubpicture {
    int langType = 0;
    std::uint16_t lang = 0;
};

struct DvdIfoCell {
    int blockMode = 0; // 0 not in block, 1 first cell, 2 in block, 3 last cell
    int blockType = 0; // 1 angle block
    std::uint32_t firstSector = 0;
    std::uint32_t lastSector = 0;
};

struct DvdIfoPgc {
    std::uint8_t playbackTime[4] = {}; // BCD h, m, s, frames with the rate in bits 6-7
    std::uint16_t audioControl[8] = {};
    std::uint32_t subpictureControl[32] = {};
    // Subpicture colour table: 16 entries 0x00YYCrCb (Y, Cr, Cb as the disc stores them).
    std::uint32_t palette[16] = {};
    std::vector<int> programMap; // first cell (1-based) of each program
    std::vector<DvdIfoCell> cells;
    bool valid = false; // false when the PGC could not be read (its index is kept)
};

struct DvdIfoPart {
    int pgcn = 0; // 1-based
    int pgn = 0;  // 1-based
};

struct DvdVtsIfo {
    int aspect = 0; // display aspect ratio code: 0 = 4:3, 3 = 16:9
    std::vector<DvdIfoAudio> audio;
    std::vector<DvdIfoSubpicture> subpictures;
    std::vector<std::vector<DvdIfoPart>> titles; // per title of the set: its chapters
    std::vector<DvdIfoPgc> pgcs;
};

// Parse VIDEO_TS.IFO (or .BUP). False when it is no video manager or has no usable title table.
bool ParseVmgIfo(const std::uint8_t* data, std::size_t size, DvdVmgIfo& out);
// Parse VTS_nn_0.IFO (or .BUP). False when it is no title set or lacks the chapter table or the
// program chain table; damaged entries inside those are dropped or marked invalid.
bool ParseVtsIfo(const std::uint8_t* data, std::size_t size, DvdVtsIfo& out);
