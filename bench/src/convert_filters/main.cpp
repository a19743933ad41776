// Throughput of the video and audio converters on one thread: pictures per
// second through the video converter for pass-through, crop + fit 4:3 into
// 640x360, and the same with luma gain, hue and saturation; audio seconds per
// second for 48 kHz 5.1 to 44.1 kHz stereo.
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <random>
#include <vector>

#include "filters/AudioConvCore.h"
#include "filters/VideoConvCore.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point a, Clock::time_point b) {
    return std::chrono::duration<double>(b - a).count();
}

// A picture with gradients, edges and noise, so nothing is trivially flat.
std::vector<uint8_t> TestPicture(int w, int h) {
    std::vector<uint8_t> p(size_t(w) * h * 3 / 2);
    std::mt19937 rng(7);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            p[size_t(y) * w + x] = uint8_t(16 + (x * 219 / w + ((x / 40 + y / 40) & 1) * 30 + rng() % 9) % 220);
    uint8_t* c = p.data() + size_t(w) * h;
    for (size_t i = 0; i < size_t(w / 2) * (h / 2) * 2; ++i) c[i] = uint8_t(64 + (i * 7 + rng() % 5) % 128);
    return p;
}

double PicturesPerSecond(const char* name, LONG mode, RECT crop, RECT out, int gain, int hue,
                         int sat) {
    const int W = 720, H = 480;
    CVideoConvPlan plan;
    CVideoConvCore core;
    if (!plan.Make(W, H, out.right, mode, crop, out) || !core.Configure(plan)) {
        std::printf("%s: plan failed\n", name);
        return 0;
    }
    CVideoAdjust adjust;
    adjust.Set(gain, hue, sat);
    auto in = TestPicture(W, H);
    std::vector<uint8_t> dst(core.OutputBytes());
    for (int i = 0; i < 20; ++i) core.Process(in.data(), in.size(), dst.data(), dst.size(), adjust);
    int n = 0;
    auto t0 = Clock::now(), t1 = t0;
    while (Seconds(t0, t1) < 2.0) {
        for (int i = 0; i < 50; ++i, ++n)
            core.Process(in.data(), in.size(), dst.data(), dst.size(), adjust);
        t1 = Clock::now();
    }
    double pps = n / Seconds(t0, t1);
    std::printf("video %-44s %8.1f pictures/s  (%.3f ms each)\n", name, pps, 1000.0 / pps);
    return pps;
}

double AudioSecondsPerSecond() {
    CAudioConvCore core;
    if (!core.Configure(6, 48000, 2, 44100, true)) return 0;
    // One AC-3 frame's worth of 5.1 sound per input sample: 1536 frames.
    const int frames = 1536, channels = 6;
    std::vector<int16_t> in(size_t(frames) * channels);
    for (int i = 0; i < frames; ++i)
        for (int c = 0; c < channels; ++c)
            in[size_t(i) * channels + c] = int16_t(8000 * std::sin(2 * M_PI * (440 + 100 * c) * i / 48000.0));
    std::vector<uint8_t> out(115200);
    const auto* bytes = reinterpret_cast<const uint8_t*>(in.data());
    long long samples = 0;
    auto t0 = Clock::now(), t1 = t0;
    while (Seconds(t0, t1) < 2.0) {
        for (int i = 0; i < 100; ++i) {
            core.Push(bytes, in.size() * 2);
            core.Pull(out.data(), out.size(), 200);
            samples += frames;
        }
        t1 = Clock::now();
    }
    double sps = double(samples) / 48000.0 / Seconds(t0, t1);
    std::printf("audio %-44s %8.1f audio seconds/s\n", "48 kHz 5.1 -> 44.1 kHz stereo, volume 200", sps);
    return sps;
}

} // namespace

int main() {
    const RECT full{0, 0, 720, 480}, crop{8, 0, 712, 480}, small{0, 0, 640, 360};
    PicturesPerSecond("(a) pass-through 720x480", 1, full, full, 128, 0, 64);
    PicturesPerSecond("(b) crop + 720x480 -> 640x360 4:3", 3, crop, small, 128, 0, 64);
    double c = PicturesPerSecond("(c) (b) + luma gain, hue, saturation", 3, crop, small, 160, 30, 80);
    AudioSecondsPerSecond();
    std::printf("pictures_per_s_c %.1f\n", c);
    return 0;
}
