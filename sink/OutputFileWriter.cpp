#include "sink/OutputFileWriter.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/imgutils.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

#include "platform/win/DebugTrace.h"

namespace {

std::string ErrorText(int err) {
    char buf[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(err, buf, sizeof buf);
    return buf;
}

// Samples per encoder call for encoders that take any frame size (PCM).
constexpr int kVariableFrameSamples = 1024;
// Pictures / sound chunks the caller may run ahead of each encoder.
constexpr std::size_t kVideoQueueDepth = 6;
constexpr std::size_t kAudioQueueDepth = 64;

AVRational VideoTimeBase(int frameRate) {
    switch (frameRate) {
    case 23976: return AVRational{1001, 24000};
    case 29970: return AVRational{1001, 30000};
    case 59940: return AVRational{1001, 60000};
    default: {
        // Exact for every rate in thousandths (12500 gives 2/25, not 1/12).
        AVRational tb{};
        av_reduce(&tb.num, &tb.den, 1000, std::max(frameRate, 1), 1 << 30);
        return tb;
    }
    }
}

} // namespace

OutputFileWriter::OutputFileWriter()
    : m_videoEncoder(kVideoQueueDepth), m_audioEncoder(kAudioQueueDepth) {}

OutputFileWriter::~OutputFileWriter() { Close(); }

void OutputFileWriter::SetEncoderThreads(int threads) { m_threads = std::max(1, threads); }

int OutputFileWriter::ThreadsForCpuUsage(int cpuUsagePercent, int cores) {
    int pct = std::clamp(cpuUsagePercent, 0, 100);
    return std::max(1, std::max(cores, 1) * pct / 100);
}

bool OutputFileWriter::Fail(const std::string& reason) {
    m_error = reason;
    DebugTrace("OutputFileWriter: %s\n", reason.c_str());
    ReleaseAll();
    return false;
}

bool OutputFileWriter::Open(const std::string& path, const EncodeParams& params) {
    Close();
    m_error.clear();
    m_path = path;
    m_params = params;

    const AVCodec* video = nullptr;
    const AVCodec* audio = nullptr;
    std::string videoName(TextOf(params.VideoCodecName));
    std::string audioName(TextOf(params.AudioCodecName));
    if (params.HasVideo && !videoName.empty()) {
        video = avcodec_find_encoder_by_name(videoName.c_str());
        if (!video) return Fail("unknown video encoder \"" + videoName + "\"");
    }
    if (params.HasAudio && !audioName.empty()) {
        audio = avcodec_find_encoder_by_name(audioName.c_str());
        if (!audio) return Fail("unknown audio encoder \"" + audioName + "\"");
    }
    if (!video && !audio) return Fail("the profile names no video and no audio encoder");
    if (video && (params.Width <= 0 || params.Height <= 0 || params.FrameRate <= 0))
        return Fail("invalid picture size or frame rate");
    if (audio && (params.SampleRate <= 0 || params.Channel <= 0 || params.Channel > 8))
        return Fail("invalid sample rate or channel count");

    int err = avformat_alloc_output_context2(&m_out, nullptr, nullptr, path.c_str());
    if (err < 0 || !m_out) {
        m_out = nullptr;
        return Fail("no container for the file name \"" + path + "\"");
    }
    for (const AVCodec* c : {video, audio}) {
        if (c && avformat_query_codec(m_out->oformat, c->id, FF_COMPLIANCE_NORMAL) == 0)
            return Fail(std::string("the container \"") + m_out->oformat->name +
                        "\" cannot hold " + c->name);
    }
    if (video && !AddVideoStream(video)) return false;
    if (audio && !AddAudioStream(audio)) return false;

    m_audioPacket = av_packet_alloc();
    if (!m_audioPacket) return Fail("out of memory");

    if (!(m_out->oformat->flags & AVFMT_NOFILE)) {
        err = avio_open(&m_out->pb, path.c_str(), AVIO_FLAG_WRITE);
        if (err < 0) return Fail("cannot create \"" + path + "\": " + ErrorText(err));
        m_fileOpened = true;
    }
    err = avformat_write_header(m_out, nullptr);
    if (err < 0) return Fail("cannot write the header of \"" + path + "\": " + ErrorText(err));
    m_headerWritten = true;
    if (m_videoCtx)
        m_videoEncoder.Start([this](AVFrame* f, std::string& e) { return EncodePicture(f, e); });
    if (m_audioCtx)
        m_audioEncoder.Start([this](AVFrame* f, std::string& e) { return EncodeSound(f, e); });
    return true;
}

bool OutputFileWriter::AddVideoStream(const AVCodec* codec) {
    const EncodeParams& p = m_params;
    m_videoCtx = avcodec_alloc_context3(codec);
    if (!m_videoCtx) return Fail("out of memory");
    AVCodecContext* c = m_videoCtx;
    c->bit_rate = p.VideoBitRate;
    c->width = p.Width;
    c->height = p.Height;
    c->time_base = VideoTimeBase(p.FrameRate);
    c->framerate = AVRational{c->time_base.den, c->time_base.num};
    c->gop_size = std::max(1, p.FrameRate / 1000);
    c->pix_fmt = codec->pix_fmts ? codec->pix_fmts[0] : AV_PIX_FMT_YUV420P;
    c->max_b_frames = 0;
    c->sample_aspect_ratio = AVRational{1, 1};
    // Encoders with threads of their own (x264, x265, libvpx) count frame
    // threads, which wait on one another; like those libraries' own default,
    // they get half as many again as the cores they are to keep busy.
    const bool ownThreads = codec->capabilities & AV_CODEC_CAP_OTHER_THREADS;
    c->thread_count = ownThreads ? std::max(1, m_threads * 3 / 2) : m_threads;
    if (codec->id == AV_CODEC_ID_MJPEG) c->strict_std_compliance = FF_COMPLIANCE_UNOFFICIAL;
    if (m_out->oformat->flags & AVFMT_GLOBALHEADER) c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;

    int err = avcodec_open2(c, codec, nullptr);
    if (err < 0)
        return Fail(std::string("video encoder ") + codec->name + " refused its settings: " +
                    ErrorText(err));
    m_videoStream = avformat_new_stream(m_out, nullptr);
    if (!m_videoStream) {
        std::fputs("Could not alloc stream\n", stderr);
        return Fail("could not add the video stream");
    }
    m_videoStream->id = 0;
    avcodec_parameters_from_context(m_videoStream->codecpar, c);
    m_videoStream->time_base = c->time_base;
    m_videoStream->sample_aspect_ratio = c->sample_aspect_ratio;
    m_videoStream->avg_frame_rate = c->framerate;

    m_pictureBytes = long(p.Width) * p.Height * 3 / 2;
    if (c->pix_fmt != AV_PIX_FMT_YUV420P) {
        m_scaler = sws_getContext(p.Width, p.Height, AV_PIX_FMT_YUV420P, p.Width, p.Height,
                                  c->pix_fmt, SWS_BICUBIC, nullptr, nullptr, nullptr);
        if (!m_scaler) return Fail("cannot convert pictures for the video encoder");
    }
    m_videoPacket = av_packet_alloc();
    // A black picture until the first one arrives.
    m_lastPicture = NewPicture();
    if (!m_videoPacket || !m_lastPicture) return Fail("out of memory");
    const ptrdiff_t lines[4] = {m_lastPicture->linesize[0], m_lastPicture->linesize[1],
                                m_lastPicture->linesize[2], 0};
    av_image_fill_black(m_lastPicture->data, lines, AV_PIX_FMT_YUV420P, AVCOL_RANGE_MPEG, p.Width,
                        p.Height);
    return true;
}

bool OutputFileWriter::AddAudioStream(const AVCodec* codec) {
    const EncodeParams& p = m_params;
    m_audioCtx = avcodec_alloc_context3(codec);
    if (!m_audioCtx) return Fail("out of memory");
    AVCodecContext* c = m_audioCtx;
    c->bit_rate = p.AudioBitRate;
    c->sample_rate = p.SampleRate;
    c->sample_fmt = codec->sample_fmts ? codec->sample_fmts[0] : AV_SAMPLE_FMT_S16;
    av_channel_layout_default(&c->ch_layout, p.Channel);
    c->time_base = AVRational{1, p.SampleRate};
    c->thread_count = m_threads;
    if (codec->capabilities & AV_CODEC_CAP_EXPERIMENTAL)
        c->strict_std_compliance = FF_COMPLIANCE_EXPERIMENTAL;
    if (m_out->oformat->flags & AVFMT_GLOBALHEADER) c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;

    int err = avcodec_open2(c, codec, nullptr);
    if (err < 0)
        return Fail(std::string("audio encoder ") + codec->name + " refused its settings: " +
                    ErrorText(err));
    m_audioStream = avformat_new_stream(m_out, nullptr);
    if (!m_audioStream) {
        std::fputs("Could not alloc stream\n", stderr);
        return Fail("could not add the audio stream");
    }
    m_audioStream->id = 1;
    avcodec_parameters_from_context(m_audioStream->codecpar, c);
    m_audioStream->time_base = c->time_base;

    // The encoder's first packet starts its delay before zero. Containers
    // that cannot say so would shift the whole file by it, or players would
    // hear the sound that much late; next to pictures, the delay's worth of
    // sound at the file's start is left out instead, so sound meets pictures.
    if (c->initial_padding > 0 && m_videoCtx && !(m_out->oformat->flags & AVFMT_TS_NEGATIVE)) {
        m_audioLead = c->initial_padding;
        m_audioPts = c->initial_padding;
    }
    bool variable = (codec->capabilities & AV_CODEC_CAP_VARIABLE_FRAME_SIZE) || c->frame_size <= 1;
    m_audioFrameSamples = variable ? kVariableFrameSamples : c->frame_size;
    m_smallLastFrame = variable || (codec->capabilities & AV_CODEC_CAP_SMALL_LAST_FRAME);

    m_audioFrame = av_frame_alloc();
    if (!m_audioFrame) return Fail("out of memory");
    m_audioFrame->format = c->sample_fmt;
    m_audioFrame->sample_rate = c->sample_rate;
    m_audioFrame->nb_samples = m_audioFrameSamples;
    av_channel_layout_copy(&m_audioFrame->ch_layout, &c->ch_layout);
    if (av_frame_get_buffer(m_audioFrame, 0) < 0) return Fail("out of memory");

    err = swr_alloc_set_opts2(&m_resampler, &c->ch_layout, c->sample_fmt, c->sample_rate,
                              &c->ch_layout, AV_SAMPLE_FMT_S16, c->sample_rate, 0, nullptr);
    if (err < 0 || swr_init(m_resampler) < 0)
        return Fail("cannot convert sound for the audio encoder");
    m_fifo.clear();
    m_fifoRead = 0;
    return true;
}

int OutputFileWriter::SendAndWrite(AVCodecContext* ctx, AVStream* st, AVFrame* frame,
                                   AVPacket* packet, std::string& error) {
    int err = avcodec_send_frame(ctx, frame);
    if (err < 0 && !(frame == nullptr && err == AVERROR_EOF)) {
        error = std::string("encoding failed: ") + ErrorText(err);
        return -1;
    }
    for (;;) {
        err = avcodec_receive_packet(ctx, packet);
        if (err == AVERROR(EAGAIN) || err == AVERROR_EOF) return 0;
        if (err < 0) {
            error = std::string("encoding failed: ") + ErrorText(err);
            return -1;
        }
        av_packet_rescale_ts(packet, ctx->time_base, st->time_base);
        packet->stream_index = st->index;
        std::lock_guard<std::mutex> lock(m_muxLock);
        err = av_interleaved_write_frame(m_out, packet);
        if (err < 0 && m_writeError.empty()) {
            m_writeError = "cannot write to \"" + m_path + "\": " + ErrorText(err);
            DebugTrace("OutputFileWriter: %s\n", m_writeError.c_str());
            m_writeFailed = true;
        }
    }
}

AVFrame* OutputFileWriter::NewPicture() const {
    AVFrame* f = av_frame_alloc();
    if (!f) return nullptr;
    f->format = AV_PIX_FMT_YUV420P;
    f->width = m_params.Width;
    f->height = m_params.Height;
    if (av_frame_get_buffer(f, 0) < 0) av_frame_free(&f);
    return f;
}

int OutputFileWriter::WriteVideo(const std::uint8_t* picture) {
    if (!m_videoCtx || !m_headerWritten || !picture) return -1;
    AVFrame* f = NewPicture();
    if (!f) {
        m_error = "out of memory";
        return -1;
    }
    const int w = m_params.Width, h = m_params.Height;
    const std::uint8_t* y = picture;
    const std::uint8_t* v = picture + size_t(w) * h;
    const std::uint8_t* u = v + size_t(w / 2) * (h / 2);
    av_image_copy_plane(f->data[0], f->linesize[0], y, w, w, h);
    av_image_copy_plane(f->data[1], f->linesize[1], u, w / 2, w / 2, h / 2);
    av_image_copy_plane(f->data[2], f->linesize[2], v, w / 2, w / 2, h / 2);
    return QueuePicture(f);
}

int OutputFileWriter::RepeatVideo() {
    if (!m_videoCtx || !m_headerWritten) return -1;
    return QueuePicture(av_frame_alloc());
}

// Hands a picture to the encoding thread as the file's next one. A frame
// without buffers asks for the last picture again; the encoding thread keeps
// that one, so every picture buffer is released on the thread that read it.
int OutputFileWriter::QueuePicture(AVFrame* picture) {
    if (!picture) {
        m_error = "out of memory";
        return -1;
    }
    picture->pts = m_videoFrames;
    if (Failed()) av_frame_free(&picture);
    if (!picture || !m_videoEncoder.Push(picture)) { // the push frees what it refuses
        TakeFailure();
        return -1;
    }
    ++m_videoFrames;
    return 0;
}

bool OutputFileWriter::Failed() const {
    return m_videoEncoder.Failed() || m_audioEncoder.Failed() || m_writeFailed;
}

// Reports why the file cannot go on: the failed write, else an encoder's error.
void OutputFileWriter::TakeFailure() {
    {
        std::lock_guard<std::mutex> lock(m_muxLock);
        m_error = m_writeError;
    }
    if (m_error.empty()) m_error = m_videoEncoder.Error();
    if (m_error.empty()) m_error = m_audioEncoder.Error();
    if (m_error.empty()) m_error = "encoding stopped";
}

// Encoding thread: one picture, or the drain at the end (null).
int OutputFileWriter::EncodePicture(AVFrame* picture, std::string& error) {
    if (!picture) return SendAndWrite(m_videoCtx, m_videoStream, nullptr, m_videoPacket, error);
    if (!picture->buf[0]) { // a repeat of the last picture
        const std::int64_t pts = picture->pts;
        if (av_frame_ref(picture, m_lastPicture) < 0) {
            error = "out of memory";
            return -1;
        }
        picture->pts = pts;
    } else {
        av_frame_unref(m_lastPicture);
        av_frame_ref(m_lastPicture, picture);
    }
    if (!m_scaler) return SendAndWrite(m_videoCtx, m_videoStream, picture, m_videoPacket, error);
    AVFrame* converted = av_frame_alloc();
    if (!converted) {
        error = "out of memory";
        return -1;
    }
    converted->format = m_videoCtx->pix_fmt;
    converted->width = m_params.Width;
    converted->height = m_params.Height;
    int result = -1;
    if (av_frame_get_buffer(converted, 0) < 0) {
        error = "out of memory";
    } else {
        sws_scale(m_scaler, picture->data, picture->linesize, 0, m_params.Height, converted->data,
                  converted->linesize);
        converted->pts = picture->pts;
        result = SendAndWrite(m_videoCtx, m_videoStream, converted, m_videoPacket, error);
    }
    av_frame_free(&converted);
    return result;
}

int OutputFileWriter::EncodeAudioFrame(const std::uint8_t* s16, int samples, std::string& error) {
    if (av_frame_make_writable(m_audioFrame) < 0) return -1;
    m_audioFrame->nb_samples = samples;
    const std::uint8_t* in[1] = {s16};
    int got = swr_convert(m_resampler, m_audioFrame->data, samples, in, samples);
    if (got < 0) return -1;
    m_audioFrame->nb_samples = got;
    m_audioFrame->pts = m_audioPts;
    m_audioPts += got;
    return SendAndWrite(m_audioCtx, m_audioStream, m_audioFrame, m_audioPacket, error);
}

int OutputFileWriter::EncodeAudioFrames(bool flush, std::string& error) {
    const size_t sampleBytes = size_t(2) * m_params.Channel;
    const size_t frameBytes = sampleBytes * m_audioFrameSamples;
    while (m_fifo.size() - m_fifoRead >= frameBytes) {
        if (EncodeAudioFrame(m_fifo.data() + m_fifoRead, m_audioFrameSamples, error) < 0)
            return -1;
        m_fifoRead += frameBytes;
    }
    if (flush) {
        size_t rest = (m_fifo.size() - m_fifoRead) / sampleBytes * sampleBytes;
        if (rest > 0) {
            std::vector<std::uint8_t> last(m_fifo.begin() + long(m_fifoRead),
                                           m_fifo.begin() + long(m_fifoRead + rest));
            // Encoders that need whole frames get the last one padded with silence.
            if (!m_smallLastFrame) last.resize(frameBytes, 0);
            if (EncodeAudioFrame(last.data(), int(last.size() / sampleBytes), error) < 0)
                return -1;
        }
        m_fifo.clear();
        m_fifoRead = 0;
    } else if (m_fifoRead > 0 && m_fifoRead >= m_fifo.size() / 2) {
        m_fifo.erase(m_fifo.begin(), m_fifo.begin() + long(m_fifoRead));
        m_fifoRead = 0;
    }
    return 0;
}

// Encoding thread: sound into the FIFO, whole encoder frames out; at the end
// (null) the rest of the FIFO and the encoder are drained.
int OutputFileWriter::EncodeSound(AVFrame* chunk, std::string& error) {
    if (!chunk) {
        if (EncodeAudioFrames(true, error) < 0) return -1;
        return SendAndWrite(m_audioCtx, m_audioStream, nullptr, m_audioPacket, error);
    }
    const size_t block = size_t(2) * m_params.Channel;
    const std::int64_t skip = std::min<std::int64_t>(m_audioLead, chunk->nb_samples);
    m_audioLead -= skip;
    const size_t bytes = size_t(chunk->nb_samples - skip) * block;
    if (chunk->buf[0]) {
        const std::uint8_t* from = chunk->data[0] + size_t(skip) * block;
        m_fifo.insert(m_fifo.end(), from, from + bytes);
    } else {
        m_fifo.resize(m_fifo.size() + bytes, 0); // silence
    }
    return EncodeAudioFrames(false, error);
}

// A chunk of `whole` bytes: the waiting part of a sample, then the new bytes
// (zeros for null). Without either it has no buffer, which means silence.
AVFrame* OutputFileWriter::SoundChunk(const std::uint8_t* bytes, size_t whole) {
    AVFrame* chunk = av_frame_alloc();
    if (!chunk) return nullptr;
    chunk->nb_samples = int(whole / (size_t(2) * m_params.Channel));
    if (!bytes && m_partial.empty()) return chunk;
    chunk->format = AV_SAMPLE_FMT_S16;
    av_channel_layout_default(&chunk->ch_layout, m_params.Channel);
    if (av_frame_get_buffer(chunk, 0) < 0) {
        av_frame_free(&chunk);
        return nullptr;
    }
    std::uint8_t* dst = chunk->data[0];
    const size_t waiting = m_partial.size();
    if (waiting) std::memcpy(dst, m_partial.data(), waiting);
    if (bytes)
        std::memcpy(dst + waiting, bytes, whole - waiting);
    else
        std::memset(dst + waiting, 0, whole - waiting);
    return chunk;
}

// Whole samples go to the encoding thread; a part of a sample waits in
// m_partial for the rest.
int OutputFileWriter::QueueAudio(const std::uint8_t* bytes, std::size_t length) {
    if (!m_audioCtx || !m_headerWritten) return -1;
    if (Failed()) {
        TakeFailure();
        return -1;
    }
    const size_t block = size_t(2) * m_params.Channel;
    const size_t whole = (m_partial.size() + length) / block * block;
    m_audioBytesIn += std::int64_t(length);
    size_t used = 0; // of the new bytes
    if (whole > 0) {
        AVFrame* chunk = SoundChunk(bytes, whole);
        if (!chunk) {
            m_error = "out of memory";
            return -1;
        }
        used = whole - m_partial.size();
        m_partial.clear();
        if (!m_audioEncoder.Push(chunk)) {
            TakeFailure();
            return -1;
        }
    }
    if (bytes)
        m_partial.insert(m_partial.end(), bytes + used, bytes + length);
    else
        m_partial.resize(m_partial.size() + length - used, 0);
    return 0;
}

int OutputFileWriter::WriteAudio(const std::uint8_t* bytes, std::size_t length) {
    if (!bytes && length) return -1;
    return QueueAudio(bytes, length);
}

int OutputFileWriter::WriteSilence(std::int64_t samples) {
    if (samples <= 0) return 0;
    return QueueAudio(nullptr, size_t(samples) * 2 * size_t(m_params.Channel));
}

std::int64_t OutputFileWriter::AudioSamples() const {
    return m_params.Channel > 0 ? m_audioBytesIn / (2 * m_params.Channel) : 0;
}

std::int64_t OutputFileWriter::SegmentAudioSamples() const {
    return AudioSamples() - m_segAudioBase;
}

double OutputFileWriter::FrameDuration100ns() const {
    if (!m_videoCtx) return 0.0;
    return 1e7 * m_videoCtx->time_base.num / m_videoCtx->time_base.den;
}

void OutputFileWriter::BeginSegment() {
    m_segVideoBase = m_videoFrames;
    m_segAudioBase = AudioSamples();
}

void OutputFileWriter::FinishSegment() {
    if (!m_videoCtx || !m_audioCtx || !m_headerWritten) return;
    const double frame = FrameDuration100ns();
    const double videoEnd = double(SegmentVideoFrames()) * frame;
    const double audioEnd = double(SegmentAudioSamples()) * 1e7 / m_params.SampleRate;
    if (audioEnd < videoEnd) {
        WriteSilence(std::llround((videoEnd - audioEnd) * m_params.SampleRate / 1e7));
        return;
    }
    // Repeat the last picture while the sound runs on by more than half a frame.
    for (double end = videoEnd; audioEnd - end > frame / 2; end += frame)
        if (RepeatVideo() < 0) break;
}

bool OutputFileWriter::Close() {
    if (!m_out) return true;
    bool ok = true;
    if (m_headerWritten) {
        // Each encoding thread encodes what is queued, drains its encoder and ends.
        for (EncoderThread* encoder : {&m_videoEncoder, &m_audioEncoder}) {
            if (encoder->Running() && !encoder->Finish()) {
                ok = false;
                m_error = encoder->Error();
            }
        }
        int err = av_write_trailer(m_out);
        if (err < 0) {
            ok = false;
            m_error = "cannot finish \"" + m_path + "\": " + ErrorText(err);
        }
    }
    if (m_fileOpened && avio_closep(&m_out->pb) < 0) ok = false;
    m_fileOpened = false;
    if (!m_writeError.empty()) {
        ok = false;
        m_error = m_writeError;
    }
    ReleaseAll();
    return ok;
}

void OutputFileWriter::ReleaseAll() {
    m_videoEncoder.Stop();
    m_audioEncoder.Stop();
    if (m_out && m_fileOpened) avio_closep(&m_out->pb);
    m_fileOpened = false;
    avcodec_free_context(&m_videoCtx);
    avcodec_free_context(&m_audioCtx);
    if (m_out) avformat_free_context(m_out);
    m_out = nullptr;
    m_videoStream = nullptr;
    m_audioStream = nullptr;
    av_packet_free(&m_videoPacket);
    av_packet_free(&m_audioPacket);
    av_frame_free(&m_lastPicture);
    av_frame_free(&m_audioFrame);
    sws_freeContext(m_scaler);
    m_scaler = nullptr;
    swr_free(&m_resampler);
    m_headerWritten = false;
    m_writeFailed = false;
    m_writeError.clear();
    m_partial.clear();
    m_pictureBytes = 0;
    m_fifo.clear();
    m_fifoRead = 0;
    m_videoFrames = 0;
    m_audioBytesIn = 0;
    m_audioPts = 0;
    m_audioLead = 0;
    m_segVideoBase = 0;
    m_segAudioBase = 0;
}
