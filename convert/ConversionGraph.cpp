#include "convert/ConversionGraph.h"

#include <algorithm>
#include <cstdio>

#include "demux/CMpegSplitterFilter.h"
#include "demux/IMyMpegSplitter.h"
#include "filters/IMyAudioConvFilter.h"
#include "filters/IMyVideoConvFilter.h"
#include "filters/MyAudioConveFilter.h"
#include "filters/MyVideoConveFilter.h"
#include "platform/dshow/ComponentRegistry.h"
#include "platform/dshow/FilterGraph.h"
#include "platform/dshow/FormatBlocks.h"
#include "platform/dshow/MediaGuids.h"
#include "platform/dshow/VfwCodes.h"
#include "platform/media/MediaClsids.h"
#include "platform/media/MediaComponents.h"
#include "platform/win/DebugTrace.h"
#include "platform/win/MessageService.h"
#include "sink/CConvFilter.h"
#include "source/CDVDReader.h"
#include "source/IMyDVDReader.h"

namespace {

constexpr LONG kGraphEventMessage = 0x414; // WM_USER + 20

ComPtr<IPin> PinOf(IBaseFilter* filter, PIN_DIRECTION dir, int n) {
    ComPtr<IEnumPins> pins;
    if (!filter || FAILED(filter->EnumPins(&pins))) return nullptr;
    IPin* p = nullptr;
    while (pins->Next(1, &p, nullptr) == S_OK) {
        ComPtr<IPin> pin = ComPtr<IPin>::Adopt(p);
        PIN_DIRECTION d;
        pin->QueryDirection(&d);
        if (d == dir && n-- == 0) return pin;
    }
    return nullptr;
}

std::string Narrow(const WCHAR* text) {
    std::string s;
    for (; text && *text; ++text) s += *text < 128 ? char(*text) : '?';
    return s;
}

} // namespace

ConversionGraph::ConversionGraph() { RegisterMediaComponents(); }

ConversionGraph::~ConversionGraph() {
    TearDown();
    m_writer.Close();
}

void ConversionGraph::SetDisc(DvdHandle disc, const DvdDiscInfo* info) {
    m_disc = disc;
    m_discInfo = info;
}

void ConversionGraph::SetStreamChoice(int audioId, int subtitleId) {
    m_audioId = audioId;
    m_subtitleId = subtitleId;
}

bool ConversionGraph::Fail(const std::string& message, bool show) {
    m_error = message;
    if (show) MessageService::Show(message);
    DebugTrace("ConversionGraph: %s\n", message.c_str());
    return false;
}

bool ConversionGraph::Build(DvdHandle disc, int titleIndex, int chapterIndex,
                            const ConvertTask& task, OAHWND notify) {
    TearDown();
    m_error.clear();
    HRESULT hr = S_OK;
    m_graph = ComPtr<FilterGraph>(new (std::nothrow) FilterGraph(nullptr, &hr));
    if (!m_graph || FAILED(hr)) return Fail("cannot create the filter graph", false);
    m_graph->SetSyncSource(nullptr); // convert as fast as the stages deliver
    m_control = m_graph.As<IMediaControl>();
    m_events = m_graph.As<IMediaEventEx>();
    if (m_events) {
        if (notify) m_events->SetNotifyWindow(notify, kGraphEventMessage, 0);
        m_events->CancelDefaultHandling(EC_COMPLETE);
    }
    m_task = task;
    if (!AddStages(disc, titleIndex, chapterIndex) || !JoinStages()) return false;
    if (!m_control || !m_events) return Fail("cannot control the filter graph", false);
    m_control->Pause();
    return true;
}

