// Carries out a CVideoConvPlan on pictures: crop, bicubic scaling with
// libswscale, black bars, then the CVideoAdjust adjustments, into a work
// picture that is finally written to the output buffer.
//
// Pictures are planar 4:2:0 in YV12 order (Y, V, U). An input buffer holds
// the luma plane at a row stride of the plan's inWidth, then two chroma
// planes at inWidth / 2 with inHeight / 2 rows. Output rows are written at
// the plan's outStride (chroma at outStride / 2): the frame width W unless
// the downstream type asked for wider rows.
//
// The input buffer is only read: adjustments always work on the core's own
// work picture, so a sample shared with another branch stays intact.
// One streaming thread at a time; Configure and Process must not overlap.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "filters/VideoAdjust.h"
#include "filters/VideoConvPlan.h"

struct SwsContext;

class CVideoConvCore {
public:
    CVideoConvCore();
    ~CVideoConvCore();
    CVideoConvCore(const CVideoConvCore&) = delete;
    CVideoConvCore& operator=(const CVideoConvCore&) = delete;

    // Takes the plan, (re)creates the scaler and the work picture of the
    // output size; the previous ones are released first. False when the
    // scaler or the work picture cannot be made (the core is then empty).
    bool Configure(const CVideoConvPlan& plan);
    bool IsConfigured() const { return work_ != nullptr; }
    const CVideoConvPlan& Plan() const { return plan_; }

    // Bytes a buffer must hold for Process.
    size_t InputBytes() const;
    size_t OutputBytes() const;
    // Output buffer size that lets Process build the picture in place (the
    // scaler may write a little past the last row).
    size_t BufferBytes() const;

    // Converts one picture. False (nothing written) when unconfigured or when
    // either buffer is shorter than InputBytes/OutputBytes.
    bool Process(const uint8_t* in, size_t inLen, uint8_t* out, size_t outLen,
                 const CVideoAdjust& adjust);

private:
    struct Planes {
        const uint8_t* data[3];
        int stride[3];
    };
    void Release();
    Planes SourceView(const uint8_t* in) const;
    void CopyInto(const Planes& src, LONG x, LONG y, LONG w, LONG h);
    void PaintBars();
    void PointPlanesAt(uint8_t* base);
    void WriteOut(uint8_t* out) const;

    CVideoConvPlan plan_;
    SwsContext* scaler_ = nullptr;
    std::unique_ptr<uint8_t[]> work_; // W*H luma, then two (W/2)*(H/2) chroma planes
    uint8_t* plane_[3] = {};
};
