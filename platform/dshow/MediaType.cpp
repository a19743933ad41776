#include "platform/dshow/MediaType.h"

#include <cstdlib>
#include <cstring>
#include <utility>

#include "platform/com/IUnknown.h"
#include "platform/dshow/FormatBlocks.h"

void* CoTaskMemAlloc(std::size_t bytes) { return std::malloc(bytes ? bytes : 1); }
void* CoTaskMemRealloc(void* p, std::size_t bytes) { return std::realloc(p, bytes ? bytes : 1); }
void CoTaskMemFree(void* p) { std::free(p); }

void FreeMediaType(AM_MEDIA_TYPE& mt) {
    if (mt.cbFormat != 0 || mt.pbFormat) {
        CoTaskMemFree(mt.pbFormat);
        mt.cbFormat = 0;
        mt.pbFormat = nullptr;
    }
    if (mt.pUnk) {
        mt.pUnk->Release();
        mt.pUnk = nullptr;
    }
}

void DeleteMediaType(AM_MEDIA_TYPE* pmt) {
    if (!pmt) return;
    FreeMediaType(*pmt);
    CoTaskMemFree(pmt);
}

HRESULT CopyMediaType(AM_MEDIA_TYPE* dst, const AM_MEDIA_TYPE* src) {
    if (!dst || !src) return E_POINTER;
    *dst = *src;
    if (src->cbFormat && src->pbFormat) {
        dst->pbFormat = static_cast<BYTE*>(CoTaskMemAlloc(src->cbFormat));
        if (!dst->pbFormat) {
            dst->cbFormat = 0;
            dst->pUnk = nullptr;
            return E_OUTOFMEMORY;
        }
        std::memcpy(dst->pbFormat, src->pbFormat, src->cbFormat);
    } else {
        dst->pbFormat = nullptr;
        dst->cbFormat = 0;
    }
    if (dst->pUnk) dst->pUnk->AddRef();
    return S_OK;
}

AM_MEDIA_TYPE* CreateMediaType(const AM_MEDIA_TYPE* src) {
    auto* p = static_cast<AM_MEDIA_TYPE*>(CoTaskMemAlloc(sizeof(AM_MEDIA_TYPE)));
    if (!p) return nullptr;
    if (FAILED(CopyMediaType(p, src))) {
        CoTaskMemFree(p);
        return nullptr;
    }
    return p;
}

CMediaType::CMediaType() : AM_MEDIA_TYPE{} { InitMediaType(); }

CMediaType::CMediaType(const GUID* type) : CMediaType() {
    if (type) majortype = *type;
}

CMediaType::CMediaType(const AM_MEDIA_TYPE& rt) : AM_MEDIA_TYPE{} {
    InitMediaType();
    Set(rt);
}

CMediaType::CMediaType(const CMediaType& rt) : CMediaType(static_cast<const AM_MEDIA_TYPE&>(rt)) {}

CMediaType::CMediaType(CMediaType&& rt) noexcept : AM_MEDIA_TYPE(rt) {
    rt.pbFormat = nullptr;
    rt.cbFormat = 0;
    rt.pUnk = nullptr;
}

CMediaType::~CMediaType() { FreeMediaType(*this); }

CMediaType& CMediaType::operator=(const AM_MEDIA_TYPE& rt) {
    Set(rt);
    return *this;
}
CMediaType& CMediaType::operator=(const CMediaType& rt) {
    Set(rt);
    return *this;
}
CMediaType& CMediaType::operator=(CMediaType&& rt) noexcept {
    if (this != &rt) {
        FreeMediaType(*this);
        static_cast<AM_MEDIA_TYPE&>(*this) = rt;
        rt.pbFormat = nullptr;
        rt.cbFormat = 0;
        rt.pUnk = nullptr;
    }
    return *this;
}

bool CMediaType::operator==(const CMediaType& rt) const {
    return majortype == rt.majortype && subtype == rt.subtype && formattype == rt.formattype &&
           cbFormat == rt.cbFormat &&
           (cbFormat == 0 || std::memcmp(pbFormat, rt.pbFormat, cbFormat) == 0);
}

HRESULT CMediaType::Set(const CMediaType& rt) {
    return Set(static_cast<const AM_MEDIA_TYPE&>(rt));
}

