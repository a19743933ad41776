// Throughput of the video and audio converters on one thread, through the
// filters' own per-sample path (Transform on allocator samples, with the
// plan made by the type check): pictures per second for pass-through, crop +
// fit 4:3 into 640x360, and the same with luma gain, hue and saturation;
// audio seconds per second for 48 kHz 5.1 to 44.1 kHz stereo.
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <random>
#include <vector>

#include "filters/MyAudioConveFilter.h"
#include "filters/MyVideoConveFilter.h"
#include "platform/dshow/MemAllocator.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point a, Clock::time_point b) {
    return std::chrono::duration<double>(b - a).count();
}

// Two samples of `bytes` from a committed allocator (released with it).
struct Samples {
    IMemAllocator* alloc = nullptr;
    IMediaSample* in = nullptr;
    IMediaSample* out = nullptr;
    Samples(LONG inBytes, LONG outBytes) {
        CMemAllocator::Create(&alloc);
        ALLOCATOR_PROPERTIES req{2, std::max(inBytes, outBytes), 16, 0}, got{};
        alloc->SetProperties(&req, &got);
        alloc->Commit();
        alloc->GetBuffer(&in, nullptr, nullptr, 0);
        alloc->GetBuffer(&out, nullptr, nullptr, 0);
    }
    ~Samples() {
        in->Release();
        out->Release();
        alloc->Decommit();
        alloc->Release();
    }
};

CMediaType VideoType(LONG w, LONG h) {
    CMediaType mt(&MEDIATYPE_Video);
    mt.SetSubtype(&MEDIASUBTYPE_YV12);
    mt.SetFormatType(&FORMAT_VideoInfo);
    auto* v = reinterpret_cast<VIDEOINFOHEADER*>(mt.AllocFormatBuffer(sizeof(VIDEOINFOHEADER)));
    v->bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    v->bmiHeader.biWidth = w;
    v->bmiHeader.biHeight = h;
    v->bmiHeader.biBitCount = 12;
    v->bmiHeader.biSizeImage = DWORD(w * h * 3 / 2);
    return mt;
}

CMediaType AudioType(WORD channels, DWORD rate) {
    CMediaType mt(&MEDIATYPE_Audio);
    mt.SetSubtype(&MEDIASUBTYPE_PCM);
    mt.SetFormatType(&FORMAT_WaveFormatEx);
    auto* w = reinterpret_cast<WAVEFORMATEX*>(mt.AllocFormatBuffer(sizeof(WAVEFORMATEX)));
    w->wFormatTag = WAVE_FORMAT_PCM;
    w->nChannels = channels;
    w->nSamplesPerSec = rate;
    w->wBitsPerSample = 16;
    w->nBlockAlign = WORD(2 * channels);
    w->nAvgBytesPerSec = rate * w->nBlockAlign;
    return mt;
}

// A picture with gradients, edges and noise, so nothing is trivially flat.
void FillPicture(BYTE* p, int w, int h) {
    std::mt19937 rng(7);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            p[size_t(y) * w + x] =
                uint8_t(16 + (x * 219 / w + ((x / 40 + y / 40) & 1) * 30 + rng() % 9) % 220);
    BYTE* c = p + size_t(w) * h;
    for (size_t i = 0; i < size_t(w / 2) * (h / 2) * 2; ++i)
        c[i] = uint8_t(64 + (i * 7 + rng() % 5) % 128);
}

double PicturesPerSecond(const char* name, LONG mode, RECT crop, RECT out, int gain, int hue,
                         int sat) {
    const LONG W = 720, H = 480;
    auto* f = new CMyVideoConveFilter(nullptr, nullptr);
    f->NonDelegatingAddRef();
    f->SetGeometry(mode, crop.left, crop.top, crop.right, crop.bottom, out.left, out.top,
                   out.right, out.bottom);
    f->SetLumaGain(gain);
    f->SetHue(hue);
    f->SetSaturation(sat);
    CMediaType in = VideoType(W, H), outType = VideoType(out.right, out.bottom);
    double pps = 0;
    if (f->CheckInputType(&in) == S_OK && f->CheckTransform(&in, &outType) == S_OK) {
        Samples s(W * H * 3 / 2, out.right * out.bottom * 3 / 2);
        BYTE* p = nullptr;
        s.in->GetPointer(&p);
        FillPicture(p, W, H);
        s.in->SetActualDataLength(W * H * 3 / 2);
        for (int i = 0; i < 20; ++i) f->Transform(s.in, s.out);
        int n = 0;
        auto t0 = Clock::now(), t1 = t0;
        while (Seconds(t0, t1) < 2.0) {
            for (int i = 0; i < 50; ++i, ++n)
                if (f->Transform(s.in, s.out) != S_OK) std::printf("transform failed\n");
            t1 = Clock::now();
        }
        pps = n / Seconds(t0, t1);
    }
    std::printf("video %-44s %8.1f pictures/s  (%.3f ms each)\n", name, pps,
                pps ? 1000.0 / pps : 0.0);
    f->NonDelegatingRelease();
    return pps;
}

double AudioSecondsPerSecond() {
    auto* f = new CMyAudioConveFilter(nullptr, nullptr);
    f->NonDelegatingAddRef();
    f->SetOutputFormat(2, 44100);
    f->SetVolume(200);
    CMediaType in = AudioType(6, 48000), out = AudioType(2, 44100);
    double sps = 0;
    if (f->SetMediaType(PINDIR_INPUT, &in) == S_OK && f->SetMediaType(PINDIR_OUTPUT, &out) == S_OK) {
        // One AC-3 frame's worth of 5.1 sound per input sample: 1536 frames.
        const int frames = 1536, channels = 6;
        Samples s(frames * channels * 2, CMyAudioConveFilter::kBufferBytes);
        BYTE* p = nullptr;
        s.in->GetPointer(&p);
        auto* pcm = reinterpret_cast<int16_t*>(p);
        for (int i = 0; i < frames; ++i)
            for (int c = 0; c < channels; ++c)
                pcm[i * channels + c] =
                    int16_t(8000 * std::sin(2 * M_PI * (440 + 100 * c) * i / 48000.0));
        s.in->SetActualDataLength(frames * channels * 2);
        long long done = 0;
        auto t0 = Clock::now(), t1 = t0;
        while (Seconds(t0, t1) < 2.0) {
            for (int i = 0; i < 100; ++i, done += frames) f->Transform(s.in, s.out);
            t1 = Clock::now();
        }
        sps = double(done) / 48000.0 / Seconds(t0, t1);
    }
    std::printf("audio %-44s %8.1f audio seconds/s\n", "48 kHz 5.1 -> 44.1 kHz stereo, volume 200",
                sps);
    f->NonDelegatingRelease();
    return sps;
}

} // namespace

int main() {
    const RECT full{0, 0, 720, 480}, crop{8, 0, 712, 480}, small{0, 0, 640, 360};
    PicturesPerSecond("(a) pass-through 720x480", AspectFullScreen, full, full, 128, 0, 64);
    PicturesPerSecond("(b) crop + 720x480 -> 640x360 4:3", Aspect4x3, crop, small, 128, 0, 64);
    double c = PicturesPerSecond("(c) (b) + luma gain, hue, saturation", Aspect4x3, crop, small,
                                 160, 30, 80);
    AudioSecondsPerSecond();
    std::printf("pictures_per_s_c %.1f\n", c);
    return 0;
}