bool ConversionGraph::AddStages(DvdHandle disc, int titleIndex, int chapterIndex) {
    const bool video = m_params.HasVideo && m_params.VideoCodecName[0];
    const bool audio = m_params.HasAudio && m_params.AudioCodecName[0];
    if (FAILED(CConvFilter::Create(&m_sink))) return Fail("cannot create the sink", false);
    m_graph->AddFilter(m_sink, L"Conver");
    m_sink->AttachWriter(&m_writer);
    if (m_params.FrameRate > 0) m_sink->SetFrameDuration((1e6 / m_params.FrameRate) * 1e4);
    const auto start = std::int64_t(m_task.trimStartMs * 10000);
    const auto length = std::int64_t(m_task.trimLengthMs * 10000);
    m_sink->SetTrimWindow(start, length > 0 ? start + length : 0);

    if (FAILED(CDVDReader::Create(&m_source))) return Fail("CLSID_DVDSource error");
    m_graph->AddFilter(m_source, L"Reader");
    if (FAILED(CMpegSplitterFilter::Create(&m_splitter))) return Fail("CLSID_MpegSplitter error");
    m_graph->AddFilter(m_splitter, L"Splitter");
    m_seeking = m_splitter.As<IMediaSeeking>();
    if (m_seeking) m_seeking->SetTimeFormat(&TIME_FORMAT_MEDIA_TIME);
    if (video) {
        if (FAILED(CoCreateInstance(CLSID_MpegDecoder, nullptr, CLSCTX_INPROC, IID_IBaseFilter,
                                    reinterpret_cast<void**>(&m_videoDecoder))))
            return Fail("CLSID_MpegDecoder error");
        m_graph->AddFilter(m_videoDecoder, L"VideoDecoder");
    }
    if (audio) {
        if (FAILED(CoCreateInstance(CLSID_MpaDecoder, nullptr, CLSCTX_INPROC, IID_IBaseFilter,
                                    reinterpret_cast<void**>(&m_audioDecoder))))
            return Fail("CLSID_MpaDecoder error");
        m_graph->AddFilter(m_audioDecoder, L"AudioDecoder");
        if (FAILED(CMyAudioConveFilter::Create(&m_audioConv)))
            return Fail("CLSID_MyAudioConver error");
        m_graph->AddFilter(m_audioConv, L"AudioConver");
    }
    if (video) {
        if (FAILED(CMyVideoConveFilter::Create(&m_videoConv)))
            return Fail("CLSID_MyVideoConver error");
        m_graph->AddFilter(m_videoConv, L"VideoConver");
    }

    auto reader = m_source.As<IMyDVDReader>();
    if (!reader) return Fail("IID_IMyDVDReader error");
    if (FAILED(reader->SetDvdHandle(disc)) || FAILED(reader->SetTitleArea(titleIndex, chapterIndex)))
        return Fail("SetDvdReader error");
    m_titleDurationMs = 0;
    reader->GetTitleDuration(&m_titleDurationMs);

    const PictureSettings& pic = m_task.picture;
    if (video) {
        auto conv = m_videoConv.As<IMyVideoConvFilter>();
        if (!conv) return Fail("IID_IMyVideoConvFilter error");
        conv->SetGeometry(pic.aspectMode, pic.cropLeft, pic.cropTop, pic.cropRight, pic.cropBottom, 0,
                          0, m_params.Width, m_params.Height);
        conv->SetHue(pic.hue);
        conv->SetLumaGain(pic.lumaGain);
        conv->SetSaturation(pic.saturation);
    }
    if (audio) {
        auto conv = m_audioConv.As<IMyAudioConvFilter>();
        if (!conv) return Fail("IID_IMyAudioConvFilter error");
        conv->SetOutputFormat(m_params.Channel, m_params.SampleRate);
        conv->SetVolume(pic.volume);
    }
    m_lengthLeadMs = 0;
    if (auto split = m_splitter.As<IMyMpegSplitter>()) {
        if (m_discInfo && titleIndex >= 0 && titleIndex < m_discInfo->titleCount)
            split->SetTitleStreams(&m_discInfo->titles[titleIndex]);
        if (m_titleDurationMs > 0) {
            // Reading starts a lead before the trim start, so the decoders meet
            // a key picture (and audio frame) before it; the sink still cuts
            // at the trim start. The end stays where the trim ends.
            const auto start = LONGLONG(m_task.trimStartMs);
            const LONGLONG lead = std::min<LONGLONG>(kDecodeLeadMs, std::max<LONGLONG>(start, 0));
            const auto length = LONGLONG(m_task.trimLengthMs);
            m_lengthLeadMs = length > 0 ? lead : 0; // a length of 0 reads to the end
            split->SetPlayRange(start - lead, length + m_lengthLeadMs, m_titleDurationMs);
        }
    }
    return true;
}

bool ConversionGraph::Join(IBaseFilter* from, int out, IBaseFilter* to, int in,
                           const char* message, bool required) {
    ComPtr<IPin> o = PinOf(from, PINDIR_OUTPUT, out);
    ComPtr<IPin> i = PinOf(to, PINDIR_INPUT, in);
    if (!o || !i) return required ? Fail(message ? message : "missing pin", message != nullptr) : false;
    m_graph->Disconnect(o);
    m_graph->Disconnect(i);
    if (FAILED(m_graph->ConnectDirect(o, i, nullptr)))
        return required ? Fail(message ? message : "cannot connect the source and the splitter",
                               message != nullptr)
                        : false;
    return true;
}

