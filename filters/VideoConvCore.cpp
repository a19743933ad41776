#include "filters/VideoConvCore.h"

#include <cstring>
#include <new>

extern "C" {
#include <libswscale/swscale.h>
}

namespace {
// swscale's vector code may touch a few bytes past the last row.
constexpr size_t kSlack = 64;

size_t PictureBytes(LONG lumaStride, LONG rows) {
    return size_t(lumaStride) * rows + 2 * size_t(lumaStride / 2) * (rows / 2);
}
} // namespace

CVideoConvCore::CVideoConvCore() = default;

CVideoConvCore::~CVideoConvCore() { Release(); }

void CVideoConvCore::Release() {
    if (scaler_) sws_freeContext(scaler_);
    scaler_ = nullptr;
    work_.reset();
    plane_[0] = plane_[1] = plane_[2] = nullptr;
}

bool CVideoConvCore::Configure(const CVideoConvPlan& plan) {
    Release();
    plan_ = plan;
    if (plan.outWidth < 2 || plan.outHeight < 2) return false;
    if (plan.scale) {
        scaler_ = sws_getContext(plan.cropWidth, plan.cropHeight, AV_PIX_FMT_YUV420P,
                                 plan.innerWidth, plan.innerHeight, AV_PIX_FMT_YUV420P,
                                 SWS_BICUBIC, nullptr, nullptr, nullptr);
        if (!scaler_) return false;
    }
    size_t bytes = PictureBytes(plan.outWidth, plan.outHeight) + kSlack;
    work_.reset(new (std::nothrow) uint8_t[bytes]);
    if (!work_) {
        Release();
        return false;
    }
    PointPlanesAt(work_.get());
    return true;
}

void CVideoConvCore::PointPlanesAt(uint8_t* base) {
    plane_[0] = base;
    plane_[1] = plane_[0] + size_t(plan_.outWidth) * plan_.outHeight;
    plane_[2] = plane_[1] + size_t(plan_.outWidth / 2) * (plan_.outHeight / 2);
}

size_t CVideoConvCore::InputBytes() const { return PictureBytes(plan_.inWidth, plan_.inHeight); }

size_t CVideoConvCore::OutputBytes() const {
    return PictureBytes(plan_.outStride, plan_.outHeight);
}

size_t CVideoConvCore::BufferBytes() const { return OutputBytes() + kSlack; }

CVideoConvCore::Planes CVideoConvCore::SourceView(const uint8_t* in) const {
    const LONG w = plan_.inWidth, h = plan_.inHeight;
    const uint8_t* first = in + size_t(w) * h;
    const uint8_t* second = first + size_t(w / 2) * (h / 2);
    const size_t lumaOff = size_t(plan_.cropTop) * w + plan_.cropLeft;
    const size_t chromaOff = size_t(plan_.cropTop / 2) * (w / 2) + plan_.cropLeft / 2;
    return Planes{{in + lumaOff, first + chromaOff, second + chromaOff}, {w, w / 2, w / 2}};
}

// Copies w x h luma (chroma halved) from src to (x, y) of the work picture.
void CVideoConvCore::CopyInto(const Planes& src, LONG x, LONG y, LONG w, LONG h) {
    for (int p = 0; p < 3; ++p) {
        const int sh = p ? 1 : 0;
        const LONG stride = plan_.outWidth >> sh;
        uint8_t* dst = plane_[p] + size_t(y >> sh) * stride + (x >> sh);
        const uint8_t* s = src.data[p];
        for (LONG r = 0; r < (h >> sh); ++r)
            std::memcpy(dst + size_t(r) * stride, s + size_t(r) * src.stride[p], size_t(w >> sh));
    }
}

// Black (Y 16, chroma 128) outside the inner region of the work picture.
void CVideoConvCore::PaintBars() {
    for (int p = 0; p < 3; ++p) {
        const int sh = p ? 1 : 0;
        const uint8_t black = p ? 128 : 16;
        const LONG W = plan_.outWidth >> sh, H = plan_.outHeight >> sh;
        const LONG l = plan_.padLeft >> sh, r = plan_.padRight >> sh;
        const LONG t = plan_.padTop >> sh, b = plan_.padBottom >> sh;
        uint8_t* base = plane_[p];
        std::memset(base, black, size_t(W) * t);
        std::memset(base + size_t(H - b) * W, black, size_t(W) * b);
        for (LONG y = t; y < H - b; ++y) {
            uint8_t* row = base + size_t(y) * W;
            std::memset(row, black, size_t(l));
            std::memset(row + W - r, black, size_t(r));
        }
    }
}

void CVideoConvCore::WriteOut(uint8_t* out) const {
    const LONG W = plan_.outWidth, H = plan_.outHeight, S = plan_.outStride;
    uint8_t* dst[3] = {out, out + size_t(S) * H, out + size_t(S) * H + size_t(S / 2) * (H / 2)};
    for (int p = 0; p < 3; ++p) {
        const int sh = p ? 1 : 0;
        const LONG stride = p ? S / 2 : S;
        for (LONG r = 0; r < (H >> sh); ++r)
            std::memcpy(dst[p] + size_t(r) * stride, plane_[p] + size_t(r) * (W >> sh),
                        size_t(W >> sh));
    }
}

bool CVideoConvCore::Process(const uint8_t* in, size_t inLen, uint8_t* out, size_t outLen,
                             const CVideoAdjust& adjust) {
    if (!work_ || !in || !out || inLen < InputBytes() || outLen < OutputBytes()) return false;
    const CVideoConvPlan& p = plan_;
    const Planes src = SourceView(in);
    // Rows without padding are built in the output itself; padded ones in the
    // work picture, copied out row by row at the end.
    const bool direct = p.outStride == p.outWidth && outLen >= BufferBytes();
    PointPlanesAt(direct ? out : work_.get());
    if (p.scale) {
        const size_t off = size_t(p.padTop) * p.outWidth + p.padLeft;
        const size_t coff = size_t(p.padTop / 2) * (p.outWidth / 2) + p.padLeft / 2;
        uint8_t* dst[4] = {plane_[0] + off, plane_[1] + coff, plane_[2] + coff, nullptr};
        int dstStride[4] = {p.outWidth, p.outWidth / 2, p.outWidth / 2, 0};
        const uint8_t* srcData[4] = {src.data[0], src.data[1], src.data[2], nullptr};
        int srcStride[4] = {src.stride[0], src.stride[1], src.stride[2], 0};
        sws_scale(scaler_, srcData, srcStride, 0, p.cropHeight, dst, dstStride);
    } else {
        CopyInto(src, p.padLeft, p.padTop, p.cropWidth, p.cropHeight);
    }
    if (p.pad) PaintBars();

    const size_t lumaCount = size_t(p.outWidth) * p.outHeight;
    const size_t chromaCount = size_t(p.outWidth / 2) * (p.outHeight / 2);
    adjust.Apply(plane_[0], lumaCount, plane_[1], plane_[2], chromaCount);

    if (!direct) WriteOut(out);
    return true;
}
