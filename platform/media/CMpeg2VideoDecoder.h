// CMpeg2VideoDecoder: the MPEG-2 video decoder component (CLSID_MpegDecoder).
// Pins in enumeration order: input 0 "XForm In" (MPEG-1/2 video as the
// demultiplexer types it), input 1 "Subpicture" (DVD subpictures, optional),
// output 0 "XForm Out" (Video / YV12 / FORMAT_VideoInfo, positive height, rows
// packed at the picture width, planes Y, V, U).
//
// Every decoded picture goes out as one sample with start and stop times (100-ns
// units, monotonic within a segment) and the subpictures of its time burned in.
// While the subpicture input is connected, pictures are held until the video
// input has reached kSubpictureLead past their time: a disc stores video well
// ahead of its presentation time and subpictures about at theirs, so a
// subpicture arrives after the pictures it covers have been decoded.
// End of stream drains the decoder first; flush and new segment pass through and
// restart the times.
//
// Threads: input 0 on the video streaming thread under the streaming lock; input 1
// on the subpicture thread (the overlay has its own lock); flushes on the seeking
// thread; connection and state changes on the application thread.
#pragma once

#include <deque>
#include <memory>

#include "platform/dshow/TransformFilter.h"
#include "platform/media/Mpeg2DecodeCore.h"
#include "platform/media/SubpictureOverlay.h"

class CSubpictureInputPin;

class CMpeg2VideoDecoder : public CTransformFilter {
public:
    // Classic factory: a new filter with a reference count of 0.
    static CUnknown* CreateInstance(IUnknown* outer, HRESULT* phr);

    CMpeg2VideoDecoder(IUnknown* outer, HRESULT* phr);
    ~CMpeg2VideoDecoder() override;

    static constexpr REFERENCE_TIME kSubpictureLead = UNITS; // 1 s

    int GetPinCount() override { return 3; }
    CBasePin* GetPin(int n) override;
    HRESULT FindPin(LPCWSTR Id, IPin** ppPin) override;
    HRESULT Stop() override;

    HRESULT CheckInputType(const CMediaType* mtIn) override;
    HRESULT CheckTransform(const CMediaType* mtIn, const CMediaType* mtOut) override;
    HRESULT DecideBufferSize(IMemAllocator* pAllocator, ALLOCATOR_PROPERTIES* pprop) override;
    HRESULT GetMediaType(int iPosition, CMediaType* pMediaType) override;
    // The input type gives the picture size, frame duration and MPEG version.
    HRESULT SetMediaType(PIN_DIRECTION direction, const CMediaType* pmt) override;
    HRESULT StartStreaming() override;
    HRESULT StopStreaming() override;

    HRESULT Receive(IMediaSample* pSample) override;
    HRESULT EndOfStream() override;
    HRESULT EndFlush() override;
    HRESULT NewSegment(REFERENCE_TIME tStart, REFERENCE_TIME tStop, double dRate) override;

    // Picture size announced by the input type (0 before a connection).
    int Width() const { return width_; }
    int Height() const { return height_; }

private:
    // Width, height, frame duration and MPEG-2 flag of a video input type; false
    // when it is not one we decode.
    static bool ReadInputType(const CMediaType& mt, int* w, int* h, REFERENCE_TIME* frame,
                              bool* mpeg2);
    // A decoded picture: held (subpictures connected) or delivered at once.
    HRESULT OnPicture(const AVFrame* frame, REFERENCE_TIME start, REFERENCE_TIME stop);
    // Delivers the held pictures that start at or before until.
    HRESULT ReleaseHeld(REFERENCE_TIME until);
    void DropHeld();
    HRESULT DeliverPicture(const AVFrame* frame, REFERENCE_TIME start, REFERENCE_TIME stop);
    void CopyPicture(const AVFrame* frame, BYTE* dst) const;

    std::unique_ptr<CSubpictureInputPin> subpicturePin_;
    SubpictureOverlay overlay_;
    // -- under the streaming lock (m_csReceive)
    Mpeg2DecodeCore core_;
    bool discontinuity_ = true;
    struct Held {
        AVFrame* frame; // owned reference
        REFERENCE_TIME start, stop;
    };
    std::deque<Held> held_;
    REFERENCE_TIME inputTime_ = 0; // latest time seen on the video input
    bool haveInputTime_ = false;
    // -- set at connection (filter lock), read while streaming
    int width_ = 0, height_ = 0;
    REFERENCE_TIME frameDuration_ = 0;
    bool mpeg2_ = true;
};
