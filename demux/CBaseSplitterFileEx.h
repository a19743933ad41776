// Header readers over the cached reader: packet-level headers of program,
// transport and PVA streams, and the elementary-stream headers that recognise a
// stream from the first bytes of a PES payload and build its media type.
//
// Each reader works at the current position, returns true on success and leaves
// the position after the header; on failure the position is somewhere after the
// start (callers that retry restore it). Elementary readers take a byte budget
// (the PES payload length) and never look further than that. Times are in 100-ns
// units and include the time offset. One thread at a time, as the base.
#pragma once

#include "demux/CBaseSplitterFile.h"
#include "demux/MpegHeaders.h"
#include "platform/dshow/MediaType.h"

class CBaseSplitterFileEx : public CBaseSplitterFile {
public:
    CBaseSplitterFileEx(IAsyncReader* reader, HRESULT& hr, int cacheBytes,
                        bool randomAccessRequired, bool streamingAllowed);

    // Searches at most `limit` bytes for 00 00 01 xx; `code` receives xx and the
    // position is just after it. False when none is found (or the data ends).
    bool FindStartCode(BYTE& code, std::int64_t limit);

    // -- packet headers (the position is just after the 00 00 01 xx start code)
    bool ReadPackHeader(PackHeader& h);
    bool ReadSystemHeader(SystemHeader& h);
    bool ReadPesHeader(PesHeader& h, BYTE streamId);
    // At a transport packet (or searching one packet size for it with `resync`).
    bool ReadTsHeader(TsHeader& h, bool resync = true);
    bool ReadPsiHeader(PsiHeader& h);
    bool ReadPvaHeader(PvaHeader& h, bool resync = true);

    // -- elementary-stream headers; `pmt`, when given, receives the media type
    bool ReadSeqHeader(SeqHeader& h, std::int64_t budget, CMediaType* pmt = nullptr);
    bool ReadMpegAudioHeader(MpegAudioHeader& h, std::int64_t budget, bool allowMpeg25 = false,
                             CMediaType* pmt = nullptr);
    bool ReadAacHeader(AacHeader& h, std::int64_t budget, CMediaType* pmt = nullptr);
    bool ReadAc3Header(Ac3Header& h, std::int64_t budget, CMediaType* pmt = nullptr);
    bool ReadDtsHeader(DtsHeader& h, std::int64_t budget, CMediaType* pmt = nullptr);
    bool ReadLpcmHeader(LpcmHeader& h, CMediaType* pmt = nullptr);
    bool ReadHdmvLpcmHeader(HdmvLpcmHeader& h, CMediaType* pmt = nullptr);
    bool ReadPs2AudioHeader(Ps2AudioHeader& h, std::int64_t budget, CMediaType* pmt = nullptr);
    bool ReadAvcHeader(AvcHeader& h, std::int64_t budget, CMediaType* pmt = nullptr);
    bool ReadVc1Header(Vc1Header& h, std::int64_t budget, CMediaType* pmt = nullptr);

    // Transport packet size once found (188 or 192), else 0.
    int TsPacketSize() const { return tsPacketSize_; }
    // Added to every PTS, DTS and PVA time stamp (0 with the DVD source).
    std::int64_t TimeOffset() const { return timeOffset_; }

protected:
    // 3 + 15 + 15 bits with a marker after each part; false when a marker is 0.
    bool ReadTimestamp33(std::uint64_t& value);
    bool FindTsPacketSize();
    // Skips `count` bytes (count <= 0 does nothing).
    void Skip(std::int64_t count);
    // Reads up to `max` bytes at the position into `out` without moving it.
    void PeekBytes(std::vector<std::uint8_t>& out, std::int64_t max);

    int tsPacketSize_ = 0;
    std::int64_t timeOffset_ = 0;
};
