#include "filters/MyVideoConveFilter.h"

#include "platform/dshow/FilterFactory.h"

#include <algorithm>
#include <new>

#include "platform/dshow/FormatBlocks.h"
#include "platform/dshow/VfwCodes.h"
#include "platform/win/DebugTrace.h"

namespace {

BITMAPINFOHEADER* MutableHeader(CMediaType* mt) {
    if (*mt->FormatType() == FORMAT_VideoInfo2)
        return &reinterpret_cast<VIDEOINFOHEADER2*>(mt->Format())->bmiHeader;
    return &reinterpret_cast<VIDEOINFOHEADER*>(mt->Format())->bmiHeader;
}

LONG Yv12Bytes(LONG w, LONG h) { return w * h + 2 * (w / 2) * (h / 2); }

} // namespace

CUnknown* CMyVideoConveFilter::CreateInstance(IUnknown* outer, HRESULT* phr) {
    return CreateFilterInstance<CMyVideoConveFilter>(outer, phr);
}

HRESULT CMyVideoConveFilter::Create(IBaseFilter** ppFilter) { return CreateFilter<CMyVideoConveFilter>(ppFilter); }

CMyVideoConveFilter::CMyVideoConveFilter(IUnknown* outer, HRESULT* phr)
    : CTransformFilter("CMyVideoConveFilter", outer, CLSID_MyVideoConvFilter) {}

CMyVideoConveFilter::~CMyVideoConveFilter() = default;

HRESULT CMyVideoConveFilter::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    if (riid == IID_IMyVideoConvFilter)
        return GetInterface(static_cast<IMyVideoConvFilter*>(this), ppv);
    return CTransformFilter::NonDelegatingQueryInterface(riid, ppv);
}

// -- settings

HRESULT CMyVideoConveFilter::SetGeometry(LONG aspectMode, LONG cropLeft, LONG cropTop,
                                         LONG cropRight, LONG cropBottom, LONG outLeft,
                                         LONG outTop, LONG outRight, LONG outBottom) {
    CAutoLock lock(&m_csGeometry);
    m_geometry.aspectMode = aspectMode;
    m_geometry.crop = RECT{cropLeft, cropTop, cropRight, cropBottom};
    m_geometry.output = RECT{outLeft, outTop, outRight, outBottom};
    m_geometrySet = true;
    return S_OK;
}

HRESULT CMyVideoConveFilter::SetSaturation(LONG value) {
    m_saturation = std::clamp<LONG>(value, 0, 128);
    return S_OK;
}

HRESULT CMyVideoConveFilter::SetHue(LONG degrees) {
    m_hue = std::clamp<LONG>(degrees, -180, 180);
    return S_OK;
}

HRESULT CMyVideoConveFilter::SetLumaGain(LONG value) {
    m_lumaGain = std::clamp<LONG>(value, 0, 256);
    return S_OK;
}

// -- types

const BITMAPINFOHEADER* CMyVideoConveFilter::VideoHeader(const CMediaType* mt) {
    if (!mt || *mt->Type() != MEDIATYPE_Video || *mt->Subtype() != MEDIASUBTYPE_YV12 ||
        !mt->Format())
        return nullptr;
    if (*mt->FormatType() == FORMAT_VideoInfo && mt->FormatLength() >= sizeof(VIDEOINFOHEADER))
        return &reinterpret_cast<const VIDEOINFOHEADER*>(mt->Format())->bmiHeader;
    if (*mt->FormatType() == FORMAT_VideoInfo2 && mt->FormatLength() >= sizeof(VIDEOINFOHEADER2))
        return &reinterpret_cast<const VIDEOINFOHEADER2*>(mt->Format())->bmiHeader;
    return nullptr;
}

