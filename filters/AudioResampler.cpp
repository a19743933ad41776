#include "filters/AudioResampler.h"

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
}

#include "platform/win/DebugTrace.h"

CAudioResampler::~CAudioResampler() { Close(); }

void CAudioResampler::Close() {
    if (ctx_) swr_free(&ctx_);
    ctx_ = nullptr;
    inChannels_ = inRate_ = outChannels_ = outRate_ = 0;
}

bool CAudioResampler::Open(int inChannels, int inRate, int outChannels, int outRate) {
    Close();
    auto okChannels = [](int c) { return c >= 1 && c <= kMaxChannels; };
    auto okRate = [](int r) { return r >= kMinRate && r <= kMaxRate; };
    if (!okChannels(inChannels) || !okChannels(outChannels) || !okRate(inRate) ||
        !okRate(outRate)) {
        DebugTrace("resampler: unsupported format %d ch %d Hz -> %d ch %d Hz\n", inChannels,
                   inRate, outChannels, outRate);
        return false;
    }
    AVChannelLayout inLayout{}, outLayout{};
    av_channel_layout_default(&inLayout, inChannels);
    av_channel_layout_default(&outLayout, outChannels);
    SwrContext* ctx = nullptr;
    int err = swr_alloc_set_opts2(&ctx, &outLayout, AV_SAMPLE_FMT_S16, outRate, &inLayout,
                                  AV_SAMPLE_FMT_S16, inRate, 0, nullptr);
    av_channel_layout_uninit(&inLayout);
    av_channel_layout_uninit(&outLayout);
    if (err >= 0) err = av_opt_set_int(ctx, "filter_size", 16, 0);
    if (err >= 0) err = av_opt_set_int(ctx, "phase_shift", 10, 0);
    if (err >= 0) err = av_opt_set_int(ctx, "linear_interp", 0, 0);
    if (err >= 0) err = av_opt_set_double(ctx, "cutoff", 0.8, 0);
    if (err >= 0) err = swr_init(ctx);
    if (err < 0) {
        DebugTrace("resampler: swr setup failed (%d)\n", err);
        swr_free(&ctx);
        return false;
    }
    ctx_ = ctx;
    inChannels_ = inChannels;
    inRate_ = inRate;
    outChannels_ = outChannels;
    outRate_ = outRate;
    return true;
}

int CAudioResampler::Convert(const int16_t* in, int inFrames, int16_t* out, int outCapacity) {
    if (!ctx_ || inFrames < 0 || outCapacity < 0) return -1;
    const uint8_t* inPlanes[1] = {reinterpret_cast<const uint8_t*>(in)};
    uint8_t* outPlanes[1] = {reinterpret_cast<uint8_t*>(out)};
    // A non-null input with 0 frames only returns buffered output; a null one
    // would drain the filter as at the end of a stream.
    return swr_convert(ctx_, outPlanes, outCapacity, inPlanes, inFrames);
}

int CAudioResampler::MaxInputFrames(int outCapacity) const {
    if (!ctx_ || outCapacity <= 0) return 0;
    long long n = (long long)outCapacity * inRate_ / outRate_;
    while (n > 0 && swr_get_out_samples(ctx_, int(n)) > outCapacity) n = n * 15 / 16 - 1;
    return n > 0 ? int(n) : 0;
}
