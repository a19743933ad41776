#include "sink/CConvInputPin.h"

#include "sink/CConvFilter.h"

CConvInputPin::CConvInputPin(const char* objectName, CConvFilter* filter, HRESULT* phr,
                             LPCWSTR name)
    : CBaseInputPin(objectName, filter, filter, phr, name), m_pConv(filter) {}

HRESULT CConvInputPin::CheckMediaType(const CMediaType* pmt) {
    if (!pmt) return E_POINTER;
    CAutoLock lock(&m_typeLock);
    m_offered = *pmt;
    return S_OK;
}

CMediaType CConvInputPin::OfferedType() {
    CAutoLock lock(&m_typeLock);
    return m_offered;
}

HRESULT CConvInputPin::EndOfStream() {
    {
        CAutoLock lock(m_pLock);
        m_ended = true;
    }
    m_pConv->CheckEndOfStream();
    return S_OK;
}