void CMyVideoConveFilter::TakeInputType(const CMediaType& mt, const BITMAPINFOHEADER& bih) {
    CAutoLock lock(&m_csGeometry);
    m_inHeader = bih;
    m_mtIn = mt;
    // No crop given: the whole picture. With no geometry set at all, it is
    // also stretched to a frame of its own size; a caller that set an aspect
    // mode and an output frame keeps them.
    if (m_geometry.crop.right == m_geometry.crop.left) {
        m_geometry.crop = RECT{0, 0, bih.biWidth, bih.biHeight};
        if (!m_geometrySet) {
            m_geometry.output = RECT{0, 0, bih.biWidth, bih.biHeight};
            m_geometry.aspectMode = AspectFullScreen;
        }
    }
}

HRESULT CMyVideoConveFilter::CheckInputType(const CMediaType* mtIn) {
    const BITMAPINFOHEADER* bih = VideoHeader(mtIn);
    // Sizes the plan cannot hold are refused here rather than failing later.
    if (!bih || bih->biHeight <= 0 || bih->biHeight > CVideoConvPlan::kMaxSide ||
        bih->biWidth < 2 || bih->biWidth > CVideoConvPlan::kMaxSide)
        return VFW_E_TYPE_NOT_ACCEPTED;
    TakeInputType(*mtIn, *bih);
    return S_OK;
}

HRESULT CMyVideoConveFilter::GetMediaType(int iPosition, CMediaType* pMediaType) {
    if (iPosition < 0) return E_INVALIDARG;
    if (iPosition > 0 || !m_pInput || !m_pInput->IsConnected()) return VFW_S_NO_MORE_ITEMS;
    if (!pMediaType) return E_POINTER;
    CAutoLock lock(&m_csGeometry);
    LONG w = 0, h = 0;
    if (!VideoHeader(&m_mtIn) ||
        !CVideoConvPlan::OutputSize(m_geometry.output, m_inHeader.biWidth & ~1,
                                    m_inHeader.biHeight & ~1, &w, &h))
        return VFW_S_NO_MORE_ITEMS;
    HRESULT hr = pMediaType->Set(m_mtIn);
    if (FAILED(hr)) return hr;
    // The rectangles described the input picture; empty means the whole one.
    auto* vih = reinterpret_cast<VIDEOINFOHEADER*>(pMediaType->Format());
    vih->rcSource = RECT{};
    vih->rcTarget = RECT{};
    BITMAPINFOHEADER* bih = MutableHeader(pMediaType);
    bih->biWidth = w;
    bih->biHeight = h;
    bih->biSizeImage = DWORD(Yv12Bytes(w, h));
    pMediaType->SetSampleSize(bih->biSizeImage);
    return m_mtOut.Set(*pMediaType);
}

HRESULT CMyVideoConveFilter::CheckTransform(const CMediaType* mtIn, const CMediaType* mtOut) {
    const BITMAPINFOHEADER* in = VideoHeader(mtIn);
    const BITMAPINFOHEADER* out = VideoHeader(mtOut);
    if (!in || !out) return VFW_E_TYPE_NOT_ACCEPTED;
    // The output must be a YV12 picture of the frame size (a wider row is
    // fine: it is the stride of a pass-through picture).
    LONG w = 0, h = 0;
    {
        CAutoLock lock(&m_csGeometry);
        if (!CVideoConvPlan::OutputSize(m_geometry.output, in->biWidth & ~1, in->biHeight & ~1,
                                        &w, &h))
            return VFW_E_TYPE_NOT_ACCEPTED;
    }
    if (out->biWidth < w || out->biHeight != h) return VFW_E_TYPE_NOT_ACCEPTED;
    return MakePlan(*in, out->biWidth);
}

HRESULT CMyVideoConveFilter::SetMediaType(PIN_DIRECTION direction, const CMediaType* pmt) {
    const BITMAPINFOHEADER* bih = VideoHeader(pmt);
    if (!bih) return VFW_E_TYPE_NOT_ACCEPTED;
    if (direction == PINDIR_INPUT) {
        TakeInputType(*pmt, *bih);
        return S_OK;
    }
    // The agreed output type: the plan follows it, whatever was checked last.
    BITMAPINFOHEADER in;
    {
        CAutoLock lock(&m_csGeometry);
        in = m_inHeader;
    }
    return MakePlan(in, bih->biWidth);
}

