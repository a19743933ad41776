// FilterGraph: the graph manager (CLSID_FilterGraph). It holds the filters under
// unique names, connects pins (directly, or intelligently through filters in the
// graph and then registered components), changes state downstream first, gives
// every filter the reference clock (a CSystemClock unless a filter in the graph
// offers IReferenceClock), seeks through the renderers' upstream, and queues the
// filters' events for GetEvent and the notify window.
//
// Threads: everything but IMediaEventSink::Notify and the event queue is for
// the application thread (serialised by the graph lock). Notify is called by
// filters on any thread and never takes the graph lock.
//
// Default handling of EC_COMPLETE (GraphEventQueue): the renderers (filters with
// a connected input and no connected output) are noted when the graph leaves the
// stopped state; one EC_COMPLETE (S_OK, 0) is queued once every one of them has
// sent its own. After CancelDefaultHandling(EC_COMPLETE) every EC_COMPLETE passes
// at once.
#pragma once

#include <condition_variable>
#include <deque>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "platform/dshow/AMEvent.h"
#include "platform/dshow/CritSec.h"
#include "platform/dshow/GraphEventQueue.h"
#include "platform/dshow/Interfaces.h"
#include "platform/dshow/Unknown.h"

class FilterGraph : public CUnknown,
                    public IGraphBuilder,
                    public IMediaControl,
                    public IMediaEventEx,
                    public IMediaSeeking,
                    public IMediaEventSink {
public:
    FilterGraph(IUnknown* outer, HRESULT* phr);
    ~FilterGraph() override;
    // A new graph, asked for riid (usually IID_IGraphBuilder).
    static HRESULT Create(REFIID riid, void** ppv);

    DECLARE_IUNKNOWN
    HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

    // IFilterGraph
    HRESULT AddFilter(IBaseFilter* pFilter, LPCWSTR pName) override;
    // Disconnects the filter's pins (both sides) first. VFW_E_NOT_STOPPED unless
    // the graph is stopped; VFW_E_NOT_FOUND when not in the graph.
    HRESULT RemoveFilter(IBaseFilter* pFilter) override;
    HRESULT EnumFilters(IEnumFilters** ppEnum) override;
    HRESULT FindFilterByName(LPCWSTR pName, IBaseFilter** ppFilter) override;
    HRESULT ConnectDirect(IPin* ppinOut, IPin* ppinIn, const AM_MEDIA_TYPE* pmt) override;
    HRESULT Reconnect(IPin* ppin) override;
    HRESULT Disconnect(IPin* ppin) override;
    HRESULT SetDefaultSyncSource() override;
    // IGraphBuilder
    HRESULT Connect(IPin* ppinOut, IPin* ppinIn) override;
    HRESULT Render(IPin* ppinOut) override;
    HRESULT RenderFile(LPCWSTR lpcwstrFile, LPCWSTR lpcwstrPlayList) override; // E_NOTIMPL
    HRESULT AddSourceFilter(LPCWSTR lpcwstrFileName, LPCWSTR lpcwstrFilterName,
                            IBaseFilter** ppFilter) override; // E_NOTIMPL
    HRESULT SetLogFile(DWORD_PTR hFile) override;
    HRESULT Abort() override;
    HRESULT ShouldOperationContinue() override;

    // IDispatch (E_NOTIMPL)
    HRESULT GetTypeInfoCount(UINT* pctinfo) override;
    HRESULT GetTypeInfo(UINT iTInfo, LCID lcid, void** ppTInfo) override;
    HRESULT GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID lcid,
                          LONG* dispIds) override;
    HRESULT Invoke(LONG dispId, REFIID riid, LCID lcid, WORD flags, void* params, void* result,
                   void* excepInfo, UINT* argErr) override;
    // IMediaControl
    HRESULT Run() override;
    HRESULT Pause() override;
    HRESULT Stop() override;
    HRESULT GetState(LONG msTimeout, OAFilterState* pfs) override;
    HRESULT RenderFile(BSTR strFilename) override; // E_NOTIMPL
    HRESULT AddSourceFilter(BSTR strFilename, IDispatch** ppUnk) override; // E_NOTIMPL
    HRESULT get_FilterCollection(IDispatch** ppUnk) override;               // E_NOTIMPL
    HRESULT get_RegFilterCollection(IDispatch** ppUnk) override;            // E_NOTIMPL
    HRESULT StopWhenReady() override;
    // IMediaEvent / IMediaEventEx
    HRESULT GetEventHandle(OAEVENT* hEvent) override;
    HRESULT GetEvent(LONG* lEventCode, LONG_PTR* lParam1, LONG_PTR* lParam2,
                     LONG msTimeout) override;
    HRESULT WaitForCompletion(LONG msTimeout, LONG* pEvCode) override;
    HRESULT CancelDefaultHandling(LONG lEvCode) override;
    HRESULT RestoreDefaultHandling(LONG lEvCode) override;
    HRESULT FreeEventParams(LONG lEvCode, LONG_PTR lParam1, LONG_PTR lParam2) override;
    HRESULT SetNotifyWindow(OAHWND hwnd, LONG lMsg, LONG_PTR lInstanceData) override;
    HRESULT SetNotifyFlags(LONG lNoNotifyFlags) override;
    HRESULT GetNotifyFlags(LONG* lplNoNotifyFlags) override;
    // IMediaSeeking: forwarded to every renderer's seeking: the renderer's own
    // IMediaSeeking when it answers GetCapabilities, else the nearest upstream
    // output pins that do (each seeking object once). SetPositions on a running
    // graph pauses it, seeks and runs again with stream time restarted at 0.
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
    // IMediaEventSink (any thread)
    HRESULT Notify(LONG EventCode, LONG_PTR EventParam1, LONG_PTR EventParam2) override;

    // -- C++ extras
    // Uses clock (may be null: no clock) instead of the default one.
    HRESULT SetSyncSource(IReferenceClock* clock);
    // Stream time now (0 unless paused or running). VFW_E_NO_CLOCK without one.
    HRESULT GetStreamTime(REFERENCE_TIME* pTime);
    size_t FilterCount();

