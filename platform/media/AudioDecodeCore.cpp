#include "platform/media/AudioDecodeCore.h"

#include <cstdlib>
#include <cstring>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
}

#include "platform/dshow/FormatBlocks.h"
#include "platform/win/DebugTrace.h"

namespace {

constexpr REFERENCE_TIME kResyncTolerance = 10 * MILLISECONDS;

const WAVEFORMATEX* Wave(const CMediaType& mt) {
    if (mt.formattype != FORMAT_WaveFormatEx || !mt.pbFormat || mt.cbFormat < sizeof(WAVEFORMATEX))
        return nullptr;
    return reinterpret_cast<const WAVEFORMATEX*>(mt.pbFormat);
}

AVCodecID CodecOf(const CMediaType& mt) {
    if (mt.majortype != MEDIATYPE_Audio) return AV_CODEC_ID_NONE;
    const GUID& s = mt.subtype;
    if (s == MEDIASUBTYPE_DOLBY_AC3) return AV_CODEC_ID_AC3;
    if (s == MEDIASUBTYPE_DTS) return AV_CODEC_ID_DTS;
    if (s == MEDIASUBTYPE_DVD_LPCM_AUDIO) return AV_CODEC_ID_PCM_DVD;
    if (s == MEDIASUBTYPE_MP3) return AV_CODEC_ID_MP3;
    if (s == MEDIASUBTYPE_MPEG2_AUDIO) return AV_CODEC_ID_MP2;
    if (s == MEDIASUBTYPE_MPEG1AudioPayload || s == MEDIASUBTYPE_MPEG1Audio ||
        s == MEDIASUBTYPE_MPEG1Packet) {
        const WAVEFORMATEX* w = Wave(mt);
        if (w && w->wFormatTag == WAVE_FORMAT_MPEG && mt.cbFormat >= sizeof(MPEG1WAVEFORMAT)) {
            WORD layer = reinterpret_cast<const MPEG1WAVEFORMAT*>(w)->fwHeadLayer;
            if (layer == ACM_MPEG_LAYER1) return AV_CODEC_ID_MP1;
            if (layer == ACM_MPEG_LAYER3) return AV_CODEC_ID_MP3;
        }
        return AV_CODEC_ID_MP2;
    }
    return AV_CODEC_ID_NONE;
}

} // namespace

AudioDecodeCore::~AudioDecodeCore() {
    Close();
}

bool AudioDecodeCore::Accepts(const CMediaType& mt) {
    const WAVEFORMATEX* w = Wave(mt);
    const AVCodecID id = CodecOf(mt);
    if (!w || id == AV_CODEC_ID_NONE) return false;
    if (w->nChannels < 1 || w->nChannels > 8 || w->nSamplesPerSec < 8000 ||
        w->nSamplesPerSec > 192000)
        return false;
    if (id == AV_CODEC_ID_PCM_DVD)
        return (w->wBitsPerSample == 16 || w->wBitsPerSample == 20 || w->wBitsPerSample == 24) &&
               (w->nSamplesPerSec == 48000 || w->nSamplesPerSec == 96000);
    return true;
}

void AudioDecodeCore::OutputFormat(const CMediaType& mt, int* rate, int* channels) {
    *rate = *channels = 0;
    if (!Accepts(mt)) return;
    const WAVEFORMATEX* w = Wave(mt);
    *rate = int(w->nSamplesPerSec);
    *channels = w->nChannels;
}

bool AudioDecodeCore::Open(const CMediaType& mt) {
    Close();
    if (!Accepts(mt)) return false;
    const AVCodecID id = CodecOf(mt);
    const WAVEFORMATEX* w = Wave(mt);
    const AVCodec* codec = avcodec_find_decoder(id);
    if (!codec) return false;
    ctx_ = avcodec_alloc_context3(codec);
    frame_ = av_frame_alloc();
    packet_ = av_packet_alloc();
    lpcm_ = id == AV_CODEC_ID_PCM_DVD;
    if (!lpcm_) parser_ = av_parser_init(id);
    if (!ctx_ || !frame_ || !packet_ || (!lpcm_ && !parser_)) {
        Close();
        return false;
    }
    ctx_->pkt_timebase = AVRational{1, int(UNITS)};
    ctx_->sample_rate = int(w->nSamplesPerSec);
    av_channel_layout_default(&ctx_->ch_layout, w->nChannels);
    if (lpcm_) {
        // The LPCM header the demultiplexer removed, rebuilt from the wave format.
        const int quant = (w->wBitsPerSample - 16) / 4;
        const int freq = w->nSamplesPerSec == 96000 ? 1 : 0;
        lpcmHeader_[0] = 0;
        lpcmHeader_[1] = std::uint8_t((quant << 6) | (freq << 4) | (w->nChannels - 1));
        lpcmHeader_[2] = 0x80;
    }
    if (avcodec_open2(ctx_, codec, nullptr) < 0) {
        DebugTrace("AudioDecodeCore: cannot open decoder %d\n", int(id));
        Close();
        return false;
    }
    outRate_ = int(w->nSamplesPerSec);
    outChannels_ = w->nChannels;
    haveNext_ = false;
    return true;
}

void AudioDecodeCore::Close() {
    if (parser_) av_parser_close(parser_);
    parser_ = nullptr;
    avcodec_free_context(&ctx_);
    av_frame_free(&frame_);
    av_packet_free(&packet_);
    swr_free(&swr_);
    swrInFormat_ = -1;
}

