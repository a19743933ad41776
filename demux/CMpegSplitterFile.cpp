#include "demux/CMpegSplitterFile.h"

#include <algorithm>
#include <cstring>

#include "demux/StreamMediaTypes.h"
#include "platform/win/DebugTrace.h"

using namespace mpeg;

CMpegSplitterFile::CMpegSplitterFile(IAsyncReader* reader, HRESULT& hr, bool hdmv,
                                     const ClipStreamTable* clip, const TitleStreamTable* titles)
    : CBaseSplitterFileEx(reader, hr, kCacheBytes, false, true) {
    if (clip) clip_ = *clip;
    if (titles) titles_ = *titles;
    if (SUCCEEDED(hr)) hr = Init(hdmv);
}

HRESULT CMpegSplitterFile::Init(bool hdmv) {
    hdmv_ = hdmv;
    if (!DetectContainer()) return E_FAIL;
    HRESULT hr = ScanWindows();
    if (FAILED(hr)) return hr;

    // Every subtitle stream the title declares is listed, met or not.
    for (int i = 0; i < titles_.SubtitleCount(); ++i) {
        MpegStream s;
        s.pesid = static_cast<BYTE>(titles_.subtitleIds[i] >> 8);
        s.ps1id = static_cast<BYTE>(titles_.subtitleIds[i]);
        if (Contains(kSubpicture, s)) continue;
        MakeSubpictureType(SubpictureKind::Dvd, s.mt);
        Insert(kSubpicture, std::move(s));
    }

    RecomputeRate();

    if (!streams_[kVideo].empty()) {
        if (hdmv_) {
            AddHdmvSubtitleStream(1, "---");
        } else if (streams_[kSubpicture].empty()) {
            MpegStream none; // identifier 0: "no subtitles"
            MakeSubpicturePlaceholderType(none.mt);
            streams_[kSubpicture].push_back(std::move(none));
        }
    }
    Seek(0);
    return S_OK;
}

bool CMpegSplitterFile::DetectContainer() {
    type_ = kNone;
    Seek(0);
    if (ReadBits(32) == kTfrcMagic)
        Seek(kTfrcTsOffset);
    else
        Seek(0);

    int found = 0;
    for (; found < 4; ++found) {
        TsHeader h;
        if (!ReadTsHeader(h, true)) break;
        Seek(h.next);
    }
    if (found == 4) type_ = kTransportStream;

    Seek(0);
    if (type_ == kNone) {
        for (found = 0; found < 4; ++found) {
            PvaHeader h;
            if (!ReadPvaHeader(h, true)) break;
            Seek(GetPos() + h.length);
        }
        if (found == 4) type_ = kPva;
    }

    Seek(0);
    if (type_ == kNone) {
        for (int pass = 0; type_ == kNone && (pass < 4 || GetPos() < 65536); ++pass) {
            BYTE code = 0;
            if (!FindStartCode(code, kStartCodeSearchBytes)) break;
            if (code == kPackStartCode) {
                PackHeader h;
                if (ReadPackHeader(h)) {
                    type_ = kProgramStream;
                    rate_ = static_cast<int>(h.bitrate / 8);
                }
            } else if (IsAudioStreamId(code) || IsVideoStreamId(code) || code == kPrivateStream1) {
                PesHeader h;
                if (ReadPesHeader(h, code) && ReadBits(24, true) == 0x000001)
                    type_ = kElementaryStream;
            }
        }
    }
    Seek(0);
    if (type_ == kNone) DebugTrace("MpegSplitterFile: no MPEG container found\n");
    return type_ != kNone;
}

HRESULT CMpegSplitterFile::ScanWindows() {
    earliestPts_ = kPtsUnset;
    earliestPos_ = 0;
    latestPts_ = 0;
    latestPos_ = 0;

    HRESULT result = E_FAIL;
    const std::int64_t length = GetLength();
    for (int k = 0; k < kScanWindows; ++k) {
        std::int64_t start = k * kScanWindowBytes;
        if (start >= length) {
            result = E_FAIL;
            break;
        }
        std::int64_t stop = std::min(start + kScanWindowBytes, length);
        if (FAILED(ScanStreams(start, stop))) continue;
        bool span =
            latestPos_ > earliestPos_ && latestPts_ > earliestPts_ && earliestPts_ != kPtsUnset;
        result = span ? S_OK : E_FAIL;
        if (!span || streams_[kVideo].empty()) continue;
        bool allAudio = true;
        for (int i = 0; i < titles_.AudioCount() && allAudio; ++i) {
            MpegStream s;
            s.pesid = static_cast<BYTE>(titles_.audioIds[i] >> 8);
            s.ps1id = static_cast<BYTE>(titles_.audioIds[i]);
            allAudio = Contains(kAudio, s);
        }
        if (allAudio) break;
    }
    if (FAILED(result)) DebugTrace("MpegSplitterFile: stream scan failed\n");
    return result;
}

