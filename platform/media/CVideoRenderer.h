// CVideoRenderer: the windowless video renderer (CLSID_VideoMixingRenderer9).
// One input pin ("VMR Input0") taking Video / YV12 with FORMAT_VideoInfo or
// FORMAT_VideoInfo2 and a positive height.
//
// Each picture is presented at its start time by the graph's clock (at once
// without a clock; held while paused); the newest one is kept, and the host
// widget given by SetVideoClippingWindow is asked to repaint (its update() slot,
// queued to the GUI thread). The host's paint handler calls RepaintVideo with
// its QPainter: the picture's source rectangle is drawn into the destination
// rectangle, stretched or letter-boxed with the border colour around it, and the
// mixer bitmap (colour-keyed overlay) on top. With no host it still consumes
// pictures on time and serves GetCurrentImage. End of stream raises EC_COMPLETE
// once the last picture's stop time has come.
//
// Threads: Render/end of stream on the streaming thread; the control interfaces
// on the application (GUI) thread; one lock (pictureLock_) guards the shared
// picture and display settings.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include <QImage>
#include <QPointer>

#include "platform/dshow/BaseFilter.h"
#include "platform/media/CRendererInputPin.h"
#include "platform/media/PictureConverter.h"
#include "platform/media/PresentationWait.h"
#include "platform/media/VmrInterfaces.h"

class CVideoRenderer : public CCritSec,
                       public CBaseFilter,
                       public IRendererSink,
                       public IVMRFilterConfig,
                       public IVMRWindowlessControl,
                       public IVMRMixerBitmap {
public:
    // Called for every picture when it is presented (streaming thread; the
    // YV12 bytes are borrowed for the call). For tests and measurements.
    using PictureObserver = std::function<void(const BYTE* yv12, int width, int height,
                                               REFERENCE_TIME start, REFERENCE_TIME stop)>;

    static CUnknown* CreateInstance(IUnknown* outer, HRESULT* phr);
    CVideoRenderer(IUnknown* outer, HRESULT* phr);
    ~CVideoRenderer() override;

    DECLARE_IUNKNOWN
    // Adds IVMRFilterConfig, IVMRWindowlessControl, IVMRMixerBitmap.
    HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

    int GetPinCount() override { return 1; }
    CBasePin* GetPin(int n) override;
    HRESULT Stop() override;
    HRESULT Pause() override;
    HRESULT Run(REFERENCE_TIME tStart) override;

    // IRendererSink
    HRESULT CheckRenderType(const CMediaType* pmt) override;
    HRESULT SetRenderType(const CMediaType* pmt) override;
    HRESULT Render(IMediaSample* sample) override;
    HRESULT RenderEndOfStream() override;
    void FlushStarted() override;
    void FlushEnded() override;

    // IVMRFilterConfig
    HRESULT SetImageCompositor(IUnknown* lpVMRImgCompositor) override;
    HRESULT SetNumberOfStreams(DWORD dwMaxStreams) override;
    HRESULT GetNumberOfStreams(DWORD* pdwMaxStreams) override;
    HRESULT SetRenderingPrefs(DWORD dwRenderFlags) override;
    HRESULT GetRenderingPrefs(DWORD* pdwRenderFlags) override;
    HRESULT SetRenderingMode(DWORD Mode) override;
    HRESULT GetRenderingMode(DWORD* pMode) override;
    // IVMRWindowlessControl
    HRESULT GetNativeVideoSize(LONG* lpWidth, LONG* lpHeight, LONG* lpARWidth,
                               LONG* lpARHeight) override;
    HRESULT GetMinIdealVideoSize(LONG* lpWidth, LONG* lpHeight) override;
    HRESULT GetMaxIdealVideoSize(LONG* lpWidth, LONG* lpHeight) override;
    HRESULT SetVideoPosition(const RECT* lpSRCRect, const RECT* lpDSTRect) override;
    HRESULT GetVideoPosition(RECT* lpSRCRect, RECT* lpDSTRect) override;
    HRESULT GetAspectRatioMode(DWORD* lpAspectRatioMode) override;
    HRESULT SetAspectRatioMode(DWORD AspectRatioMode) override;
    HRESULT SetVideoClippingWindow(HWND hwnd) override;
    HRESULT RepaintVideo(HWND hwnd, HDC hdc) override;
    HRESULT DisplayModeChanged() override;
    HRESULT GetCurrentImage(BYTE** lpDib) override;
    HRESULT SetBorderColor(COLORREF Clr) override;
    HRESULT GetBorderColor(COLORREF* lpClr) override;
    HRESULT SetColorKey(COLORREF Clr) override;
    HRESULT GetColorKey(COLORREF* lpClr) override;
    // IVMRMixerBitmap
    HRESULT SetAlphaBitmap(const VMRALPHABITMAP* pBmpParms) override;
    HRESULT UpdateAlphaBitmapParameters(const VMRALPHABITMAP* pBmpParms) override;
    HRESULT GetAlphaBitmapParameters(VMRALPHABITMAP* pBmpParms) override;

    void SetPictureObserver(PictureObserver observer);
    // Pictures presented since the filter was made.
    long PicturesPresented() const { return presented_.load(); }

private:
    // The picture's place inside dst under the aspect mode (pictureLock_ held).
    QRect VideoRect(const QRect& dst) const;
    // The newest picture as RGB (pictureLock_ held); converted once per picture.
    const QImage& CurrentImageLocked();
    void AskHostToRepaint();
    bool Cancelled() const;

    std::unique_ptr<CRendererInputPin> pin_;
    PresentationWait wait_;
    std::atomic<bool> flushing_{false};
    std::atomic<long> presented_{0};

    mutable std::mutex pictureLock_;
    // -- protected by pictureLock_
    int width_ = 0, height_ = 0;
    LONG arX_ = 0, arY_ = 0;
    std::vector<BYTE> picture_; // newest YV12 picture
    bool havePicture_ = false;
    bool imageStale_ = true;
    QImage image_;
    PictureConverter converter_;
    RECT src_{0, 0, 0, 0};
    bool srcSet_ = false;
    RECT dst_{0, 0, 0, 0};
    DWORD aspectMode_ = VMR_ARMODE_NONE;
    COLORREF border_ = 0;
    COLORREF colorKey_ = 0;
    DWORD streams_ = 1, prefs_ = 0, mode_ = VMRMode_Windowed;
    QPointer<QObject> host_;
    VMRALPHABITMAP overlayParams_{};
    QImage overlay_; // ARGB32, keyed pixels transparent
    PictureObserver observer_;
    std::atomic<REFERENCE_TIME> lastStop_{0}; // set while streaming, cleared by a flush
};
