// CBaseFilter: the base of every filter. Keeps the state (stopped, paused,
// running), the reference clock and start time given by the graph, the graph
// and its event sink, the filter's name and class identifier, and enumerates the
// pins that a derived class reports through GetPinCount/GetPin (by index).
//
// Threads: state changes, pin enumeration and graph membership run on the
// application thread under the filter lock (the CCritSec given to the
// constructor, shared with the pins); NotifyEvent and StreamTime may be called
// from streaming threads.
#pragma once

#include <atomic>
#include <string>

#include "platform/dshow/CritSec.h"
#include "platform/dshow/Interfaces.h"
#include "platform/dshow/Unknown.h"

class CBasePin;

class CBaseFilter : public CUnknown, public IBaseFilter {
public:
    // lock: the filter lock (not owned); must outlive the filter. clsid is what
    // GetClassID reports.
    CBaseFilter(const char* name, IUnknown* outer, CCritSec* lock, REFCLSID clsid,
                HRESULT* phr = nullptr);
    ~CBaseFilter() override;

    DECLARE_IUNKNOWN
    // Answers IBaseFilter, IMediaFilter, IPersist.
    HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

    // -- pins, provided by the derived class (the pins stay owned by it)
    virtual int GetPinCount() = 0;
    // Null outside 0 .. GetPinCount() - 1. No reference is added.
    virtual CBasePin* GetPin(int n) = 0;

    // IPersist
    HRESULT GetClassID(CLSID* pClsID) override;
    // IMediaFilter. Stop: Inactive on every connected pin; Pause from stopped:
    // Active on every connected pin (a failure is returned, state unchanged);
    // Run: Pause first when stopped, then Run(tStart) on every connected pin.
    HRESULT Stop() override;
    HRESULT Pause() override;
    HRESULT Run(REFERENCE_TIME tStart) override;
    HRESULT GetState(DWORD dwMSecs, FILTER_STATE* State) override;
    HRESULT SetSyncSource(IReferenceClock* pClock) override;
    HRESULT GetSyncSource(IReferenceClock** pClock) override;
    // IBaseFilter
    HRESULT EnumPins(IEnumPins** ppEnum) override;
    HRESULT FindPin(LPCWSTR Id, IPin** ppPin) override;
    HRESULT QueryFilterInfo(FILTER_INFO* pInfo) override;
    HRESULT JoinFilterGraph(IFilterGraph* pGraph, LPCWSTR pName) override;
    HRESULT QueryVendorInfo(LPWSTR* pVendorInfo) override;

    // -- helpers for derived classes and pins
    bool IsActive() const { return m_State != State_Stopped; }
    bool IsStopped() const { return m_State == State_Stopped; }
    FILTER_STATE State() const { return m_State; }
    // Sends an event to the graph (no-op outside a graph). For EC_COMPLETE a
    // zero second parameter is replaced by the filter (IBaseFilter*). Any thread.
    HRESULT NotifyEvent(LONG code, LONG_PTR p1, LONG_PTR p2);
    // Stream time now: clock time - start time. VFW_E_NO_CLOCK without a clock,
    // S_FALSE (time 0) unless running.
    HRESULT StreamTime(REFERENCE_TIME* pTime);
    IFilterGraph* GetFilterGraph() const { return m_pGraph; }
    // The reference clock given by the graph (no reference added), or null.
    IReferenceClock* Clock() const { return m_pClock; }
    // Clock time of stream time 0 while running (100-ns units).
    REFERENCE_TIME StartTime() const { return m_tStart; }
    CCritSec* FilterLock() const { return m_pLock; }
    // Pin list version: bump when pins are added or removed so enumerators resync.
    void IncrementPinVersion() { ++m_PinVersion; }
    LONG GetPinVersion() const { return m_PinVersion; }
    const std::wstring& FilterName() const { return m_Name; }

protected:
    std::atomic<FILTER_STATE> m_State{State_Stopped};
    std::atomic<IReferenceClock*> m_pClock{nullptr}; // added reference, or null
    std::atomic<REFERENCE_TIME> m_tStart{0};         // clock time of stream time 0
    CLSID m_clsid;
    CCritSec* m_pLock;
    std::wstring m_Name;
    IFilterGraph* m_pGraph = nullptr;    // not referenced (the graph holds us)
    std::atomic<IMediaEventSink*> m_pSink{nullptr}; // not referenced
    std::atomic<LONG> m_PinVersion{1};
};
