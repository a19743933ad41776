// OutputFileWriter: encodes converted pictures and sound into one output media
// file with FFmpeg. The container comes from the file name's extension, the
// encoders from the profile's codec names. One writer serves a whole batch and
// is opened once per output file; in merge mode one file spans several items,
// so the presentation times count on across them.
//
// Input formats: pictures are planar 4:2:0 in YV12 plane order (Y, V, U) at the
// profile's Width x Height, rows packed; sound is interleaved 16-bit signed
// samples at the profile's SampleRate and Channel count. Each encoder gets its
// own first listed pixel / sample format (converted with libswscale /
// libswresample) and a default channel layout.
//
// Timing: picture n of the file has presentation time n in the video codec
// time base; sound sample n has time n / SampleRate. Items are kept in step
// with BeginSegment / FinishSegment, which pad the shorter stream at an item's
// end (silence, or the last picture repeated).
//
// Threads: Open, Close and the destructor on the controlling thread while
// nothing streams; WriteVideo, WriteAudio, the segment calls and the position
// readers from the streaming threads, serialised by the caller (the sink's
// filter lock). Pictures and sound are encoded on two threads of the writer's
// own, fed through short queues, so the callers' decoding and converting
// overlap with encoding and the two streams do not wait on each other's
// encoder; WriteVideo / WriteAudio only copy. Packets of both encoders reach
// the file under m_muxLock.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "profiles/OutputProfile.h"
#include "sink/EncoderThread.h"

struct AVFormatContext;
struct AVCodecContext;
struct AVStream;
struct AVFrame;
struct AVPacket;
struct SwsContext;
struct SwrContext;

class OutputFileWriter {
public:
    OutputFileWriter();
    ~OutputFileWriter();
    OutputFileWriter(const OutputFileWriter&) = delete;
    OutputFileWriter& operator=(const OutputFileWriter&) = delete;

    // Encoder threads for the next Open (at least 1).
    void SetEncoderThreads(int threads);
    // Threads for a "CPU Usage" percentage on a machine with `cores` cores:
    // that share of the cores, at least one.
    static int ThreadsForCpuUsage(int cpuUsagePercent, int cores);

    // Opens `path` (UTF-8) for the profile: finds the encoders, adds the
    // streams, opens the file and writes the header. False, with nothing left
    // open and the reason in LastError(), on an unknown encoder name, no
    // container for the extension, no stream, an encoder that refuses its
    // settings, or a file that cannot be created. A writer already open is
    // closed first.
    bool Open(const std::string& path, const EncodeParams& params);
    // Drains every encoder and the sound FIFO, writes the trailer, closes the
    // file. False when the trailer or the file close failed. Harmless when not
    // open (returns true).
    bool Close();

    bool IsOpen() const { return m_out != nullptr; }
    bool HasVideo() const { return m_videoStream != nullptr; }
    bool HasAudio() const { return m_audioStream != nullptr; }
    const std::string& LastError() const { return m_error; }
    const std::string& Path() const { return m_path; }

    // Queues one picture (Width * Height * 3 / 2 bytes, YV12 order) for
    // encoding; waits while the encoder is a few pictures behind. 0 on
    // success; -1 when encoding or writing the file has failed (LastError) or
    // nothing is open.
    int WriteVideo(const std::uint8_t* picture);
    // Queues the last picture again (black before the first one).
    int RepeatVideo();
    // Queues `length` bytes of sound and encodes every whole encoder frame. 0
    // on success, -1 when encoding or writing the file has failed or nothing
    // is open.
    int WriteAudio(const std::uint8_t* bytes, std::size_t length);
    // Queues `samples` sample frames of silence (same as WriteAudio of zeros).
    int WriteSilence(std::int64_t samples);

