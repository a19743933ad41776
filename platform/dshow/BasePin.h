// CBasePin: a connection point. It negotiates a connection from the output side:
// Connect on the output pin tries a given complete type directly, otherwise the
// receiving pin's types (its EnumMediaTypes) and then its own (GetMediaType),
// each one through CheckConnect, CheckMediaType, SetMediaType, the peer's
// ReceiveConnection and CompleteConnect; any failure undoes it with
// BreakConnect. Pins delegate their reference count to their filter.
//
// Threads: connection calls on the application thread with the filter stopped,
// under the filter lock; NewSegment on the streaming thread; the flushes on the
// seeking thread.
#pragma once

#include <string>

#include "platform/dshow/BaseFilter.h"
#include "platform/dshow/MediaType.h"

class CBasePin : public CUnknown, public IPin, public IQualityControl {
public:
    // name is the pin's name and id; lock is the filter lock (not owned).
    CBasePin(const char* objectName, CBaseFilter* filter, CCritSec* lock, HRESULT* phr,
             LPCWSTR name, PIN_DIRECTION dir);
    ~CBasePin() override;

    DECLARE_IUNKNOWN
    // Answers IPin and IQualityControl.
    HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) override;
    // Forwarded to the filter: a pin lives as long as its filter.
    ULONG NonDelegatingAddRef() override;
    ULONG NonDelegatingRelease() override;

    // IPin
    HRESULT Connect(IPin* pReceivePin, const AM_MEDIA_TYPE* pmt) override;
    HRESULT ReceiveConnection(IPin* pConnector, const AM_MEDIA_TYPE* pmt) override;
    HRESULT Disconnect() override;
    HRESULT ConnectedTo(IPin** pPin) override;
    HRESULT ConnectionMediaType(AM_MEDIA_TYPE* pmt) override;
    HRESULT QueryPinInfo(PIN_INFO* pInfo) override;
    HRESULT QueryDirection(PIN_DIRECTION* pPinDir) override;
    HRESULT QueryId(LPWSTR* Id) override;
    HRESULT QueryAccept(const AM_MEDIA_TYPE* pmt) override;
    HRESULT EnumMediaTypes(IEnumMediaTypes** ppEnum) override;
    HRESULT QueryInternalConnections(IPin** apPin, ULONG* nPin) override; // E_NOTIMPL
    HRESULT EndOfStream() override; // S_OK
    HRESULT BeginFlush() override = 0;
    HRESULT EndFlush() override = 0;
    // Stores the segment (CurrentStartTime, CurrentStopTime, CurrentRate).
    HRESULT NewSegment(REFERENCE_TIME tStart, REFERENCE_TIME tStop, double dRate) override;
    // IQualityControl: E_NOTIMPL by default.
    HRESULT Notify(IBaseFilter* pSelf, Quality q) override;
    HRESULT SetSink(IQualityControl* piqc) override;

    // -- negotiation, overridden by derived pins
    // S_OK accepts the type; anything else refuses it.
    virtual HRESULT CheckMediaType(const CMediaType* pmt) = 0;
    // Stores the connection type (m_mt).
    virtual HRESULT SetMediaType(const CMediaType* pmt);
    // Checks the peer before types are tried (direction is checked here).
    virtual HRESULT CheckConnect(IPin* pPin);
    // Undoes what CheckConnect/CompleteConnect set up.
    virtual HRESULT BreakConnect();
    // Called once both pins agree on a type.
    virtual HRESULT CompleteConnect(IPin* pReceivePin);
    // The types this pin offers, in order: VFW_S_NO_MORE_ITEMS past the end,
    // E_INVALIDARG below 0. Default: none.
    virtual HRESULT GetMediaType(int iPosition, CMediaType* pMediaType);
    virtual LONG GetMediaTypeVersion() { return m_TypeVersion; }
    void IncrementTypeVersion() { ++m_TypeVersion; }

    // -- streaming state, called by the filter
    virtual HRESULT Active() { return S_OK; }
    virtual HRESULT Inactive() { return S_OK; }
    virtual HRESULT Run(REFERENCE_TIME tStart) { return S_OK; }

    // -- helpers
    bool IsConnected() const { return m_Connected != nullptr; }
    // The peer pin (no reference added), or null.
    IPin* GetConnected() const { return m_Connected; }
    bool IsStopped() const { return m_pFilter->IsStopped(); }
    const CMediaType& CurrentMediaType() const { return m_mt; }
    REFERENCE_TIME CurrentStartTime() const { return m_tStart; }
    REFERENCE_TIME CurrentStopTime() const { return m_tStop; }
    double CurrentRate() const { return m_dRate; }
    const std::wstring& Name() const { return m_pName; }
    PIN_DIRECTION Direction() const { return m_dir; }
    CBaseFilter* Filter() const { return m_pFilter; }
    // Disconnects without the state check (BreakConnect, drop the peer).
    HRESULT DisconnectInternal();

protected:
    HRESULT AgreeMediaType(IPin* pReceivePin, const CMediaType* pmt);
    HRESULT TryMediaTypes(IPin* pReceivePin, const CMediaType* pmt, IEnumMediaTypes* pEnum);
    HRESULT AttemptConnection(IPin* pReceivePin, const CMediaType* pmt);

    std::wstring m_pName;
    IPin* m_Connected = nullptr; // added reference
    PIN_DIRECTION m_dir;
    CCritSec* m_pLock;
    std::atomic<bool> m_bRunTimeError{false};
    bool m_bCanReconnectWhenActive = false;
    bool m_bTryMyTypesFirst = false;
    CBaseFilter* m_pFilter;
    IQualityControl* m_pQSink = nullptr;
    LONG m_TypeVersion = 1;
    CMediaType m_mt;
    REFERENCE_TIME m_tStart = 0;
    REFERENCE_TIME m_tStop = MAX_TIME;
    double m_dRate = 1.0;
};
