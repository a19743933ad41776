// CMpegSplitterFilter: the MPEG demultiplexer. It owns one parser
// (CMpegSplitterFile) built when the input connects, exposes at most three
// output pins "Video", "Audio" and "Subtitle" (the first stream of each of the
// parser's lists), reads program, transport and PVA packets on its worker
// thread and routes their payloads. The pipeline builders set a play range
// and the title duration through IMyMpegSplitter; IAMStreamSelect lists the
// streams and switches a pin to another stream of its kind.
//
// Created with CreateInstance (never through the component registry).
// Threads: IMyMpegSplitter and IAMStreamSelect on the application thread; the
// parser is used by the worker thread, and its stream lists, which grow while
// packets are read, are shared with stream selection under streamsLock_.
// Times are 100-ns units inside, milliseconds in IMyMpegSplitter.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>

#include "demux/CBaseSplitterFilter.h"
#include "demux/CMpegSplitterFile.h"
#include "demux/IMyMpegSplitter.h"
#include "demux/TitleStreamTable.h"

constexpr CLSID CLSID_MpegSplitter = MakeGuid("DC257063-045F-4BE2-BD5B-E12279C464F0");

class CMpegSplitterFilter : public CBaseSplitterFilter,
                            public IAMStreamSelect,
                            public IMyMpegSplitter {
public:
    // Classic factory: a new filter with a reference count of 0, or null with
    // *phr = E_OUTOFMEMORY.
    static CUnknown* CreateInstance(IUnknown* outer, HRESULT* phr);
    // A new filter with one reference held by *ppFilter. E_POINTER, E_OUTOFMEMORY.
    static HRESULT Create(IBaseFilter** ppFilter);

    CMpegSplitterFilter(IUnknown* outer, HRESULT* phr);
    ~CMpegSplitterFilter() override;

    DECLARE_IUNKNOWN
    // Adds IAMStreamSelect and IMyMpegSplitter.
    HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

    // IMyMpegSplitter
    HRESULT SetTitleStreams(const void* titleRecord) override;
    HRESULT SetPlayRange(LONGLONG start, LONGLONG length, LONGLONG duration) override;

    // IAMStreamSelect: streams numbered over the video, audio and subpicture lists.
    HRESULT Count(DWORD* pcStreams) override;
    HRESULT Info(LONG lIndex, AM_MEDIA_TYPE** ppmt, DWORD* pdwFlags, LCID* plcid, DWORD* pdwGroup,
                 WCHAR** ppszName, IUnknown** ppObject, IUnknown** ppUnk) override;
    HRESULT Enable(LONG lIndex, DWORD dwFlags) override;

    // IMediaSeeking: the duration is the play length.
    HRESULT GetDuration(LONGLONG* pDuration) override;
    HRESULT GetCurrentPosition(LONGLONG* pCurrent) override;

    // The parser (null before the input connects). For diagnostics; the worker
    // thread uses it while the graph runs.
    CMpegSplitterFile* Parser() const { return parser_.get(); }

protected:
    HRESULT CreateOutputPins(IAsyncReader* pAsyncReader) override;
    bool StartDemux() override;
    void SeekDemux(REFERENCE_TIME rt) override;
    bool DemuxPackets() override;
    // Reads one container packet and routes its payload; S_FALSE when nothing
    // usable was found, E_FAIL for a scrambled packet.
    HRESULT ReadNextPacket(REFERENCE_TIME offset);

private:
    HRESULT ReadProgramPacket(REFERENCE_TIME offset);
    HRESULT ReadTransportPacket(REFERENCE_TIME offset);
    HRESULT ReadPvaPacket(REFERENCE_TIME offset);
    // Routes `length` payload bytes at the parser's position as a packet of track.
    void RoutePayload(DWORD track, bool hasPts, REFERENCE_TIME pts, REFERENCE_TIME offset,
                      std::int64_t length);
    bool HasConnectedPin(DWORD id);
    std::int64_t NextTimestamp(DWORD id);
    // The stream at a selection index: its kind and a copy; false past the end.
    bool StreamAt(LONG index, CMpegSplitterFile::StreamKind& kind,
                  CMpegSplitterFile::MpegStream& out);

    std::unique_ptr<CMpegSplitterFile> parser_;
    std::mutex streamsLock_;        // the parser's stream lists, while the worker runs
    TitleStreamTable titleStreams_; // application thread, before connection
    // -- worker thread
    REFERENCE_TIME origin_ = 0;
    // -- set by the application thread before the graph runs
    std::atomic<REFERENCE_TIME> playStart_{0}, playLength_{0}, titleDuration_{0};
    // True when SetPlayRange gave a length: only then does the pass end there
    // (an estimated duration must not cut the data short).
    std::atomic<bool> lengthGiven_{false};
};