std::int64_t CMpegSplitterFile::ScannedDuration() const {
    if (earliestPts_ == kPtsUnset || latestPts_ <= earliestPts_) return 0;
    return latestPts_ - earliestPts_;
}

void CMpegSplitterFile::UpdateSpan(std::int64_t pts) {
    if (earliestPts_ == kPtsUnset) {
        earliestPts_ = pts;
        earliestPos_ = GetPos();
    } else if (pts > earliestPts_ && pts > latestPts_) {
        latestPts_ = pts;
        latestPos_ = GetPos();
    }
}

void CMpegSplitterFile::RecomputeRate() {
    if (earliestPts_ == kPtsUnset || latestPts_ <= earliestPts_ || latestPos_ <= earliestPos_)
        return;
    std::int64_t measured =
        (latestPos_ - earliestPos_) * kUnitsPerSecond / (latestPts_ - earliestPts_);
    if (measured <= 0 || measured > 0x7FFFFFFF) return;
    if (rate_ == 0 || double(measured) / rate_ < 1.1 || std::abs(measured - rate_) < 51200)
        rate_ = static_cast<int>(measured);
}

void CMpegSplitterFile::OnComplete() {
    std::int64_t pos = GetPos();
    std::int64_t length = GetLength();
    if (SUCCEEDED(ScanStreams(std::max<std::int64_t>(0, length - kTailScanBytes), length)))
        RecomputeRate();
    Seek(pos);
}

HRESULT CMpegSplitterFile::ScanStreams(std::int64_t start, std::int64_t stop) {
    Seek(start);
    ClearReadError();
    stop = std::min(stop, GetLength());
    while (GetPos() < stop && !ReadFailed()) {
        const std::int64_t before = GetPos();
        switch (ScanStep()) {
        case Step::kNext:
            break;
        case Step::kEnd:
            return S_OK;
        case Step::kFail:
            return E_FAIL;
        }
        // Every turn moves forward, even over damaged headers.
        if (GetPos() <= before) Seek(before + 1);
    }
    // A source that fails to deliver bytes it reported fails the window.
    if (ReadFailed() && GetPos() < stop) {
        DebugTrace("MpegSplitterFile: read error while scanning\n");
        return E_FAIL;
    }
    return S_OK;
}

CMpegSplitterFile::Step CMpegSplitterFile::ScanStep() {
    if (type_ == kProgramStream || type_ == kElementaryStream) {
        BYTE code = 0;
        if (!FindStartCode(code, kStartCodeSearchBytes)) return Step::kNext;
        if (code == kPackStartCode) {
            PackHeader h;
            ReadPackHeader(h);
        } else if (code == kSystemHeaderCode) {
            SystemHeader h;
            ReadSystemHeader(h);
        } else if (code >= kPrivateStream1 && code <= kVideoStreamLast) {
            PesHeader h;
            if (!ReadPesHeader(h, code)) return Step::kNext;
            if (h.version == 2 && h.scrambling) {
                DebugTrace("MpegSplitterFile: scrambled PES packet\n");
                return Step::kFail;
            }
            if (h.hasPts) UpdateSpan(h.pts);
            std::int64_t payload = GetPos();
            ClassifyStream(0, code, h.length);
            Seek(payload + h.length);
        }
        return Step::kNext;
    }
    if (type_ == kTransportStream) {
        TsHeader h;
        if (!ReadTsHeader(h, true)) return Step::kNext;
        UpdatePrograms(h);
        if (h.payloadStart && h.hasPayload && h.pid >= kFirstElementaryPid &&
            h.pid <= kLastElementaryPid) {
            std::int64_t payloadStart = GetPos();
            BYTE code = 0;
            PesHeader pes;
            if (FindStartCode(code, 4) && ReadPesHeader(pes, code)) {
                if (pes.version == 2 && pes.scrambling) {
                    DebugTrace("MpegSplitterFile: scrambled PES packet\n");
                    return Step::kFail;
                }
                if (pes.hasPts) UpdateSpan(pes.pts);
                std::int64_t left = h.payloadBytes - (GetPos() - payloadStart);
                if (left > 0) ClassifyStream(h.pid, code, left);
            }
        }
        Seek(h.next);
        return Step::kNext;
    }
    if (type_ == kPva) {
        PvaHeader h;
        if (!ReadPvaHeader(h, true)) return Step::kEnd; // 64 KB without a packet
        if (h.hasPts) UpdateSpan(h.pts);
        std::int64_t payload = GetPos();
        if (h.streamId == 1)
            ClassifyStream(1, kVideoStreamFirst, h.length);
        else if (h.streamId == 2)
            ClassifyStream(2, kAudioStreamFirst, h.length);
        Seek(payload + h.length);
        return Step::kNext;
    }
    return Step::kEnd;
}

