#include "platform/dshow/BaseOutputPin.h"

#include "platform/dshow/MemAllocator.h"

CBaseOutputPin::CBaseOutputPin(const char* objectName, CBaseFilter* filter, CCritSec* lock,
                               HRESULT* phr, LPCWSTR name)
    : CBasePin(objectName, filter, lock, phr, name, PINDIR_OUTPUT) {}

CBaseOutputPin::~CBaseOutputPin() {
    if (m_pAllocator) m_pAllocator->Release();
    if (m_pInputPin) m_pInputPin->Release();
}

HRESULT CBaseOutputPin::CheckConnect(IPin* pin) {
    HRESULT hr = CBasePin::CheckConnect(pin);
    if (FAILED(hr)) return hr;
    IMemInputPin* input = nullptr;
    hr = pin->QueryInterface(IID_IMemInputPin, reinterpret_cast<void**>(&input));
    if (FAILED(hr)) return hr;
    if (m_pInputPin) m_pInputPin->Release();
    m_pInputPin = input;
    return S_OK;
}

HRESULT CBaseOutputPin::CompleteConnect(IPin*) {
    if (!m_pInputPin) return E_UNEXPECTED;
    return DecideAllocator(m_pInputPin, &m_pAllocator);
}

HRESULT CBaseOutputPin::BreakConnect() {
    if (m_pAllocator) {
        m_pAllocator->Decommit();
        m_pAllocator->Release();
        m_pAllocator = nullptr;
    }
    if (m_pInputPin) {
        m_pInputPin->Release();
        m_pInputPin = nullptr;
    }
    return S_OK;
}

HRESULT CBaseOutputPin::InitAllocator(IMemAllocator** pp) { return CMemAllocator::Create(pp); }

HRESULT CBaseOutputPin::DecideAllocator(IMemInputPin* pin, IMemAllocator** ppAlloc) {
    if (*ppAlloc) {
        (*ppAlloc)->Release();
        *ppAlloc = nullptr;
    }
    ALLOCATOR_PROPERTIES prop{};
    pin->GetAllocatorRequirements(&prop);
    if (prop.cbAlign == 0) prop.cbAlign = 1;

    HRESULT hr = pin->GetAllocator(ppAlloc);
    if (SUCCEEDED(hr) && *ppAlloc) {
        hr = DecideBufferSize(*ppAlloc, &prop);
        if (SUCCEEDED(hr)) {
            hr = pin->NotifyAllocator(*ppAlloc, FALSE);
            if (SUCCEEDED(hr)) return S_OK;
        }
    }
    if (*ppAlloc) {
        (*ppAlloc)->Release();
        *ppAlloc = nullptr;
    }
    // The input pin's allocator did not do: try one of ours.
    HRESULT first = hr;
    hr = InitAllocator(ppAlloc);
    if (SUCCEEDED(hr)) {
        ALLOCATOR_PROPERTIES prop2{};
        pin->GetAllocatorRequirements(&prop2);
        if (prop2.cbAlign == 0) prop2.cbAlign = 1;
        hr = DecideBufferSize(*ppAlloc, &prop2);
        if (SUCCEEDED(hr)) {
            hr = pin->NotifyAllocator(*ppAlloc, FALSE);
            if (SUCCEEDED(hr)) return S_OK;
        }
    }
    if (*ppAlloc) {
        (*ppAlloc)->Release();
        *ppAlloc = nullptr;
    }
    return FAILED(first) ? first : hr;
}

HRESULT CBaseOutputPin::GetDeliveryBuffer(IMediaSample** pp, REFERENCE_TIME* start,
                                          REFERENCE_TIME* stop, DWORD flags) {
    if (!pp) return E_POINTER;
    *pp = nullptr;
    IMemAllocator* alloc = m_pAllocator;
    if (!alloc) return VFW_E_NO_ALLOCATOR;
    return alloc->GetBuffer(pp, start, stop, flags);
}

HRESULT CBaseOutputPin::Deliver(IMediaSample* sample) {
    IMemInputPin* input = m_pInputPin;
    if (!input) return VFW_E_NOT_CONNECTED;
    return input->Receive(sample);
}

HRESULT CBaseOutputPin::DeliverEndOfStream() {
    IPin* peer = m_Connected;
    if (!peer) return VFW_E_NOT_CONNECTED;
    return peer->EndOfStream();
}

HRESULT CBaseOutputPin::DeliverBeginFlush() {
    IPin* peer = m_Connected;
    if (!peer) return VFW_E_NOT_CONNECTED;
    return peer->BeginFlush();
}

HRESULT CBaseOutputPin::DeliverEndFlush() {
    IPin* peer = m_Connected;
    if (!peer) return VFW_E_NOT_CONNECTED;
    return peer->EndFlush();
}

HRESULT CBaseOutputPin::DeliverNewSegment(REFERENCE_TIME tStart, REFERENCE_TIME tStop,
                                          double dRate) {
    IPin* peer = m_Connected;
    if (!peer) return VFW_E_NOT_CONNECTED;
    return peer->NewSegment(tStart, tStop, dRate);
}

HRESULT CBaseOutputPin::Active() {
    if (!m_pAllocator) return VFW_E_NO_ALLOCATOR;
    return m_pAllocator->Commit();
}

HRESULT CBaseOutputPin::Inactive() {
    m_bRunTimeError = false;
    if (!m_pAllocator) return VFW_E_NO_ALLOCATOR;
    return m_pAllocator->Decommit();
}

HRESULT CBaseOutputPin::EndOfStream() { return E_UNEXPECTED; }
HRESULT CBaseOutputPin::BeginFlush() { return E_UNEXPECTED; }
HRESULT CBaseOutputPin::EndFlush() { return E_UNEXPECTED; }