private:
    struct Entry {
        IBaseFilter* filter; // reference
        std::wstring name;
    };
    // Undo log of an intelligent connect / render attempt.
    struct Attempt {
        std::vector<std::pair<ComPtr<IPin>, ComPtr<IPin>>> connections;
        std::vector<ComPtr<IBaseFilter>> added;
    };

    IFilterGraph* Self() { return static_cast<IGraphBuilder*>(this); }
    bool Contains(IBaseFilter* f) const;
    std::wstring UniqueName(LPCWSTR name) const;
    // Filters ordered so that every filter comes before those upstream of it.
    std::vector<IBaseFilter*> DownstreamFirst() const;
    std::vector<IBaseFilter*> Renderers() const;
    std::vector<ComPtr<IMediaSeeking>> Seekers() const;
    HRESULT EnsureClock();
    void ResetCompletion(bool noteRenderers);
    HRESULT PauseLocked();
    HRESULT RunLocked();
    HRESULT StopLocked();

    HRESULT ConnectVia(IPin* out, IPin* in, int depth, Attempt& log);
    HRESULT RenderVia(IPin* out, int depth, Attempt& log);
    HRESULT TryThroughFilter(IBaseFilter* f, IPin* out, IPin* in, int depth, Attempt& log);
    HRESULT ConnectLogged(IPin* out, IPin* in, Attempt& log);
    void Rollback(Attempt& log, size_t connMark, size_t addMark);

    CCritSec lock_;
    std::vector<Entry> filters_;
    FILTER_STATE state_ = State_Stopped;
    IReferenceClock* clock_ = nullptr; // reference
    bool clockChosen_ = false;
    REFERENCE_TIME tStart_ = 0;        // clock time of stream time 0 while running
    REFERENCE_TIME pausedAt_ = 0;      // stream time reached when paused
    GUID timeFormat_ = TIME_FORMAT_MEDIA_TIME;

    GraphEventQueue events_;
};