// ---- classification --------------------------------------------------------------------

bool CMpegSplitterFile::Contains(StreamKind kind, const MpegStream& s) const {
    const StreamList& list = streams_[kind];
    return std::find(list.begin(), list.end(), s) != list.end();
}

bool CMpegSplitterFile::IsPidListed(WORD pid) const {
    for (const StreamList& list : streams_)
        for (const MpegStream& s : list)
            if (s.pid == pid) return true;
    return false;
}

BYTE CMpegSplitterFile::ProgramStreamType(WORD pid) const {
    {
        std::lock_guard<std::mutex> lock(programLock_);
        for (const auto& [pmt, program] : programs_)
            for (const auto& [esPid, type] : program.streams)
                if (esPid == pid) return type;
    }
    auto it = clip_.find(pid);
    return it != clip_.end() ? it->second.streamType : 0;
}

DWORD CMpegSplitterFile::ClassifyStream(WORD pid, BYTE pesid, std::int64_t length) {
    if (pid) {
        if (pesid)
            pidToPes_[pid] = pesid;
        else if (auto it = pidToPes_.find(pid); it != pidToPes_.end())
            pesid = it->second;
    }
    MpegStream s;
    s.pid = pid;
    s.pesid = pesid;
    const std::int64_t pos = GetPos();
    StreamKind kind = kStreamKinds; // unclassified

    if (IsVideoStreamId(pesid)) {
        if (!Contains(kVideo, s)) {
            SeqHeader seq;
            AvcHeader avc;
            if (ReadSeqHeader(seq, length, &s.mt)) {
                kind = kVideo;
            } else {
                Seek(pos);
                if (ReadAvcHeader(avc, length, &s.mt)) kind = kVideo;
            }
        }
        Seek(pos);
    } else if (IsAudioStreamId(pesid)) {
        if (!Contains(kAudio, s)) {
            MpegAudioHeader mpa;
            AacHeader aac;
            if (ReadMpegAudioHeader(mpa, length, false, &s.mt)) {
                kind = kAudio;
            } else {
                Seek(pos);
                if (ReadAacHeader(aac, length, &s.mt)) kind = kAudio;
            }
        }
        Seek(pos);
    } else if (IsPrivateStreamId(pesid)) {
        if (pid == 0 || type_ != kTransportStream) {
            if (!ClassifyPrivateProgramStream(s, length, kind)) Seek(pos);
        } else if (!ClassifyPrivateTransportStream(s, length, kind)) {
            Seek(pos);
        }
    }

    if (kind != kStreamKinds && !Contains(kind, s) && !(s.pid && IsPidListed(s.pid))) {
        DWORD id = s.Id();
        Insert(kind, std::move(s));
        return id;
    }
    return s.Id();
}

