#include "platform/dshow/BasePin.h"

#include <cwchar>
#include <new>

#include "platform/dshow/Enumerators.h"

CBasePin::CBasePin(const char* objectName, CBaseFilter* filter, CCritSec* lock, HRESULT* phr,
                   LPCWSTR name, PIN_DIRECTION dir)
    : CUnknown(objectName, nullptr), m_pName(name ? name : L""), m_dir(dir), m_pLock(lock),
      m_pFilter(filter) {}

CBasePin::~CBasePin() {
    if (m_Connected) {
        m_Connected->Release();
        m_Connected = nullptr;
    }
}

HRESULT CBasePin::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
    if (riid == IID_IPin) return ::GetInterface(static_cast<IPin*>(this), ppv);
    if (riid == IID_IQualityControl) return ::GetInterface(static_cast<IQualityControl*>(this), ppv);
    return CUnknown::NonDelegatingQueryInterface(riid, ppv);
}

ULONG CBasePin::NonDelegatingAddRef() { return m_pFilter->AddRef(); }
ULONG CBasePin::NonDelegatingRelease() { return m_pFilter->Release(); }

HRESULT CBasePin::Connect(IPin* receivePin, const AM_MEDIA_TYPE* pmt) {
    if (!receivePin) return E_POINTER;
    CAutoLock lock(m_pLock);
    if (m_Connected) return VFW_E_ALREADY_CONNECTED;
    if (!IsStopped() && !m_bCanReconnectWhenActive) return VFW_E_NOT_STOPPED;
    CMediaType partial;
    const CMediaType* cmt = nullptr;
    if (pmt) {
        partial = *pmt;
        cmt = &partial;
    }
    HRESULT hr = AgreeMediaType(receivePin, cmt);
    if (FAILED(hr)) return hr;
    return S_OK;
}

HRESULT CBasePin::AttemptConnection(IPin* receivePin, const CMediaType* pmt) {
    HRESULT hr = CheckConnect(receivePin);
    if (FAILED(hr)) {
        BreakConnect();
        return hr;
    }
    hr = CheckMediaType(pmt);
    if (hr == S_OK) {
        m_Connected = receivePin;
        m_Connected->AddRef();
        hr = SetMediaType(pmt);
        if (SUCCEEDED(hr)) {
            hr = receivePin->ReceiveConnection(this, pmt);
            if (SUCCEEDED(hr)) {
                hr = CompleteConnect(receivePin);
                if (SUCCEEDED(hr)) return hr;
                receivePin->Disconnect();
            }
        }
    } else if (SUCCEEDED(hr) || hr == E_FAIL || hr == E_INVALIDARG) {
        hr = VFW_E_TYPE_NOT_ACCEPTED;
    }
    if (m_Connected) {
        m_Connected->Release();
        m_Connected = nullptr;
    }
    BreakConnect();
    return hr;
}

HRESULT CBasePin::TryMediaTypes(IPin* receivePin, const CMediaType* pmt, IEnumMediaTypes* e) {
    if (!e) return VFW_E_NO_ACCEPTABLE_TYPES;
    HRESULT hr = e->Reset();
    if (FAILED(hr)) return hr;
    HRESULT failure = VFW_E_NO_ACCEPTABLE_TYPES;
    for (;;) {
        AM_MEDIA_TYPE* mt = nullptr;
        ULONG got = 0;
        if (e->Next(1, &mt, &got) != S_OK || got != 1) break;
        CMediaType candidate(*mt);
        DeleteMediaType(mt);
        if (!pmt || candidate.MatchesPartial(pmt)) {
            hr = AttemptConnection(receivePin, &candidate);
            if (SUCCEEDED(hr)) return hr;
            if (hr != E_FAIL && hr != E_INVALIDARG && hr != VFW_E_TYPE_NOT_ACCEPTED) failure = hr;
        }
    }
    return failure;
}

HRESULT CBasePin::AgreeMediaType(IPin* receivePin, const CMediaType* pmt) {
    if (pmt && !pmt->IsPartiallySpecified()) return AttemptConnection(receivePin, pmt);
    HRESULT failure = VFW_E_NO_ACCEPTABLE_TYPES;
    for (int pass = 0; pass < 2; ++pass) {
        bool mine = (pass == 0) == m_bTryMyTypesFirst;
        ComPtr<IEnumMediaTypes> e;
        HRESULT hr = mine ? EnumMediaTypes(&e) : receivePin->EnumMediaTypes(&e);
        if (SUCCEEDED(hr) && e) {
            hr = TryMediaTypes(receivePin, pmt, e.Get());
            if (SUCCEEDED(hr)) return S_OK;
            if (hr != E_FAIL && hr != E_INVALIDARG && hr != VFW_E_TYPE_NOT_ACCEPTED &&
                hr != VFW_E_NO_ACCEPTABLE_TYPES)
                failure = hr;
        }
    }
    return failure;
}