bool ConversionGraph::JoinStages() {
    const bool video = m_videoDecoder != nullptr;
    const bool audio = m_audioDecoder != nullptr;
    if (!Join(m_source.Get(), 0, m_splitter.Get(), 0, nullptr)) return false;
    if (video && PinOf(m_splitter.Get(), PINDIR_OUTPUT, 0) &&
        !Join(m_splitter.Get(), 0, m_videoDecoder.Get(), 0, "connect splitter and decoder error(video)"))
        return false;
    if (audio && PinOf(m_splitter.Get(), PINDIR_OUTPUT, 1) &&
        !Join(m_splitter.Get(), 1, m_audioDecoder.Get(), 0, "connect splitter and decoder error(audio)"))
        return false;
    // Subpictures are burned in only when a subtitle stream was chosen.
    if (video && m_subtitleId >= 0 && PinOf(m_splitter.Get(), PINDIR_OUTPUT, 2))
        Join(m_splitter.Get(), 2, m_videoDecoder.Get(), 1, nullptr, false);
    if (video && !Join(m_videoDecoder.Get(), 0, m_videoConv.Get(), 0,
                       "connect video decoder and video conver error"))
        return false;
    if (audio && !Join(m_audioDecoder.Get(), 0, m_audioConv.Get(), 0,
                       "connect audio decoder and audio conver error"))
        return false;
    if (audio && !Join(m_audioConv.Get(), 0, m_sink, 0, "connect audio conver out pin to mConver error"))
        return false;
    if (video && !Join(m_videoConv.Get(), 0, m_sink, 1, "connect video conver out pin to mConver error"))
        return false;
    return true;
}

bool ConversionGraph::AttachPreview(OAHWND host, const RECT* rect) {
    if (!m_sink) return false;
    if (!m_writer.HasVideo() || !host) return true;
    m_previewRect = rect ? *rect : RECT{};
    return true;
}

void ConversionGraph::ShowPreview(bool visible) {
    if (m_sink) m_sink->SetPreviewEnabled(visible);
}

bool ConversionGraph::CollectStreams(StreamList& list) {
    auto select = m_splitter.As<IAMStreamSelect>();
    if (!select) return false;
    DWORD count = 0;
    if (FAILED(select->Count(&count))) return false;
    list.Clear();
    for (DWORD i = 0; i < count; ++i) {
        AM_MEDIA_TYPE* mt = nullptr;
        WCHAR* name = nullptr;
        if (FAILED(select->Info(LONG(i), &mt, nullptr, nullptr, nullptr, &name, nullptr, nullptr)))
            continue;
        std::string text = Narrow(name);
        if (mt) {
            if (mt->majortype == MEDIATYPE_Video && mt->subtype == MEDIASUBTYPE_DVD_SUBPICTURE) {
                list.subpictures.push_back({long(i), StreamList::KeyFromName(text)});
            } else if (mt->majortype == MEDIATYPE_Video &&
                       (mt->formattype == FORMAT_MPEGVideo || mt->formattype == FORMAT_MPEG2Video ||
                        mt->formattype == FORMAT_VideoInfo || mt->formattype == FORMAT_VideoInfo2)) {
                StreamList::Video v;
                v.index = long(i);
                list.video.push_back(v);
            } else if (mt->majortype == MEDIATYPE_Audio) {
                StreamList::Audio a;
                a.index = long(i);
                a.key = StreamList::KeyFromName(text);
                if (mt->pbFormat && mt->cbFormat >= sizeof(WAVEFORMATEX) - 2) {
                    const auto* w = reinterpret_cast<const WAVEFORMATEX*>(mt->pbFormat);
                    a.sampleRate = int(w->nSamplesPerSec);
                    a.channels = w->nChannels;
                    a.bitRate = long(w->nAvgBytesPerSec) * 8;
                }
                list.audio.push_back(a);
            }
            DeleteMediaType(mt);
        }
        CoTaskMemFree(name);
    }
    return true;
}

bool ConversionGraph::EnableStream(long index, bool enable) {
    auto select = m_splitter.As<IAMStreamSelect>();
    return select && SUCCEEDED(select->Enable(index, enable ? 1 : 0));
}

void ConversionGraph::SetState(int state) {
    if (!m_control) return;
    OAFilterState now = State_Stopped;
    m_control->GetState(10, &now);
    if (state == 0 && now != State_Stopped) m_control->Stop();
    if (state == 1 && now != State_Paused) m_control->Pause();
    if (state == 2 && now != State_Running) m_control->Run();
}

