#include "demux/StreamDescription.h"

#include <cstdio>
#include <cstring>
#include <string_view>
#include <vector>

#include "demux/LanguageTable.h"
#include "demux/StreamMediaTypes.h"

namespace {

std::string Format(const char* fmt, double v) {
    char buf[64];
    std::snprintf(buf, sizeof buf, fmt, v);
    return buf;
}
std::string Format(const char* fmt, long long v) {
    char buf[64];
    std::snprintf(buf, sizeof buf, fmt, v);
    return buf;
}

std::string BitrateText(long long bitsPerSecond) {
    if (bitsPerSecond > 20000000) return Format("%.2f mbit/s", bitsPerSecond / 1000000.0);
    return Format("%.1f kbit/s", bitsPerSecond / 1000.0);
}

std::string FourCCText(DWORD fourcc) {
    std::string s;
    for (int i = 0; i < 4; ++i) {
        char c = static_cast<char>((fourcc >> (8 * i)) & 0xFF);
        s.push_back(c >= 0x20 && c < 0x7F ? c : '?');
    }
    return s;
}

std::string ClipLanguage(const ClipStreamInfo* clip) {
    if (!clip || !clip->language[0]) return {};
    return LanguageName(std::string_view(clip->language, strnlen(clip->language, 4)));
}

// The video block fields that every video format shares.
struct VideoFields {
    long long width = 0, height = 0, avgTimePerFrame = 0, bitrate = 0;
    DWORD compression = 0;
};

bool VideoFieldsOf(const AM_MEDIA_TYPE& mt, VideoFields& f) {
    if (!mt.pbFormat) return false;
    const BITMAPINFOHEADER* bmi = nullptr;
    if ((mt.formattype == FORMAT_VideoInfo || mt.formattype == FORMAT_MPEGVideo) &&
        mt.cbFormat >= sizeof(VIDEOINFOHEADER)) {
        auto* vih = reinterpret_cast<const VIDEOINFOHEADER*>(mt.pbFormat);
        f.avgTimePerFrame = vih->AvgTimePerFrame;
        f.bitrate = vih->dwBitRate;
        bmi = &vih->bmiHeader;
    } else if ((mt.formattype == FORMAT_VideoInfo2 || mt.formattype == FORMAT_MPEG2_VIDEO) &&
               mt.cbFormat >= sizeof(VIDEOINFOHEADER2)) {
        auto* vih = reinterpret_cast<const VIDEOINFOHEADER2*>(mt.pbFormat);
        f.avgTimePerFrame = vih->AvgTimePerFrame;
        f.bitrate = vih->dwBitRate;
        bmi = &vih->bmiHeader;
    }
    if (!bmi) return false;
    f.width = bmi->biWidth;
    f.height = bmi->biHeight < 0 ? -static_cast<long long>(bmi->biHeight) : bmi->biHeight;
    f.compression = bmi->biCompression;
    return true;
}

void VideoParts(const AM_MEDIA_TYPE& mt, const ClipStreamInfo* clip,
                std::vector<std::string>& parts) {
    if (std::string lang = ClipLanguage(clip); !lang.empty()) parts.push_back(lang);
    VideoFields f;
    bool haveFields = VideoFieldsOf(mt, f);
    bool avc = false;
    if (mt.formattype == FORMAT_MPEGVideo) {
        parts.push_back("MPEG");
    } else if (mt.formattype == FORMAT_MPEG2_VIDEO) {
        if (f.compression == FOURCC_AVC1) {
            parts.push_back("AVC (H.264)");
            avc = true;
        } else if (f.compression) {
            parts.push_back(FourCCText(f.compression));
        } else {
            parts.push_back("MPEG2");
        }
    } else if (mt.formattype == FORMAT_VideoInfo2) {
        if (f.compression == FOURCC_WVC1)
            parts.push_back("VC-1");
        else if (f.compression)
            parts.push_back(FourCCText(f.compression));
    } else if (mt.subtype == MEDIASUBTYPE_DVD_SUBPICTURE) {
        parts.push_back("DVD Sub Picture");
    } else if (mt.subtype == MEDIASUBTYPE_SVCD_SUBPICTURE) {
        parts.push_back("SVCD Sub Picture");
    } else if (mt.subtype == MEDIASUBTYPE_CVD_SUBPICTURE) {
        parts.push_back("CVD Sub Picture");
    }

    if (mt.formattype == FORMAT_MPEG2_VIDEO &&
        mt.cbFormat >= offsetof(MPEG2VIDEOINFO, dwSequenceHeader)) {
        auto* vi = reinterpret_cast<const MPEG2VIDEOINFO*>(mt.pbFormat);
        long long profile = vi->dwProfile, level = vi->dwLevel;
        const char* name = nullptr;
        if (avc) {
            switch (profile) {
            case 44:
                name = "CAVLC Profile";
                break;
            case 66:
                name = "Baseline Profile";
                break;
            case 77:
                name = "Main Profile";
                break;
            case 88:
                name = "Extended Profile";
                break;
            case 100:
                name = "High Profile";
                break;
            case 110:
                name = "High 10 Profile";
                break;
            case 122:
                name = "High 4:2:2 Profile";
                break;
            case 144:
                name = "High 4:4:4 Profile";
                break;
            default:
                break;
            }
        } else {
            switch (profile) {
            case 1:
                name = "Simple Profile";
                break;
            case 2:
                name = "Main Profile";
                break;
            case 3:
                name = "SNR Scalable Profile";
                break;
            case 4:
                name = "Spatially Scalable Profile";
                break;
            case 5:
                name = "High Profile";
                break;
            default:
                break;
            }
        }
        if (name)
            parts.push_back(name);
        else if (profile)
            parts.push_back(Format("Profile %d", profile));
        switch (level) {
        case 0:
            break;
        case 1:
            parts.push_back("Low Level");
            break;
        case 2:
            parts.push_back("Main Level");
            break;
        case 3:
            parts.push_back("High1440 Level");
            break;
        case 4:
            parts.push_back("High Level");
            break;
        default:
            parts.push_back(avc ? Format("Level %1.1f", level / 10.0) : Format("Level %d", level));
            break;
        }
    }
    if (haveFields) {
        if (f.width && f.height)
            parts.push_back(std::to_string(f.width) + "x" + std::to_string(f.height));
        if (f.avgTimePerFrame > 0)
            parts.push_back(Format("%.3f fps", 10000000.0 / f.avgTimePerFrame));
        if (f.bitrate) parts.push_back(BitrateText(f.bitrate));
    }
}

void AudioParts(const AM_MEDIA_TYPE& mt, const ClipStreamInfo* clip, BYTE streamType,
                std::vector<std::string>& parts) {
    if (std::string lang = ClipLanguage(clip); !lang.empty()) parts.push_back(lang);
    if (mt.formattype != FORMAT_WaveFormatEx || !mt.pbFormat || mt.cbFormat < sizeof(WAVEFORMATEX))
        return;
    auto* wfe = reinterpret_cast<const WAVEFORMATEX*>(mt.pbFormat);
    const char* typeName = StreamTypeName(streamType);
    if (mt.subtype == MEDIASUBTYPE_DVD_LPCM_AUDIO) {
        parts.push_back("DVD LPCM");
    } else if (mt.subtype == MEDIASUBTYPE_HDMV_LPCM_AUDIO) {
        parts.push_back("HDMV LPCM");
    } else {
        switch (wfe->wFormatTag) {
        case WAVE_FORMAT_DTS:
            parts.push_back(typeName ? typeName : "DTS");
            break;
        case WAVE_FORMAT_PS2_PCM:
            parts.push_back("PS2 PCM");
            break;
        case WAVE_FORMAT_PS2_ADPCM:
            parts.push_back("PS2 ADPCM");
            break;
        case WAVE_FORMAT_DOLBY_AC3:
            parts.push_back(typeName ? typeName : "Dolby Digital");
            break;
        case WAVE_FORMAT_MPEG: {
            int layer = 0;
            if (mt.cbFormat >= sizeof(MPEG1WAVEFORMAT)) {
                WORD bits = reinterpret_cast<const MPEG1WAVEFORMAT*>(mt.pbFormat)->fwHeadLayer;
                layer = bits & ACM_MPEG_LAYER1   ? 1
                        : bits & ACM_MPEG_LAYER2 ? 2
                        : bits & ACM_MPEG_LAYER3 ? 3
                                                 : 0;
            }
            parts.push_back(Format("MPEG1 - Layer %d", static_cast<long long>(layer)));
            break;
        }
        case WAVE_FORMAT_MPEGLAYER3:
            parts.push_back("MP3");
            break;
        case WAVE_FORMAT_AAC:
            parts.push_back("AAC");
            break;
        default:
            break;
        }
    }
    if (clip && clip->sampleRateCode == 12)
        parts.push_back("192(48) kHz");
    else if (clip && clip->sampleRateCode == 14)
        parts.push_back("96(48) kHz");
    else if (wfe->nSamplesPerSec)
        parts.push_back(Format("%.1f kHz", wfe->nSamplesPerSec / 1000.0));
    if (wfe->nChannels) parts.push_back(Format("%d chn", static_cast<long long>(wfe->nChannels)));
    if (wfe->wBitsPerSample)
        parts.push_back(Format("%d bit", static_cast<long long>(wfe->wBitsPerSample)));
    if (wfe->nAvgBytesPerSec) parts.push_back(BitrateText(8LL * wfe->nAvgBytesPerSec));
}

void SubtitleParts(const AM_MEDIA_TYPE& mt, const ClipStreamInfo* clip, BYTE streamType,
                   std::vector<std::string>& parts) {
    if (mt.cbFormat == sizeof(SUBTITLEINFO) && mt.pbFormat) {
        SUBTITLEINFO si;
        std::memcpy(&si, mt.pbFormat, sizeof si);
        std::string lang =
            LanguageName(std::string_view(si.IsoLang, strnlen(si.IsoLang, sizeof si.IsoLang)));
        if (!lang.empty()) parts.push_back(lang);
        std::string track;
        for (char16_t c : si.TrackName) {
            if (!c) break;
            track.push_back(c < 0x80 ? static_cast<char>(c) : '?');
        }
        if (!track.empty()) parts.push_back(track);
    } else if (std::string lang = ClipLanguage(clip); !lang.empty()) {
        parts.push_back(lang);
    }
    if (const char* name = StreamTypeName(streamType)) parts.push_back(name);
}

} // namespace

