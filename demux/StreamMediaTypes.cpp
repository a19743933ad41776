#include "demux/StreamMediaTypes.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace {

void SetAudio(CMediaType& mt, const GUID& subtype) {
    mt.InitMediaType();
    mt.SetType(&MEDIATYPE_Audio);
    mt.SetSubtype(&subtype);
    mt.SetFormatType(&FORMAT_WaveFormatEx);
}

WAVEFORMATEX* AllocWave(CMediaType& mt, ULONG bytes, WORD tag) {
    auto* wfe = reinterpret_cast<WAVEFORMATEX*>(mt.AllocFormatBuffer(bytes));
    if (!wfe) return nullptr;
    wfe->wFormatTag = tag;
    wfe->cbSize = static_cast<WORD>(bytes - sizeof(WAVEFORMATEX));
    return wfe;
}

BITMAPINFOHEADER MakeBitmap(int width, int height, DWORD compression) {
    BITMAPINFOHEADER bmi{};
    bmi.biSize = sizeof(BITMAPINFOHEADER);
    bmi.biWidth = width;
    bmi.biHeight = height;
    bmi.biCompression = compression;
    return bmi;
}

} // namespace

DWORD Mpeg2ProfileCode(int profileField) {
    switch (profileField) {
    case 5:
        return 1; // Simple
    case 4:
        return 2; // Main
    case 3:
        return 3; // SNR scalable
    case 2:
        return 4; // Spatially scalable
    case 1:
        return 5; // High
    default:
        return 0;
    }
}

DWORD Mpeg2LevelCode(int levelField) {
    switch (levelField) {
    case 10:
        return 1; // Low
    case 8:
        return 2; // Main
    case 6:
        return 3; // High 1440
    case 4:
        return 4; // High
    default:
        return 0;
    }
}

void MakeMpegVideoType(const SeqHeader& h, CMediaType& mt) {
    mt.InitMediaType();
    mt.SetType(&MEDIATYPE_Video);
    const auto rawSize = static_cast<ULONG>(h.raw.size());
    if (!h.mpeg2) {
        mt.SetSubtype(&MEDIASUBTYPE_MPEG1Payload);
        mt.SetFormatType(&FORMAT_MPEGVideo);
        auto* vi = reinterpret_cast<MPEG1VIDEOINFO*>(
            mt.AllocFormatBuffer(ULONG(offsetof(MPEG1VIDEOINFO, bSequenceHeader)) + rawSize));
        if (!vi) return;
        vi->hdr.dwBitRate = h.bitrate;
        vi->hdr.AvgTimePerFrame = h.avgTimePerFrame;
        vi->hdr.bmiHeader = MakeBitmap(h.width, h.height, 0);
        vi->hdr.bmiHeader.biXPelsPerMeter = h.width * h.arY;
        vi->hdr.bmiHeader.biYPelsPerMeter = h.height * h.arX;
        vi->cbSequenceHeader = rawSize;
        if (rawSize) std::memcpy(vi->bSequenceHeader, h.raw.data(), rawSize);
        return;
    }
    mt.SetSubtype(&MEDIASUBTYPE_MPEG2_VIDEO);
    mt.SetFormatType(&FORMAT_MPEG2_VIDEO);
    auto* vi = reinterpret_cast<MPEG2VIDEOINFO*>(
        mt.AllocFormatBuffer(ULONG(offsetof(MPEG2VIDEOINFO, dwSequenceHeader)) + rawSize));
    if (!vi) return;
    vi->hdr.dwBitRate = h.bitrate;
    vi->hdr.AvgTimePerFrame = h.avgTimePerFrame;
    vi->hdr.dwPictAspectRatioX = static_cast<DWORD>(h.arX);
    vi->hdr.dwPictAspectRatioY = static_cast<DWORD>(h.arY);
    vi->hdr.bmiHeader = MakeBitmap(h.width, h.height, 0);
    vi->dwProfile = Mpeg2ProfileCode(h.profile);
    vi->dwLevel = Mpeg2LevelCode(h.level);
    vi->cbSequenceHeader = rawSize;
    if (rawSize) std::memcpy(vi->dwSequenceHeader, h.raw.data(), rawSize);
}