void ConversionGraph::Run() { SetState(2); }
void ConversionGraph::Pause() { SetState(1); }
void ConversionGraph::Stop() { SetState(0); }

double ConversionGraph::Duration() {
    LONGLONG d = 0;
    if (!m_seeking || FAILED(m_seeking->GetDuration(&d)) || d <= 0) return 1;
    d -= m_lengthLeadMs * 10000; // the play length holds the decoding lead
    return d > 0 ? double(d) / 1e7 : 1;
}

double ConversionGraph::Position() {
    if (!m_sink) return 0;
    if (m_params.HasVideo && m_writer.HasVideo()) return double(m_sink->VideoPosition()) / 1e7;
    if (m_params.HasAudio) return double(m_sink->AudioPosition()) / 1e7;
    LONGLONG p = 0;
    if (m_seeking && SUCCEEDED(m_seeking->GetCurrentPosition(&p))) return double(p) / 1e7;
    return 0;
}

void ConversionGraph::TearDown() {
    if (m_control) m_control->Stop();
    m_control = nullptr;
    if (m_events) m_events->SetNotifyWindow(nullptr, kGraphEventMessage, 0);
    m_events = nullptr;
    m_seeking = nullptr;
    m_source = m_splitter = m_videoDecoder = m_audioDecoder = m_videoConv = m_audioConv = nullptr;
    if (m_sink) {
        if (m_graph) m_graph->RemoveFilter(m_sink);
        m_sink->NonDelegatingRelease();
        m_sink = nullptr;
    }
    m_graph = nullptr;
}

bool ConversionGraph::OpenOutput(const std::string& path, const EncodeParams& params) {
    m_params = params;
    m_haveProfile = true;
    bool ok = m_writer.Open(path, params);
    if (!ok) m_error = m_writer.LastError();
    return ok;
}

bool ConversionGraph::CloseOutput() {
    bool ok = m_writer.Close();
    if (!ok) m_error = m_writer.LastError();
    return ok;
}

bool ConversionGraph::OpenOutput(const std::string& path, const EncodeParams& params,
                                 std::string& error) {
    bool ok = OpenOutput(path, params);
    if (!ok) error = m_error;
    return ok;
}

bool ConversionGraph::CloseOutput(std::string& error) {
    bool ok = CloseOutput();
    if (!ok) error = m_error;
    return ok;
}

bool ConversionGraph::StartItem(const ConvertTask& task, std::string& error) {
    if (!Build(m_disc, task.titleIndex, task.chapterIndex, task)) {
        error = m_error;
        return false;
    }
    StreamList streams;
    if (CollectStreams(streams)) {
        // Whole ids: the title list offers the disc description's ids, which
        // the stream names carry as (PES stream id, sub-stream id).
        for (auto it = streams.subpictures.rbegin(); it != streams.subpictures.rend(); ++it)
            if (m_subtitleId >= 0 && it->key == m_subtitleId) EnableStream(it->index, true);
        for (auto it = streams.audio.rbegin(); it != streams.audio.rend(); ++it)
            if (m_audioId >= 0 && it->key == m_audioId) EnableStream(it->index, true);
    }
    Run();
    ShowPreview(true);
    return true;
}

void ConversionGraph::StopItem() {
    Stop();
    TearDown();
    // An item that ended early (error, cancel) still leaves both streams of
    // the file even, so a merged file goes on in step. Nothing streams now.
    if (m_writer.IsOpen()) m_writer.FinishSegment();
}

IConversionRunner::Event ConversionGraph::WaitEvent(int ms, std::string& error) {
    if (!m_events) return Event::None;
    LONG code = 0;
    LONG_PTR p1 = 0, p2 = 0;
    if (m_events->GetEvent(&code, &p1, &p2, ms) != S_OK) return Event::None;
    m_events->FreeEventParams(code, p1, p2);
    switch (code) {
    case EC_COMPLETE:
        DebugTrace("EC_COMPLETE\r\n");
        return Event::Complete;
    case EC_ERRORABORT: {
        DebugTrace("EC_ERRORABORT\r\n");
        char buf[96];
        std::snprintf(buf, sizeof buf, "pipeline error (EC_ERRORABORT, 0x%08lx)",
                      static_cast<unsigned long>(p1));
        error = buf;
        if (!m_writer.LastError().empty()) error += ": " + m_writer.LastError();
        return Event::Error;
    }
    case EC_USERABORT:
        DebugTrace("EC_USERABORT\r\n");
        error = "pipeline aborted (EC_USERABORT)";
        return Event::Error;
    default:
        DebugTrace("other event:0x%x\n", unsigned(code));
        return Event::None;
    }
}