HRESULT CBasePin::ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE* pmt) {
    if (!connector || !pmt) return E_POINTER;
    CAutoLock lock(m_pLock);
    if (m_Connected) return VFW_E_ALREADY_CONNECTED;
    if (!IsStopped() && !m_bCanReconnectWhenActive) return VFW_E_NOT_STOPPED;
    HRESULT hr = CheckConnect(connector);
    if (FAILED(hr)) {
        BreakConnect();
        return hr;
    }
    CMediaType mt(*pmt);
    hr = CheckMediaType(&mt);
    if (hr == S_OK) {
        m_Connected = connector;
        m_Connected->AddRef();
        hr = SetMediaType(&mt);
        if (SUCCEEDED(hr)) {
            hr = CompleteConnect(connector);
            if (SUCCEEDED(hr)) return S_OK;
        }
    } else if (SUCCEEDED(hr) || hr == E_FAIL || hr == E_INVALIDARG) {
        hr = VFW_E_TYPE_NOT_ACCEPTED;
    }
    if (m_Connected) {
        m_Connected->Release();
        m_Connected = nullptr;
    }
    BreakConnect();
    return hr;
}

HRESULT CBasePin::Disconnect() {
    CAutoLock lock(m_pLock);
    if (!IsStopped()) return VFW_E_NOT_STOPPED;
    return DisconnectInternal();
}

HRESULT CBasePin::DisconnectInternal() {
    CAutoLock lock(m_pLock);
    if (!m_Connected) {
        BreakConnect();
        return S_FALSE;
    }
    HRESULT hr = BreakConnect();
    if (FAILED(hr)) return hr;
    m_Connected->Release();
    m_Connected = nullptr;
    return S_OK;
}

HRESULT CBasePin::ConnectedTo(IPin** pp) {
    if (!pp) return E_POINTER;
    IPin* peer = m_Connected;
    *pp = peer;
    if (!peer) return VFW_E_NOT_CONNECTED;
    peer->AddRef();
    return S_OK;
}

HRESULT CBasePin::ConnectionMediaType(AM_MEDIA_TYPE* pmt) {
    if (!pmt) return E_POINTER;
    CAutoLock lock(m_pLock);
    if (!m_Connected) {
        *pmt = AM_MEDIA_TYPE{};
        return VFW_E_NOT_CONNECTED;
    }
    return CopyMediaType(pmt, &m_mt);
}

HRESULT CBasePin::QueryPinInfo(PIN_INFO* info) {
    if (!info) return E_POINTER;
    info->pFilter = m_pFilter;
    m_pFilter->AddRef();
    std::size_t n = m_pName.size() < MAX_PIN_NAME - 1 ? m_pName.size() : MAX_PIN_NAME - 1;
    std::wmemcpy(info->achName, m_pName.data(), n);
    info->achName[n] = 0;
    info->dir = m_dir;
    return S_OK;
}

HRESULT CBasePin::QueryDirection(PIN_DIRECTION* dir) {
    if (!dir) return E_POINTER;
    *dir = m_dir;
    return S_OK;
}

HRESULT CBasePin::QueryId(LPWSTR* id) {
    if (!id) return E_POINTER;
    auto* p = static_cast<WCHAR*>(CoTaskMemAlloc((m_pName.size() + 1) * sizeof(WCHAR)));
    if (!p) return E_OUTOFMEMORY;
    std::wmemcpy(p, m_pName.c_str(), m_pName.size() + 1);
    *id = p;
    return S_OK;
}

HRESULT CBasePin::QueryAccept(const AM_MEDIA_TYPE* pmt) {
    if (!pmt) return E_POINTER;
    CMediaType mt(*pmt);
    HRESULT hr = CheckMediaType(&mt);
    if (FAILED(hr)) return S_FALSE;
    return hr;
}

HRESULT CBasePin::EnumMediaTypes(IEnumMediaTypes** pp) {
    if (!pp) return E_POINTER;
    auto* e = new (std::nothrow) CEnumMediaTypes(this);
    if (!e) {
        *pp = nullptr;
        return E_OUTOFMEMORY;
    }
    return ::GetInterface(static_cast<IEnumMediaTypes*>(e), reinterpret_cast<void**>(pp));
}

HRESULT CBasePin::QueryInternalConnections(IPin**, ULONG*) { return E_NOTIMPL; }
HRESULT CBasePin::EndOfStream() { return S_OK; }

HRESULT CBasePin::NewSegment(REFERENCE_TIME tStart, REFERENCE_TIME tStop, double dRate) {
    m_tStart = tStart;
    m_tStop = tStop;
    m_dRate = dRate;
    return S_OK;
}

HRESULT CBasePin::Notify(IBaseFilter*, Quality) { return E_NOTIMPL; }

HRESULT CBasePin::SetSink(IQualityControl* sink) {
    m_pQSink = sink;
    return S_OK;
}

HRESULT CBasePin::SetMediaType(const CMediaType* pmt) {
    HRESULT hr = m_mt.Set(*pmt);
    return hr;
}

HRESULT CBasePin::CheckConnect(IPin* pin) {
    PIN_DIRECTION dir;
    HRESULT hr = pin->QueryDirection(&dir);
    if (FAILED(hr)) return hr;
    if (dir == m_dir) return VFW_E_INVALID_DIRECTION;
    return S_OK;
}

HRESULT CBasePin::BreakConnect() { return S_OK; }
HRESULT CBasePin::CompleteConnect(IPin*) { return S_OK; }

HRESULT CBasePin::GetMediaType(int iPosition, CMediaType*) {
    if (iPosition < 0) return E_INVALIDARG;
    return VFW_S_NO_MORE_ITEMS;
}
