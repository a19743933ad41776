#include "filters/VideoConvPlan.h"

#include <algorithm>

namespace {

LONG RoundUpEven(LONG m) { return (m + 1) / 2 * 2; }

// Clamps v into [lo, hi] and rounds it down to even; records what changed.
LONG ClampEven(LONG v, LONG lo, LONG hi, unsigned* mended) {
    LONG c = std::clamp(v, lo, hi);
    if (c != v) *mended |= kMendCropClamped;
    if (c & 1) {
        *mended |= kMendCropOdd;
        c &= ~LONG(1);
    }
    return c;
}

// Narrows the larger bar by 2 until at least 2 pixels of picture are left.
void KeepInner(LONG frame, LONG* a, LONG* b, unsigned* mended) {
    while (frame - *a - *b < 2 && (*a > 0 || *b > 0)) {
        LONG* wider = *a >= *b ? a : b;
        *wider = std::max<LONG>(0, *wider - 2);
        *mended |= kMendPadTooWide;
    }
}

} // namespace

bool CVideoConvPlan::OutputSize(const RECT& output, LONG inWidth, LONG inHeight, LONG* width,
                                LONG* height, unsigned* mended) {
    unsigned m = kMendNone;
    // 64-bit: a rectangle such as (INT_MIN, 0, INT_MAX, 0) must not overflow.
    long long w = (long long)output.right - output.left;
    long long h = (long long)output.bottom - output.top;
    if (w <= 0 || h <= 0) {
        w = inWidth;
        h = inHeight;
        m |= kMendOutputEmpty;
    }
    if ((w | h) & 1) {
        w &= ~1LL;
        h &= ~1LL;
        m |= kMendOutputOdd;
    }
    if (mended) *mended |= m;
    if (w < 2 || h < 2 || w > kMaxSide || h > kMaxSide) return false;
    *width = LONG(w);
    *height = LONG(h);
    return true;
}

RECT CVideoConvPlan::Fit(const RECT& frame, float ratio) {
    RECT p = frame;
    LONG fw = frame.right - frame.left, fh = frame.bottom - frame.top;
    if (ratio > float(fw) / float(fh)) {
        LONG nh = LONG(float(fw) / ratio);
        LONG m = (fh - nh) / 2;
        p.top += m;
        p.bottom -= m;
    } else {
        LONG nw = LONG(float(fh) * ratio);
        LONG m = (fw - nw) / 2;
        p.left += m;
        p.right -= m;
    }
    return p;
}

float CVideoConvPlan::RatioOf(LONG aspectMode, LONG cropW, LONG cropH) {
    switch (aspectMode) {
    case AspectKeepOriginal: return float(cropW) / float(cropH);
    case Aspect16x9: return 1.7777778f;
    case Aspect4x3: return 1.3333334f;
    default: return 0.0f;
    }
}

bool CVideoConvPlan::Make(LONG inW, LONG inH, LONG stride, LONG aspectMode, const RECT& cropRect,
                          const RECT& output) {
    *this = CVideoConvPlan{};
    if (inW < 2 || inH < 2 || inW > kMaxSide || inH > kMaxSide) return false;
    inWidth = inW;
    inHeight = inH;
    srcWidth = inW & ~LONG(1);
    srcHeight = inH & ~LONG(1);
    if (srcWidth != inW || srcHeight != inH) mended |= kMendInputOdd;

    if (!OutputSize(output, srcWidth, srcHeight, &outWidth, &outHeight, &mended)) return false;
    outStride = std::clamp(stride, outWidth, kMaxSide * 2);

    // Crop, kept inside the usable picture with even edges.
    LONG l = ClampEven(cropRect.left, 0, srcWidth, &mended);
    LONG r = ClampEven(cropRect.right, 0, srcWidth, &mended);
    LONG t = ClampEven(cropRect.top, 0, srcHeight, &mended);
    LONG b = ClampEven(cropRect.bottom, 0, srcHeight, &mended);
    if (r - l < 2 || b - t < 2) {
        mended |= kMendCropEmpty;
        l = t = 0;
        r = srcWidth;
        b = srcHeight;
    }
    cropWidth = r - l;
    cropHeight = b - t;
    if (cropWidth != srcWidth || cropHeight != srcHeight) {
        crop = true;
        cropLeft = l;
        cropTop = t;
        cropRight = srcWidth - r;
        cropBottom = srcHeight - b;
    }

    // Placement and bars.
    RECT frame{0, 0, outWidth, outHeight};
    float ratio = RatioOf(aspectMode, cropWidth, cropHeight);
    placement = ratio > 0.0f ? Fit(frame, ratio) : frame;
    if (placement.right - placement.left != outWidth ||
        placement.bottom - placement.top != outHeight) {
        padLeft = RoundUpEven(placement.left);
        padTop = RoundUpEven(placement.top);
        padRight = RoundUpEven(outWidth - placement.right);
        padBottom = RoundUpEven(outHeight - placement.bottom);
        KeepInner(outWidth, &padLeft, &padRight, &mended);
        KeepInner(outHeight, &padTop, &padBottom, &mended);
        pad = padLeft || padTop || padRight || padBottom;
    }
    innerWidth = outWidth - padLeft - padRight;
    innerHeight = outHeight - padTop - padBottom;
    scale = cropWidth != innerWidth || cropHeight != innerHeight;
    return true;
}