HRESULT CMyVideoConveFilter::MakePlan(const BITMAPINFOHEADER& in, LONG outStride) {
    Geometry g;
    {
        CAutoLock lock(&m_csGeometry);
        g = m_geometry;
        m_outStride = outStride;
    }
    CVideoConvPlan plan;
    if (!plan.Make(in.biWidth, in.biHeight, outStride, g.aspectMode, g.crop, g.output)) {
        DebugTrace("video converter: no plan for %dx%d\n", int(in.biWidth), int(in.biHeight));
        return E_FAIL;
    }
    if (plan.mended)
        DebugTrace("video converter: geometry repaired (0x%x)\n", plan.mended);
    CAutoLock lock(&m_csPlan);
    if (!m_core.Configure(plan)) {
        DebugTrace("video converter: scaler or work picture failed\n");
        return E_FAIL;
    }
    return S_OK;
}

CVideoConvPlan CMyVideoConveFilter::CurrentPlan() {
    CAutoLock lock(&m_csPlan);
    return m_core.Plan();
}

// -- buffers and pictures

HRESULT CMyVideoConveFilter::DecideBufferSize(IMemAllocator* pAlloc, ALLOCATOR_PROPERTIES* pProp) {
    if (!m_pInput || !m_pInput->IsConnected()) return E_UNEXPECTED;
    if (!pAlloc) return E_POINTER;
    LONG size = 0;
    {
        CAutoLock lock(&m_csGeometry);
        if (const BITMAPINFOHEADER* bih = VideoHeader(&m_mtOut))
            size = bih->biSizeImage ? LONG(bih->biSizeImage) : bih->biWidth * bih->biHeight * 4;
    }
    {
        // A wider agreed stride needs more than the offered type's size.
        CAutoLock lock(&m_csPlan);
        size = std::max(size, LONG(m_core.BufferBytes()));
    }
    ALLOCATOR_PROPERTIES request{1, size, 1, 0}, actual{};
    HRESULT hr = pAlloc->SetProperties(&request, &actual);
    if (FAILED(hr)) return hr;
    if (actual.cBuffers < request.cBuffers || actual.cbBuffer < request.cbBuffer) return E_FAIL;
    return S_OK;
}

HRESULT CMyVideoConveFilter::TakeSampleType(IMediaSample* pIn) {
    AM_MEDIA_TYPE* pmt = nullptr;
    if (pIn->GetMediaType(&pmt) != S_OK || !pmt) return S_OK;
    CMediaType mt(*pmt);
    DeleteMediaType(pmt);
    if (CheckInputType(&mt) != S_OK) return VFW_E_TYPE_NOT_ACCEPTED;
    LONG stride;
    {
        CAutoLock lock(&m_csGeometry);
        stride = m_outStride;
    }
    return MakePlan(*VideoHeader(&mt), stride);
}

HRESULT CMyVideoConveFilter::Transform(IMediaSample* pIn, IMediaSample* pOut) {
    BYTE* src = nullptr;
    BYTE* dst = nullptr;
    if (!pIn || !pOut || FAILED(pIn->GetPointer(&src)) || FAILED(pOut->GetPointer(&dst)) ||
        !src || !dst)
        return E_FAIL;
    HRESULT hr = TakeSampleType(pIn);
    if (FAILED(hr)) return hr;
    m_adjust.Set(m_lumaGain, m_hue, m_saturation);
    CAutoLock lock(&m_csPlan);
    LONG inLen = pIn->GetActualDataLength();
    if (inLen <= 0) inLen = pIn->GetSize();
    LONG outLen = pOut->GetSize();
    if (inLen <= 0 || outLen <= 0 ||
        !m_core.Process(src, size_t(inLen), dst, size_t(outLen), m_adjust)) {
        DebugTrace("video converter: picture of %d bytes does not fit the plan\n", int(inLen));
        return E_FAIL;
    }
    return pOut->SetActualDataLength(LONG(m_core.OutputBytes()));
}
