#include "filters/VideoAdjust.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace {

struct TrigTables {
    std::array<int16_t, 361> sine, cosine;
    TrigTables() {
        for (int i = 0; i <= 360; ++i) {
            double rad = (i - 180) * 3.1415926 / 180;
            // Conversion to an integer truncates toward zero.
            sine[i] = int16_t(std::sin(rad) * 128);
            cosine[i] = int16_t(std::cos(rad) * 128);
        }
    }
};

const TrigTables& Trig() {
    static const TrigTables tables;
    return tables;
}

} // namespace

CVideoAdjust::CVideoAdjust() { BuildTables(); }

int16_t CVideoAdjust::Sine(int degrees) { return Trig().sine[std::clamp(degrees, -180, 180) + 180]; }

int16_t CVideoAdjust::Cosine(int degrees) {
    return Trig().cosine[std::clamp(degrees, -180, 180) + 180];
}

void CVideoAdjust::Set(int lumaGain, int hue, int saturation) {
    lumaGain = std::clamp(lumaGain, 0, 256);
    hue = std::clamp(hue, -180, 180);
    saturation = std::clamp(saturation, 0, 128);
    if (lumaGain == gain_ && hue == hue_ && saturation == saturation_) return;
    gain_ = lumaGain;
    hue_ = hue;
    saturation_ = saturation;
    BuildTables();
}

bool CVideoAdjust::IsNeutral() const {
    return gain_ == kNeutralGain && hue_ == kNeutralHue && saturation_ == kNeutralSaturation;
}

void CVideoAdjust::BuildTables() {
    for (int y = 0; y < 256; ++y) luma_[y] = uint8_t(std::min(255, (y * gain_) >> 7));
    int cs = Cosine(hue_), sn = Sine(hue_);
    for (int v = 0; v < 256; ++v) {
        cos_[v] = int16_t(((v - 128) * cs) >> 7);
        sin_[v] = int16_t(((v - 128) * sn) >> 7);
    }
    for (int x = -256; x <= 256; ++x)
        sat_[x + 256] = uint8_t(std::clamp(((x * saturation_) >> 6) + 128, 0, 255));
}

void CVideoAdjust::Apply(uint8_t* luma, size_t lumaCount, uint8_t* first, uint8_t* second,
                         size_t chromaCount) const {
    if (gain_ != kNeutralGain) {
        const uint8_t* t = luma_;
        for (size_t i = 0; i < lumaCount; ++i) luma[i] = t[luma[i]];
    }
    if (hue_ != kNeutralHue || saturation_ != kNeutralSaturation) {
        // Rotation results lie in -256..256, so sat_ covers every index.
        const uint8_t* sat = sat_ + 256;
        for (size_t i = 0; i < chromaCount; ++i) {
            uint8_t a = first[i], b = second[i];
            int a2 = cos_[a] + sin_[b];
            int b2 = cos_[b] - sin_[a];
            first[i] = sat[a2];
            second[i] = sat[b2];
        }
    }
}
