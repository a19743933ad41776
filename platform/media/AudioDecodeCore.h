// AudioDecodeCore: disc audio in (AC-3, DTS, MPEG audio layers 1 to 3, DVD LPCM
// of 16, 20 or 24 bits), interleaved signed 16-bit PCM out at the stream's rate
// and channel count (libavcodec, libswresample).
//
// Input comes in arbitrary chunks (PES payloads without their private headers);
// compressed formats are cut into frames by libavcodec's parsers. DVD LPCM chunks
// are raw big-endian sample groups described by the wave format.
//
// Times are 100-ns units: a chunk's start time belongs to the first frame that
// begins in it; output times run on from one block to the next and resync to a
// stream time only when it is more than 10 ms away from the running time, so
// they never go backwards within a segment.
//
// Not thread-safe: one streaming thread at a time.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "platform/dshow/DshowTypes.h"
#include "platform/dshow/MediaType.h"

struct AVCodecContext;
struct AVCodecParserContext;
struct AVFrame;
struct AVPacket;
struct SwrContext;

class AudioDecodeCore {
public:
    // pcm: frames x channels interleaved samples (borrowed for the call).
    using PcmSink = std::function<HRESULT(const std::int16_t* pcm, int frames, REFERENCE_TIME start,
                                          REFERENCE_TIME stop)>;

    AudioDecodeCore() = default;
    ~AudioDecodeCore();
    AudioDecodeCore(const AudioDecodeCore&) = delete;
    AudioDecodeCore& operator=(const AudioDecodeCore&) = delete;

    // True when the type is audio this core decodes (with a usable wave format).
    static bool Accepts(const CMediaType& mt);
    // Output rate and channel count a type decodes to (0 when not accepted).
    static void OutputFormat(const CMediaType& mt, int* rate, int* channels);

    bool Open(const CMediaType& mt);
    void Close();
    bool IsOpen() const { return ctx_ != nullptr; }

    HRESULT Decode(const std::uint8_t* data, int size, bool hasTime, REFERENCE_TIME start,
                   const PcmSink& sink);
    HRESULT Drain(const PcmSink& sink);
    void Reset();

    int Rate() const { return outRate_; }
    int Channels() const { return outChannels_; }

private:
    HRESULT SendPacket(const std::uint8_t* data, int size, std::int64_t pts, const PcmSink& sink);
    HRESULT ReceiveFrames(const PcmSink& sink);
    HRESULT Emit(const AVFrame* frame, const PcmSink& sink);
    bool EnsureResampler(const AVFrame* frame);

    AVCodecContext* ctx_ = nullptr;
    AVCodecParserContext* parser_ = nullptr; // null for LPCM
    AVFrame* frame_ = nullptr;
    AVPacket* packet_ = nullptr;
    SwrContext* swr_ = nullptr;
    int swrInRate_ = 0, swrInFormat_ = -1, swrInChannels_ = 0;
    bool lpcm_ = false;
    std::uint8_t lpcmHeader_[3] = {};
    std::vector<std::uint8_t> lpcmBuffer_;
    std::vector<std::int16_t> pcm_;
    int outRate_ = 0, outChannels_ = 0;
    REFERENCE_TIME next_ = 0;
    bool haveNext_ = false;
};
