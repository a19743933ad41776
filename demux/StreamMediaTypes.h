// Media types of the elementary streams the parser recognises: the identifiers the
// framework does not define, and one builder per header record. The builders only
// fill the CMediaType they are given; they are pure and safe from any thread.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "demux/MpegHeaders.h"
#include "platform/dshow/FormatBlocks.h"
#include "platform/dshow/MediaGuids.h"
#include "platform/dshow/MediaType.h"

constexpr GUID MEDIASUBTYPE_SVCD_SUBPICTURE = MakeGuid("DA5B82EE-6BD2-426F-BF1E-30112DA78AE1");
constexpr GUID MEDIASUBTYPE_CVD_SUBPICTURE = MakeGuid("7B57308F-5154-4C36-B903-52FE76E184FC");
constexpr GUID MEDIASUBTYPE_PS2_SUB = MakeGuid("4F3D3D21-6D7C-4F73-AA05-E397B5EAE0AA");
constexpr GUID MEDIASUBTYPE_HDMVSUB = MakeGuid("04EBA53E-9330-436C-9133-553EC87031DC");
constexpr GUID MEDIASUBTYPE_HDMV_LPCM_AUDIO = MakeGuid("949F97FD-56F6-4527-B4AE-DDEB375AB80F");
// Format type of subtitle streams whose block is a SUBTITLEINFO.
constexpr GUID FORMAT_SubtitleInfo = MakeGuid("A33D2F7D-96BC-4337-B23B-A8B9FBC295E9");
// Format type of DVD subpicture streams that carry their colour table: the
// block is the text "palette: rrggbb, ..." (16 RGB colours in hex, as in a
// VobSub index file), not zero-terminated.
constexpr GUID FORMAT_SubpicturePalette = MakeGuid("ECE9817E-5142-4407-BC27-EF891EBBD9EE");
constexpr WORD WAVE_FORMAT_PS2_PCM = 0xF521;
constexpr WORD WAVE_FORMAT_PS2_ADPCM = 0xF522;
constexpr DWORD FOURCC_AVC1 = 0x31435641; // "AVC1"
constexpr DWORD FOURCC_WVC1 = 0x31435657; // "WVC1"

// Format block of a text or graphics subtitle stream: 520 bytes.
struct SUBTITLEINFO {
    DWORD dwOffset;          // offset of data after this block (its size)
    char IsoLang[4];         // three-letter language code, zero-terminated
    char16_t TrackName[256]; // track name, zero-terminated
};
static_assert(sizeof(SUBTITLEINFO) == 520);

// HDMV LPCM: a WAVEFORMATEX followed by the channel-assignment code (19 bytes).
#pragma pack(push, 1)
struct HDMVLPCMFORMAT {
    WAVEFORMATEX wfx;
    BYTE channelAssignment;
};
// PS2 audio: a WAVEFORMATEX followed by the interleave (24 bytes).
struct PS2AUDIOFORMAT {
    WAVEFORMATEX wfx;
    DWORD dwInterleave;
    WORD wReserved;
};
#pragma pack(pop)
static_assert(sizeof(HDMVLPCMFORMAT) == 19);
static_assert(sizeof(PS2AUDIOFORMAT) == 24);

// MPEG-2 profile and level as the platform numbers them in MPEG2VIDEOINFO
// (profile 1 Simple .. 5 High; level 1 Low .. 4 High) from the 3-bit profile and
// 4-bit level fields of the sequence extension (Main is field 4 and field 8);
// reserved or escaped values give 0.
DWORD Mpeg2ProfileCode(int profileField);
DWORD Mpeg2LevelCode(int levelField);

void MakeMpegVideoType(const SeqHeader& h, CMediaType& mt);
void MakeMpegAudioType(const MpegAudioHeader& h, CMediaType& mt);
void MakeAacType(const AacHeader& h, CMediaType& mt);
void MakeAc3Type(const Ac3Header& h, CMediaType& mt);
void MakeDtsType(const DtsHeader& h, CMediaType& mt);
void MakeLpcmType(const LpcmHeader& h, CMediaType& mt);
void MakeHdmvLpcmType(const HdmvLpcmHeader& h, CMediaType& mt);
void MakePs2AudioType(const Ps2AudioHeader& h, CMediaType& mt);
void MakeAvcType(const AvcHeader& h, CMediaType& mt);
void MakeVc1Type(const Vc1Header& h, CMediaType& mt);

enum class SubpictureKind { Dvd, Svcd, Cvd, Ps2 };
// Subpicture and PS2 subtitle types: no format block.
void MakeSubpictureType(SubpictureKind kind, CMediaType& mt);
// The entry that stands for "no subtitles": DVD subpicture type, fixed-size
// samples of 1 byte, no format.
void MakeSubpicturePlaceholderType(CMediaType& mt);
// RGB (0xRRGGBB) of a DVD colour-table entry 0x00YYCrCb: BT.601 with luma
// 16..235 and colour difference 16..240, as DVD video uses them, so that a
// colour converted back for blending keeps the disc's luma.
std::uint32_t DvdColourToRgb(std::uint32_t ycrcb);
// "palette: rrggbb, rrggbb, ..." of the 16 colours of a DVD colour table.
std::string DvdPaletteText(const std::uint32_t ycrcb[16]);
// Gives a DVD subpicture type the palette text as its format block
// (FORMAT_SubpicturePalette); an empty text leaves the type as it is.
void SetSubpicturePalette(const std::string& text, CMediaType& mt);
// Blu-ray graphics subtitle with a three-letter language ("eng" when empty).
void MakeHdmvSubtitleType(std::string_view language, CMediaType& mt);

// The wave format of an audio type, or null when it has none.
const WAVEFORMATEX* WaveFormatOf(const CMediaType& mt);
