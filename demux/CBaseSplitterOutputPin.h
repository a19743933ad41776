// CBaseSplitterOutputPin: one output pin of the splitter, with its own packet
// queue and delivery thread. The splitter's worker thread queues packets
// (EnqueuePacket), the delivery thread copies each into a sample of the
// agreed allocator and pushes it downstream (SendPacket).
//
// Threads: EnqueuePacket, EnqueueEndOfStream and DeliverNewSegment on the
// splitter's worker thread; SendPacket on the pin's delivery thread;
// DeliverBeginFlush/DeliverEndFlush on the thread that seeks or stops (the
// application thread); connection and Active/Inactive on the application
// thread under the filter lock. Times are 100-ns units.
// Lifetime: owned by the filter; its reference count is the filter's.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <vector>

#include "demux/Packet.h"
#include "demux/PacketQueue.h"
#include "platform/dshow/AMThread.h"
#include "platform/dshow/BaseOutputPin.h"

class CBaseSplitterFilter;

class CBaseSplitterOutputPin : public CBaseOutputPin, public CAMThread, public IMediaSeeking {
public:
    // The most payload one queue may hold before the worker waits for it.
    static constexpr std::size_t kMaxQueueBytes = 209715200; // 200 MB

    // mts: the types offered, the first one first. buffers: allocator buffers
    // (at least 1).
    CBaseSplitterOutputPin(std::vector<CMediaType> mts, LPCWSTR name, CBaseSplitterFilter* filter,
                           CCritSec* lock, HRESULT* phr, int buffers = 0);
    ~CBaseSplitterOutputPin() override;

    DECLARE_IUNKNOWN
    // Adds IMediaSeeking.
    HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

    // -- connection
    HRESULT CheckMediaType(const CMediaType* pmt) override; // one of the offered types
    HRESULT GetMediaType(int iPosition, CMediaType* pmt) override;
    HRESULT SetMediaType(const CMediaType* pmt) override;
    // max(buffers, 1) buffers of max(sample size, 1) bytes; E_FAIL when smaller
    // ones are granted.
    HRESULT DecideBufferSize(IMemAllocator* pAlloc, ALLOCATOR_PROPERTIES* pProp) override;
    // Commit the allocator and start the delivery thread (connected pins only);
    // Inactive decommits and joins it.
    HRESULT Active() override;
    HRESULT Inactive() override;

    // -- queueing (worker thread)
    // Waits while the splitter has enough data queued (or this queue holds more
    // than 200 MB), then queues. Returns the delivery result: S_OK while the pin
    // delivers, S_FALSE without a delivery thread or while flushing, or the
    // downstream failure; the packet is dropped unless S_OK.
    virtual HRESULT EnqueuePacket(std::unique_ptr<Packet> p);
    virtual HRESULT EnqueueEndOfStream();
    virtual std::size_t QueueCount() const { return queue_.GetCount(); }
    virtual std::size_t QueueSize() const { return queue_.GetSize(); }
    // Subtitles and script commands: never make the worker wait.
    virtual bool IsSparse() const { return sparse_; }

    // -- stream control passed downstream
    HRESULT DeliverBeginFlush() override;
    HRESULT DeliverEndFlush() override;
    HRESULT DeliverNewSegment(REFERENCE_TIME tStart, REFERENCE_TIME tStop, double dRate) override;

    // Bit rates measured on the delivered payload, bits per second.
    int GetCurrentBitRate() const { return curBitRate_; }
    int GetAverageBitRate() const { return avgBitRate_; }
    REFERENCE_TIME SegmentStart() const { return segmentStart_; }

    // IMediaSeeking: the filter's, except that SetPositions names this pin as caller.
    HRESULT GetCapabilities(DWORD* pCapabilities) override;
    HRESULT CheckCapabilities(DWORD* pCapabilities) override;
    HRESULT IsFormatSupported(const GUID* pFormat) override;
    HRESULT QueryPreferredFormat(GUID* pFormat) override;
    HRESULT GetTimeFormat(GUID* pFormat) override;
    HRESULT IsUsingTimeFormat(const GUID* pFormat) override;
    HRESULT SetTimeFormat(const GUID* pFormat) override;
    HRESULT GetDuration(LONGLONG* pDuration) override;
    HRESULT GetStopPosition(LONGLONG* pStop) override;
    HRESULT GetCurrentPosition(LONGLONG* pCurrent) override;
    HRESULT ConvertTimeFormat(LONGLONG* pTarget, const GUID* pTargetFormat, LONGLONG Source,
                              const GUID* pSourceFormat) override;
    HRESULT SetPositions(LONGLONG* pCurrent, DWORD dwCurrentFlags, LONGLONG* pStop,
                         DWORD dwStopFlags) override;
    HRESULT GetPositions(LONGLONG* pCurrent, LONGLONG* pStop) override;
    HRESULT GetAvailable(LONGLONG* pEarliest, LONGLONG* pLatest) override;
    HRESULT SetRate(double dRate) override;
    HRESULT GetRate(double* pdRate) override;
    HRESULT GetPreroll(LONGLONG* pllPreroll) override;

protected:
    // Copies one packet into a sample and delivers it (delivery thread). The
    // packet is consumed. Derived pins re-frame payloads and call the base.
    virtual HRESULT SendPacket(std::unique_ptr<Packet> p);
    // End of stream as queued by the worker (delivery thread).
    virtual HRESULT SendEndOfStream() { return DeliverEndOfStream(); }
    DWORD ThreadProc() override;
    bool IsFlushing() const { return flushing_; }
    CBaseSplitterFilter* Splitter() const { return splitter_; }

private:
    enum { kCmdExit = 0 };
    // A queue this short is running dry.
    static constexpr std::size_t kLowPackets = 33, kLowBytes = 87381;
    void StopDeliveryThread();
    void UpdateBitRate(const Packet& p);
    HRESULT GetBufferFor(std::size_t bytes, IMediaSample** sample);
    void QueueScriptCommandPacketIfNeeded();

    CBaseSplitterFilter* splitter_;
    int buffers_;
    PacketQueue queue_;
    std::atomic<HRESULT> hrDeliver_{S_FALSE};
    std::atomic<bool> flushing_{false};
    std::atomic<bool> flushed_{false};
    CAMEvent endFlush_{true};
    std::atomic<bool> sparse_{false};
    std::atomic<REFERENCE_TIME> segmentStart_{0};
    // -- protected by typesLock_: the offered types, replaced by a type change
    mutable std::mutex typesLock_;
    std::vector<CMediaType> mts_;
    // -- delivery thread only (except the atomics read by anyone)
    std::atomic<REFERENCE_TIME> lastMeasure_{Packet::kNoTime};
    std::int64_t bytesSince_ = 0, totalBytes_ = 0;
    REFERENCE_TIME timeSince_ = 0, totalTime_ = 0;
    std::atomic<int> curBitRate_{0}, avgBitRate_{0};
};
