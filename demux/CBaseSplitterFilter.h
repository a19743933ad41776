// CBaseSplitterFilter: the generic half of a demultiplexer. One input pin pulls
// bytes from a source (IAsyncReader); a worker thread reads and routes packets
// to the output pins, each with its own queue and delivery thread. A derived
// filter supplies the parser (CreateOutputPins) and the demultiplexing loop
// (StartDemux, SeekDemux, DemuxPackets). Also seeking (IMediaSeeking), queue
// status (IBufferInfo) and IKeyFrameInfo (not implemented).
//
// Pins enumerate outputs first, in creation order, then the input "Input".
//
// Threads:
// - application thread: connection, state changes, seeks, stream selection;
//   under the filter lock (this object's CCritSec);
// - the worker thread (ThreadProc): StartDemux, SeekDemux, DemuxPackets,
//   RoutePacket, NeedMoreData. It never takes the filter lock, so the
//   application thread may wait for it while holding that lock;
// - one delivery thread per output pin (CBaseSplitterOutputPin).
// The pin map and the pending media types have locks of their own.
// Times are 100-ns units.
#pragma once

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "demux/CBaseSplitterInputPin.h"
#include "demux/CBaseSplitterOutputPin.h"
#include "demux/IBufferInfo.h"
#include "demux/IKeyFrameInfo.h"
#include "demux/Packet.h"
#include "platform/dshow/AMThread.h"
#include "platform/dshow/BaseFilter.h"

