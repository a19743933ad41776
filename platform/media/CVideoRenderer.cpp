#include "platform/media/CVideoRenderer.h"

#include "platform/dshow/FilterFactory.h"

#include <algorithm>
#include <cstring>
#include <new>

#include <QMetaObject>
#include <QPainter>

#include "platform/dshow/FormatBlocks.h"
#include "platform/dshow/MediaType.h"
#include "platform/media/MediaClsids.h"

namespace {

constexpr DWORD kFourccYV12 = 0x32315659;

QColor ToColor(COLORREF c) {
    return QColor(c & 0xFF, (c >> 8) & 0xFF, (c >> 16) & 0xFF);
}

QRect ToQRect(const RECT& r) {
    return QRect(QPoint(r.left, r.top), QPoint(r.right - 1, r.bottom - 1));
}

bool IsEmpty(const RECT& r) {
    return r.right <= r.left || r.bottom <= r.top;
}

// The bitmap header of a video type, or null.
const BITMAPINFOHEADER* BitmapOf(const CMediaType& mt, LONG* arX, LONG* arY) {
    if (!mt.pbFormat) return nullptr;
    if (mt.formattype == FORMAT_VideoInfo && mt.cbFormat >= sizeof(VIDEOINFOHEADER)) {
        const auto* v = reinterpret_cast<const VIDEOINFOHEADER*>(mt.pbFormat);
        *arX = v->bmiHeader.biWidth;
        *arY = v->bmiHeader.biHeight;
        return &v->bmiHeader;
    }
    if (mt.formattype == FORMAT_VideoInfo2 && mt.cbFormat >= sizeof(VIDEOINFOHEADER2)) {
        const auto* v = reinterpret_cast<const VIDEOINFOHEADER2*>(mt.pbFormat);
        *arX = v->dwPictAspectRatioX ? LONG(v->dwPictAspectRatioX) : v->bmiHeader.biWidth;
        *arY = v->dwPictAspectRatioY ? LONG(v->dwPictAspectRatioY) : v->bmiHeader.biHeight;
        return &v->bmiHeader;
    }
    return nullptr;
}

} // namespace

CUnknown* CVideoRenderer::CreateInstance(IUnknown* outer, HRESULT* phr) {
    return CreateFilterInstance<CVideoRenderer>(outer, phr);
}

CVideoRenderer::CVideoRenderer(IUnknown* outer, HRESULT* phr)
    : CBaseFilter("Video renderer", outer, this, CLSID_VideoMixingRenderer9, phr) {
    pin_ = std::make_unique<CRendererInputPin>(this, this, phr, L"VMR Input0", this);
}

CVideoRenderer::~CVideoRenderer() = default;

HRESULT CVideoRenderer::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    if (riid == IID_IVMRFilterConfig)
        return GetInterface(static_cast<IVMRFilterConfig*>(this), ppv);
    if (riid == IID_IVMRWindowlessControl)
        return GetInterface(static_cast<IVMRWindowlessControl*>(this), ppv);
    if (riid == IID_IVMRMixerBitmap) return GetInterface(static_cast<IVMRMixerBitmap*>(this), ppv);
    return CBaseFilter::NonDelegatingQueryInterface(riid, ppv);
}

CBasePin* CVideoRenderer::GetPin(int n) {
    return n == 0 ? pin_.get() : nullptr;
}

HRESULT CVideoRenderer::Stop() {
    HRESULT hr = CBaseFilter::Stop();
    wait_.Wake();
    return hr;
}

HRESULT CVideoRenderer::Pause() {
    HRESULT hr = CBaseFilter::Pause();
    wait_.Wake();
    return hr;
}

HRESULT CVideoRenderer::Run(REFERENCE_TIME tStart) {
    HRESULT hr = CBaseFilter::Run(tStart);
    wait_.Wake();
    return hr;
}

bool CVideoRenderer::Cancelled() const {
    return flushing_.load();
}

// -- stream

HRESULT CVideoRenderer::CheckRenderType(const CMediaType* pmt) {
    if (pmt->majortype != MEDIATYPE_Video || pmt->subtype != MEDIASUBTYPE_YV12)
        return VFW_E_TYPE_NOT_ACCEPTED;
    LONG ax = 0, ay = 0;
    const BITMAPINFOHEADER* bmi = BitmapOf(*pmt, &ax, &ay);
    if (!bmi || bmi->biWidth <= 0 || bmi->biHeight <= 0 || bmi->biWidth % 2 || bmi->biHeight % 2 ||
        bmi->biWidth > 8192 || bmi->biHeight > 8192)
        return VFW_E_TYPE_NOT_ACCEPTED;
    return S_OK;
}

