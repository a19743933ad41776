#include "platform/media/Mpeg2DecodeCore.h"

extern "C" {
#include <libavcodec/avcodec.h>
}

#include "platform/win/DebugTrace.h"

Mpeg2DecodeCore::~Mpeg2DecodeCore() { Close(); }

bool Mpeg2DecodeCore::Open(bool mpeg2, REFERENCE_TIME frameDuration, int threads) {
    Close();
    const AVCodecID id = mpeg2 ? AV_CODEC_ID_MPEG2VIDEO : AV_CODEC_ID_MPEG1VIDEO;
    const AVCodec* codec = avcodec_find_decoder(id);
    if (!codec) return false;
    ctx_ = avcodec_alloc_context3(codec);
    parser_ = av_parser_init(id);
    frame_ = av_frame_alloc();
    packet_ = av_packet_alloc();
    if (!ctx_ || !parser_ || !frame_ || !packet_) {
        Close();
        return false;
    }
    ctx_->thread_count = threads;
    ctx_->thread_type = FF_THREAD_FRAME;
    ctx_->pkt_timebase = AVRational{1, int(UNITS)};
    if (avcodec_open2(ctx_, codec, nullptr) < 0) {
        DebugTrace("Mpeg2DecodeCore: cannot open the decoder\n");
        Close();
        return false;
    }
    frameDuration_ = frameDuration;
    haveNext_ = false;
    return true;
}

void Mpeg2DecodeCore::Close() {
    if (parser_) av_parser_close(parser_);
    parser_ = nullptr;
    avcodec_free_context(&ctx_);
    av_frame_free(&frame_);
    av_packet_free(&packet_);
}

HRESULT Mpeg2DecodeCore::Decode(const std::uint8_t* data, int size, bool hasTime,
                                REFERENCE_TIME start, const FrameSink& sink) {
    if (!ctx_) return E_UNEXPECTED;
    std::int64_t pts = hasTime ? start : AV_NOPTS_VALUE;
    while (size > 0) {
        std::uint8_t* out = nullptr;
        int outSize = 0;
        int used = av_parser_parse2(parser_, ctx_, &out, &outSize, data, size, pts, AV_NOPTS_VALUE, 0);
        if (used < 0) return S_OK; // the parser gave up on this chunk: drop it
        data += used;
        size -= used;
        pts = AV_NOPTS_VALUE; // the time belongs to the first picture only
        if (outSize > 0) {
            HRESULT hr = SendPacket(out, outSize, parser_->pts, sink);
            if (FAILED(hr)) return hr;
        }
    }
    return S_OK;
}

HRESULT Mpeg2DecodeCore::SendPacket(const std::uint8_t* data, int size, std::int64_t pts,
                                    const FrameSink& sink) {
    av_packet_unref(packet_);
    packet_->data = const_cast<std::uint8_t*>(data);
    packet_->size = size;
    packet_->pts = pts;
    int ret = avcodec_send_packet(ctx_, packet_);
    if (ret == AVERROR(EAGAIN)) {
        HRESULT hr = ReceiveFrames(sink);
        if (FAILED(hr)) return hr;
        ret = avcodec_send_packet(ctx_, packet_);
    }
    packet_->data = nullptr;
    packet_->size = 0;
    if (ret < 0 && ret != AVERROR(EAGAIN)) return S_OK; // a damaged picture is skipped
    return ReceiveFrames(sink);
}

HRESULT Mpeg2DecodeCore::ReceiveFrames(const FrameSink& sink) {
    for (;;) {
        int ret = avcodec_receive_frame(ctx_, frame_);
        if (ret < 0) return S_OK; // EAGAIN, EOF or a decoding error: nothing more now
        HRESULT hr = Emit(frame_, sink);
        av_frame_unref(frame_);
        if (FAILED(hr)) return hr;
    }
}

HRESULT Mpeg2DecodeCore::Emit(const AVFrame* frame, const FrameSink& sink) {
    REFERENCE_TIME duration = frameDuration_;
    if (duration <= 0 && ctx_->framerate.num > 0)
        duration = av_rescale(UNITS, ctx_->framerate.den, ctx_->framerate.num);
    if (duration <= 0) duration = UNITS / 25;
    duration += duration * frame->repeat_pict / 2;

    REFERENCE_TIME start = frame->best_effort_timestamp;
    if (start == AV_NOPTS_VALUE) start = frame->pts;
    if (start == AV_NOPTS_VALUE) start = haveNext_ ? nextStart_ : 0;
    // Keep times moving forward: a picture that would start before the previous
    // one ended (rounded time stamps, missing or repeated ones) follows it instead.
    if (haveNext_ && start < nextStart_) start = nextStart_;
    const REFERENCE_TIME stop = start + duration;
    nextStart_ = stop;
    haveNext_ = true;
    return sink(frame, start, stop);
}

HRESULT Mpeg2DecodeCore::Drain(const FrameSink& sink) {
    if (!ctx_) return E_UNEXPECTED;
    std::uint8_t* out = nullptr;
    int outSize = 0;
    av_parser_parse2(parser_, ctx_, &out, &outSize, nullptr, 0, AV_NOPTS_VALUE, AV_NOPTS_VALUE, 0);
    HRESULT hr = S_OK;
    if (outSize > 0) hr = SendPacket(out, outSize, parser_->pts, sink);
    if (SUCCEEDED(hr)) {
        avcodec_send_packet(ctx_, nullptr);
        hr = ReceiveFrames(sink);
    }
    avcodec_flush_buffers(ctx_);
    // A fresh parser: the old one has been told the stream ended.
    av_parser_close(parser_);
    parser_ = av_parser_init(ctx_->codec_id);
    return hr;
}

void Mpeg2DecodeCore::Reset() {
    if (!ctx_) return;
    avcodec_flush_buffers(ctx_);
    av_parser_close(parser_);
    parser_ = av_parser_init(ctx_->codec_id);
    haveNext_ = false;
}
