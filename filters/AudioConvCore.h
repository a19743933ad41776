// The sound path of the audio converter without the pipeline around it:
// optional resampling/remixing (CAudioResampler), a 512 KiB byte FIFO that
// re-cuts the sound to the output buffer size, and the volume factor.
//
// Sound is interleaved 16-bit signed PCM. Data only ever moves in whole
// sample frames (2 * channels bytes): a partial frame at the end of an input
// buffer is ignored, so one damaged length cannot shift every later sample.
// One streaming thread at a time; Configure must not overlap Push/Pull.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "filters/AudioFifo.h"
#include "filters/AudioResampler.h"

class CAudioConvCore {
public:
    static constexpr size_t kFifoBytes = 0x80000;      // 524,288
    static constexpr size_t kResampleBytes = 0x40000;  // 262,144
    static constexpr int kUnityVolume = 256;

    CAudioConvCore();

    // Sets the formats. With resample on, a resampler is opened (false when
    // it cannot be); with it off the bytes pass unchanged, and the output
    // format must then equal the input format. The FIFO keeps its contents.
    bool Configure(int inChannels, int inRate, int outChannels, int outRate, bool resample);
    bool Resampling() const { return resampler_.IsOpen(); }
    int InFrameBytes() const { return 2 * inChannels_; }
    int OutFrameBytes() const { return 2 * outChannels_; }

    // Converts n input bytes and appends the result to the FIFO. Returns the
    // bytes that did not fit and were dropped (0 while the FIFO has room).
    // The result of one call never exceeds MaxPushOutput(n) bytes.
    size_t Push(const uint8_t* data, size_t n);
    // Upper bound of the FIFO bytes Push(n bytes) may add.
    size_t MaxPushOutput(size_t n) const;

    // Moves up to maxBytes (whole output frames) from the FIFO to out and
    // applies the volume; returns the bytes written.
    size_t Pull(uint8_t* out, size_t maxBytes, int32_t volume);

    const CAudioFifo& Fifo() const { return fifo_; }

    // s -> (s * volume + 128) >> 8, clamped to 16 bits; 256 leaves s as is.
    static void ApplyVolume(int16_t* samples, size_t count, int32_t volume);

private:
    CAudioResampler resampler_;
    std::unique_ptr<int16_t[]> resampleBuf_; // kResampleBytes, made on first need
    CAudioFifo fifo_;
    int inChannels_ = 0, inRate_ = 0, outChannels_ = 0, outRate_ = 0;
};