HRESULT AudioDecodeCore::Decode(const std::uint8_t* data, int size, bool hasTime,
                                REFERENCE_TIME start, const PcmSink& sink) {
    if (!ctx_) return E_UNEXPECTED;
    if (size <= 0) return S_OK;
    std::int64_t pts = hasTime ? start : AV_NOPTS_VALUE;
    if (lpcm_) {
        lpcmBuffer_.assign(lpcmHeader_, lpcmHeader_ + 3);
        lpcmBuffer_.insert(lpcmBuffer_.end(), data, data + size);
        lpcmBuffer_.resize(lpcmBuffer_.size() + AV_INPUT_BUFFER_PADDING_SIZE, 0);
        return SendPacket(lpcmBuffer_.data(), size + 3, pts, sink);
    }
    while (size > 0) {
        std::uint8_t* out = nullptr;
        int outSize = 0;
        int used =
            av_parser_parse2(parser_, ctx_, &out, &outSize, data, size, pts, AV_NOPTS_VALUE, 0);
        if (used < 0) return S_OK;
        data += used;
        size -= used;
        pts = AV_NOPTS_VALUE;
        if (outSize > 0) {
            HRESULT hr = SendPacket(out, outSize, parser_->pts, sink);
            if (FAILED(hr)) return hr;
        }
    }
    return S_OK;
}

HRESULT AudioDecodeCore::SendPacket(const std::uint8_t* data, int size, std::int64_t pts,
                                    const PcmSink& sink) {
    av_packet_unref(packet_);
    packet_->data = const_cast<std::uint8_t*>(data);
    packet_->size = size;
    packet_->pts = pts;
    int ret = avcodec_send_packet(ctx_, packet_);
    packet_->data = nullptr;
    packet_->size = 0;
    if (ret < 0) return S_OK; // a damaged frame is skipped
    return ReceiveFrames(sink);
}

HRESULT AudioDecodeCore::ReceiveFrames(const PcmSink& sink) {
    for (;;) {
        int ret = avcodec_receive_frame(ctx_, frame_);
        if (ret < 0) return S_OK;
        HRESULT hr = Emit(frame_, sink);
        av_frame_unref(frame_);
        if (FAILED(hr)) return hr;
    }
}

bool AudioDecodeCore::EnsureResampler(const AVFrame* frame) {
    if (swr_ && swrInRate_ == frame->sample_rate && swrInFormat_ == frame->format &&
        swrInChannels_ == frame->ch_layout.nb_channels)
        return true;
    swr_free(&swr_);
    AVChannelLayout outLayout{};
    if (frame->ch_layout.nb_channels == outChannels_)
        av_channel_layout_copy(&outLayout, &frame->ch_layout);
    else
        av_channel_layout_default(&outLayout, outChannels_);
    AVChannelLayout inLayout{};
    if (frame->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC)
        av_channel_layout_default(&inLayout, frame->ch_layout.nb_channels);
    else
        av_channel_layout_copy(&inLayout, &frame->ch_layout);
    int ret = swr_alloc_set_opts2(&swr_, &outLayout, AV_SAMPLE_FMT_S16, outRate_, &inLayout,
                                  AVSampleFormat(frame->format), frame->sample_rate, 0, nullptr);
    av_channel_layout_uninit(&outLayout);
    av_channel_layout_uninit(&inLayout);
    if (ret < 0 || swr_init(swr_) < 0) {
        swr_free(&swr_);
        return false;
    }
    swrInRate_ = frame->sample_rate;
    swrInFormat_ = frame->format;
    swrInChannels_ = frame->ch_layout.nb_channels;
    return true;
}

HRESULT AudioDecodeCore::Emit(const AVFrame* frame, const PcmSink& sink) {
    if (frame->nb_samples <= 0 || frame->sample_rate <= 0 || !EnsureResampler(frame)) return S_OK;
    const int cap = int(swr_get_out_samples(swr_, frame->nb_samples));
    if (cap <= 0) return S_OK;
    pcm_.resize(std::size_t(cap) * outChannels_);
    std::uint8_t* out[1] = {reinterpret_cast<std::uint8_t*>(pcm_.data())};
    const int n = swr_convert(
        swr_, out, cap, const_cast<const std::uint8_t**>(frame->extended_data), frame->nb_samples);
    if (n <= 0) return S_OK;

    REFERENCE_TIME start = haveNext_ ? next_ : 0;
    const std::int64_t pts =
        frame->pts != AV_NOPTS_VALUE ? frame->pts : frame->best_effort_timestamp;
    if (pts != AV_NOPTS_VALUE && (!haveNext_ || pts > next_ + kResyncTolerance)) start = pts;
    const REFERENCE_TIME stop = start + REFERENCE_TIME(n) * UNITS / outRate_;
    next_ = stop;
    haveNext_ = true;
    return sink(pcm_.data(), n, start, stop);
}

HRESULT AudioDecodeCore::Drain(const PcmSink& sink) {
    if (!ctx_) return E_UNEXPECTED;
    HRESULT hr = S_OK;
    if (parser_) {
        std::uint8_t* out = nullptr;
        int outSize = 0;
        av_parser_parse2(parser_, ctx_, &out, &outSize, nullptr, 0, AV_NOPTS_VALUE, AV_NOPTS_VALUE,
                         0);
        if (outSize > 0) hr = SendPacket(out, outSize, parser_->pts, sink);
    }
    if (SUCCEEDED(hr)) {
        avcodec_send_packet(ctx_, nullptr);
        hr = ReceiveFrames(sink);
    }
    Reset();
    return hr;
}

void AudioDecodeCore::Reset() {
    if (!ctx_) return;
    avcodec_flush_buffers(ctx_);
    if (parser_) {
        av_parser_close(parser_);
        parser_ = av_parser_init(ctx_->codec_id);
    }
    haveNext_ = false;
}