class CBaseSplitterFilter : public CCritSec,
                            public CBaseFilter,
                            protected CAMThread,
                            public IMediaSeeking,
                            public IKeyFrameInfo,
                            public IBufferInfo {
public:
    CBaseSplitterFilter(const char* name, IUnknown* outer, HRESULT* phr, REFCLSID clsid);
    ~CBaseSplitterFilter() override;

    DECLARE_IUNKNOWN
    // Adds IMediaSeeking, IKeyFrameInfo, IBufferInfo. IFileSourceFilter is
    // refused: the filter always has an input pin.
    HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

    // -- pins
    int GetPinCount() override;
    CBasePin* GetPin(int n) override;

    // -- state (application thread)
    HRESULT Stop() override;
    HRESULT Pause() override;

    // -- hooks of the derived filter
    // Disconnects and retires every output pin; VFW_E_NOT_STOPPED unless stopped.
    virtual HRESULT RemoveOutputPins();
    // Stopped filters only: breaks every connection of the filter, both sides
    // (the output pins are retired), so that filters used without a graph
    // manager release each other. VFW_E_NOT_STOPPED otherwise.
    HRESULT DisconnectPins();
    // Builds the parser and the output pins for the connected source.
    virtual HRESULT CreateOutputPins(IAsyncReader* pAsyncReader) = 0;
    // The source's file name when it offers one, else the stored name.
    virtual std::wstring SourceFileName(IAsyncReader* pAsyncReader);
    // Worker thread. Prepares the passes; false ends the worker's work.
    virtual bool StartDemux() = 0;
    // Worker thread. Positions the parser for a pass starting at rt.
    virtual void SeekDemux(REFERENCE_TIME rt) = 0;
    // Worker thread. Reads and routes packets; true when the pass is over.
    virtual bool DemuxPackets() = 0;
    // A seek request from `caller` (the filter or one of its output pins); always S_OK.
    virtual HRESULT SetPositionsFrom(void* caller, LONGLONG* pCurrent, DWORD dwCurrentFlags,
                                     LONGLONG* pStop, DWORD dwStopFlags);

    // -- pin registry
    // Takes ownership of pin and maps it to stream id; E_INVALIDARG for null.
    HRESULT RegisterOutputPin(DWORD id, CBaseSplitterOutputPin* pin);
    // Moves the pin of oldId to newId; pmt (may be null) becomes pending for
    // newId and is announced with its next packet. E_FAIL when oldId has no
    // pin, VFW_E_TYPE_NOT_ACCEPTED when the connected peer refuses pmt.
    HRESULT RetargetOutputPin(DWORD oldId, DWORD newId, const CMediaType* pmt);
    CBaseSplitterOutputPin* FindOutputPin(DWORD id);
    // Output pins in creation order (application thread, or the worker while running).
    const std::vector<std::unique_ptr<CBaseSplitterOutputPin>>& OutputPins() const {
        return outputs_;
    }

    // -- streaming (worker thread)
    // Routes a packet to its pin; S_FALSE when dropped (no connected, active pin).
    HRESULT RoutePacket(std::unique_ptr<Packet> p);
    // True while some pin runs short of data (and adjusts the delivery
    // threads' priority).
    bool NeedMoreData();
    // Waits up to ms for queue space or a flush (worker thread).
    void WaitForQueueSpace(DWORD ms) { wakeWorker_.Wait(ms); }
    void WakeWorker() { wakeWorker_.Set(); }
    double PlaybackRate() const { return rate_; }
    // True when a command (seek, exit) waits for the worker. Both commands are
    // sent only after the pins began flushing, so the cheap flag is asked first
    // and the per-packet loop makes no system call.
    bool CommandPending() { return flushing_ && CheckRequest(nullptr); }
    // Waits up to ms, returning early when a command arrives.
    void SleepUnlessCommand(DWORD ms);
    bool HasActivePins() const { return !activePins_.empty(); }

    // IMediaSeeking
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

    // IKeyFrameInfo: E_NOTIMPL.
    HRESULT GetKeyFrameCount(UINT& nKFs) override;
    HRESULT GetKeyFrames(const GUID* pFormat, REFERENCE_TIME* pKFs, UINT& nKFs) override;

    // IBufferInfo
    int GetCount() override;
    HRESULT GetStatus(int i, int& samples, int& size) override;
    DWORD GetPriority() override;

    // Number of passes the worker has started (for diagnostics and tests).
    int PassCount() const { return passes_; }

protected:
    enum { kCmdExit = 0, kCmdSeek = 1 };
    DWORD ThreadProc() override;
    void BeginFlushOutputs();
    void EndFlushOutputs();
    void SetPriorityOfDeliveryThreads(int priority);

    // -- shared by the application and worker threads
    std::atomic<REFERENCE_TIME> m_rtDuration{0};
    std::atomic<REFERENCE_TIME> m_rtStart{0}, m_rtStop{0}; // segment of the running pass
    std::atomic<REFERENCE_TIME> m_rtCurrent{0};            // start of the last routed packet
    std::atomic<REFERENCE_TIME> m_rtNewStart{0}, m_rtNewStop{0};
    std::atomic<double> rate_{1.0};
    std::wstring m_fileName;
    int m_openProgress = 100;
    std::atomic<bool> m_abort{false};

private:
    std::unique_ptr<CBaseSplitterInputPin> input_;
    // -- changed only while stopped, under the filter lock
    std::vector<std::unique_ptr<CBaseSplitterOutputPin>> outputs_;
    std::vector<std::unique_ptr<CBaseSplitterOutputPin>> retired_;
    // -- protected by pinMapLock_
    std::mutex pinMapLock_;
    std::map<DWORD, CBaseSplitterOutputPin*> pinMap_;
    // -- protected by typesLock_
    std::mutex typesLock_;
    std::map<DWORD, std::unique_ptr<CMediaType>> pendingTypes_;
    // -- worker thread only
    std::vector<CBaseSplitterOutputPin*> activePins_;
    std::set<DWORD> discontinuitySent_;
    // -- any thread
    CAMEvent endFlush_{false};
    CAMEvent wakeWorker_{false};
    std::atomic<bool> flushing_{false};
    std::atomic<int> priority_{0};
    std::atomic<int> passes_{0};
    // -- protected by the filter lock: the last seek request and who made it
    REFERENCE_TIME lastSeekStart_ = Packet::kNoTime, lastSeekStop_ = Packet::kNoTime;
    std::set<void*> lastSeekers_;
};
