// CMpegSplitterOutputPin: an output pin of the MPEG demultiplexer. Besides
// the base delivery it smooths time-stamp jumps (a jump larger than the
// tolerance makes the stream continue at the previous time, and later packets
// keep that offset) and re-frames AAC (ADTS frames to raw frames), AVC
// (start codes to length-prefixed NAL units per access unit) and VC-1
// (frames between frame and sequence start codes) payloads.
//
// Threads: SendPacket on the pin's delivery thread; the re-framing state is
// guarded by the pin's lock. Times are 100-ns units.
#pragma once

#include <deque>
#include <mutex>

#include "demux/CBaseSplitterOutputPin.h"

class CMpegSplitterOutputPin : public CBaseSplitterOutputPin {
public:
    // Largest accepted jump between consecutive start times of video and audio.
    static constexpr REFERENCE_TIME kDefaultJumpTolerance = 50000000; // 5 s

    CMpegSplitterOutputPin(const CMediaType& mt, LPCWSTR name, CBaseSplitterFilter* filter,
                           CCritSec* lock, HRESULT* phr,
                           REFERENCE_TIME jumpTolerance = kDefaultJumpTolerance);

    HRESULT DeliverEndFlush() override;
    HRESULT DeliverNewSegment(REFERENCE_TIME tStart, REFERENCE_TIME tStop, double dRate) override;

protected:
    HRESULT SendPacket(std::unique_ptr<Packet> p) override;
    // Delivers what re-framing still holds, then end of stream.
    HRESULT SendEndOfStream() override;

private:
    enum class Framing { kNone, kAac, kAvc, kVc1, kHdmvLpcm };
    Framing FramingOf(const AM_MEDIA_TYPE& mt) const;
    void ResetTiming();
    HRESULT SendAac(std::unique_ptr<Packet> p);
    HRESULT SendAvc(std::unique_ptr<Packet> p);
    HRESULT SendVc1(std::unique_ptr<Packet> p);
    HRESULT FlushPending();
    HRESULT SendPiece(const Packet& from, const std::uint8_t* data, std::size_t size, bool first);

    const REFERENCE_TIME jumpTolerance_;
    std::mutex lock_;
    // -- protected by lock_
    std::unique_ptr<Packet> pending_; // bytes gathered for re-framing
    std::deque<std::unique_ptr<Packet>> pendingList_;
    REFERENCE_TIME prevStart_ = Packet::kNoTime;
    REFERENCE_TIME offset_ = 0;
};