// Private stream 1 of a program stream: the first payload byte names the sub-stream.
// Returns true when the position was left after the stream's private header.
bool CMpegSplitterFile::ClassifyPrivateProgramStream(MpegStream& s, std::int64_t length,
                                                     StreamKind& kind) {
    const std::int64_t pos = GetPos();
    if (length < 1) return false;
    const unsigned b = static_cast<unsigned>(ReadBits(8, true));
    const unsigned w = static_cast<unsigned>(ReadBits(16, true));
    const std::uint32_t d = static_cast<std::uint32_t>(ReadBits(32, true));

    auto privateAudio = [&](unsigned first, unsigned last, BYTE fallbackId, auto&& read) {
        bool inRange = b >= first && b <= last;
        s.ps1id = inRange ? static_cast<BYTE>(b) : fallbackId;
        if (inRange) Skip(kPrivateHeaderBytes);
        std::int64_t after = GetPos();
        if (!Contains(kAudio, s) && read(length - (after - pos))) kind = kAudio;
        Seek(after);
        return true;
    };

    if ((b >= kAc3SubstreamFirst && b <= kAc3SubstreamLast) || w == kAc3SyncWord) {
        return privateAudio(kAc3SubstreamFirst, kAc3SubstreamLast, kAc3SubstreamFirst,
                            [&](std::int64_t n) {
                                Ac3Header h;
                                return ReadAc3Header(h, n, &s.mt);
                            });
    }
    if ((b >= kDtsSubstreamFirst && b <= kDtsSubstreamLast) || d == kDtsSyncWord) {
        return privateAudio(kDtsSubstreamFirst, kDtsSubstreamLast, kDtsSubstreamFirst,
                            [&](std::int64_t n) {
                                DtsHeader h;
                                return ReadDtsHeader(h, n, &s.mt);
                            });
    }
    if (b >= kLpcmSubstreamFirst && b <= kLpcmSubstreamLast) {
        s.ps1id = static_cast<BYTE>(b);
        Skip(kPrivateHeaderBytes);
        LpcmHeader h;
        if (length >= kPrivateHeaderBytes + kLpcmHeaderBytes && ReadLpcmHeader(h, &s.mt))
            kind = kAudio;
        Seek(pos + kPrivateHeaderBytes + kLpcmHeaderBytes);
        return true;
    }
    auto subpicture = [&](SubpictureKind sk) {
        s.ps1id = static_cast<BYTE>(b);
        if (!Contains(kSubpicture, s)) {
            MakeSubpictureType(sk, s.mt);
            kind = kSubpicture;
        }
        Seek(pos + 1);
        return true;
    };
    if (b >= kDvdSubpictureFirst && b <= kDvdSubpictureLast) return subpicture(SubpictureKind::Dvd);
    if (b >= kSvcdSubpictureFirst && b <= kSvcdSubpictureLast)
        return subpicture(SubpictureKind::Svcd);
    if (b <= kCvdSubpictureLast) return subpicture(SubpictureKind::Cvd);
    if (w == kPs2AudioTagPcm || w == kPs2AudioTagAdpcm || w == kPs2SubTag) {
        if (length < 4) return false;
        s.ps1id = static_cast<BYTE>(ReadBits(8));
        unsigned hi = static_cast<unsigned>(ReadBits(8));
        unsigned lo = static_cast<unsigned>(ReadBits(16));
        s.pid = static_cast<WORD>(hi * 256 + lo);
        std::int64_t after = GetPos();
        if (w != kPs2SubTag) {
            Ps2AudioHeader h;
            if (ReadPs2AudioHeader(h, length - 4, &s.mt)) kind = kAudio;
        } else {
            unsigned next = static_cast<unsigned>(ReadBits(16, true));
            if (next == kAc3SyncWord) {
                Ac3Header h;
                if (ReadAc3Header(h, length - 4, &s.mt)) kind = kAudio;
            } else if (next == 0) {
                MakeSubpictureType(SubpictureKind::Ps2, s.mt);
                kind = kSubpicture;
            }
        }
        Seek(after);
        return true;
    }
    return false;
}

// Private streams of a transport stream: by sync word, then by the program table.
bool CMpegSplitterFile::ClassifyPrivateTransportStream(MpegStream& s, std::int64_t length,
                                                       StreamKind& kind) {
    const std::int64_t pos = GetPos();
    if (Contains(kAudio, s) || Contains(kVideo, s)) return false;
    {
        Ac3Header ac3;
        DtsHeader dts;
        Vc1Header vc1;
        if (ReadAc3Header(ac3, length, &s.mt)) {
            kind = kAudio;
        } else {
            Seek(pos);
            if (ReadDtsHeader(dts, length, &s.mt)) {
                kind = kAudio;
            } else {
                Seek(pos);
                if (ReadVc1Header(vc1, length, &s.mt)) kind = kVideo;
            }
        }
        Seek(pos);
    }
    if (kind == kStreamKinds) {
        BYTE type = ProgramStreamType(s.pid);
        if (type == 0x80) {
            HdmvLpcmHeader h;
            if (ReadHdmvLpcmHeader(h, &s.mt)) kind = kAudio;
            Seek(pos);
        } else if (type == 0x90 && !Contains(kSubpicture, s)) {
            auto it = clip_.find(s.pid);
            MakeHdmvSubtitleType(it != clip_.end() ? it->second.language : "", s.mt);
            kind = kSubpicture;
            hdmv_ = true;
        }
    }
    return false;
}

