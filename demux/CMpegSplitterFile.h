// The MPEG stream parser: decides which container a byte source holds (program,
// transport, elementary or PVA stream), finds its elementary streams with their
// media types, the time span and data rate, and afterwards serves packet-level
// reading to the demultiplexer.
//
// Built on the thread that connects the demultiplexer, then used by its worker
// thread only; one thread at a time. Only the program table is locked, because
// stream selection may read it from the application thread. Times are 100-ns units.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "demux/CBaseSplitterFileEx.h"
#include "demux/ClipStreamInfo.h"
#include "demux/TitleStreamTable.h"

class CMpegSplitterFile : public CBaseSplitterFileEx {
public:
    enum ContainerType {
        kNone = 0,
        kProgramStream = 1,
        kTransportStream = 2,
        kElementaryStream = 3,
        kPva = 4
    };
    enum StreamKind { kVideo = 0, kAudio = 1, kSubpicture = 2, kStreamKinds = 3 };

    struct MpegStream {
        CMediaType mt;
        WORD pid = 0;   // transport PID, 0 in a program stream
        BYTE pesid = 0; // PES stream id
        BYTE ps1id = 0; // sub-stream id (first payload byte of private stream 1)
        // The stream's number: the PID when set, else (PES id << 8) | sub-stream id.
        DWORD Id() const { return pid ? pid : (DWORD(pesid) << 8) | ps1id; }
        bool operator==(const MpegStream& o) const { return Id() == o.Id(); }
    };
    using StreamList = std::vector<MpegStream>;

    // Program of a transport stream: (elementary PID, stream type) pairs.
    struct Program {
        std::vector<std::pair<WORD, BYTE>> streams;
    };

    // Detects the container and scans the streams (the first 40 windows of
    // 131072 bytes at most). `hr` is S_OK, or E_FAIL when the data holds no
    // recognised container, no two distinct time stamps, or ends before the video
    // and every declared audio stream were met. `titles` and `clip` may be null and
    // are copied.
    CMpegSplitterFile(IAsyncReader* reader, HRESULT& hr, bool hdmv = false,
                      const ClipStreamTable* clip = nullptr,
                      const TitleStreamTable* titles = nullptr);

    ContainerType GetContainerType() const { return type_; }
    // Data rate in bytes per second (0 when unknown).
    int GetRate() const { return rate_; }
    std::int64_t EarliestPts() const { return earliestPts_; }
    std::int64_t LatestPts() const { return latestPts_; }
    // Time span of the scanned time stamps (latest - earliest), 0 when unknown.
    std::int64_t ScannedDuration() const;
    const StreamList& Streams(StreamKind kind) const { return streams_[kind]; }
    const std::map<WORD, BYTE>& PidToPes() const { return pidToPes_; }
    bool IsHdmv() const { return hdmv_; }
    // A copy of the program table, taken under its lock.
    std::map<WORD, Program> Programs() const;
    const ClipStreamTable& ClipStreams() const { return clip_; }

    // Classifies the PES payload at the position (`length` bytes) of stream
    // (`pid`, `pesid`), inserts a newly recognised stream into its list, and returns
    // the stream's number (also when it stays unclassified). Leaves the position at
    // the stream's elementary data: after the DVD private-stream header (4 bytes;
    // 7 for LPCM with its own header; 1 for subpictures) or at the payload start.
    DWORD ClassifyStream(WORD pid, BYTE pesid, std::int64_t length);
    // The next PTS of stream `id` from the position, relative to the earliest PTS;
    // -1 when none. The position is left at the start of that packet (or of the
    // last packet looked at).
    std::int64_t FindNextTimestamp(DWORD id);
    // The video list if not empty, else audio, else subpicture, else null.
    const StreamList* PrimaryStreamList() const;
    // Reads PAT and PMT sections of a transport packet whose header was just read.
    void UpdatePrograms(const TsHeader& h);
    // Adds a Blu-ray graphics subtitle stream for `pid` ("---" for the
    // no-subtitles entry).
    void AddHdmvSubtitleStream(WORD pid, const char* language);
    // Scans [start, stop) for streams and time stamps; S_OK when it reached stop,
    // E_FAIL on a scrambled packet.
    HRESULT ScanStreams(std::int64_t start, std::int64_t stop);

    // Puts a DVD colour table ("palette: ..." text, see DvdPaletteText) into the
    // type of every DVD subpicture stream, those listed now and those found
    // later; the "no subtitles" entry keeps its plain type.
    void SetSubpicturePalette(const std::string& text);

    // Codec priority of an audio stream: the larger comes first in the list.
    std::int64_t AudioPriority(const MpegStream& s) const;
    static const char* StreamKindName(StreamKind kind); // "Video", "Audio", "Subtitle"
    static const char* ContainerTypeName(ContainerType type);

protected:
    void OnComplete() override;

private:
    enum class Step { kNext, kEnd, kFail };
    Step ScanStep();
    Step TimestampStep(DWORD id, std::int64_t& pts);
    HRESULT Init(bool hdmv);
    bool DetectContainer();
    HRESULT ScanWindows();
    void UpdateSpan(std::int64_t pts);
    void RecomputeRate();
    bool Contains(StreamKind kind, const MpegStream& s) const;
    bool Precedes(StreamKind kind, const MpegStream& a, const MpegStream& b) const;
    void Insert(StreamKind kind, MpegStream&& s);
    bool IsPidListed(WORD pid) const;
    BYTE ProgramStreamType(WORD pid) const;
    bool ClassifyPrivateProgramStream(MpegStream& s, std::int64_t length, StreamKind& kind);
    bool ClassifyPrivateTransportStream(MpegStream& s, std::int64_t length, StreamKind& kind);

    ContainerType type_ = kNone;
    std::int64_t earliestPts_ = mpeg::kPtsUnset;
    std::int64_t earliestPos_ = 0;
    std::int64_t latestPts_ = 0;
    std::int64_t latestPos_ = 0;
    int rate_ = 0;
    StreamList streams_[kStreamKinds];
    std::map<WORD, BYTE> pidToPes_;
    bool hdmv_ = false;
    ClipStreamTable clip_;
    TitleStreamTable titles_;
    std::string subpicturePalette_;
    // -- protected by programLock_
    mutable std::mutex programLock_;
    std::map<WORD, Program> programs_;
};