void MakeMpegAudioType(const MpegAudioHeader& h, CMediaType& mt) {
    if (h.layer == 3) {
        SetAudio(mt, MEDIASUBTYPE_MP3);
        WAVEFORMATEX* wfe = AllocWave(mt, sizeof(WAVEFORMATEX), WAVE_FORMAT_MPEGLAYER3);
        if (!wfe) return;
        wfe->nChannels = h.channelMode == 3 ? 1 : 2;
        wfe->nSamplesPerSec = static_cast<DWORD>(h.sampleRate);
        wfe->nAvgBytesPerSec = static_cast<DWORD>(h.bitrate / 8);
        wfe->nBlockAlign = static_cast<WORD>(h.frameSize);
        return;
    }
    SetAudio(mt, MEDIASUBTYPE_MPEG1AudioPayload);
    auto* mpf = reinterpret_cast<MPEG1WAVEFORMAT*>(
        AllocWave(mt, sizeof(MPEG1WAVEFORMAT), WAVE_FORMAT_MPEG));
    if (!mpf) return;
    mpf->wfx.nChannels = h.channelMode == 3 ? 1 : 2;
    mpf->wfx.nSamplesPerSec = static_cast<DWORD>(h.sampleRate);
    mpf->wfx.nAvgBytesPerSec = static_cast<DWORD>(h.bitrate / 8);
    mpf->wfx.nBlockAlign = static_cast<WORD>(h.frameSize);
    mpf->fwHeadLayer = static_cast<WORD>(1 << (h.layer - 1));
    mpf->dwHeadBitrate = static_cast<DWORD>(h.bitrate);
    mpf->fwHeadMode = static_cast<WORD>(1 << h.channelMode);
    mpf->fwHeadModeExt = static_cast<WORD>(1 << h.modeExtension);
    mpf->wHeadEmphasis = static_cast<WORD>(h.emphasis + 1);
    WORD flags = 0;
    if (h.privateBit) flags |= ACM_MPEG_PRIVATEBIT;
    if (h.copyright) flags |= ACM_MPEG_COPYRIGHT;
    if (h.original) flags |= ACM_MPEG_ORIGINALHOME;
    if (h.crc) flags |= ACM_MPEG_PROTECTIONBIT;
    if (h.version == 3) flags |= ACM_MPEG_ID_MPEG1;
    mpf->fwHeadFlags = flags;
}

void MakeAacType(const AacHeader& h, CMediaType& mt) {
    SetAudio(mt, MEDIASUBTYPE_AAC);
    WAVEFORMATEX* wfe = AllocWave(mt, sizeof(WAVEFORMATEX) + 2, WAVE_FORMAT_AAC);
    if (!wfe) return;
    wfe->nChannels = static_cast<WORD>(h.channels);
    wfe->nSamplesPerSec = static_cast<DWORD>(h.sampleRate);
    wfe->nAvgBytesPerSec = static_cast<DWORD>(h.avgBytesPerSec);
    wfe->nBlockAlign = 1;
    // AudioSpecificConfig: object type (profile + 1), rate index, channel configuration.
    unsigned config = ((h.profile + 1) << 11) | (h.rateIndex << 7) | (h.channelConfig << 3);
    BYTE* extra = reinterpret_cast<BYTE*>(wfe + 1);
    extra[0] = static_cast<BYTE>(config >> 8);
    extra[1] = static_cast<BYTE>(config);
}

void MakeAc3Type(const Ac3Header& h, CMediaType& mt) {
    SetAudio(mt, MEDIASUBTYPE_DOLBY_AC3);
    WAVEFORMATEX* wfe = AllocWave(mt, sizeof(WAVEFORMATEX), WAVE_FORMAT_DOLBY_AC3);
    if (!wfe) return;
    wfe->nChannels = static_cast<WORD>(h.channels);
    wfe->nSamplesPerSec = static_cast<DWORD>(h.sampleRate);
    wfe->nAvgBytesPerSec = static_cast<DWORD>(h.avgBytesPerSec);
    wfe->nBlockAlign = static_cast<WORD>(h.blockAlign);
}

void MakeDtsType(const DtsHeader& h, CMediaType& mt) {
    SetAudio(mt, MEDIASUBTYPE_DTS);
    WAVEFORMATEX* wfe = AllocWave(mt, sizeof(WAVEFORMATEX), WAVE_FORMAT_DTS);
    if (!wfe) return;
    wfe->nChannels = static_cast<WORD>(h.channels);
    wfe->nSamplesPerSec = static_cast<DWORD>(h.sampleRate);
    wfe->nAvgBytesPerSec = static_cast<DWORD>(h.avgBytesPerSec);
    wfe->nBlockAlign = static_cast<WORD>(h.frameSize);
}

