// ConversionGraph: builds, runs and tears down the pipeline that converts one
// title-list item, and holds the OutputFileWriter the pipeline's sink feeds:
// DVD source -> demultiplexer -> video decoder -> video converter -> sink
// "Video In", and demultiplexer -> audio decoder -> audio converter -> sink
// "Audio In". One object serves a whole batch; each item gets a fresh
// pipeline, while the output file may span several items (merge mode).
// It is also the batch's runner (IConversionRunner).
//
// Every failing build step shows its fixed message through MessageService and
// keeps it as the last error. The pipeline runs without a reference clock, as
// fast as the stages deliver.
//
// Threads: everything on the controlling thread; the pipeline's streaming
// threads run between Run and Stop. Times: milliseconds in ConvertTask,
// seconds from Position / Duration (of the trimmed part, without the lead).
#pragma once

#include <cstdint>
#include <string>

#include "convert/ConvertTask.h"
#include "convert/IConversionRunner.h"
#include "convert/StreamList.h"
#include "platform/com/ComPtr.h"
#include "platform/dshow/Interfaces.h"
#include "platform/dvd/LibDvd.h"
#include "sink/OutputFileWriter.h"

class FilterGraph;
class CConvFilter;

class ConversionGraph : public IConversionRunner {
public:
    // The demultiplexer's play range starts this long before the trim start
    // (less near the title's start), so decoding never begins inside the
    // group of pictures that holds the trim start; the sink's trim window,
    // in title time, drops what comes before it.
    static constexpr LONGLONG kDecodeLeadMs = 1000;

    ConversionGraph();
    ~ConversionGraph() override;
    ConversionGraph(const ConversionGraph&) = delete;
    ConversionGraph& operator=(const ConversionGraph&) = delete;

    // -- batch settings (before the items run)
    // The open disc and its description (not owned; must outlive the runs).
    void SetDisc(DvdHandle disc, const DvdDiscInfo* info);
    // Chosen streams by disc stream id (0xBD80 ...); -1 keeps the default,
    // subtitle -1 also means none.
    void SetStreamChoice(int audioId, int subtitleId);
    void SetEncoderThreads(int threads) { m_writer.SetEncoderThreads(threads); }

    // -- the pipeline of one item
    // Creates and joins the stages; leaves the pipeline paused. False with
    // LastError() (after the step's message) on failure; `notify`, when
    // given, receives the graph's events.
    bool Build(DvdHandle disc, int titleIndex, int chapterIndex, const ConvertTask& task,
               OAHWND notify = nullptr);
    // Preview of the sink's "Video Pre": nothing to attach without a host
    // window (returns true).
    bool AttachPreview(OAHWND host, const RECT* rect);
    void ShowPreview(bool visible);
    bool CollectStreams(StreamList& list);
    bool EnableStream(long index, bool enable);
    void Run();
    void Pause();
    void Stop();
    void TearDown();
    double Duration();
    double Position();

    // -- output file
    bool OpenOutput(const std::string& path, const EncodeParams& params);
    bool CloseOutput();
    OutputFileWriter& Writer() { return m_writer; }
    const std::string& LastError() const { return m_error; }

    // -- IConversionRunner
    bool OpenOutput(const std::string& path, const EncodeParams& params,
                    std::string& error) override;
    bool CloseOutput(std::string& error) override;
    bool StartItem(const ConvertTask& task, std::string& error) override;
    void PauseItem() override { Pause(); }
    void ResumeItem() override { Run(); }
    void StopItem() override;
    Event WaitEvent(int ms, std::string& error) override;

private:
    bool Fail(const std::string& message, bool show = true);
    bool AddStages(DvdHandle disc, int titleIndex, int chapterIndex);
    bool JoinStages();
    bool Join(IBaseFilter* from, int out, IBaseFilter* to, int in, const char* message,
              bool required = true);
    void SetState(int state); // 0 stop, 1 pause, 2 run

    OutputFileWriter m_writer;
    EncodeParams m_params{};
    bool m_haveProfile = false;
    ConvertTask m_task;
    std::string m_error;
    DvdHandle m_disc = 0;
    const DvdDiscInfo* m_discInfo = nullptr;
    int m_audioId = -1, m_subtitleId = -1;
    LONGLONG m_titleDurationMs = 0;
    LONGLONG m_lengthLeadMs = 0; // lead the demultiplexer's play length holds (ms)

    ComPtr<FilterGraph> m_graph;
    ComPtr<IMediaControl> m_control;
    ComPtr<IMediaEventEx> m_events;
    ComPtr<IMediaSeeking> m_seeking;
    CConvFilter* m_sink = nullptr; // one reference
    ComPtr<IBaseFilter> m_source, m_splitter, m_videoDecoder, m_audioDecoder, m_videoConv,
        m_audioConv;
    RECT m_previewRect{};
};
