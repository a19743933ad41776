#include "platform/dshow/MediaSample.h"

#include "platform/dshow/MediaType.h"

CMediaSample::CMediaSample(const char*, IMemAllocator* allocator, BYTE* buffer, LONG length)
    : allocator_(allocator), buffer_(buffer), cbBuffer_(length) {}

CMediaSample::~CMediaSample() { DeleteMediaType(mediaType_); }

HRESULT CMediaSample::QueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    if (riid == IID_IMediaSample || riid == IID_IUnknown)
        return ::GetInterface(static_cast<IMediaSample*>(this), ppv);
    *ppv = nullptr;
    return E_NOINTERFACE;
}

ULONG CMediaSample::AddRef() { return ULONG(++cRef_); }

ULONG CMediaSample::Release() {
    LONG n = --cRef_;
    if (n == 0) {
        ResetProperties();
        allocator_->ReleaseBuffer(this);
    }
    return ULONG(n);
}

HRESULT CMediaSample::GetPointer(BYTE** pp) {
    if (!pp) return E_POINTER;
    *pp = buffer_;
    return S_OK;
}

LONG CMediaSample::GetSize() { return cbBuffer_; }

HRESULT CMediaSample::GetTime(REFERENCE_TIME* pStart, REFERENCE_TIME* pEnd) {
    if (!pStart || !pEnd) return E_POINTER;
    if (!hasStart_) return VFW_E_SAMPLE_TIME_NOT_SET;
    *pStart = start_;
    if (!hasEnd_) {
        *pEnd = start_ + 1;
        return VFW_S_NO_STOP_TIME;
    }
    *pEnd = end_;
    return S_OK;
}

HRESULT CMediaSample::SetTime(REFERENCE_TIME* pStart, REFERENCE_TIME* pEnd) {
    if (!pStart) {
        hasStart_ = hasEnd_ = false;
        return S_OK;
    }
    start_ = *pStart;
    hasStart_ = true;
    if (pEnd) {
        end_ = *pEnd;
        hasEnd_ = true;
    } else {
        hasEnd_ = false;
    }
    return S_OK;
}

HRESULT CMediaSample::IsSyncPoint() { return syncPoint_ ? S_OK : S_FALSE; }
HRESULT CMediaSample::SetSyncPoint(BOOL b) {
    syncPoint_ = b != 0;
    return S_OK;
}
HRESULT CMediaSample::IsPreroll() { return preroll_ ? S_OK : S_FALSE; }
HRESULT CMediaSample::SetPreroll(BOOL b) {
    preroll_ = b != 0;
    return S_OK;
}
LONG CMediaSample::GetActualDataLength() { return cbActual_; }
HRESULT CMediaSample::SetActualDataLength(LONG length) {
    if (length < 0 || length > cbBuffer_) return VFW_E_BUFFER_OVERFLOW;
    cbActual_ = length;
    return S_OK;
}

HRESULT CMediaSample::GetMediaType(AM_MEDIA_TYPE** pp) {
    if (!pp) return E_POINTER;
    if (!mediaType_) {
        *pp = nullptr;
        return S_FALSE;
    }
    *pp = CreateMediaType(mediaType_);
    return *pp ? S_OK : E_OUTOFMEMORY;
}

HRESULT CMediaSample::SetMediaType(AM_MEDIA_TYPE* pmt) {
    DeleteMediaType(mediaType_);
    mediaType_ = nullptr;
    if (!pmt) return S_OK;
    mediaType_ = CreateMediaType(pmt);
    return mediaType_ ? S_OK : E_OUTOFMEMORY;
}

HRESULT CMediaSample::IsDiscontinuity() { return discontinuity_ ? S_OK : S_FALSE; }
HRESULT CMediaSample::SetDiscontinuity(BOOL b) {
    discontinuity_ = b != 0;
    return S_OK;
}

HRESULT CMediaSample::GetMediaTime(LONGLONG* pStart, LONGLONG* pEnd) {
    if (!pStart || !pEnd) return E_POINTER;
    if (!hasMediaTime_) return VFW_E_MEDIA_TIME_NOT_SET;
    *pStart = mediaStart_;
    *pEnd = mediaEnd_;
    return S_OK;
}

HRESULT CMediaSample::SetMediaTime(LONGLONG* pStart, LONGLONG* pEnd) {
    if (!pStart) {
        hasMediaTime_ = false;
        return S_OK;
    }
    if (!pEnd) return E_POINTER;
    mediaStart_ = *pStart;
    mediaEnd_ = *pEnd;
    hasMediaTime_ = true;
    return S_OK;
}

void CMediaSample::SetBuffer(BYTE* buffer, LONG length) {
    buffer_ = buffer;
    cbBuffer_ = length;
    cbActual_ = 0;
}

void CMediaSample::ResetProperties() {
    hasStart_ = hasEnd_ = hasMediaTime_ = false;
    syncPoint_ = preroll_ = discontinuity_ = false;
    cbActual_ = 0;
    if (mediaType_) {
        DeleteMediaType(mediaType_);
        mediaType_ = nullptr;
    }
}