void MakeLpcmType(const LpcmHeader& h, CMediaType& mt) {
    SetAudio(mt, MEDIASUBTYPE_DVD_LPCM_AUDIO);
    WAVEFORMATEX* wfe = AllocWave(mt, sizeof(WAVEFORMATEX), WAVE_FORMAT_PCM);
    if (!wfe) return;
    wfe->nChannels = static_cast<WORD>(h.channels);
    wfe->nSamplesPerSec = static_cast<DWORD>(h.sampleRate);
    wfe->wBitsPerSample = static_cast<WORD>(h.bitsPerSample);
    wfe->nBlockAlign = static_cast<WORD>(h.blockAlign);
    wfe->nAvgBytesPerSec = static_cast<DWORD>(h.avgBytesPerSec);
}

void MakeHdmvLpcmType(const HdmvLpcmHeader& h, CMediaType& mt) {
    SetAudio(mt, MEDIASUBTYPE_HDMV_LPCM_AUDIO);
    auto* f =
        reinterpret_cast<HDMVLPCMFORMAT*>(AllocWave(mt, sizeof(HDMVLPCMFORMAT), WAVE_FORMAT_PCM));
    if (!f) return;
    f->wfx.nChannels = static_cast<WORD>(h.channels);
    f->wfx.nSamplesPerSec = static_cast<DWORD>(h.sampleRate);
    f->wfx.wBitsPerSample = static_cast<WORD>(h.bitsPerSample);
    f->wfx.nBlockAlign = static_cast<WORD>(h.blockAlign);
    f->wfx.nAvgBytesPerSec = static_cast<DWORD>(h.avgBytesPerSec);
    f->channelAssignment = static_cast<BYTE>(h.channelAssignment);
}

void MakePs2AudioType(const Ps2AudioHeader& h, CMediaType& mt) {
    WORD tag = h.type == 1 ? WAVE_FORMAT_PS2_PCM : WAVE_FORMAT_PS2_ADPCM;
    SetAudio(mt, FourCCSubtype(tag));
    auto* f = reinterpret_cast<PS2AUDIOFORMAT*>(AllocWave(mt, sizeof(PS2AUDIOFORMAT), tag));
    if (!f) return;
    f->wfx.nChannels = static_cast<WORD>(h.channels);
    f->wfx.nSamplesPerSec = static_cast<DWORD>(h.sampleRate);
    f->wfx.wBitsPerSample = 16;
    f->wfx.nBlockAlign = static_cast<WORD>(h.channels * 2);
    f->wfx.nAvgBytesPerSec = static_cast<DWORD>(f->wfx.nBlockAlign * h.sampleRate);
    f->dwInterleave = static_cast<DWORD>(h.interleave);
}

void MakeAvcType(const AvcHeader& h, CMediaType& mt) {
    mt.InitMediaType();
    mt.SetType(&MEDIATYPE_Video);
    GUID sub = FourCCSubtype(FOURCC_AVC1);
    mt.SetSubtype(&sub);
    mt.SetFormatType(&FORMAT_MPEG2_VIDEO);
    const auto seqSize = static_cast<ULONG>(h.parameterSets.size());
    auto* vi = reinterpret_cast<MPEG2VIDEOINFO*>(
        mt.AllocFormatBuffer(ULONG(offsetof(MPEG2VIDEOINFO, dwSequenceHeader)) + seqSize));
    if (!vi) return;
    vi->hdr.AvgTimePerFrame = h.avgTimePerFrame;
    vi->hdr.dwPictAspectRatioX = static_cast<DWORD>(h.width);
    vi->hdr.dwPictAspectRatioY = static_cast<DWORD>(h.height);
    vi->hdr.bmiHeader = MakeBitmap(h.width, h.height, FOURCC_AVC1);
    vi->dwProfile = static_cast<DWORD>(h.profile);
    vi->dwLevel = static_cast<DWORD>(h.level);
    vi->dwFlags = 4; // NAL units carry 4-byte length prefixes after re-framing
    vi->cbSequenceHeader = seqSize;
    if (seqSize) std::memcpy(vi->dwSequenceHeader, h.parameterSets.data(), seqSize);
}

