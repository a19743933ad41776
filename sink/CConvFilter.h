// CConvFilter: the last stage of a conversion. Converted sound arrives on
// "Audio In", converted pictures on "Video In"; both go to the
// OutputFileWriter. Pictures are placed into output frame slots by their
// times, each slot taking the picture that starts nearest to it (repeated or
// skipped to reach the profile's frame rate); sound is
// counted into the file from the item's start, the first sound anchored to its
// time (silence before sound that starts late, the part before the window cut
// off). Nothing outside the trim window reaches the file. Every fifth picture
// is copied to "Video Pre" for an optional preview. EC_COMPLETE is raised when
// every connected input has ended, after the writer has evened out the
// item's two streams.
//
// Times: sample times and the trim window in 100-ns units of the title;
// positions in 100-ns units from trim start.
//
// Threads: control setters on the application thread before the pins
// connect; Receive / EndOfStream on the two upstream streaming threads,
// serialised by the filter lock (the filter object itself), which also
// guards the writer; VideoPosition / AudioPosition from any thread.
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/dshow/BaseFilter.h"
#include "platform/dshow/FormatBlocks.h"
#include "platform/dshow/MediaType.h"

class OutputFileWriter;
class CAudioInPin;
class CVideoInPin;
class CVideoPrePin;
class CPosPassThru;

constexpr CLSID CLSID_ConvFilter = MakeGuid("A4DA1077-2239-4C9E-AA16-C88DD9F35131");

class CConvFilter : public CCritSec, public CBaseFilter {
public:
    // A new filter with one reference held by *ppFilter (E_POINTER, E_OUTOFMEMORY).
    static HRESULT Create(CConvFilter** ppFilter);

    CConvFilter(IUnknown* outer, HRESULT* phr);
    ~CConvFilter() override;

    // IMediaSeeking / IMediaPosition through a pass-through over "Audio In".
    HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

    // 0 "Audio In", 1 "Video In", 2 "Video Pre"; null beyond.
    int GetPinCount() override { return 3; }
    CBasePin* GetPin(int n) override;

    // -- control (application thread, before streaming)
    // The writer is not owned and must outlive the streaming.
    void AttachWriter(OutputFileWriter* writer);
    // Length of one output frame in 100-ns units.
    void SetFrameDuration(double duration);
    // Source window to convert; end <= start means "to the end of the stream".
    void SetTrimWindow(std::int64_t start, std::int64_t end);
    void SetPreviewEnabled(bool enabled);
    // Output time of the next frame slot / start of the last sound written.
    std::int64_t VideoPosition() const { return m_nextVideoTime.load(); }
    std::int64_t AudioPosition() const { return m_lastAudioTime.load(); }
    // Pictures counted for the preview so far.
    std::uint64_t PreviewCounter() const { return m_previewCounter; }

    // -- from the pins (streaming threads)
    HRESULT ReceiveVideo(IMediaSample* sample);
    HRESULT ReceiveAudio(IMediaSample* sample);
    // Runs the end-of-stream check after a pin has set its flag.
    void CheckEndOfStream();
    // Bitmap header of the connected pictures (from "Video In").
    void SetVideoHeader(const BITMAPINFOHEADER& header);

    CAudioInPin* AudioIn() const { return m_pAudioIn; }
    CVideoInPin* VideoIn() const { return m_pVideoIn; }
    CVideoPrePin* VideoPre() const { return m_pVideoPre; }

private:
    bool StartSegmentLocked();
    template <typename Write>
    HRESULT FillSlotsLocked(std::int64_t limit, Write write);
    void CopyToPreview(const BYTE* data, LONG length);
    std::int64_t WindowEnd() const;

    CAudioInPin* m_pAudioIn = nullptr;
    CVideoInPin* m_pVideoIn = nullptr;
    CVideoPrePin* m_pVideoPre = nullptr;
    CPosPassThru* m_pPosition = nullptr; // made on first request

    // -- set before streaming
    OutputFileWriter* m_pWriter = nullptr;
    double m_frameDuration = 400000.0;
    std::int64_t m_trimStart = 0;
    std::int64_t m_trimEnd = 0;
    std::atomic<bool> m_previewEnabled{true};
    // -- protected by the filter lock
    BITMAPINFOHEADER m_header{};
    bool m_segmentStarted = false;
    bool m_audioAnchored = false;
    bool m_completed = false;
    std::int64_t m_videoEnd = 0;         // output time where the last picture ends
    // -- picture thread only
    std::uint64_t m_previewCounter = 0;
    // -- written under the filter lock, read without it
    std::atomic<std::int64_t> m_nextVideoTime{0};
    std::atomic<std::int64_t> m_lastAudioTime{0};
};