HRESULT CVideoRenderer::SetRenderType(const CMediaType* pmt) {
    LONG ax = 0, ay = 0;
    const BITMAPINFOHEADER* bmi = BitmapOf(*pmt, &ax, &ay);
    if (!bmi) return VFW_E_TYPE_NOT_ACCEPTED;
    std::lock_guard<std::mutex> g(pictureLock_);
    width_ = bmi->biWidth;
    height_ = bmi->biHeight;
    arX_ = ax > 0 ? ax : width_;
    arY_ = ay > 0 ? ay : height_;
    havePicture_ = false;
    picture_.assign(std::size_t(width_) * height_ * 3 / 2, 0);
    if (!srcSet_) src_ = RECT{0, 0, width_, height_};
    return S_OK;
}

HRESULT CVideoRenderer::Render(IMediaSample* sample) {
    BYTE* data = nullptr;
    if (FAILED(sample->GetPointer(&data))) return E_POINTER;
    REFERENCE_TIME start = 0, stop = 0;
    const HRESULT timeHr = sample->GetTime(&start, &stop);
    const bool timed = SUCCEEDED(timeHr);
    if (timed && !wait_.Wait(this, start, [this] { return Cancelled(); }))
        return flushing_ ? S_OK : VFW_E_WRONG_STATE;
    if (timed) lastStop_ = stop;

    PictureObserver observer;
    int w = 0, h = 0;
    {
        std::lock_guard<std::mutex> g(pictureLock_);
        w = width_;
        h = height_;
        const std::size_t size = std::size_t(w) * h * 3 / 2;
        if (size == 0 || std::size_t(sample->GetActualDataLength()) < size)
            return S_OK; // short: skipped
        std::memcpy(picture_.data(), data, size);
        havePicture_ = true;
        imageStale_ = true;
        observer = observer_;
    }
    ++presented_;
    if (observer) observer(data, w, h, timed ? start : 0, timed ? stop : 0);
    AskHostToRepaint();
    return S_OK;
}

HRESULT CVideoRenderer::RenderEndOfStream() {
    if (!wait_.Wait(this, lastStop_, [this] { return Cancelled(); })) return S_OK;
    NotifyEvent(EC_COMPLETE, S_OK, 0);
    return S_OK;
}

void CVideoRenderer::FlushStarted() {
    flushing_ = true;
    wait_.Wake();
}

void CVideoRenderer::FlushEnded() {
    flushing_ = false;
    lastStop_ = 0;
}

void CVideoRenderer::AskHostToRepaint() {
    QObject* host = nullptr;
    {
        std::lock_guard<std::mutex> g(pictureLock_);
        host = host_.data();
    }
    if (host) QMetaObject::invokeMethod(host, "update", Qt::QueuedConnection);
}

void CVideoRenderer::SetPictureObserver(PictureObserver observer) {
    std::lock_guard<std::mutex> g(pictureLock_);
    observer_ = std::move(observer);
}

// -- IVMRFilterConfig

HRESULT CVideoRenderer::SetImageCompositor(IUnknown*) {
    return E_NOTIMPL;
}

HRESULT CVideoRenderer::SetNumberOfStreams(DWORD n) {
    if (n < 1 || n > 16) return E_INVALIDARG;
    std::lock_guard<std::mutex> g(pictureLock_);
    streams_ = n;
    return S_OK;
}

HRESULT CVideoRenderer::GetNumberOfStreams(DWORD* n) {
    if (!n) return E_POINTER;
    std::lock_guard<std::mutex> g(pictureLock_);
    *n = streams_;
    return S_OK;
}

HRESULT CVideoRenderer::SetRenderingPrefs(DWORD flags) {
    std::lock_guard<std::mutex> g(pictureLock_);
    prefs_ = flags;
    return S_OK;
}

HRESULT CVideoRenderer::GetRenderingPrefs(DWORD* flags) {
    if (!flags) return E_POINTER;
    std::lock_guard<std::mutex> g(pictureLock_);
    *flags = prefs_;
    return S_OK;
}

HRESULT CVideoRenderer::SetRenderingMode(DWORD mode) {
    if (mode != VMRMode_Windowed && mode != VMRMode_Windowless && mode != VMRMode_Renderless)
        return E_INVALIDARG;
    std::lock_guard<std::mutex> g(pictureLock_);
    mode_ = mode;
    return S_OK;
}

HRESULT CVideoRenderer::GetRenderingMode(DWORD* mode) {
    if (!mode) return E_POINTER;
    std::lock_guard<std::mutex> g(pictureLock_);
    *mode = mode_;
    return S_OK;
}

// -- IVMRWindowlessControl

