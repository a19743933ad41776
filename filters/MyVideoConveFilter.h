// CMyVideoConveFilter: the video converter stage. Planar 4:2:0 (YV12) in,
// YV12 of the output frame size out: crop, fit by aspect mode with black
// bars, bicubic scaling, luma gain, hue and saturation (CVideoConvCore does
// the work; this class negotiates types and buffers).
//
// Threads: settings from any thread; type negotiation on the application
// thread under the filter lock; Transform on the upstream streaming thread.
// The plan and the core are guarded by m_csPlan, so a type check on the
// application thread never swaps the scaler under a running Transform.
#pragma once

#include <atomic>

#include "filters/IMyVideoConvFilter.h"
#include "filters/VideoAdjust.h"
#include "filters/VideoConvCore.h"
#include "platform/dshow/FormatBlocks.h"
#include "platform/dshow/TransformFilter.h"

constexpr CLSID CLSID_MyVideoConvFilter = MakeGuid("4BB8A01A-CC73-4F1B-AB7B-18E7209C3E9D");

class CMyVideoConveFilter : public CTransformFilter, public IMyVideoConvFilter {
public:
    // Classic factory: a new filter with a reference count of 0 (the caller's
    // first QueryInterface adds one); null and *phr = E_OUTOFMEMORY on failure.
    static CUnknown* CreateInstance(IUnknown* outer, HRESULT* phr);
    // A new filter with one reference held by *ppFilter. E_POINTER, E_OUTOFMEMORY.
    static HRESULT Create(IBaseFilter** ppFilter);

    CMyVideoConveFilter(IUnknown* outer, HRESULT* phr);
    ~CMyVideoConveFilter() override;

    DECLARE_IUNKNOWN
    HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

    // IMyVideoConvFilter
    HRESULT SetGeometry(LONG aspectMode, LONG cropLeft, LONG cropTop, LONG cropRight,
                        LONG cropBottom, LONG outLeft, LONG outTop, LONG outRight,
                        LONG outBottom) override;
    HRESULT SetSaturation(LONG value) override;
    HRESULT SetHue(LONG degrees) override;
    HRESULT SetLumaGain(LONG value) override;

    // CTransformFilter
    HRESULT CheckInputType(const CMediaType* mtIn) override;
    HRESULT CheckTransform(const CMediaType* mtIn, const CMediaType* mtOut) override;
    HRESULT DecideBufferSize(IMemAllocator* pAlloc, ALLOCATOR_PROPERTIES* pProp) override;
    HRESULT GetMediaType(int iPosition, CMediaType* pMediaType) override;
    HRESULT SetMediaType(PIN_DIRECTION direction, const CMediaType* pmt) override;
    HRESULT Transform(IMediaSample* pIn, IMediaSample* pOut) override;

    // For tests and traces: a copy of the plan in use.
    CVideoConvPlan CurrentPlan();

private:
    struct Geometry {
        LONG aspectMode = AspectFullScreen;
        RECT crop{};
        RECT output{};
    };
    // The bitmap header of a YV12 video type, or null when the type is not one
    // or its format block is too short.
    static const BITMAPINFOHEADER* VideoHeader(const CMediaType* mt);
    // Builds a plan and a core for the given types and puts them in place.
    HRESULT MakePlan(const BITMAPINFOHEADER& in, LONG outStride);
    // Takes the input type's geometry: the empty-crop default applies.
    void TakeInputType(const CMediaType& mt, const BITMAPINFOHEADER& bih);
    // A picture announcing a new input format: re-plan for it (streaming thread).
    HRESULT TakeSampleType(IMediaSample* pIn);

    // -- protected by m_csGeometry
    CCritSec m_csGeometry;
    Geometry m_geometry;
    bool m_geometrySet = false; // SetGeometry was called (an empty crop then keeps aspect and frame)
    BITMAPINFOHEADER m_inHeader{};
    CMediaType m_mtIn;  // the current input type
    CMediaType m_mtOut; // the output type last offered
    LONG m_outStride = 0;

    // -- settings read once per picture
    std::atomic<LONG> m_saturation{CVideoAdjust::kNeutralSaturation};
    std::atomic<LONG> m_hue{CVideoAdjust::kNeutralHue};
    std::atomic<LONG> m_lumaGain{CVideoAdjust::kNeutralGain};

    // -- protected by m_csPlan (taken after m_csGeometry when both are held)
    CCritSec m_csPlan;
    CVideoConvCore m_core;
    CVideoAdjust m_adjust; // streaming thread only
};
