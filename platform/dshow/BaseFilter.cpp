#include "platform/dshow/BaseFilter.h"

#include <cstring>
#include <cwchar>
#include <new>

#include "platform/dshow/BasePin.h"
#include "platform/dshow/Enumerators.h"

namespace {
void CopyName(WCHAR* dst, std::size_t cap, const std::wstring& src) {
    std::size_t n = src.size() < cap - 1 ? src.size() : cap - 1;
    std::wmemcpy(dst, src.data(), n);
    dst[n] = 0;
}
} // namespace

CBaseFilter::CBaseFilter(const char* name, IUnknown* outer, CCritSec* lock, REFCLSID clsid,
                         HRESULT* phr)
    : CUnknown(name, outer, phr), m_clsid(clsid), m_pLock(lock) {}

CBaseFilter::~CBaseFilter() {
    if (IReferenceClock* clock = m_pClock.exchange(nullptr)) clock->Release();
}

HRESULT CBaseFilter::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
    if (riid == IID_IBaseFilter) return ::GetInterface(static_cast<IBaseFilter*>(this), ppv);
    if (riid == IID_IMediaFilter) return ::GetInterface(static_cast<IMediaFilter*>(this), ppv);
    if (riid == IID_IPersist) return ::GetInterface(static_cast<IPersist*>(this), ppv);
    return CUnknown::NonDelegatingQueryInterface(riid, ppv);
}

HRESULT CBaseFilter::GetClassID(CLSID* p) {
    if (!p) return E_POINTER;
    *p = m_clsid;
    return S_OK;
}

HRESULT CBaseFilter::Stop() {
    CAutoLock lock(m_pLock);
    HRESULT hr = S_OK;
    if (m_State != State_Stopped) {
        int n = GetPinCount();
        for (int i = 0; i < n; ++i) {
            CBasePin* pin = GetPin(i);
            if (pin && pin->IsConnected()) {
                HRESULT h = pin->Inactive();
                if (FAILED(h) && SUCCEEDED(hr)) hr = h;
            }
        }
    }
    m_State = State_Stopped;
    return hr;
}

HRESULT CBaseFilter::Pause() {
    CAutoLock lock(m_pLock);
    if (m_State == State_Stopped) {
        int n = GetPinCount();
        for (int i = 0; i < n; ++i) {
            CBasePin* pin = GetPin(i);
            if (pin && pin->IsConnected()) {
                HRESULT hr = pin->Active();
                if (FAILED(hr)) return hr;
            }
        }
    }
    m_State = State_Paused;
    return S_OK;
}

HRESULT CBaseFilter::Run(REFERENCE_TIME tStart) {
    CAutoLock lock(m_pLock);
    m_tStart = tStart;
    if (m_State == State_Stopped) {
        HRESULT hr = Pause();
        if (FAILED(hr)) return hr;
    }
    if (m_State != State_Running) {
        int n = GetPinCount();
        for (int i = 0; i < n; ++i) {
            CBasePin* pin = GetPin(i);
            if (pin && pin->IsConnected()) {
                HRESULT hr = pin->Run(tStart);
                if (FAILED(hr)) return hr;
            }
        }
    }
    m_State = State_Running;
    return S_OK;
}

HRESULT CBaseFilter::GetState(DWORD, FILTER_STATE* state) {
    if (!state) return E_POINTER;
    *state = m_State;
    return S_OK;
}

HRESULT CBaseFilter::SetSyncSource(IReferenceClock* clock) {
    CAutoLock lock(m_pLock);
    if (clock) clock->AddRef();
    if (IReferenceClock* old = m_pClock.exchange(clock)) old->Release();
    return S_OK;
}

HRESULT CBaseFilter::GetSyncSource(IReferenceClock** pp) {
    if (!pp) return E_POINTER;
    CAutoLock lock(m_pLock);
    IReferenceClock* clock = m_pClock;
    *pp = clock;
    if (clock) clock->AddRef();
    return S_OK;
}

HRESULT CBaseFilter::EnumPins(IEnumPins** pp) {
    if (!pp) return E_POINTER;
    auto* e = new (std::nothrow) CEnumPins(this);
    if (!e) {
        *pp = nullptr;
        return E_OUTOFMEMORY;
    }
    return ::GetInterface(static_cast<IEnumPins*>(e), reinterpret_cast<void**>(pp));
}

HRESULT CBaseFilter::FindPin(LPCWSTR id, IPin** pp) {
    if (!pp || !id) return E_POINTER;
    CAutoLock lock(m_pLock);
    int n = GetPinCount();
    for (int i = 0; i < n; ++i) {
        CBasePin* pin = GetPin(i);
        if (pin && pin->Name() == id) {
            *pp = pin;
            pin->AddRef();
            return S_OK;
        }
    }
    *pp = nullptr;
    return VFW_E_NOT_FOUND;
}

HRESULT CBaseFilter::QueryFilterInfo(FILTER_INFO* info) {
    if (!info) return E_POINTER;
    CopyName(info->achName, MAX_FILTER_NAME, m_Name);
    info->pGraph = m_pGraph;
    if (m_pGraph) m_pGraph->AddRef();
    return S_OK;
}

HRESULT CBaseFilter::JoinFilterGraph(IFilterGraph* graph, LPCWSTR name) {
    CAutoLock lock(m_pLock);
    m_pGraph = graph;
    m_pSink = nullptr;
    if (graph) {
        // Keep the sink without a reference: the graph outlives its filters'
        // membership (it calls JoinFilterGraph(null) before letting go).
        IMediaEventSink* sink = nullptr;
        if (SUCCEEDED(graph->QueryInterface(IID_IMediaEventSink, reinterpret_cast<void**>(&sink))) &&
            sink) {
            m_pSink = sink;
            sink->Release();
        }
    }
    m_Name = name ? name : L"";
    return S_OK;
}

HRESULT CBaseFilter::QueryVendorInfo(LPWSTR*) { return E_NOTIMPL; }

HRESULT CBaseFilter::NotifyEvent(LONG code, LONG_PTR p1, LONG_PTR p2) {
    IMediaEventSink* sink = m_pSink;
    if (!sink) return E_NOTIMPL;
    if (code == EC_COMPLETE && p2 == 0)
        p2 = reinterpret_cast<LONG_PTR>(static_cast<IBaseFilter*>(this));
    return sink->Notify(code, p1, p2);
}

HRESULT CBaseFilter::StreamTime(REFERENCE_TIME* t) {
    if (!t) return E_POINTER;
    IReferenceClock* clock = m_pClock;
    if (!clock) return VFW_E_NO_CLOCK;
    REFERENCE_TIME now = 0;
    HRESULT hr = clock->GetTime(&now);
    if (FAILED(hr)) return hr;
    if (m_State != State_Running) {
        *t = 0;
        return S_FALSE;
    }
    *t = now - m_tStart;
    return S_OK;
}