void CMpegSplitterFile::AddHdmvSubtitleStream(WORD pid, const char* language) {
    MpegStream s;
    s.pid = pid;
    s.pesid = kPrivateStream1;
    MakeHdmvSubtitleType(language ? language : "", s.mt);
    hdmv_ = true;
    if (!Contains(kSubpicture, s)) Insert(kSubpicture, std::move(s));
}

// ---- list order ------------------------------------------------------------------------

std::int64_t CMpegSplitterFile::AudioPriority(const MpegStream& s) const {
    const WAVEFORMATEX* wfe = WaveFormatOf(s.mt);
    if (!wfe) return 0;
    int codec = 0;
    BYTE streamType = 0;
    if (auto it = clip_.find(s.pid); s.pid && it != clip_.end()) streamType = it->second.streamType;
    if (s.mt.subtype == MEDIASUBTYPE_DVD_LPCM_AUDIO ||
        s.mt.subtype == MEDIASUBTYPE_HDMV_LPCM_AUDIO || streamType == 0x83 || streamType == 0x86)
        codec = 12;
    else if (streamType == 0x84)
        codec = 10;
    else if (streamType == 0x85)
        codec = 11;
    else
        switch (wfe->wFormatTag) {
        case WAVE_FORMAT_MPEG:
            codec = 5;
            break;
        case WAVE_FORMAT_MPEGLAYER3:
            codec = 6;
            break;
        case WAVE_FORMAT_AAC:
            codec = 7;
            break;
        case WAVE_FORMAT_DOLBY_AC3:
            codec = 8;
            break;
        case WAVE_FORMAT_DTS:
            codec = 9;
            break;
        case WAVE_FORMAT_PS2_PCM:
            codec = 12;
            break;
        case WAVE_FORMAT_PS2_ADPCM:
            codec = 4;
            break;
        default:
            codec = 0;
            break;
        }
    // Wide arithmetic: the fields of a damaged header must not overflow the key.
    __int128 key = __int128(codec) * 100000000000000000LL +
                   __int128(wfe->nChannels) * 1000000000000000LL +
                   __int128(wfe->nSamplesPerSec) * 10000000000LL +
                   __int128(wfe->wBitsPerSample) * 10000000LL + wfe->nAvgBytesPerSec;
    constexpr __int128 kMax = INT64_MAX;
    return static_cast<std::int64_t>(key > kMax ? kMax : key);
}

bool CMpegSplitterFile::Precedes(StreamKind kind, const MpegStream& a, const MpegStream& b) const {
    if (kind == kAudio) {
        bool wa = WaveFormatOf(a.mt) != nullptr, wb = WaveFormatOf(b.mt) != nullptr;
        if (wa != wb) return wa;
        if (wa) {
            std::int64_t pa = AudioPriority(a), pb = AudioPriority(b);
            if (pa != pb) return pa > pb;
        }
    }
    return a.Id() < b.Id();
}

void CMpegSplitterFile::SetSubpicturePalette(const std::string& text) {
    subpicturePalette_ = text;
    for (MpegStream& s : streams_[kSubpicture])
        if (s.Id() != 0) ::SetSubpicturePalette(text, s.mt);
}

void CMpegSplitterFile::Insert(StreamKind kind, MpegStream&& s) {
    if (kind == kSubpicture) ::SetSubpicturePalette(subpicturePalette_, s.mt);
    StreamList& list = streams_[kind];
    auto it = list.begin();
    while (it != list.end() && !Precedes(kind, s, *it))
        ++it;
    list.insert(it, std::move(s));
}

// ---- transport programs ----------------------------------------------------------------

std::map<WORD, CMpegSplitterFile::Program> CMpegSplitterFile::Programs() const {
    std::lock_guard<std::mutex> lock(programLock_);
    return programs_;
}

