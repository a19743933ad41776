#include "platform/dshow/PosPassThru.h"

#include <new>

CPosPassThru::CPosPassThru(const char* name, IUnknown* outer, HRESULT* phr, IPin* pin)
    : CUnknown(name, outer, phr), pin_(pin) {}

CPosPassThru::~CPosPassThru() = default;

HRESULT CPosPassThru::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
    if (riid == IID_IMediaSeeking) return ::GetInterface(static_cast<IMediaSeeking*>(this), ppv);
    if (riid == IID_IMediaPosition || riid == IID_IDispatch)
        return ::GetInterface(static_cast<IMediaPosition*>(this), ppv);
    return CUnknown::NonDelegatingQueryInterface(riid, ppv);
}

HRESULT CPosPassThru::GetPeerSeeking(IMediaSeeking** pp) {
    *pp = nullptr;
    if (!pin_) return E_NOTIMPL;
    ComPtr<IPin> peer;
    if (FAILED(pin_->ConnectedTo(&peer)) || !peer) return VFW_E_NOT_CONNECTED;
    HRESULT hr = peer->QueryInterface(IID_IMediaSeeking, reinterpret_cast<void**>(pp));
    return FAILED(hr) ? E_NOTIMPL : S_OK;
}

#define PASS(call)                                                                                 \
    ComPtr<IMediaSeeking> s;                                                                       \
    HRESULT hr = GetPeerSeeking(&s);                                                               \
    if (FAILED(hr)) return hr;                                                                     \
    return s->call

HRESULT CPosPassThru::GetCapabilities(DWORD* p) { PASS(GetCapabilities(p)); }
HRESULT CPosPassThru::CheckCapabilities(DWORD* p) { PASS(CheckCapabilities(p)); }
HRESULT CPosPassThru::IsFormatSupported(const GUID* p) { PASS(IsFormatSupported(p)); }
HRESULT CPosPassThru::QueryPreferredFormat(GUID* p) { PASS(QueryPreferredFormat(p)); }
HRESULT CPosPassThru::GetTimeFormat(GUID* p) { PASS(GetTimeFormat(p)); }
HRESULT CPosPassThru::IsUsingTimeFormat(const GUID* p) { PASS(IsUsingTimeFormat(p)); }
HRESULT CPosPassThru::SetTimeFormat(const GUID* p) { PASS(SetTimeFormat(p)); }
HRESULT CPosPassThru::GetDuration(LONGLONG* p) { PASS(GetDuration(p)); }
HRESULT CPosPassThru::GetStopPosition(LONGLONG* p) { PASS(GetStopPosition(p)); }
HRESULT CPosPassThru::GetCurrentPosition(LONGLONG* p) { PASS(GetCurrentPosition(p)); }
HRESULT CPosPassThru::ConvertTimeFormat(LONGLONG* t, const GUID* tf, LONGLONG src,
                                        const GUID* sf) {
    PASS(ConvertTimeFormat(t, tf, src, sf));
}
HRESULT CPosPassThru::SetPositions(LONGLONG* c, DWORD cf, LONGLONG* st, DWORD sf) {
    PASS(SetPositions(c, cf, st, sf));
}
HRESULT CPosPassThru::GetPositions(LONGLONG* c, LONGLONG* st) { PASS(GetPositions(c, st)); }
HRESULT CPosPassThru::GetAvailable(LONGLONG* e, LONGLONG* l) { PASS(GetAvailable(e, l)); }
HRESULT CPosPassThru::SetRate(double r) { PASS(SetRate(r)); }
HRESULT CPosPassThru::GetRate(double* r) { PASS(GetRate(r)); }
HRESULT CPosPassThru::GetPreroll(LONGLONG* p) { PASS(GetPreroll(p)); }

HRESULT CPosPassThru::GetTypeInfoCount(UINT*) { return E_NOTIMPL; }
HRESULT CPosPassThru::GetTypeInfo(UINT, LCID, void**) { return E_NOTIMPL; }
HRESULT CPosPassThru::GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, LONG*) { return E_NOTIMPL; }
HRESULT CPosPassThru::Invoke(LONG, REFIID, LCID, WORD, void*, void*, void*, UINT*) {
    return E_NOTIMPL;
}

namespace {
LONGLONG ToMediaTime(REFTIME seconds) { return LONGLONG(seconds * double(UNITS) + 0.5); }
REFTIME ToSeconds(LONGLONG t) { return double(t) / double(UNITS); }
} // namespace

HRESULT CPosPassThru::get_Duration(REFTIME* p) {
    if (!p) return E_POINTER;
    LONGLONG d = 0;
    HRESULT hr = GetDuration(&d);
    if (SUCCEEDED(hr)) *p = ToSeconds(d);
    return hr;
}
HRESULT CPosPassThru::put_CurrentPosition(REFTIME t) {
    LONGLONG c = ToMediaTime(t);
    return SetPositions(&c, AM_SEEKING_AbsolutePositioning, nullptr, AM_SEEKING_NoPositioning);
}
HRESULT CPosPassThru::get_CurrentPosition(REFTIME* p) {
    if (!p) return E_POINTER;
    LONGLONG c = 0;
    HRESULT hr = GetCurrentPosition(&c);
    if (SUCCEEDED(hr)) *p = ToSeconds(c);
    return hr;
}
HRESULT CPosPassThru::get_StopTime(REFTIME* p) {
    if (!p) return E_POINTER;
    LONGLONG s = 0;
    HRESULT hr = GetStopPosition(&s);
    if (SUCCEEDED(hr)) *p = ToSeconds(s);
    return hr;
}
HRESULT CPosPassThru::put_StopTime(REFTIME t) {
    LONGLONG s = ToMediaTime(t);
    return SetPositions(nullptr, AM_SEEKING_NoPositioning, &s, AM_SEEKING_AbsolutePositioning);
}
HRESULT CPosPassThru::get_PrerollTime(REFTIME* p) {
    if (!p) return E_POINTER;
    LONGLONG r = 0;
    HRESULT hr = GetPreroll(&r);
    if (SUCCEEDED(hr)) *p = ToSeconds(r);
    return hr;
}
HRESULT CPosPassThru::put_PrerollTime(REFTIME) { return E_NOTIMPL; }
HRESULT CPosPassThru::put_Rate(double r) { return SetRate(r); }
HRESULT CPosPassThru::get_Rate(double* r) { return GetRate(r); }
HRESULT CPosPassThru::CanSeekForward(LONG* p) {
    if (!p) return E_POINTER;
    DWORD caps = 0;
    HRESULT hr = GetCapabilities(&caps);
    *p = SUCCEEDED(hr) && (caps & AM_SEEKING_CanSeekForwards) ? -1 : 0;
    return S_OK;
}
HRESULT CPosPassThru::CanSeekBackward(LONG* p) {
    if (!p) return E_POINTER;
    DWORD caps = 0;
    HRESULT hr = GetCapabilities(&caps);
    *p = SUCCEEDED(hr) && (caps & AM_SEEKING_CanSeekBackwards) ? -1 : 0;
    return S_OK;
}

HRESULT CreatePosPassThru(IUnknown* outer, IPin* pin, CPosPassThru** pp) {
    if (!pp) return E_POINTER;
    *pp = new (std::nothrow) CPosPassThru("CPosPassThru", outer, nullptr, pin);
    if (!*pp) return E_OUTOFMEMORY;
    (*pp)->NonDelegatingAddRef();
    return S_OK;
}
