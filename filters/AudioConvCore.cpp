#include "filters/AudioConvCore.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

CAudioConvCore::CAudioConvCore() : fifo_(kFifoBytes) {}

bool CAudioConvCore::Configure(int inChannels, int inRate, int outChannels, int outRate,
                               bool resample) {
    resampler_.Close();
    inChannels_ = inChannels;
    inRate_ = inRate;
    outChannels_ = outChannels;
    outRate_ = outRate;
    bool ok;
    if (!resample) {
        ok = inChannels == outChannels && inChannels > 0;
    } else {
        if (!resampleBuf_) resampleBuf_.reset(new (std::nothrow) int16_t[kResampleBytes / 2]);
        ok = resampleBuf_ && resampler_.Open(inChannels, inRate, outChannels, outRate);
    }
    if (!ok) inChannels_ = outChannels_ = 0; // refuses all sound until configured again
    return ok;
}

size_t CAudioConvCore::MaxPushOutput(size_t n) const {
    if (!resampler_.IsOpen()) return n;
    // Chunks of at most one resample buffer; at least one more for what the
    // resampler holds back.
    size_t chunk = size_t(resampler_.MaxInputFrames(int(kResampleBytes / OutFrameBytes())));
    size_t frames = InFrameBytes() ? n / InFrameBytes() : 0;
    size_t chunks = chunk ? frames / chunk + 1 : 1;
    return chunks * kResampleBytes;
}

size_t CAudioConvCore::Push(const uint8_t* data, size_t n) {
    if (inChannels_ <= 0 || outChannels_ <= 0) return 0;
    size_t frames = n / InFrameBytes();
    size_t dropped = 0;
    if (!resampler_.IsOpen()) {
        size_t bytes = frames * InFrameBytes();
        return bytes - fifo_.Write(data, bytes);
    }
    // Resample in pieces that surely fit the resample buffer, so nothing
    // piles up inside the resampler.
    const int capacity = int(kResampleBytes / OutFrameBytes());
    const int chunk = std::max(1, resampler_.MaxInputFrames(capacity));
    const int16_t* in = reinterpret_cast<const int16_t*>(data);
    std::vector<int16_t> aligned;
    if (reinterpret_cast<uintptr_t>(data) % alignof(int16_t)) {
        aligned.resize(frames * inChannels_);
        std::memcpy(aligned.data(), data, frames * InFrameBytes());
        in = aligned.data();
    }
    size_t done = 0;
    do {
        int count = int(std::min<size_t>(frames - done, size_t(chunk)));
        int got = resampler_.Convert(in + done * inChannels_, count, resampleBuf_.get(), capacity);
        if (got < 0) break;
        size_t bytes = size_t(got) * OutFrameBytes();
        dropped += bytes - fifo_.Write(reinterpret_cast<const uint8_t*>(resampleBuf_.get()), bytes);
        done += size_t(count);
    } while (done < frames);
    return dropped;
}

size_t CAudioConvCore::Pull(uint8_t* out, size_t maxBytes, int32_t volume) {
    if (outChannels_ <= 0) return 0;
    size_t want = std::min(maxBytes, fifo_.Count());
    want -= want % OutFrameBytes();
    size_t got = fifo_.Read(out, want);
    if (volume != kUnityVolume) {
        // The output buffer may be unaligned: scale through an aligned copy
        // in small steps.
        int16_t tmp[2048];
        for (size_t off = 0; off < got; off += sizeof tmp) {
            size_t len = std::min(sizeof tmp, got - off);
            std::memcpy(tmp, out + off, len);
            ApplyVolume(tmp, len / 2, volume);
            std::memcpy(out + off, tmp, len);
        }
    }
    return got;
}

void CAudioConvCore::ApplyVolume(int16_t* s, size_t count, int32_t volume) {
    if (volume == kUnityVolume) return;
    const int64_t v = volume;
    for (size_t i = 0; i < count; ++i) {
        int64_t x = (int64_t(s[i]) * v + 128) >> 8;
        s[i] = int16_t(std::clamp<int64_t>(x, -32768, 32767));
    }
}
