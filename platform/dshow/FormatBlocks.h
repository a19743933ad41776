// Format blocks carried in AM_MEDIA_TYPE::pbFormat, laid out byte for byte as on
// the platform this framework stands in for (checked by static_assert), so code
// that builds or reads them by offset keeps working.
#pragma once

#include <cstddef>

#include "platform/dshow/DshowTypes.h"

// Wave format tags.
constexpr WORD WAVE_FORMAT_PCM = 0x0001;
constexpr WORD WAVE_FORMAT_IEEE_FLOAT = 0x0003;
constexpr WORD WAVE_FORMAT_MPEG = 0x0050;
constexpr WORD WAVE_FORMAT_MPEGLAYER3 = 0x0055;
constexpr WORD WAVE_FORMAT_AAC = 0x00FF;
constexpr WORD WAVE_FORMAT_DOLBY_AC3 = 0x2000;
constexpr WORD WAVE_FORMAT_DTS = 0x2001;
constexpr WORD WAVE_FORMAT_EXTENSIBLE = 0xFFFE;

// Bitmap compression codes.
constexpr DWORD BI_RGB = 0;
constexpr DWORD BI_BITFIELDS = 3;

struct BITMAPINFOHEADER {
    DWORD biSize; // 40
    LONG biWidth;
    LONG biHeight;
    WORD biPlanes;
    WORD biBitCount;
    DWORD biCompression; // BI_RGB or a FOURCC such as 'YV12'
    DWORD biSizeImage;
    LONG biXPelsPerMeter;
    LONG biYPelsPerMeter;
    DWORD biClrUsed;
    DWORD biClrImportant;
};
static_assert(sizeof(BITMAPINFOHEADER) == 40);
static_assert(offsetof(BITMAPINFOHEADER, biBitCount) == 14);
static_assert(offsetof(BITMAPINFOHEADER, biSizeImage) == 20);

struct VIDEOINFOHEADER {
    RECT rcSource;
    RECT rcTarget;
    DWORD dwBitRate;
    DWORD dwBitErrorRate;
    REFERENCE_TIME AvgTimePerFrame;
    BITMAPINFOHEADER bmiHeader;
};
static_assert(sizeof(VIDEOINFOHEADER) == 88);
static_assert(offsetof(VIDEOINFOHEADER, dwBitRate) == 32);
static_assert(offsetof(VIDEOINFOHEADER, AvgTimePerFrame) == 40);
static_assert(offsetof(VIDEOINFOHEADER, bmiHeader) == 48);

// VIDEOINFOHEADER2::dwControlFlags.
constexpr DWORD AMCONTROL_USED = 0x00000001;
constexpr DWORD AMCONTROL_PAD_TO_4x3 = 0x00000002;
constexpr DWORD AMCONTROL_PAD_TO_16x9 = 0x00000004;
constexpr DWORD AMCONTROL_COLORINFO_PRESENT = 0x00000080;
// VIDEOINFOHEADER2::dwInterlaceFlags.
constexpr DWORD AMINTERLACE_IsInterlaced = 0x00000001;

struct VIDEOINFOHEADER2 {
    RECT rcSource;
    RECT rcTarget;
    DWORD dwBitRate;
    DWORD dwBitErrorRate;
    REFERENCE_TIME AvgTimePerFrame;
    DWORD dwInterlaceFlags;
    DWORD dwCopyProtectFlags;
    DWORD dwPictAspectRatioX;
    DWORD dwPictAspectRatioY;
    union {
        DWORD dwControlFlags;
        DWORD dwReserved1;
    };
    DWORD dwReserved2;
    BITMAPINFOHEADER bmiHeader;
};
static_assert(sizeof(VIDEOINFOHEADER2) == 112);
static_assert(offsetof(VIDEOINFOHEADER2, dwInterlaceFlags) == 48);
static_assert(offsetof(VIDEOINFOHEADER2, dwPictAspectRatioX) == 56);
static_assert(offsetof(VIDEOINFOHEADER2, dwControlFlags) == 64);
static_assert(offsetof(VIDEOINFOHEADER2, bmiHeader) == 72);

// MPEG-1 video: the raw sequence header follows at bSequenceHeader.
struct MPEG1VIDEOINFO {
    VIDEOINFOHEADER hdr;
    DWORD dwStartTimeCode;
    DWORD cbSequenceHeader;
    BYTE bSequenceHeader[1];
};
static_assert(offsetof(MPEG1VIDEOINFO, dwStartTimeCode) == 88);
static_assert(offsetof(MPEG1VIDEOINFO, bSequenceHeader) == 96);
static_assert(sizeof(MPEG1VIDEOINFO) == 104);
// Bytes of a block with cbSequenceHeader bytes of sequence data.
constexpr ULONG SIZE_MPEG1VIDEOINFO(const MPEG1VIDEOINFO* p) {
    return ULONG(offsetof(MPEG1VIDEOINFO, bSequenceHeader) + p->cbSequenceHeader);
}

