// Mpeg2DecodeCore: MPEG-1/2 video elementary stream in, decoded pictures with
// monotonic times out (libavcodec, frame threads). Input arrives in arbitrary
// chunks (PES payloads); a parser cuts it into pictures and keeps each chunk's
// start time with the picture that begins in it.
//
// Times are 100-ns units. A picture without a time of its own follows the one
// before it, counted in exact frame-rate steps from the last picture that had
// one; its duration is one frame, plus half a frame per repeated field. Times never go backwards
// within a segment (Reset starts a new one).
//
// Not thread-safe: one streaming thread at a time (the decoder's streaming lock).
#pragma once

#include <cstdint>
#include <functional>

#include "platform/dshow/DshowTypes.h"

struct AVCodecContext;
struct AVCodecParserContext;
struct AVFrame;
struct AVPacket;

class Mpeg2DecodeCore {
public:
    // Called for each decoded picture in presentation order (frame borrowed for the call).
    // A failure stops decoding and is returned by Decode / Drain.
    using FrameSink =
        std::function<HRESULT(const AVFrame* frame, REFERENCE_TIME start, REFERENCE_TIME stop)>;

    Mpeg2DecodeCore() = default;
    ~Mpeg2DecodeCore();
    Mpeg2DecodeCore(const Mpeg2DecodeCore&) = delete;
    Mpeg2DecodeCore& operator=(const Mpeg2DecodeCore&) = delete;

    // mpeg2: MPEG-2 (else MPEG-1) decoder; frameDuration: from the stream's
    // header (0: taken from the decoder); threads: 0 = one per core.
    bool Open(bool mpeg2, REFERENCE_TIME frameDuration, int threads = 0);
    void Close();
    bool IsOpen() const { return ctx_ != nullptr; }

    // Feeds one chunk; hasTime says whether start is the time of the first picture
    // that begins in it.
    HRESULT Decode(const std::uint8_t* data, int size, bool hasTime, REFERENCE_TIME start,
                   const FrameSink& sink);
    // End of stream: returns the pictures still held by the parser and the decoder,
    // then leaves the core ready for more data.
    HRESULT Drain(const FrameSink& sink);
    // Drops everything held (flush, seek) and starts a new time segment.
    void Reset();

    REFERENCE_TIME FrameDuration() const { return frameDuration_; }

private:
    HRESULT SendPacket(const std::uint8_t* data, int size, std::int64_t pts, const FrameSink& sink);
    HRESULT ReceiveFrames(const FrameSink& sink);
    HRESULT Emit(const AVFrame* frame, const FrameSink& sink);

    AVCodecContext* ctx_ = nullptr;
    AVCodecParserContext* parser_ = nullptr;
    AVFrame* frame_ = nullptr;
    AVPacket* packet_ = nullptr;
    REFERENCE_TIME frameDuration_ = 0;
    REFERENCE_TIME nextStart_ = 0; // stop of the last picture out
    REFERENCE_TIME anchor_ = 0;    // start of the last picture that had a time
    std::int64_t halfFrames_ = 0;  // fields since the anchor
    bool haveNext_ = false;
};