void CMpegSplitterFile::UpdatePrograms(const TsHeader& h) {
    if (!h.hasPayload || !h.payloadStart) return;
    std::lock_guard<std::mutex> lock(programLock_);
    const std::int64_t pos = GetPos();
    PsiHeader psi;
    if (h.pid == kPatPid) {
        if (ReadPsiHeader(psi) && psi.tableId == 0) {
            std::map<WORD, Program> kept;
            for (int n = (psi.sectionLength - 9) / 4; n > 0; --n) {
                WORD program = static_cast<WORD>(ReadBits(16));
                ReadBits(3);
                WORD pmtPid = static_cast<WORD>(ReadBits(13));
                if (program == 0) continue;
                auto it = programs_.find(pmtPid);
                kept[pmtPid] = it != programs_.end() ? it->second : Program{};
            }
            programs_ = std::move(kept);
        }
    } else if (auto it = programs_.find(h.pid); it != programs_.end()) {
        if (ReadPsiHeader(psi) && psi.tableId == 2) {
            Program& program = it->second;
            program.streams.clear();
            ReadBits(3 + 13); // PCR PID
            ReadBits(4);
            int info = static_cast<int>(ReadBits(12));
            Skip(info);
            int left = psi.sectionLength - 9 - 4 - info;
            while (left > 4 && program.streams.size() < kMaxProgramStreams) {
                BYTE type = static_cast<BYTE>(ReadBits(8));
                ReadBits(3);
                WORD pid = static_cast<WORD>(ReadBits(13));
                ReadBits(4);
                int esInfo = static_cast<int>(ReadBits(12));
                Skip(esInfo);
                left -= 5 + esInfo;
                program.streams.emplace_back(pid, type);
            }
        }
    }
    Seek(pos);
}

// ---- time stamps -----------------------------------------------------------------------

std::int64_t CMpegSplitterFile::FindNextTimestamp(DWORD id) {
    ClearReadError();
    while (GetRemaining() > 0 && !ReadFailed()) {
        const std::int64_t before = GetPos();
        std::int64_t pts = 0;
        switch (TimestampStep(id, pts)) {
        case Step::kNext:
            break;
        case Step::kEnd:
            return pts - earliestPts_;
        case Step::kFail:
            return -1;
        }
        if (GetPos() <= before) Seek(before + 1);
    }
    return -1;
}

// One packet of FindNextTimestamp: kEnd with `pts` set and the position at the
// packet when it is the wanted stream's; kFail when nothing more can be read.
CMpegSplitterFile::Step CMpegSplitterFile::TimestampStep(DWORD id, std::int64_t& pts) {
    if (type_ == kProgramStream || type_ == kElementaryStream) {
        BYTE code = 0;
        if (!FindStartCode(code, kStartCodeSearchBytes)) return Step::kNext;
        std::int64_t packet = GetPos() - 4;
        if (code >= kPrivateStream1 && code <= kVideoStreamLast) {
            PesHeader h;
            if (ReadPesHeader(h, code) && h.length > 0) {
                std::int64_t payload = GetPos();
                if (h.hasPts && ClassifyStream(0, code, h.length) == id) {
                    Seek(packet);
                    pts = h.pts;
                    return Step::kEnd;
                }
                Seek(payload + h.length);
            }
        }
        return Step::kNext;
    }
    if (type_ == kTransportStream) {
        TsHeader h;
        if (!ReadTsHeader(h, true)) return Step::kNext;
        std::int64_t packet = h.next - TsPacketSize();
        if (h.payloadStart && h.hasPayload && h.pid >= kFirstElementaryPid &&
            h.pid <= kLastElementaryPid) {
            std::int64_t payloadStart = GetPos();
            BYTE code = 0;
            PesHeader pes;
            if (FindStartCode(code, 4) && ReadPesHeader(pes, code) && pes.hasPts) {
                std::int64_t left = h.payloadBytes - (GetPos() - payloadStart);
                if (ClassifyStream(h.pid, code, left > 0 ? left : 0) == id) {
                    Seek(packet);
                    pts = pes.pts;
                    return Step::kEnd;
                }
            }
        }
        Seek(h.next);
        return Step::kNext;
    }
    if (type_ == kPva) {
        PvaHeader h;
        if (!ReadPvaHeader(h, true)) return Step::kFail;
        if (h.hasPts) {
            Seek(h.offset);
            pts = h.pts;
            return Step::kEnd;
        }
        Seek(GetPos() + h.length);
        return Step::kNext;
    }
    return Step::kFail;
}

const CMpegSplitterFile::StreamList* CMpegSplitterFile::PrimaryStreamList() const {
    for (const StreamList& list : streams_)
        if (!list.empty()) return &list;
    return nullptr;
}

const char* CMpegSplitterFile::StreamKindName(StreamKind kind) {
    switch (kind) {
    case kVideo:
        return "Video";
    case kAudio:
        return "Audio";
    case kSubpicture:
        return "Subtitle";
    default:
        return "";
    }
}

const char* CMpegSplitterFile::ContainerTypeName(ContainerType type) {
    switch (type) {
    case kProgramStream:
        return "program stream";
    case kTransportStream:
        return "transport stream";
    case kElementaryStream:
        return "elementary stream";
    case kPva:
        return "PVA";
    default:
        return "none";
    }
}