HRESULT CVideoRenderer::GetNativeVideoSize(LONG* w, LONG* h, LONG* arW, LONG* arH) {
    std::lock_guard<std::mutex> g(pictureLock_);
    if (width_ <= 0) return VFW_E_NOT_CONNECTED;
    if (w) *w = width_;
    if (h) *h = height_;
    if (arW) *arW = arX_;
    if (arH) *arH = arY_;
    return S_OK;
}

HRESULT CVideoRenderer::GetMinIdealVideoSize(LONG* w, LONG* h) {
    if (!w || !h) return E_POINTER;
    std::lock_guard<std::mutex> g(pictureLock_);
    *w = width_ / 4;
    *h = height_ / 4;
    return S_OK;
}

HRESULT CVideoRenderer::GetMaxIdealVideoSize(LONG* w, LONG* h) {
    if (!w || !h) return E_POINTER;
    std::lock_guard<std::mutex> g(pictureLock_);
    *w = width_ * 4;
    *h = height_ * 4;
    return S_OK;
}

HRESULT CVideoRenderer::SetVideoPosition(const RECT* src, const RECT* dst) {
    if (!src && !dst) return E_POINTER;
    std::lock_guard<std::mutex> g(pictureLock_);
    if (src) {
        if (IsEmpty(*src) || src->left < 0 || src->top < 0) return E_INVALIDARG;
        src_ = *src;
        srcSet_ = true;
    }
    if (dst) dst_ = *dst;
    return S_OK;
}

HRESULT CVideoRenderer::GetVideoPosition(RECT* src, RECT* dst) {
    if (!src && !dst) return E_POINTER;
    std::lock_guard<std::mutex> g(pictureLock_);
    if (src) *src = src_;
    if (dst) *dst = dst_;
    return S_OK;
}

HRESULT CVideoRenderer::GetAspectRatioMode(DWORD* mode) {
    if (!mode) return E_POINTER;
    std::lock_guard<std::mutex> g(pictureLock_);
    *mode = aspectMode_;
    return S_OK;
}

HRESULT CVideoRenderer::SetAspectRatioMode(DWORD mode) {
    if (mode != VMR_ARMODE_NONE && mode != VMR_ARMODE_LETTER_BOX) return E_INVALIDARG;
    std::lock_guard<std::mutex> g(pictureLock_);
    aspectMode_ = mode;
    return S_OK;
}

HRESULT CVideoRenderer::SetVideoClippingWindow(HWND hwnd) {
    std::lock_guard<std::mutex> g(pictureLock_);
    host_ = hwnd;
    return S_OK;
}

QRect CVideoRenderer::VideoRect(const QRect& dst) const {
    if (aspectMode_ != VMR_ARMODE_LETTER_BOX || width_ <= 0) return dst;
    // The shape of the source rectangle on the display: its pixels scaled by the
    // picture's aspect ratio.
    const double srcW = double(src_.right - src_.left) * arX_ / width_;
    const double srcH = double(src_.bottom - src_.top) * arY_ / height_;
    if (srcW <= 0 || srcH <= 0) return dst;
    const double scale = std::min(dst.width() / srcW, dst.height() / srcH);
    const int w = int(srcW * scale + 0.5), h = int(srcH * scale + 0.5);
    return QRect(dst.left() + (dst.width() - w) / 2, dst.top() + (dst.height() - h) / 2, w, h);
}

const QImage& CVideoRenderer::CurrentImageLocked() {
    if (imageStale_ && havePicture_) {
        image_ = converter_.ToImage(picture_.data(), width_, height_);
        imageStale_ = false;
    }
    return image_;
}

HRESULT CVideoRenderer::RepaintVideo(HWND, HDC hdc) {
    if (!hdc) return E_POINTER;
    std::lock_guard<std::mutex> g(pictureLock_);
    if (IsEmpty(dst_)) return S_OK; // hidden
    const QRect dst = ToQRect(dst_);
    QPainter& p = *hdc;
    p.save();
    p.setClipRect(dst);
    p.fillRect(dst, ToColor(border_));
    const QImage& image = CurrentImageLocked();
    if (!image.isNull()) {
        const QRect video = VideoRect(dst);
        const QRect src = ToQRect(src_).intersected(image.rect());
        p.setRenderHint(QPainter::SmoothPixmapTransform, true);
        p.drawImage(video, image, src);
        if (!overlay_.isNull()) {
            const NORMALIZEDRECT& n = overlayParams_.rDest;
            const QRectF place(
                video.left() + n.left * video.width(), video.top() + n.top * video.height(),
                (n.right - n.left) * video.width(), (n.bottom - n.top) * video.height());
            p.setOpacity(std::clamp(overlayParams_.fAlpha, 0.0f, 1.0f));
            p.drawImage(place, overlay_);
        }
    }
    p.restore();
    return S_OK;
}

