// The video renderer's control interfaces: filter configuration, the windowless
// control and the mixer bitmap, in the slot order of the platform they stand in
// for. Window handles are the host QObject (a QWidget whose update() slot is
// invoked to ask for a repaint); device contexts are QPainter pointers; the
// overlay surface of the mixer bitmap is a QImage.
//
// Rectangles are pixels of the host widget (destination) or of the decoded
// picture (source). Calls come from the application thread.
#pragma once

#include "platform/com/IUnknown.h"
#include "platform/com/WinTypes.h"
#include "platform/dshow/DshowTypes.h"

class QObject;
class QPainter;
class QImage;

using HWND = QObject*;
using HDC = QPainter*;
using COLORREF = DWORD; // 0x00BBGGRR

constexpr COLORREF RGB(BYTE r, BYTE g, BYTE b) {
    return COLORREF(r) | (COLORREF(g) << 8) | (COLORREF(b) << 16);
}

constexpr IID IID_IVMRFilterConfig = MakeGuid("9E5530C5-7034-48B4-BB46-0B8A6EFC8E36");
constexpr IID IID_IVMRWindowlessControl = MakeGuid("0EB1088C-4DCD-46F0-878F-39DAE86A51B7");
constexpr IID IID_IVMRMixerBitmap = MakeGuid("1E673275-0257-40AA-AF20-7C608D4A0428");

// Rendering modes and aspect-ratio modes.
constexpr DWORD VMRMode_Windowed = 1;
constexpr DWORD VMRMode_Windowless = 2;
constexpr DWORD VMRMode_Renderless = 4;
constexpr DWORD VMR_ARMODE_NONE = 0;       // stretch to the destination
constexpr DWORD VMR_ARMODE_LETTER_BOX = 1; // keep the picture's shape, borders around

struct IVMRFilterConfig : IUnknown {
    static constexpr const IID& kIid = IID_IVMRFilterConfig;
    virtual HRESULT SetImageCompositor(IUnknown* lpVMRImgCompositor) = 0; // E_NOTIMPL
    virtual HRESULT SetNumberOfStreams(DWORD dwMaxStreams) = 0;           // 1 only
    virtual HRESULT GetNumberOfStreams(DWORD* pdwMaxStreams) = 0;
    virtual HRESULT SetRenderingPrefs(DWORD dwRenderFlags) = 0;
    virtual HRESULT GetRenderingPrefs(DWORD* pdwRenderFlags) = 0;
    virtual HRESULT SetRenderingMode(DWORD Mode) = 0;
    virtual HRESULT GetRenderingMode(DWORD* pMode) = 0;

protected:
    ~IVMRFilterConfig() = default;
};

struct IVMRWindowlessControl : IUnknown {
    static constexpr const IID& kIid = IID_IVMRWindowlessControl;
    // Picture size in pixels and its aspect ratio (width, height); VFW_E_NOT_CONNECTED before a
    // type.
    virtual HRESULT GetNativeVideoSize(LONG* lpWidth, LONG* lpHeight, LONG* lpARWidth,
                                       LONG* lpARHeight) = 0;
    virtual HRESULT GetMinIdealVideoSize(LONG* lpWidth, LONG* lpHeight) = 0;
    virtual HRESULT GetMaxIdealVideoSize(LONG* lpWidth, LONG* lpHeight) = 0;
    // Either rectangle may be null (kept as it is); both null is E_POINTER. An
    // empty destination hides the video.
    virtual HRESULT SetVideoPosition(const RECT* lpSRCRect, const RECT* lpDSTRect) = 0;
    virtual HRESULT GetVideoPosition(RECT* lpSRCRect, RECT* lpDSTRect) = 0;
    virtual HRESULT GetAspectRatioMode(DWORD* lpAspectRatioMode) = 0;
    virtual HRESULT SetAspectRatioMode(DWORD AspectRatioMode) = 0;
    // The host widget asked to repaint when a new picture is due (null: none).
    virtual HRESULT SetVideoClippingWindow(HWND hwnd) = 0;
    // Paints the current picture with the host's painter (GUI thread, inside its paint event).
    virtual HRESULT RepaintVideo(HWND hwnd, HDC hdc) = 0;
    virtual HRESULT DisplayModeChanged() = 0;
    // *lpDib: a CoTaskMemAlloc'd packed bitmap (BITMAPINFOHEADER then 32-bit
    // bottom-up BGRA rows) of the current picture at its own size; the caller
    // frees it with CoTaskMemFree. E_FAIL before the first picture.
    virtual HRESULT GetCurrentImage(BYTE** lpDib) = 0;
    virtual HRESULT SetBorderColor(COLORREF Clr) = 0;
    virtual HRESULT GetBorderColor(COLORREF* lpClr) = 0;
    virtual HRESULT SetColorKey(COLORREF Clr) = 0;
    virtual HRESULT GetColorKey(COLORREF* lpClr) = 0;

protected:
    ~IVMRWindowlessControl() = default;
};

struct NORMALIZEDRECT {
    float left, top, right, bottom;
};

constexpr DWORD VMRBITMAP_DISABLE = 0x00000001;
constexpr DWORD VMRBITMAP_HDC = 0x00000002;
constexpr DWORD VMRBITMAP_ENTIREDDS = 0x00000004;
constexpr DWORD VMRBITMAP_SRCCOLORKEY = 0x00000008;
constexpr DWORD VMRBITMAP_SRCRECT = 0x00000010;

// The overlay blended over the video. hdc is the overlay surface (a QImage,
// copied by SetAlphaBitmap); rSrc is the part of it used (VMRBITMAP_SRCRECT);
// rDest places it over the video in 0..1 units of the picture; fAlpha 0..1 is
// its opacity; with VMRBITMAP_SRCCOLORKEY pixels of colour clrSrcKey are transparent.
struct VMRALPHABITMAP {
    DWORD dwFlags;
    const QImage* hdc;
    void* pDDS; // unused
    RECT rSrc;
    NORMALIZEDRECT rDest;
    float fAlpha;
    COLORREF clrSrcKey;
};

struct IVMRMixerBitmap : IUnknown {
    static constexpr const IID& kIid = IID_IVMRMixerBitmap;
    // Copies the overlay; VMRBITMAP_DISABLE removes it.
    virtual HRESULT SetAlphaBitmap(const VMRALPHABITMAP* pBmpParms) = 0;
    // Changes placement, opacity or key of the overlay already set (no new surface).
    virtual HRESULT UpdateAlphaBitmapParameters(const VMRALPHABITMAP* pBmpParms) = 0;
    virtual HRESULT GetAlphaBitmapParameters(VMRALPHABITMAP* pBmpParms) = 0;

protected:
    ~IVMRMixerBitmap() = default;
};
