// CCountingSink: a renderer-like sink with one input pin "In" that accepts any
// media type and only counts what reaches it: packets, bytes, first and last
// start time, discontinuities, media-type changes, flushes and end of stream.
// Used by the command line's demultiplexer report, the throughput benchmark
// and the demultiplexer tests. It can keep a log of every sample and can be
// stalled (Receive blocks until released or flushed) to stand for a
// downstream that stops taking data.
//
// Threads: Receive/EndOfStream/NewSegment on the upstream delivery thread,
// flushes on the seeking thread, the readers on any thread (one lock).
// Times are 100-ns units.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/dshow/BaseFilter.h"
#include "platform/dshow/BaseInputPin.h"

constexpr CLSID CLSID_CountingSink = MakeGuid("6DF35D11-2FE5-4EFE-871D-57713DB3CFDB");

class CCountingSink : public CCritSec, public CBaseFilter {
public:
    struct Sample {
        REFERENCE_TIME start = 0, stop = 0;
        bool hasTime = false, discontinuity = false, syncPoint = false, preroll = false,
             newType = false;
        std::size_t size = 0;
        std::uint32_t checksum = 0; // sum of the bytes
        std::int64_t segment = 0;   // new segments seen before it (1 in the first pass)
    };
    struct Stats {
        std::int64_t packets = 0, bytes = 0, discontinuities = 0, typeChanges = 0, flushes = 0,
                     segments = 0;
        REFERENCE_TIME first = 0, last = 0; // start times of the first and last timed sample
        bool hasTime = false, ended = false;
        REFERENCE_TIME segmentStart = 0;
        CMediaType lastType; // the last media type announced on a sample
    };

    // keepLog: remember every sample (for tests).
    explicit CCountingSink(bool keepLog = false);
    ~CCountingSink() override;

    int GetPinCount() override { return 1; }
    CBasePin* GetPin(int n) override;
    IPin* InputPin();
    HRESULT Pause() override;

    Stats GetStats() const;
    std::vector<Sample> Log() const;
    // Clears the counters and the log (not the stall).
    void Reset();
    // Waits up to ms for end of stream; true when it arrived.
    bool WaitForEnd(int ms) const;
    // Waits up to ms until at least n samples arrived.
    bool WaitForPackets(std::int64_t n, int ms) const;
    // While stalled, Receive blocks until Stall(false), a flush or a stop.
    void Stall(bool on);

private:
    class Pin;
    friend class Pin;
    HRESULT OnReceive(IMediaSample* s);
    void OnEndOfStream();
    void OnFlush(bool begin);
    void OnStop();
    void OnNewSegment(REFERENCE_TIME start);

    std::unique_ptr<Pin> pin_;
    const bool keepLog_;
    mutable std::mutex lock_;
    mutable std::condition_variable changed_;
    // -- protected by lock_
    Stats stats_;
    std::vector<Sample> log_;
    bool stalled_ = false, flushing_ = false, stopping_ = false;
    mutable int packetWaiters_ = 0; // threads in WaitForPackets: only they need a wake-up per sample
};