void MakeVc1Type(const Vc1Header& h, CMediaType& mt) {
    mt.InitMediaType();
    mt.SetType(&MEDIATYPE_Video);
    GUID sub = FourCCSubtype(FOURCC_WVC1);
    mt.SetSubtype(&sub);
    mt.SetFormatType(&FORMAT_VideoInfo2);
    const auto rawSize = static_cast<ULONG>(h.raw.size());
    // The sequence header follows the block with a leading zero byte.
    auto* vi = reinterpret_cast<VIDEOINFOHEADER2*>(
        mt.AllocFormatBuffer(ULONG(sizeof(VIDEOINFOHEADER2)) + 1 + rawSize));
    if (!vi) return;
    vi->AvgTimePerFrame = h.avgTimePerFrame;
    vi->dwPictAspectRatioX = static_cast<DWORD>(h.width);
    vi->dwPictAspectRatioY = static_cast<DWORD>(h.height);
    if (h.interlaced) vi->dwInterlaceFlags = AMINTERLACE_IsInterlaced;
    vi->bmiHeader = MakeBitmap(h.width, h.height, FOURCC_WVC1);
    vi->bmiHeader.biSize = static_cast<DWORD>(sizeof(BITMAPINFOHEADER) + 1 + rawSize);
    if (rawSize) std::memcpy(reinterpret_cast<BYTE*>(vi + 1) + 1, h.raw.data(), rawSize);
}

void MakeSubpictureType(SubpictureKind kind, CMediaType& mt) {
    mt.InitMediaType();
    switch (kind) {
    case SubpictureKind::Dvd:
        mt.SetType(&MEDIATYPE_Video);
        mt.SetSubtype(&MEDIASUBTYPE_DVD_SUBPICTURE);
        break;
    case SubpictureKind::Svcd:
        mt.SetType(&MEDIATYPE_Video);
        mt.SetSubtype(&MEDIASUBTYPE_SVCD_SUBPICTURE);
        break;
    case SubpictureKind::Cvd:
        mt.SetType(&MEDIATYPE_Video);
        mt.SetSubtype(&MEDIASUBTYPE_CVD_SUBPICTURE);
        break;
    case SubpictureKind::Ps2:
        mt.SetType(&MEDIATYPE_Subtitle);
        mt.SetSubtype(&MEDIASUBTYPE_PS2_SUB);
        break;
    }
    mt.SetFormatType(&FORMAT_None);
}

void MakeSubpicturePlaceholderType(CMediaType& mt) {
    MakeSubpictureType(SubpictureKind::Dvd, mt);
    mt.SetSampleSize(1);
}

std::uint32_t DvdColourToRgb(std::uint32_t ycrcb) {
    const double y = double((ycrcb >> 16) & 0xFF) - 16;
    const double cr = double((ycrcb >> 8) & 0xFF) - 128;
    const double cb = double(ycrcb & 0xFF) - 128;
    auto channel = [](double v) { return std::uint32_t(std::clamp(std::lround(v), 0L, 255L)); };
    const std::uint32_t r = channel(1.164383 * y + 1.596027 * cr);
    const std::uint32_t g = channel(1.164383 * y - 0.391762 * cb - 0.812968 * cr);
    const std::uint32_t b = channel(1.164383 * y + 2.017232 * cb);
    return r << 16 | g << 8 | b;
}

std::string DvdPaletteText(const std::uint32_t ycrcb[16]) {
    std::string text = "palette:";
    for (int i = 0; i < 16; ++i) {
        char entry[16];
        std::snprintf(entry, sizeof entry, "%s %06x", i ? "," : "",
                      unsigned(DvdColourToRgb(ycrcb[i])));
        text += entry;
    }
    return text + "\n";
}

void SetSubpicturePalette(const std::string& text, CMediaType& mt) {
    if (text.empty() || mt.subtype != MEDIASUBTYPE_DVD_SUBPICTURE) return;
    BYTE* block = mt.AllocFormatBuffer(ULONG(text.size()));
    if (!block) return;
    std::memcpy(block, text.data(), text.size());
    mt.SetFormatType(&FORMAT_SubpicturePalette);
}

void MakeHdmvSubtitleType(std::string_view language, CMediaType& mt) {
    mt.InitMediaType();
    mt.SetType(&MEDIATYPE_Subtitle);
    mt.SetSubtype(&MEDIASUBTYPE_HDMVSUB);
    mt.SetFormatType(&FORMAT_SubtitleInfo);
    auto* si = reinterpret_cast<SUBTITLEINFO*>(mt.AllocFormatBuffer(sizeof(SUBTITLEINFO)));
    if (!si) return;
    si->dwOffset = sizeof(SUBTITLEINFO);
    if (language.empty()) language = "eng";
    for (std::size_t i = 0; i < 3 && i < language.size(); ++i)
        si->IsoLang[i] = language[i];
}

const WAVEFORMATEX* WaveFormatOf(const CMediaType& mt) {
    if (mt.formattype != FORMAT_WaveFormatEx || mt.cbFormat < sizeof(WAVEFORMATEX) || !mt.pbFormat)
        return nullptr;
    return reinterpret_cast<const WAVEFORMATEX*>(mt.pbFormat);
}
