#include "platform/media/Mpeg2DecodeCore.h"

extern "C" {
#include <libavcodec/avcodec.h>
}

#include <algorithm>

#include "platform/win/DebugTrace.h"

Mpeg2DecodeCore::~Mpeg2DecodeCore() {
    Close();
}

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
        int used =
            av_parser_parse2(parser_, ctx_, &out, &outSize, data, size, pts, AV_NOPTS_VALUE, 0);
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
    // Frame rate: the stream's own, else the header's frame duration, else 25.
    AVRational rate = ctx_->framerate;
    if (rate.num <= 0 || rate.den <= 0)
        rate = frameDuration_ > 0 ? AVRational{int(UNITS), int(frameDuration_)} : AVRational{25, 1};
    auto sinceAnchor = [&](std::int64_t halves) {
        return av_rescale(halves, UNITS * rate.den, 2 * std::int64_t(rate.num));
    };

    std::int64_t pts = frame->best_effort_timestamp;
    if (pts == AV_NOPTS_VALUE) pts = frame->pts;
    REFERENCE_TIME start;
    if (pts != AV_NOPTS_VALUE) {
        // A time of its own; never before the previous picture's end.
        start = haveNext_ && pts < nextStart_ ? nextStart_ : pts;
        anchor_ = start;
        halfFrames_ = 0;
    } else {
        // Counted on from the last picture with a time, in exact frame-rate steps.
        start = haveNext_ ? anchor_ + sinceAnchor(halfFrames_) : 0;
        if (!haveNext_) {
            anchor_ = 0;
            halfFrames_ = 0;
        }
    }
    // Two fields per picture, plus one for each repeated field.
    halfFrames_ += 2 + std::max(0, frame->repeat_pict);
    const REFERENCE_TIME stop = anchor_ + sinceAnchor(halfFrames_);
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