// MPEG-2 (and AVC) video: sequence data follows at dwSequenceHeader.
constexpr DWORD AMMPEG2_DoPanScan = 0x00000001;
constexpr DWORD AMMPEG2_DVDLine21Field1 = 0x00000002;
constexpr DWORD AMMPEG2_DVDLine21Field2 = 0x00000004;
constexpr DWORD AMMPEG2_SourceIsLetterboxed = 0x00000008;
constexpr DWORD AMMPEG2_FilmCameraMode = 0x00000010;
constexpr DWORD AMMPEG2_LetterboxAnalogOut = 0x00000020;

struct MPEG2VIDEOINFO {
    VIDEOINFOHEADER2 hdr;
    DWORD dwStartTimeCode;
    DWORD cbSequenceHeader;
    DWORD dwProfile;
    DWORD dwLevel;
    DWORD dwFlags;
    DWORD dwSequenceHeader[1];
};
static_assert(offsetof(MPEG2VIDEOINFO, dwStartTimeCode) == 112);
static_assert(offsetof(MPEG2VIDEOINFO, dwProfile) == 120);
static_assert(offsetof(MPEG2VIDEOINFO, dwSequenceHeader) == 132);
static_assert(sizeof(MPEG2VIDEOINFO) == 136);
constexpr ULONG SIZE_MPEG2VIDEOINFO(const MPEG2VIDEOINFO* p) {
    return ULONG(offsetof(MPEG2VIDEOINFO, dwSequenceHeader) + p->cbSequenceHeader);
}

#pragma pack(push, 1)
struct WAVEFORMATEX {
    WORD wFormatTag;
    WORD nChannels;
    DWORD nSamplesPerSec;
    DWORD nAvgBytesPerSec;
    WORD nBlockAlign;
    WORD wBitsPerSample;
    WORD cbSize; // bytes of extra format data that follow
};

// MPEG audio layers 1 and 2 (wFormatTag WAVE_FORMAT_MPEG, cbSize 22).
constexpr WORD ACM_MPEG_LAYER1 = 0x0001;
constexpr WORD ACM_MPEG_LAYER2 = 0x0002;
constexpr WORD ACM_MPEG_LAYER3 = 0x0004;
constexpr WORD ACM_MPEG_STEREO = 0x0001;
constexpr WORD ACM_MPEG_JOINTSTEREO = 0x0002;
constexpr WORD ACM_MPEG_DUALCHANNEL = 0x0004;
constexpr WORD ACM_MPEG_SINGLECHANNEL = 0x0008;
constexpr WORD ACM_MPEG_PRIVATEBIT = 0x0001;
constexpr WORD ACM_MPEG_COPYRIGHT = 0x0002;
constexpr WORD ACM_MPEG_ORIGINALHOME = 0x0004;
constexpr WORD ACM_MPEG_PROTECTIONBIT = 0x0008;
constexpr WORD ACM_MPEG_ID_MPEG1 = 0x0010;

struct MPEG1WAVEFORMAT {
    WAVEFORMATEX wfx;
    WORD fwHeadLayer;
    DWORD dwHeadBitrate;
    WORD fwHeadMode;
    WORD fwHeadModeExt;
    WORD wHeadEmphasis;
    WORD fwHeadFlags;
    DWORD dwPTSLow;
    DWORD dwPTSHigh;
};
#pragma pack(pop)
static_assert(sizeof(WAVEFORMATEX) == 18);
static_assert(offsetof(WAVEFORMATEX, nAvgBytesPerSec) == 8);
static_assert(offsetof(WAVEFORMATEX, cbSize) == 16);
static_assert(sizeof(MPEG1WAVEFORMAT) == 40);
static_assert(offsetof(MPEG1WAVEFORMAT, dwHeadBitrate) == 20);
static_assert(offsetof(MPEG1WAVEFORMAT, dwPTSLow) == 32);

// Bytes per row of a bitmap, rounded up to 32 bits, and the image size.
constexpr DWORD WIDTHBYTES(DWORD bits) { return ((bits + 31) & ~DWORD(31)) / 8; }
constexpr DWORD DIBWIDTHBYTES(const BITMAPINFOHEADER& bi) {
    return WIDTHBYTES(DWORD(bi.biWidth) * bi.biBitCount);
}
constexpr DWORD DIBSIZE(const BITMAPINFOHEADER& bi) {
    return DIBWIDTHBYTES(bi) * DWORD(bi.biHeight < 0 ? -bi.biHeight : bi.biHeight);
}
// Image size of a header: DIBSIZE (720 x 480 YV12, 12 bits: 518400).
inline DWORD GetBitmapSize(const BITMAPINFOHEADER* bi) { return DIBSIZE(*bi); }

// FOURCC code from four characters: MAKEFOURCC('Y','V','1','2') = 0x32315659.
constexpr DWORD MAKEFOURCC(char a, char b, char c, char d) {
    return DWORD(BYTE(a)) | (DWORD(BYTE(b)) << 8) | (DWORD(BYTE(c)) << 16) | (DWORD(BYTE(d)) << 24);
}