HRESULT CVideoRenderer::DisplayModeChanged() {
    return S_OK;
}

HRESULT CVideoRenderer::GetCurrentImage(BYTE** lpDib) {
    if (!lpDib) return E_POINTER;
    *lpDib = nullptr;
    std::lock_guard<std::mutex> g(pictureLock_);
    if (!havePicture_) return E_FAIL;
    const QImage& image = CurrentImageLocked();
    if (image.isNull()) return E_FAIL;
    const std::size_t row = std::size_t(image.width()) * 4;
    const std::size_t bytes = sizeof(BITMAPINFOHEADER) + row * image.height();
    auto* dib = static_cast<BYTE*>(CoTaskMemAlloc(bytes));
    if (!dib) return E_OUTOFMEMORY;
    BITMAPINFOHEADER bmi{};
    bmi.biSize = sizeof(BITMAPINFOHEADER);
    bmi.biWidth = image.width();
    bmi.biHeight = image.height(); // bottom-up
    bmi.biPlanes = 1;
    bmi.biBitCount = 32;
    bmi.biCompression = BI_RGB;
    bmi.biSizeImage = DWORD(row * image.height());
    std::memcpy(dib, &bmi, sizeof bmi);
    BYTE* pixels = dib + sizeof bmi;
    for (int y = 0; y < image.height(); ++y)
        std::memcpy(pixels + row * (image.height() - 1 - y), image.constScanLine(y), row);
    *lpDib = dib;
    return S_OK;
}

HRESULT CVideoRenderer::SetBorderColor(COLORREF c) {
    std::lock_guard<std::mutex> g(pictureLock_);
    border_ = c;
    return S_OK;
}

HRESULT CVideoRenderer::GetBorderColor(COLORREF* c) {
    if (!c) return E_POINTER;
    std::lock_guard<std::mutex> g(pictureLock_);
    *c = border_;
    return S_OK;
}

HRESULT CVideoRenderer::SetColorKey(COLORREF c) {
    std::lock_guard<std::mutex> g(pictureLock_);
    colorKey_ = c;
    return S_OK;
}

HRESULT CVideoRenderer::GetColorKey(COLORREF* c) {
    if (!c) return E_POINTER;
    std::lock_guard<std::mutex> g(pictureLock_);
    *c = colorKey_;
    return S_OK;
}

// -- IVMRMixerBitmap

HRESULT CVideoRenderer::SetAlphaBitmap(const VMRALPHABITMAP* parms) {
    if (!parms) return E_POINTER;
    std::lock_guard<std::mutex> g(pictureLock_);
    if (parms->dwFlags & VMRBITMAP_DISABLE) {
        overlay_ = QImage();
        overlayParams_ = VMRALPHABITMAP{};
        return S_OK;
    }
    if (!parms->hdc || parms->hdc->isNull()) return E_INVALIDARG;
    QRect src = parms->hdc->rect();
    if (parms->dwFlags & VMRBITMAP_SRCRECT) src = ToQRect(parms->rSrc).intersected(src);
    if (src.isEmpty()) return E_INVALIDARG;
    QImage copy = parms->hdc->copy(src).convertToFormat(QImage::Format_ARGB32);
    if (parms->dwFlags & VMRBITMAP_SRCCOLORKEY) {
        const QRgb key = ToColor(parms->clrSrcKey).rgb() & 0xFFFFFF;
        for (int y = 0; y < copy.height(); ++y) {
            auto* line = reinterpret_cast<QRgb*>(copy.scanLine(y));
            for (int x = 0; x < copy.width(); ++x)
                if ((line[x] & 0xFFFFFF) == key) line[x] = 0;
        }
    }
    overlay_ = std::move(copy);
    overlayParams_ = *parms;
    overlayParams_.hdc = nullptr; // the copy is ours
    return S_OK;
}

HRESULT CVideoRenderer::UpdateAlphaBitmapParameters(const VMRALPHABITMAP* parms) {
    if (!parms) return E_POINTER;
    std::lock_guard<std::mutex> g(pictureLock_);
    if (overlay_.isNull()) return E_FAIL;
    overlayParams_.rDest = parms->rDest;
    overlayParams_.fAlpha = parms->fAlpha;
    return S_OK;
}

HRESULT CVideoRenderer::GetAlphaBitmapParameters(VMRALPHABITMAP* parms) {
    if (!parms) return E_POINTER;
    std::lock_guard<std::mutex> g(pictureLock_);
    *parms = overlayParams_;
    return S_OK;
}
