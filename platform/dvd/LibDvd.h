// libDvd: the disc-reading library the application and the DVD source read titles through,
// here built over libdvdread.
//
// A disc is opened from a device node (/dev/sr0), a mount point, a VIDEO_TS folder or the
// folder holding it, or an ISO image file. The library describes the disc in a DvdDiscInfo
// and delivers the MPEG program-stream bytes of one area of a title: the title's cells (first
// angle of an angle block only) from a first chapter up to a stop position.
//
// Handles: a disc handle is a 32-bit value, 0 meaning none. Handles live in a table inside the
// library; every function is safe from any thread, and each handle has its own lock, so the
// pipeline's threads may seek and read while the UI thread asks for the description. Calls on
// one handle are serialised; MyDVDClose waits for a call in progress on that handle to end.
//
// Indices: titles and chapters count from 0. Sizes: sectors are 2048 bytes.
// Times: durations are real milliseconds (an NTSC title of N frames lasts N * 1001 / 30 ms).
// Trace: failures and libdvdread's own log lines go to DebugTrace (DVDCONV_DEBUG=1 shows them).
#pragma once

#include <cstddef>
#include <cstdint>

using DvdHandle = std::uint32_t;

constexpr int kDvdMaxTitles = 32;
constexpr int kDvdMaxChapters = 64;
constexpr int kDvdMaxStreams = 32;
constexpr int kDvdSectorSize = 2048;

// Values of DvdTitleInfo::audioFormats.
enum DvdAudioFormat : std::int32_t {
    kDvdAudioAc3 = 0,
    kDvdAudioMpeg1 = 2,
    kDvdAudioMpeg2 = 3,
    kDvdAudioLpcm = 4,
    kDvdAudioDts = 5,
};
// Values of DvdTitleInfo::audioChannels: the channel count minus one (1 = two, 5 = six).
enum DvdChannelCode : std::int32_t {
    kDvdChannelsMono = 0,
    kDvdChannelsStereo = 1,
    kDvdChannelsSix = 5,
};

// One title. Little-endian, 1304 bytes, no padding; the offsets are part of the interface.
// Stream ids: (program-stream id << 8) + sub-stream id, with n the stream's number on the disc:
//   AC-3 0xBD80 + n, DTS 0xBD88 + n, LPCM 0xBDA0 + n, MPEG audio 0xC000 + (n << 8),
//   subpicture 0xBD20 + n.
// Languages: ISO 639-1 letters, first in bits 8-15, second in bits 0-7 ("en" = 0x656E);
// 0 when the disc names no language.
// A title of more than 64 chapters lists 64: the 64th entry stands for chapter 64 to the end
// (its sectors and, as a stop, the title's end), so the entries add up to the whole title.
// Later chapters can still be selected by number with MyDVDSetArea.
struct DvdTitleInfo {
    std::int32_t chapterCount;                      // 0: chapters (at most 64; see below)
    std::int32_t reserved0;                         // 4: not read
    double durationMs;                              // 8: real length in milliseconds
    std::int32_t reserved1[64];                     // 16: not read
    std::uint32_t chapterSectors[kDvdMaxChapters];  // 272: sectors per chapter (first angle)
    std::int32_t audioCount;                        // 528: at most 32 (a DVD has at most 8)
    std::int32_t audioIds[kDvdMaxStreams];          // 532
    std::int32_t audioLanguages[kDvdMaxStreams];    // 660
    std::int32_t audioFormats[kDvdMaxStreams];      // 788: DvdAudioFormat
    std::int32_t audioChannels[kDvdMaxStreams];     // 916: DvdChannelCode
    std::int32_t subtitleCount;                     // 1044: at most 32
    std::int32_t subtitleIds[kDvdMaxStreams];       // 1048
    std::int32_t subtitleLanguages[kDvdMaxStreams]; // 1176
};

// The disc. Little-endian, 41736 bytes.
struct DvdDiscInfo {
    std::int32_t titleCount; // 0: at most 32
    std::int32_t reserved;   // 4: not read
    DvdTitleInfo titles[kDvdMaxTitles];
};

static_assert(sizeof(double) == 8);
static_assert(offsetof(DvdTitleInfo, chapterCount) == 0);
static_assert(offsetof(DvdTitleInfo, reserved0) == 4);
static_assert(offsetof(DvdTitleInfo, durationMs) == 8);
static_assert(offsetof(DvdTitleInfo, reserved1) == 16);
static_assert(offsetof(DvdTitleInfo, chapterSectors) == 272);
static_assert(offsetof(DvdTitleInfo, audioCount) == 528);
static_assert(offsetof(DvdTitleInfo, audioIds) == 532);
static_assert(offsetof(DvdTitleInfo, audioLanguages) == 660);
static_assert(offsetof(DvdTitleInfo, audioFormats) == 788);
static_assert(offsetof(DvdTitleInfo, audioChannels) == 916);
static_assert(offsetof(DvdTitleInfo, subtitleCount) == 1044);
static_assert(offsetof(DvdTitleInfo, subtitleIds) == 1048);
static_assert(offsetof(DvdTitleInfo, subtitleLanguages) == 1176);
static_assert(sizeof(DvdTitleInfo) == 1304);
static_assert(offsetof(DvdDiscInfo, titleCount) == 0);
static_assert(offsetof(DvdDiscInfo, reserved) == 4);
static_assert(offsetof(DvdDiscInfo, titles) == 8);
static_assert(sizeof(DvdDiscInfo) == 41736);