std::string StreamDescription(const AM_MEDIA_TYPE& mt, const ClipStreamInfo* clip,
                              BYTE streamType) {
    const char* kind = nullptr;
    std::vector<std::string> parts;
    if (mt.majortype == MEDIATYPE_Video) {
        kind = "Video";
        VideoParts(mt, clip, parts);
    } else if (mt.majortype == MEDIATYPE_Audio) {
        kind = "Audio";
        AudioParts(mt, clip, streamType, parts);
    } else if (mt.majortype == MEDIATYPE_Subtitle) {
        kind = "Subtitle";
        SubtitleParts(mt, clip, streamType, parts);
    }
    if (!kind || parts.empty()) return {};
    std::string out = std::string(kind) + " - ";
    for (std::size_t i = 0; i < parts.size(); ++i) {
        if (i) out += ", ";
        out += parts[i];
    }
    return out;
}

const char* StreamTypeName(BYTE streamType) {
    switch (streamType) {
    case 0x01:
        return "MPEG-1";
    case 0x02:
        return "MPEG-2";
    case 0x03:
        return "MPEG-1";
    case 0x04:
        return "MPEG-2";
    case 0x1B:
        return "H264";
    case 0x80:
        return "LPCM";
    case 0x81:
        return "Dolby Digital";
    case 0x82:
        return "DTS";
    case 0x83:
        return "Dolby TrueHD";
    case 0x84:
        return "Dolby Digital Plus";
    case 0x85:
        return "DTS-HD High Resolution Audio";
    case 0x86:
        return "DTS-HD Master Audio";
    case 0x90:
        return "Presentation Graphics Stream";
    case 0x91:
        return "Interactive Graphics Stream";
    case 0x92:
        return "Subtitle";
    case 0xA1:
        return "Secondary Dolby Digital Plus";
    case 0xA2:
        return "Secondary DTS-HD High Resolution Audio";
    case 0xEA:
        return "VC-1";
    default:
        return nullptr;
    }
}