HRESULT CMediaType::Set(const AM_MEDIA_TYPE& rt) {
    if (&rt == this) return S_OK;
    FreeMediaType(*this);
    HRESULT hr = CopyMediaType(this, &rt);
    if (FAILED(hr)) return E_OUTOFMEMORY;
    return S_OK;
}

bool CMediaType::IsValid() const { return !(majortype == GUID_NULL); }

ULONG CMediaType::GetSampleSize() const { return IsFixedSize() ? lSampleSize : 0; }

void CMediaType::SetSampleSize(ULONG size) {
    if (size == 0) {
        SetVariableSize();
    } else {
        bFixedSizeSamples = TRUE;
        lSampleSize = size;
    }
}

void CMediaType::SetVariableSize() { bFixedSizeSamples = FALSE; }
void CMediaType::SetTemporalCompression(BOOL c) { bTemporalCompression = c; }

bool CMediaType::SetFormat(const BYTE* format, ULONG length) {
    if (length == 0 || !format) {
        ResetFormatBuffer();
        return true;
    }
    BYTE* p = AllocFormatBuffer(length);
    if (!p) return false;
    std::memcpy(p, format, length);
    return true;
}

BYTE* CMediaType::AllocFormatBuffer(ULONG length) {
    if (cbFormat == length && pbFormat) {
        std::memset(pbFormat, 0, length);
        return pbFormat;
    }
    BYTE* p = static_cast<BYTE*>(CoTaskMemAlloc(length));
    if (!p) return nullptr;
    std::memset(p, 0, length);
    CoTaskMemFree(pbFormat);
    pbFormat = p;
    cbFormat = length;
    return p;
}

BYTE* CMediaType::ReallocFormatBuffer(ULONG length) {
    BYTE* p = static_cast<BYTE*>(CoTaskMemAlloc(length));
    if (!p) return nullptr;
    std::memset(p, 0, length);
    if (pbFormat) std::memcpy(p, pbFormat, cbFormat < length ? cbFormat : length);
    CoTaskMemFree(pbFormat);
    pbFormat = p;
    cbFormat = length;
    return p;
}

void CMediaType::ResetFormatBuffer() {
    CoTaskMemFree(pbFormat);
    pbFormat = nullptr;
    cbFormat = 0;
}

void CMediaType::InitMediaType() {
    FreeMediaType(*this);
    majortype = GUID_NULL;
    subtype = GUID_NULL;
    formattype = GUID_NULL;
    bFixedSizeSamples = TRUE;
    bTemporalCompression = FALSE;
    lSampleSize = 1;
    pUnk = nullptr;
    cbFormat = 0;
    pbFormat = nullptr;
}

bool CMediaType::MatchesPartial(const CMediaType* p) const {
    if (!(p->majortype == GUID_NULL) && !(majortype == p->majortype)) return false;
    if (!(p->subtype == GUID_NULL) && !(subtype == p->subtype)) return false;
    if (!(p->formattype == GUID_NULL)) {
        if (!(formattype == p->formattype)) return false;
        if (p->cbFormat) {
            if (cbFormat != p->cbFormat) return false;
            if (std::memcmp(pbFormat, p->pbFormat, cbFormat) != 0) return false;
        }
    }
    return true;
}

bool CMediaType::IsPartiallySpecified() const {
    return majortype == GUID_NULL || subtype == GUID_NULL || formattype == GUID_NULL;
}

const char* MediaTypeTraceName(const GUID& g) {
    struct Name {
        const GUID* guid;
        const char* text;
    };
    static const Name names[] = {
        {&MEDIATYPE_Video, "Video"},        {&MEDIATYPE_Audio, "Audio"},
        {&MEDIATYPE_Stream, "Stream"},      {&MEDIASUBTYPE_YV12, "YV12"},
        {&MEDIASUBTYPE_PCM, "PCM"},         {&FORMAT_VideoInfo, "VideoInfo"},
        {&FORMAT_VideoInfo2, "VideoInfo2"}, {&FORMAT_WaveFormatEx, "WaveFormatEx"},
        {&GUID_NULL, "null"},
    };
    for (const auto& n : names)
        if (*n.guid == g) return n.text;
    return "other";
}
