// The connection-time plan of the video converter: where the crop rectangle
// is cut from the input picture, where it lands in the output frame (fit by
// aspect mode, black bars rounded up to even widths) and whether it must be
// scaled. Pure arithmetic, no buffers: CVideoConvCore carries it out.
//
// The geometry is set by callers without checks, so the plan makes it safe:
// every size it reports is even, at least 2 and inside the pictures, so the
// 4:2:0 chroma planes always line up and no copy can leave a buffer.
#pragma once

#include "platform/com/WinTypes.h"

// How the crop rectangle is fitted into the output frame.
enum AspectMode : LONG {
    AspectKeepOriginal = 0, // the crop rectangle's own width/height ratio
    AspectFullScreen = 1,   // stretch to the whole frame
    Aspect16x9 = 2,
    Aspect4x3 = 3,
};

// Bits of CVideoConvPlan::mended: which parts of the requested geometry had
// to be changed to make a safe plan.
enum VideoPlanMend : unsigned {
    kMendNone = 0,
    kMendInputOdd = 1u << 0,     // odd input width/height: the last column/row is ignored
    kMendCropClamped = 1u << 1,  // crop rectangle reached outside the picture
    kMendCropOdd = 1u << 2,      // crop edges rounded down to even
    kMendCropEmpty = 1u << 3,    // empty or inverted crop: the whole picture is used
    kMendOutputEmpty = 1u << 4,  // zero or negative output size: the input size is used
    kMendOutputOdd = 1u << 5,    // odd output size rounded down to even
    kMendPadTooWide = 1u << 6,   // bars left less than 2 pixels of picture: bars narrowed
};

class CVideoConvPlan {
public:
    // Largest accepted picture side, input or output; larger ones fail the plan.
    static constexpr LONG kMaxSide = 8192;

    // The output frame size the geometry asks for, made even and non-empty:
    // an empty output rectangle falls back to the input size. The output
    // media type uses the same size. False when it exceeds kMaxSide.
    static bool OutputSize(const RECT& output, LONG inWidth, LONG inHeight, LONG* width,
                           LONG* height, unsigned* mended = nullptr);

    // Fit rule: the largest rectangle of the given width/height ratio centred
    // in frame (margins truncated toward zero), computed in 32-bit float.
    static RECT Fit(const RECT& frame, float ratio);

    // Ratio used by an aspect mode for a crop of (cropW, cropH); 0 for stretch.
    static float RatioOf(LONG aspectMode, LONG cropW, LONG cropH);

    // Makes the plan. inWidth/inHeight: the input bitmap size (luma row
    // stride is inWidth). outStride: the width of the output type's bitmap
    // header. False when the pictures are empty or larger than kMaxSide.
    bool Make(LONG inWidth, LONG inHeight, LONG outStride, LONG aspectMode, const RECT& crop,
              const RECT& output);

    // -- input picture
    LONG inWidth = 0, inHeight = 0;   // as given: the row strides of the input
    LONG srcWidth = 0, srcHeight = 0; // usable input size (even)
    // -- output frame
    LONG outWidth = 0, outHeight = 0; // W, H (even, >= 2)
    LONG outStride = 0;               // luma row stride of the output (>= W)
    // -- crop: margins in input pixels, all even
    bool crop = false;
    LONG cropLeft = 0, cropTop = 0, cropRight = 0, cropBottom = 0;
    LONG cropWidth = 0, cropHeight = 0; // size of the source after cropping
    // -- placement of the source in the output frame
    RECT placement{};
    bool pad = false;
    LONG padLeft = 0, padTop = 0, padRight = 0, padBottom = 0; // even
    // -- scaling of the source to the inner region
    bool scale = false;
    LONG innerWidth = 0, innerHeight = 0; // W - pads, H - pads (even, >= 2)

    unsigned mended = kMendNone;
};
