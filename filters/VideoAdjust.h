// Luma gain, hue rotation and saturation of a planar 4:2:0 picture, with the
// integer arithmetic of the converter: luma Y -> min(255, (Y * g) >> 7); for
// each chroma pair (a, b) centred on 128, a rotation by the sine/cosine
// tables (entries scaled by 128, truncated) then a saturation factor s/64,
// clamped to 0..255. Shifts are arithmetic.
//
// All per-pixel work is table lookups: a 256-entry luma table, two 256-entry
// rotation tables and one saturation/clamp table, rebuilt only when a
// setting changes. Not thread-safe: the owner copies the settings under its
// lock and calls Apply on the streaming thread.
#pragma once

#include <cstddef>
#include <cstdint>

class CVideoAdjust {
public:
    static constexpr int kNeutralGain = 128;       // 0..256
    static constexpr int kNeutralHue = 0;          // -180..180 degrees
    static constexpr int kNeutralSaturation = 64;  // 0..128

    CVideoAdjust();

    // Entries of the trigonometric tables, degrees -180..180 (clamped):
    // sin/cos(deg * 3.1415926 / 180) * 128 truncated toward zero.
    static int16_t Sine(int degrees);
    static int16_t Cosine(int degrees);

    // Settings; values outside the ranges above are clamped.
    void Set(int lumaGain, int hue, int saturation);
    int LumaGain() const { return gain_; }
    int Hue() const { return hue_; }
    int Saturation() const { return saturation_; }
    bool IsNeutral() const;

    // Adjusts one picture in place: `luma` holds lumaCount bytes, `first` and
    // `second` the chroma planes in memory order (V then U for YV12) with
    // chromaCount bytes each.
    void Apply(uint8_t* luma, size_t lumaCount, uint8_t* first, uint8_t* second,
               size_t chromaCount) const;

private:
    void BuildTables();

    int gain_ = kNeutralGain;
    int hue_ = kNeutralHue;
    int saturation_ = kNeutralSaturation;
    uint8_t luma_[256];
    int16_t cos_[256]; // ((byte - 128) * cos) >> 7
    int16_t sin_[256]; // ((byte - 128) * sin) >> 7
    // clamp(((x * s) >> 6) + 128) for x = -256..256, indexed by x + 256
    uint8_t sat_[513];
};