    // -- item boundaries (merge mode keeps one file over several items)
    // Marks the start of an item: positions below count from here.
    void BeginSegment();
    // Ends an item: pads the shorter stream so both end at the same time
    // (within one picture). Nothing happens when only one stream exists.
    void FinishSegment();
    // Sound queued since BeginSegment, in sample frames.
    std::int64_t SegmentAudioSamples() const;
    // Pictures written since BeginSegment.
    std::int64_t SegmentVideoFrames() const { return m_videoFrames - m_segVideoBase; }
    // Totals of the open file.
    std::int64_t VideoFrames() const { return m_videoFrames; }
    std::int64_t AudioSamples() const;
    // Length of one output picture in 100-ns units (0 without video).
    double FrameDuration100ns() const;
    int SampleRate() const { return m_params.SampleRate; }
    // Bytes of one input picture (Width * Height * 3 / 2; 0 without video).
    long PictureBytes() const { return m_pictureBytes; }
    int Channels() const { return m_params.Channel; }

private:
    bool Fail(const std::string& reason);
    bool AddVideoStream(const struct AVCodec* codec);
    bool AddAudioStream(const struct AVCodec* codec);
    AVFrame* NewPicture() const;
    int QueuePicture(AVFrame* picture);
    int EncodePicture(AVFrame* picture, std::string& error);
    bool Failed() const;
    void TakeFailure();
    int EncodeSound(AVFrame* chunk, std::string& error);
    int EncodeAudioFrames(bool flush, std::string& error);
    int EncodeAudioFrame(const std::uint8_t* s16, int samples, std::string& error);
    int QueueAudio(const std::uint8_t* bytes, std::size_t length);
    AVFrame* SoundChunk(const std::uint8_t* bytes, size_t whole);
    int SendAndWrite(AVCodecContext* ctx, AVStream* st, AVFrame* frame, AVPacket* packet,
                     std::string& error);
    void ReleaseAll();

    std::string m_error;
    std::string m_path;
    EncodeParams m_params{};
    int m_threads = 1;

    AVFormatContext* m_out = nullptr;
    AVStream* m_videoStream = nullptr;
    AVStream* m_audioStream = nullptr;
    AVCodecContext* m_videoCtx = nullptr;
    AVCodecContext* m_audioCtx = nullptr;
    bool m_fileOpened = false;
    bool m_headerWritten = false;

    // -- pictures: planar 4:2:0 with their pts; no buffer = repeat the last one
    EncoderThread m_videoEncoder;
    AVPacket* m_videoPacket = nullptr;   // encoding thread only
    SwsContext* m_scaler = nullptr;      // encoding thread only; when the encoder takes no 4:2:0
    AVFrame* m_lastPicture = nullptr;    // encoding thread only: last picture, for repeats
    long m_pictureBytes = 0;

    // -- sound: 16-bit interleaved chunks; no buffer = silence
    EncoderThread m_audioEncoder;
    std::vector<std::uint8_t> m_partial; // caller side: part of a sample not yet queued
    // the rest belongs to the sound encoding thread
    AVPacket* m_audioPacket = nullptr;
    AVFrame* m_audioFrame = nullptr;     // one encoder frame in its sample format
    SwrContext* m_resampler = nullptr;   // 16-bit interleaved to the encoder's format
    bool m_smallLastFrame = false;       // the encoder takes a short last frame
    int m_audioFrameSamples = 0;         // samples per encoder frame
    std::vector<std::uint8_t> m_fifo;    // queued 16-bit interleaved sound
    std::size_t m_fifoRead = 0;          // first unread byte of m_fifo
    std::int64_t m_audioPts = 0;         // pts of the next encoded sound frame
    std::int64_t m_audioLead = 0;        // samples still to leave out at the file's start

    // -- the file: packets of both threads
    std::mutex m_muxLock;
    std::atomic<bool> m_writeFailed{false}; // a packet could not be written
    std::string m_writeError;            // guarded by m_muxLock: first failed packet write

    // -- caller side
    std::int64_t m_videoFrames = 0;      // pictures given (pts of the next one)
    std::int64_t m_audioBytesIn = 0;     // sound bytes given, padding included
    std::int64_t m_segVideoBase = 0;
    std::int64_t m_segAudioBase = 0;
};