/**
 * Opens a disc and reads its description (every title's chapters, length and streams).
 *
 * @param path  narrow (UTF-8) path of a device node, a mount point, a VIDEO_TS folder, the
 *              folder that holds VIDEO_TS, or a disc image file.
 * @return a handle (never 0) on success; 0 when the path is missing, holds no readable DVD
 *         (no VIDEO_TS.IFO nor its backup, or no title table), or the image is empty or cut.
 *         No area is selected yet.
 *
 * h = MyDVDOpen("/media/cdrom"); if (h == 0) { ...error... }
 */
DvdHandle MyDVDOpen(const char* path);

/**
 * Fills the disc description. Unused titles and streams are zero.
 *
 * @param info  out, written whole (41736 bytes).
 * @return 0 on success; -1 for an unknown handle or a null pointer (info untouched).
 *
 * DvdDiscInfo info; MyDVDGetInfo(h, &info); double ms = info.titles[0].durationMs;
 */
int MyDVDGetInfo(DvdHandle handle, DvdDiscInfo* info);

/**
 * Selects the area to read: title `title` from the start of chapter `chapter` (0 for the whole
 * title) to the end of the title. Reading restarts at byte 0 of the area; the stop position
 * goes back to the end of the title (call MyDvdSetStopPos after this).
 *
 * @return 0 on success; -1 for an unknown handle, a title or chapter out of range, or a title
 *         set whose video files cannot be opened (no area is selected then).
 *
 * MyDVDSetArea(h, 2, 0);   // third title, whole
 */
int MyDVDSetArea(DvdHandle handle, int title, int chapter);

/**
 * Sets where reading of the area ends: at the start of chapter `stopChapter` of title
 * `stopTitle`. (title + 1, 0) ends at the end of the area's title, (title, chapter + 1) at the
 * end of one chapter; a chapter past the title's last also means its end. A stop at or before
 * the area's first chapter leaves an empty area.
 *
 * @return 0 on success; -1 for an unknown handle, no area selected, or a negative argument.
 *
 * MyDVDSetArea(h, 0, 3); MyDvdSetStopPos(h, 0, 4);   // fourth chapter of the first title
 */
int MyDvdSetStopPos(DvdHandle handle, int stopTitle, int stopChapter);

/**
 * Reads the area's program stream from the current position, in whole 2048-byte sectors.
 *
 * @param buffer  out, at least `size` bytes.
 * @param size    bytes wanted; at least 2048 (the DVD source asks for 10240).
 * @return bytes delivered (a multiple of 2048, at most `size`); 0 at the stop position;
 *         -1 on failure (unknown handle, no area, size below 2048, a read error of the disc).
 *
 * std::uint8_t buf[10240]; while ((n = MyDVDRead(h, buf, sizeof buf)) > 0) consume(buf, n);
 */
int MyDVDRead(DvdHandle handle, std::uint8_t* buffer, int size);

/**
 * Moves the read position to the start of the sector that holds byte `offset` of the area
 * (so at most 2047 bytes before it; callers allow up to 20480). An offset past the stop
 * position lands on the stop position.
 *
 * @param offset  bytes, from the origin.
 * @param origin  0 = area start (the usual one), 1 = current position, 2 = stop position.
 * @return the position reached, in bytes from the area start; -1 on failure (unknown handle,
 *         no area, an unknown origin, or a target before the area start).
 *
 * std::int64_t at = MyDVDSeek(h, 5000000, 0);   // at == 4999168, drop 832 bytes after reading
 */
std::int64_t MyDVDSeek(DvdHandle handle, std::int64_t offset, int origin);

/**
 * Gives the subpicture colour table of a title: the 16 colours of its first program chain, each
 * 0x00YYCrCb (luma, red and blue difference, 8 bits each, as the disc stores them; subpicture
 * pixels name entries of this table).
 *
 * @param palette  out, 16 entries; untouched on failure.
 * @return 0 on success; -1 for an unknown handle, a null pointer, a title out of range, or a
 *         title whose program chain has no colour table (all sixteen entries zero).
 *
 * std::uint32_t colours[16]; if (MyDVDGetPalette(h, 0, colours) == 0) { ... }
 */
int MyDVDGetPalette(DvdHandle handle, int title, std::uint32_t palette[16]);

/**
 * Closes the disc and frees the handle; later calls with it fail. 0 or an unknown handle is
 * ignored.
 *
 * MyDVDClose(h); h = 0;
 */
void MyDVDClose(DvdHandle handle);
