#include "sink/CVideoPrePin.h"

#include <cstdlib>
#include <mutex>
#include <new>

#include "platform/dshow/FormatBlocks.h"
#include "platform/dshow/MediaGuids.h"
#include "platform/dshow/OutputQueue.h"
#include "platform/dshow/VfwCodes.h"
#include "sink/CConvFilter.h"

namespace {

const BITMAPINFOHEADER* HeaderOf(const AM_MEDIA_TYPE& mt) {
    if (mt.formattype == FORMAT_VideoInfo2 && mt.cbFormat >= sizeof(VIDEOINFOHEADER2))
        return &reinterpret_cast<const VIDEOINFOHEADER2*>(mt.pbFormat)->bmiHeader;
    if (mt.formattype == FORMAT_VideoInfo && mt.cbFormat >= sizeof(VIDEOINFOHEADER))
        return &reinterpret_cast<const VIDEOINFOHEADER*>(mt.pbFormat)->bmiHeader;
    return nullptr;
}

} // namespace

CVideoPrePin::CVideoPrePin(CConvFilter* filter, HRESULT* phr)
    : CQueuedOutputPin("CVideoPrePin", filter, filter, phr, L"Video Pre", kBuffers) {}

void CVideoPrePin::SetOfferedType(const CMediaType& mt) {
    CAutoLock lock(&m_typeLock);
    m_offered = mt;
}

HRESULT CVideoPrePin::GetMediaType(int iPosition, CMediaType* pMediaType) {
    if (iPosition < 0) return E_INVALIDARG;
    if (iPosition > 0) return VFW_S_NO_MORE_ITEMS;
    if (!pMediaType) return E_POINTER;
    CAutoLock lock(&m_typeLock);
    if (m_offered.majortype == GUID_NULL) return VFW_S_NO_MORE_ITEMS;
    return pMediaType->Set(m_offered);
}

HRESULT CVideoPrePin::CheckMediaType(const CMediaType* pmt) {
    if (!pmt) return E_POINTER;
    const BITMAPINFOHEADER* h = HeaderOf(*pmt);
    m_stride = h ? h->biWidth : 0;
    return S_OK;
}

HRESULT CVideoPrePin::DecideBufferSize(IMemAllocator* pAlloc, ALLOCATOR_PROPERTIES*) {
    if (!pAlloc) return E_POINTER;
    const BITMAPINFOHEADER* h = HeaderOf(CurrentMediaType());
    LONG size = 0;
    if (h) {
        size = LONG(h->biSizeImage);
        if (size == 0) size = h->biWidth * std::abs(h->biHeight) * 4;
    }
    if (size <= 0) size = 1;
    ALLOCATOR_PROPERTIES request{kBuffers, size, 1, 0}, actual{};
    HRESULT hr = pAlloc->SetProperties(&request, &actual);
    if (FAILED(hr)) return hr;
    if (actual.cBuffers < request.cBuffers || actual.cbBuffer < request.cbBuffer) return E_FAIL;
    return S_OK;
}
