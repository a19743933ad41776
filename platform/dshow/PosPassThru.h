// CPosPassThru: IMediaSeeking and IMediaPosition for a filter or pin that does
// not seek itself: every call goes to the upstream peer of the given input pin
// (IMediaPosition in seconds is turned into IMediaSeeking media time there).
// Without a connected peer that seeks, calls fail with E_NOTIMPL
// (VFW_E_NOT_CONNECTED when unconnected).
//
// Usually aggregated: made with the host (filter or pin) as outer object, so its
// interfaces share the host's identity and reference count; the host answers
// IID_IMediaSeeking / IID_IMediaPosition by calling its
// NonDelegatingQueryInterface, and deletes it when the host is destroyed.
// Any thread.
#pragma once

#include "platform/dshow/Interfaces.h"
#include "platform/dshow/Unknown.h"

class CPosPassThru : public CUnknown, public IMediaSeeking, public IMediaPosition {
public:
    // pin: the input pin whose peer is asked (borrowed; must outlive this).
    CPosPassThru(const char* name, IUnknown* outer, HRESULT* phr, IPin* pin);
    ~CPosPassThru() override;

    DECLARE_IUNKNOWN
    HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

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

    // IDispatch (E_NOTIMPL)
    HRESULT GetTypeInfoCount(UINT* pctinfo) override;
    HRESULT GetTypeInfo(UINT iTInfo, LCID lcid, void** ppTInfo) override;
    HRESULT GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID lcid,
                          LONG* dispIds) override;
    HRESULT Invoke(LONG dispId, REFIID riid, LCID lcid, WORD flags, void* params, void* result,
                   void* excepInfo, UINT* argErr) override;
    // IMediaPosition (seconds)
    HRESULT get_Duration(REFTIME* plength) override;
    HRESULT put_CurrentPosition(REFTIME llTime) override;
    HRESULT get_CurrentPosition(REFTIME* pllTime) override;
    HRESULT get_StopTime(REFTIME* pllTime) override;
    HRESULT put_StopTime(REFTIME llTime) override;
    HRESULT get_PrerollTime(REFTIME* pllTime) override;
    HRESULT put_PrerollTime(REFTIME llTime) override;
    HRESULT put_Rate(double dRate) override;
    HRESULT get_Rate(double* pdRate) override;
    HRESULT CanSeekForward(LONG* pCanSeekForward) override;
    HRESULT CanSeekBackward(LONG* pCanSeekBackward) override;

    // The peer's IMediaSeeking (added reference) or a failure code.
    HRESULT GetPeerSeeking(IMediaSeeking** pp);

private:
    IPin* pin_;
};

// Makes a CPosPassThru aggregated in outer (may be null) over pin, with one
// non-delegating reference; the host ends it with NonDelegatingRelease().
HRESULT CreatePosPassThru(IUnknown* outer, IPin* pin, CPosPassThru** ppPassThru);
