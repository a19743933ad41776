// Sample-rate and channel conversion of interleaved 16-bit PCM with
// libswresample, set up as the converter wants it: polyphase filter of
// length 16, 2^10 phases, no linear interpolation, cutoff 0.8, 16-bit in and
// out; channel counts map to FFmpeg's default layouts (1 mono, 2 stereo,
// 6 5.1, ...) and the downmix/upmix matrix is swresample's.
// One thread at a time.
#pragma once

#include <cstdint>

struct SwrContext;

class CAudioResampler {
public:
    // Limits of what Open accepts.
    static constexpr int kMaxChannels = 64;
    static constexpr int kMinRate = 1000;
    static constexpr int kMaxRate = 768000;

    CAudioResampler() = default;
    ~CAudioResampler();
    CAudioResampler(const CAudioResampler&) = delete;
    CAudioResampler& operator=(const CAudioResampler&) = delete;

    // Closes any previous context and opens a new one. False when a count or
    // rate is outside the limits or swresample refuses the conversion.
    bool Open(int inChannels, int inRate, int outChannels, int outRate);
    void Close();
    bool IsOpen() const { return ctx_ != nullptr; }

    // Converts inFrames frames (inChannels samples each) into out, which has
    // room for outCapacity frames. Returns the frames written, or -1 on error.
    // Input that does not fit stays buffered inside the resampler; callers
    // avoid that by passing at most MaxInputFrames(outCapacity) frames.
    int Convert(const int16_t* in, int inFrames, int16_t* out, int outCapacity);

    // The largest input frame count whose output surely fits outCapacity.
    int MaxInputFrames(int outCapacity) const;

    int InChannels() const { return inChannels_; }
    int OutChannels() const { return outChannels_; }

private:
    SwrContext* ctx_ = nullptr;
    int inChannels_ = 0, inRate_ = 0, outChannels_ = 0, outRate_ = 0;
};
