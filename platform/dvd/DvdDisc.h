// CDvdDisc: one opened disc behind a libDvd handle (LibDvd.h). It reads the disc's
// description once at open, and keeps the selected area and the read position.
//
// Threads: not locked inside; LibDvd.cpp holds the disc's own lock around every call.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/dvd/LibDvd.h"

struct dvd_reader_s;
struct dvd_file_s;

// Real length in milliseconds of a DVD playback time (BCD hours, minutes, seconds, and frames
// whose two high bits give the rate: 1 = 25 fps, 3 = 29.97 fps). NTSC times count frames at a
// nominal 30 per second, so a time of F frames lasts F * 1001 / 30 ms of real time: a 2-hour
// film is written 01:59:52 + 24 frames, which this returns as 7,199,992.8 ms.
double DvdPlaybackTimeMs(std::uint8_t hour, std::uint8_t minute, std::uint8_t second,
                         std::uint8_t frameU);

// The path libdvdread is given for `path`: a folder named VIDEO_TS (any case, trailing slashes
// allowed) becomes the folder that holds it, and so does one of its .IFO, .BUP or .VOB files;
// anything else (a disc folder, an image, a device, a mount point) is returned as is.
std::string DvdNormalisePath(const std::string& path);

// One run of sectors of the title set's video files, first and last included.
struct DvdSectorRange {
    std::uint32_t first;
    std::uint32_t last;
    std::uint64_t Count() const { return std::uint64_t(last) - first + 1; }
};

class CDvdDisc {
public:
    // Opens and describes the disc; nullptr when it is no readable DVD (traced).
    static std::unique_ptr<CDvdDisc> Open(const char* path);
    ~CDvdDisc();
    CDvdDisc(const CDvdDisc&) = delete;
    CDvdDisc& operator=(const CDvdDisc&) = delete;

    const DvdDiscInfo& Info() const { return *info_; }

    // The operations of LibDvd.h, same conventions.
    bool SetArea(int title, int chapter);
    bool SetStopPos(int stopTitle, int stopChapter);
    int Read(std::uint8_t* buffer, int size);
    std::int64_t Seek(std::int64_t offset, int origin);
    bool Palette(int title, std::uint32_t palette[16]) const;

    // The lock LibDvd.cpp holds around every call on this disc.
    std::mutex& Lock() { return lock_; }

private:
    // Where a title's chapters lie (filled at open, never changed).
    struct TitleLayout {
        int titleSet = 0;
        std::vector<std::vector<DvdSectorRange>> chapters;
        // Subpicture colours (0x00YYCrCb) of the title's first program chain.
        std::uint32_t palette[16] = {};
        bool hasPalette = false;
    };

    CDvdDisc() = default;
    bool Describe();
    bool TitleSetHolds(int titleSet, const TitleLayout& layout);
    void BuildArea(int endChapter);

    std::mutex lock_;
    dvd_reader_s* dvd_ = nullptr;
    std::unique_ptr<DvdDiscInfo> info_;
    std::vector<TitleLayout> layout_;

    // -- the selected area
    dvd_file_s* vob_ = nullptr; // title VOBs of vobTitleSet_
    int vobTitleSet_ = 0;
    int areaTitle_ = -1;
    int areaChapter_ = 0;
    std::vector<DvdSectorRange> area_;
    std::vector<std::uint64_t> areaStarts_; // sectors before each range of area_
    std::uint64_t areaSectors_ = 0;
    std::uint64_t pos_ = 0; // in sectors from the area start
};
