// The audio converter's sound path: volume rounding and clipping, FIFO
// re-cutting and wrapping, pass-through, and resampled tones that keep their
// frequency.
#include <climits>
#include <cmath>
#include <cstring>
#include <ostream>
#include <vector>

#include <gtest/gtest.h>

#include "filters/AudioConvCore.h"

namespace {

TEST(AudioVolume, RoundingAndClipping) {
    struct {
        int16_t in;
        int32_t volume;
        int16_t out;
    } const cases[] = {
        {1, 128, 1},          {-1, 128, 0},         {3, 128, 2},           {-3, 128, -1},
        {100, 256, 100},      {-32768, 256, -32768}, {20000, 512, 32767},  {-20000, 512, -32768},
        {16383, 512, 16383 * 2}, {12345, 0, 0},     {-12345, 0, 0},        {1000, -256, -1000},
        {-32768, -256, 32767}, {1, INT_MAX, 32767}, {-1, INT_MAX, -32768}, {2, INT_MIN, -32768},
        {255, 1, 1},          {127, 1, 0},          {-128, 1, 0},          {-129, 1, -1},
    };
    for (const auto& c : cases) {
        int16_t s = c.in;
        CAudioConvCore::ApplyVolume(&s, 1, c.volume);
        EXPECT_EQ(s, c.out) << c.in << " * " << c.volume;
    }
}

TEST(AudioFifo, WrapsAndDropsWhatDoesNotFit) {
    CAudioFifo fifo(10);
    uint8_t data[16], out[16];
    for (int i = 0; i < 16; ++i) data[i] = uint8_t(i + 1);
    EXPECT_EQ(fifo.Write(data, 7), 7u);
    EXPECT_EQ(fifo.Read(out, 5), 5u);
    EXPECT_EQ(fifo.Write(data + 7, 8), 8u); // wraps at the end of the ring
    EXPECT_EQ(fifo.Count(), 10u);
    EXPECT_EQ(fifo.Write(data, 3), 0u);     // full: dropped
    EXPECT_EQ(fifo.Read(out, 16), 10u);
    for (int i = 0; i < 10; ++i) EXPECT_EQ(out[i], i + 6);
    EXPECT_EQ(fifo.Read(out, 4), 0u);
}

std::vector<int16_t> Tone(int channels, int rate, double hz, int frames, double amp = 8000) {
    std::vector<int16_t> s(size_t(frames) * channels);
    for (int i = 0; i < frames; ++i)
        for (int c = 0; c < channels; ++c)
            s[size_t(i) * channels + c] = int16_t(amp * std::sin(2 * M_PI * hz * i / rate));
    return s;
}

const uint8_t* Bytes(const std::vector<int16_t>& v) {
    return reinterpret_cast<const uint8_t*>(v.data());
}

// Pushes the input in decoder-sized pieces and pulls 115,200-byte buffers
// as the filter does; returns everything that came out.
std::vector<int16_t> Stream(CAudioConvCore& core, const std::vector<int16_t>& in, size_t piece,
                         int32_t volume = 256) {
    std::vector<int16_t> out;
    std::vector<uint8_t> buf(115200);
    const size_t total = in.size() * 2;
    for (size_t off = 0; off < total; off += piece) {
        EXPECT_EQ(core.Push(Bytes(in) + off, std::min(piece, total - off)), 0u);
        size_t got = core.Pull(buf.data(), buf.size(), volume);
        size_t n = out.size();
        out.resize(n + got / 2);
        std::memcpy(out.data() + n, buf.data(), got);
    }
    return out;
}

// Frequency from the zero crossings of one channel, skipping the start.
double Frequency(const std::vector<int16_t>& s, int channels, int channel, int rate) {
    size_t frames = s.size() / channels, first = 0, last = 0;
    int crossings = 0;
    for (size_t i = frames / 10; i + 1 < frames; ++i) {
        int a = s[i * channels + channel], b = s[(i + 1) * channels + channel];
        if (a < 0 && b >= 0) {
            if (!crossings) first = i;
            last = i;
            ++crossings;
        }
    }
    if (crossings < 2) return 0;
    return (crossings - 1) * double(rate) / double(last - first);
}

double Rms(const std::vector<int16_t>& s, int channels, int channel) {
    double sum = 0;
    size_t frames = s.size() / channels, n = 0;
    for (size_t i = frames / 10; i < frames; ++i, ++n) sum += double(s[i * channels + channel]) * s[i * channels + channel];
    return n ? std::sqrt(sum / n) : 0;
}

TEST(AudioConvCore, PassThroughKeepsEveryByte) {
    CAudioConvCore core;
    ASSERT_TRUE(core.Configure(2, 48000, 2, 48000, false));
    EXPECT_FALSE(core.Resampling());
    auto in = Tone(2, 48000, 440, 48000);
    EXPECT_EQ(Stream(core, in, 6144), in);
}

TEST(AudioConvCore, LargeInputLeavesWithTheFollowingSamples) {
    CAudioConvCore core;
    ASSERT_TRUE(core.Configure(2, 48000, 2, 48000, false));
    std::vector<uint8_t> in(200000), out(115200);
    for (size_t i = 0; i < in.size(); ++i) in[i] = uint8_t(i * 31);
    EXPECT_EQ(core.Push(in.data(), in.size()), 0u);
    EXPECT_EQ(core.Pull(out.data(), out.size(), 256), 115200u);
    EXPECT_EQ(0, std::memcmp(out.data(), in.data(), 115200));
    EXPECT_EQ(core.Fifo().Count(), 200000u - 115200u);
    EXPECT_EQ(core.Push(in.data(), 4), 0u);
    EXPECT_EQ(core.Pull(out.data(), out.size(), 256), 200000u - 115200u + 4);
    EXPECT_EQ(0, std::memcmp(out.data(), in.data() + 115200, 200000 - 115200));
}

TEST(AudioConvCore, PartialFramesAreIgnored) {
    CAudioConvCore core;
    ASSERT_TRUE(core.Configure(2, 48000, 2, 48000, false));
    uint8_t in[7] = {1, 2, 3, 4, 5, 6, 7}, out[16];
    core.Push(in, 7);
    EXPECT_EQ(core.Fifo().Count(), 4u);
    EXPECT_EQ(core.Pull(out, 3, 256), 0u); // less than one output frame asked
    EXPECT_EQ(core.Pull(out, 16, 256), 4u);
}

TEST(AudioConvCore, FullFifoDropsTheExcess) {
    CAudioConvCore core;
    ASSERT_TRUE(core.Configure(1, 48000, 1, 48000, false));
    std::vector<uint8_t> in(CAudioConvCore::kFifoBytes + 1000);
    EXPECT_EQ(core.Push(in.data(), in.size()), 1000u);
    EXPECT_EQ(core.Fifo().Count(), CAudioConvCore::kFifoBytes);
}

struct ToneCase {
    int inCh, inRate, outCh, outRate;
    double hz;
    unsigned loud; // output channels that carry the tone (bit per channel)
};

void PrintTo(const ToneCase& c, std::ostream* os) {
    *os << c.inCh << "ch " << c.inRate << " Hz -> " << c.outCh << "ch " << c.outRate << " Hz, tone "
        << c.hz << " Hz";
}

class ResampledTone : public testing::TestWithParam<ToneCase> {};

TEST_P(ResampledTone, KeepsItsFrequencyAndLength) {
    const ToneCase c = GetParam();
    CAudioConvCore core;
    ASSERT_TRUE(core.Configure(c.inCh, c.inRate, c.outCh, c.outRate, true));
    ASSERT_TRUE(core.Resampling());
    const int seconds = 2;
    auto in = Tone(c.inCh, c.inRate, c.hz, c.inRate * seconds);
    // 1536-frame pieces, as an AC-3 decoder delivers them.
    auto out = Stream(core, in, size_t(1536) * 2 * c.inCh);
    const double frames = double(out.size()) / c.outCh;
    EXPECT_NEAR(frames, double(c.outRate) * seconds, 64.0); // less the filter delay
    for (int ch = 0; ch < c.outCh; ++ch) {
        if (!(c.loud >> ch & 1)) {
            EXPECT_LT(Rms(out, c.outCh, ch), 1.0) << "channel " << ch;
            continue;
        }
        EXPECT_NEAR(Frequency(out, c.outCh, ch, c.outRate), c.hz, c.hz * 0.002) << "channel " << ch;
        EXPECT_GT(Rms(out, c.outCh, ch), 1000.0) << "channel " << ch;
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, ResampledTone,
                         // Upmixing leaves the channels a source lacks silent
                         // (mono goes to the centre, stereo to front left/right).
                         testing::Values(ToneCase{6, 48000, 2, 44100, 1000, 0x3},
                                         ToneCase{2, 48000, 2, 44100, 440, 0x3},
                                         ToneCase{2, 44100, 2, 48000, 3000, 0x3},
                                         ToneCase{2, 48000, 1, 22050, 1000, 0x1},
                                         ToneCase{1, 32000, 6, 48000, 500, 0x4},
                                         ToneCase{2, 48000, 6, 48000, 1000, 0x3}));

TEST(AudioConvCore, VolumeAppliesAfterResampling) {
    CAudioConvCore full, half;
    ASSERT_TRUE(full.Configure(2, 48000, 2, 44100, true));
    ASSERT_TRUE(half.Configure(2, 48000, 2, 44100, true));
    auto in = Tone(2, 48000, 1000, 48000);
    auto a = Stream(full, in, 6144), b = Stream(half, in, 6144, 128);
    ASSERT_EQ(a.size(), b.size());
    for (size_t i = 0; i < a.size(); ++i) ASSERT_EQ(b[i], (a[i] * 128 + 128) >> 8);
}

// Upsampling a big input in one piece must not overflow the resample buffer.
TEST(AudioConvCore, BigUpsampledInputIsCutIntoPieces) {
    CAudioConvCore core;
    ASSERT_TRUE(core.Configure(1, 8000, 8, 96000, true));
    auto in = Tone(1, 8000, 100, 2000); // 0.25 s -> 24,000 frames of 16 bytes
    size_t bound = core.MaxPushOutput(in.size() * 2);
    EXPECT_EQ(core.Push(Bytes(in), in.size() * 2), 0u);
    EXPECT_LE(core.Fifo().Count(), bound);
    EXPECT_GT(core.Fifo().Count(), CAudioConvCore::kResampleBytes);
    // Less the filter delay: 8 input frames, 96 output frames at 12x.
    EXPECT_NEAR(double(core.Fifo().Count()) / 16, 24000.0 - 96, 16.0);
}

TEST(AudioConvCore, RefusesFormatsItCannotConvert) {
    struct {
        int inCh, inRate, outCh, outRate;
    } const cases[] = {
        {0, 48000, 2, 44100}, {2, 48000, 0, 44100}, {2, 0, 2, 44100},      {2, 48000, 2, -1},
        {65, 48000, 2, 48000}, {2, 48000, 0xFFFF, 48000}, {2, 48000, 2, 0x0FFFFFFF},
    };
    for (const auto& c : cases) {
        CAudioConvCore core;
        EXPECT_FALSE(core.Configure(c.inCh, c.inRate, c.outCh, c.outRate, true))
            << c.inCh << " " << c.inRate << " " << c.outCh << " " << c.outRate;
        uint8_t buf[64] = {};
        core.Push(buf, sizeof buf); // harmless after a refusal
        EXPECT_EQ(core.Pull(buf, sizeof buf, 256), 0u);
    }
}

} // namespace
