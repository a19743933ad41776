#include "demux/CMpegSplitterFilter.h"

#include "platform/dshow/FilterFactory.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <new>

#include "demux/CMpegSplitterOutputPin.h"
#include "demux/ISubpicturePalette.h"
#include "demux/StreamDescription.h"
#include "demux/StreamMediaTypes.h"
#include "platform/win/DebugTrace.h"

namespace {

using File = CMpegSplitterFile;

constexpr std::int64_t kStartCodeLimit = 65536;
constexpr REFERENCE_TIME kSecond = 10000000;

const wchar_t* PinName(File::StreamKind kind) {
    switch (kind) {
    case File::kVideo:
        return L"Video";
    case File::kAudio:
        return L"Audio";
    default:
        return L"Subtitle";
    }
}

WCHAR* TaskString(const std::string& text) {
    auto* out = static_cast<WCHAR*>(CoTaskMemAlloc((text.size() + 1) * sizeof(WCHAR)));
    if (!out) return nullptr;
    for (std::size_t i = 0; i < text.size(); ++i)
        out[i] = WCHAR(static_cast<unsigned char>(text[i]));
    out[text.size()] = 0;
    return out;
}

// The subpicture colour table of the filter upstream (a DVD source), as
// palette text; empty when that filter has none.
std::string UpstreamPalette(IAsyncReader* reader) {
    ComPtr<IPin> pin = ComPtr<IAsyncReader>(reader).As<IPin>();
    PIN_INFO info{};
    if (!pin || FAILED(pin->QueryPinInfo(&info)) || !info.pFilter) return {};
    ComPtr<IBaseFilter> filter = ComPtr<IBaseFilter>::Adopt(info.pFilter);
    auto source = filter.As<ISubpicturePalette>();
    DWORD colours[16] = {};
    if (!source || source->GetSubpicturePalette(colours) != S_OK) return {};
    std::uint32_t ycrcb[16];
    for (int i = 0; i < 16; ++i)
        ycrcb[i] = std::uint32_t(colours[i]);
    return DvdPaletteText(ycrcb);
}

} // namespace

CUnknown* CMpegSplitterFilter::CreateInstance(IUnknown* outer, HRESULT* phr) {
    return CreateFilterInstance<CMpegSplitterFilter>(outer, phr);
}

HRESULT CMpegSplitterFilter::Create(IBaseFilter** ppFilter) { return CreateFilter<CMpegSplitterFilter>(ppFilter); }

CMpegSplitterFilter::CMpegSplitterFilter(IUnknown* outer, HRESULT* phr)
    : CBaseSplitterFilter("MPEG splitter", outer, phr, CLSID_MpegSplitter) {}

// The worker calls this class's hooks: end it before the members go.
CMpegSplitterFilter::~CMpegSplitterFilter() {
    Stop();
}

HRESULT CMpegSplitterFilter::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
    if (riid == IID_IAMStreamSelect)
        return ::GetInterface(static_cast<IAMStreamSelect*>(this), ppv);
    if (riid == IID_IMyMpegSplitter)
        return ::GetInterface(static_cast<IMyMpegSplitter*>(this), ppv);
    return CBaseSplitterFilter::NonDelegatingQueryInterface(riid, ppv);
}

// -- IMyMpegSplitter

HRESULT CMpegSplitterFilter::SetTitleStreams(const void* record) {
    if (!record) return E_POINTER;
    titleStreams_ = TitleStreamTable::FromTitleRecord(record, 1304);
    return S_OK;
}

HRESULT CMpegSplitterFilter::SetPlayRange(LONGLONG start, LONGLONG length, LONGLONG duration) {
    playStart_ = start * 10000;
    playLength_ = length * 10000;
    titleDuration_ = duration * 10000;
    lengthGiven_ = length > 0;
    return S_OK;
}

// -- building the pins

HRESULT CMpegSplitterFilter::CreateOutputPins(IAsyncReader* reader) {
    if (!reader) return E_POINTER;
    {
        std::lock_guard lk(streamsLock_);
        parser_.reset();
    }
    SourceFileName(reader); // clip information exists only beside Blu-ray files
    HRESULT hr = S_OK;
    auto parser = std::make_unique<File>(reader, hr, false, nullptr, &titleStreams_);
    if (FAILED(hr)) return hr;
    parser->SetSubpicturePalette(UpstreamPalette(reader));
    {
        std::lock_guard lk(streamsLock_);
        parser_ = std::move(parser);
    }
    m_rtCurrent = 0;
    m_rtNewStart = 0;
    m_rtDuration = 0;
    m_rtStop = 0;
    m_rtNewStop = 0;

    for (int k = 0; k < File::kStreamKinds; ++k) {
        auto kind = File::StreamKind(k);
        for (const auto& s : parser_->Streams(kind)) {
            HRESULT hrPin = S_OK;
            REFERENCE_TIME tolerance = kind == File::kSubpicture
                                           ? INT64_MAX
                                           : CMpegSplitterOutputPin::kDefaultJumpTolerance;
            auto* pin = new (std::nothrow)
                CMpegSplitterOutputPin(s.mt, PinName(kind), this, this, &hrPin, tolerance);
            if (pin && SUCCEEDED(hrPin) && S_OK == RegisterOutputPin(s.Id(), pin)) break;
            delete pin;
        }
    }
    if (parser_->IsRandomAccess() && parser_->GetRate() > 0) {
        REFERENCE_TIME d = parser_->GetLength() * kSecond / parser_->GetRate();
        m_rtDuration = d;
        m_rtStop = d;
        m_rtNewStop = d;
    }
    return OutputPins().empty() ? E_FAIL : S_OK;
}

// -- worker thread

bool CMpegSplitterFilter::StartDemux() {
    if (!parser_) return false;
    origin_ = 0;
    if (titleDuration_ > 0)
        m_rtDuration = titleDuration_.load();
    else
        titleDuration_ = m_rtDuration.load();
    if (playLength_ == 0) playLength_ = m_rtDuration.load();
    return true;
}

std::int64_t CMpegSplitterFilter::NextTimestamp(DWORD id) {
    std::lock_guard lk(streamsLock_);
    return parser_->FindNextTimestamp(id);
}

bool CMpegSplitterFilter::HasConnectedPin(DWORD id) {
    CBaseSplitterOutputPin* pin = FindOutputPin(id);
    return pin && pin->IsConnected();
}

void CMpegSplitterFilter::SeekDemux(REFERENCE_TIME t) {
    const File::StreamList* primary = parser_->PrimaryStreamList();
    if (!primary || primary->empty()) return;
    DWORD primaryId = primary->front().Id();
    const std::int64_t length = parser_->GetLength();

    if (parser_->IsStreaming()) {
        parser_->Seek(std::max<std::int64_t>(0, length - 102400));
        origin_ = parser_->EarliestPts() + NextTimestamp(primaryId);
        return;
    }
    const REFERENCE_TIME duration = m_rtDuration;
    if (t <= kSecond || duration <= 0) {
        parser_->Seek(0);
        return;
    }
    auto position = [&](REFERENCE_TIME at) {
        return std::int64_t(double(at) / double(duration) * double(length));
    };
    std::int64_t p = position(t);
    const REFERENCE_TIME upper = t - kSecond, lower = upper - kSecond / 2;

    std::int64_t best = -1;
    if (origin_ == 0) {
        std::vector<DWORD> ids;
        {
            std::lock_guard lk(streamsLock_);
            for (auto kind : {File::kVideo, File::kAudio})
                for (const auto& s : parser_->Streams(kind))
                    ids.push_back(s.Id());
        }
        for (DWORD id : ids) {
            if (!HasConnectedPin(id)) continue;
            parser_->Seek(p);
            REFERENCE_TIME prev = Packet::kNoTime;
            for (int i = 0; i < 10; ++i) {
                std::int64_t n = NextTimestamp(id);
                if (n < 0) break;
                REFERENCE_TIME d = n - upper;
                if (d > 0 && d == prev) d = kSecond;
                if ((lower <= n && n <= upper) || (prev != Packet::kNoTime && prev > 0 && d < 0)) {
                    std::int64_t pos = parser_->GetPos();
                    best = best < 0 ? pos : std::min(best, pos);
                    break;
                }
                parser_->Seek(parser_->GetPos() -
                              std::int64_t(double(d) / double(duration) * double(length)));
                prev = d;
            }
        }
    }
    if (best >= 0) {
        parser_->Seek(best);
        return;
    }
    t -= kSecond;
    p = position(t);
    parser_->Seek(p);
    std::int64_t n = NextTimestamp(primaryId);
    // No time stamp after p (a seek past the end): keep the parser's own origin
    // so that later seeks still search.
    if (n >= 0) origin_ = parser_->EarliestPts() + n - t;
    parser_->Seek(p);
}

bool CMpegSplitterFilter::DemuxPackets() {
    const REFERENCE_TIME offset = origin_ ? origin_ : parser_->EarliestPts();
    // The position of a previous pass must not end this one before it starts.
    m_rtCurrent = std::max(m_rtStart.load(), playStart_.load());
    if (playStart_ > 0) SeekDemux(playStart_);
    parser_->ClearReadError();
    HRESULT hr = S_OK;
    while (SUCCEEDED(hr) && !CommandPending() && HasActivePins()) {
        if (lengthGiven_ && m_rtCurrent >= playStart_ + playLength_) break;
        hr = parser_->CheckDataAvailable(512000, 1);
        if (FAILED(hr)) break;
        hr = ReadNextPacket(offset);
        if (hr == S_FALSE) {
            // A source that stopped delivering ends the pass instead of polling forever.
            if (parser_->ReadFailed()) break;
            SleepUnlessCommand(200);
        }
    }
    return true;
}

HRESULT CMpegSplitterFilter::ReadNextPacket(REFERENCE_TIME offset) {
    switch (parser_->GetContainerType()) {
    case File::kTransportStream:
        return ReadTransportPacket(offset);
    case File::kPva:
        return ReadPvaPacket(offset);
    default:
        return ReadProgramPacket(offset);
    }
}

void CMpegSplitterFilter::RoutePayload(DWORD track, bool hasPts, REFERENCE_TIME pts,
                                       REFERENCE_TIME offset, std::int64_t length) {
    if (length < 0) length = 0;
    auto p = std::make_unique<Packet>();
    p->track = track;
    p->syncPoint = hasPts;
    p->appendable = !hasPts;
    if (hasPts) {
        p->start = pts - offset;
        p->stop = p->start + 1;
    }
    p->data.resize(std::size_t(length));
    if (length > 0 && parser_->ReadBytes(p->data.data(), length) != S_OK) {
        parser_->MarkReadError();
        return;
    }
    RoutePacket(std::move(p));
}

HRESULT CMpegSplitterFilter::ReadProgramPacket(REFERENCE_TIME offset) {
    BYTE code = 0;
    if (!parser_->FindStartCode(code, kStartCodeLimit)) return S_FALSE;
    if (code == mpeg::kPackStartCode) {
        PackHeader h;
        return parser_->ReadPackHeader(h) ? S_OK : S_FALSE;
    }
    if (code == mpeg::kSystemHeaderCode) {
        SystemHeader h;
        return parser_->ReadSystemHeader(h) ? S_OK : S_FALSE;
    }
    if (code < mpeg::kPrivateStream1 || code > mpeg::kVideoStreamLast) return S_OK;
    PesHeader h;
    if (!parser_->ReadPesHeader(h, code) || h.length == 0) return S_FALSE;
    if (h.version == 2 && h.scrambling) return E_FAIL;
    const std::int64_t payload = parser_->GetPos();
    DWORD track;
    {
        std::lock_guard lk(streamsLock_);
        track = parser_->ClassifyStream(0, code, h.length);
    }
    if (FindOutputPin(track)) {
        std::int64_t consumed = parser_->GetPos() - payload;
        RoutePayload(track, h.hasPts, h.pts, offset, h.length - consumed);
    }
    parser_->Seek(payload + h.length);
    return S_OK;
}

HRESULT CMpegSplitterFilter::ReadTransportPacket(REFERENCE_TIME offset) {
    TsHeader h;
    if (!parser_->ReadTsHeader(h, true)) return S_FALSE;
    const std::int64_t payload = parser_->GetPos();
    if (h.payloadStart) {
        parser_->UpdatePrograms(h);
        parser_->Seek(payload);
    }
    if (h.hasPayload && h.pid >= mpeg::kFirstElementaryPid && h.pid <= mpeg::kLastElementaryPid &&
        !h.scrambling) {
        DWORD track = h.pid;
        PesHeader pes;
        bool hasPes = false;
        if (h.payloadStart) {
            BYTE code = 0;
            if (parser_->FindStartCode(code, 4) && parser_->ReadPesHeader(pes, code)) {
                if (pes.version == 2 && pes.scrambling) return E_FAIL;
                hasPes = true;
                std::lock_guard lk(streamsLock_);
                track = parser_->ClassifyStream(h.pid, code, h.next - parser_->GetPos());
            } else {
                parser_->Seek(payload);
            }
        }
        if (FindOutputPin(track))
            RoutePayload(track, hasPes && pes.hasPts, pes.pts, offset, h.next - parser_->GetPos());
    }
    parser_->Seek(h.next);
    return S_OK;
}

HRESULT CMpegSplitterFilter::ReadPvaPacket(REFERENCE_TIME offset) {
    PvaHeader h;
    if (!parser_->ReadPvaHeader(h, true)) return S_FALSE;
    const std::int64_t payload = parser_->GetPos();
    if (FindOutputPin(h.streamId)) RoutePayload(h.streamId, h.hasPts, h.pts, offset, h.length);
    parser_->Seek(payload + h.length);
    return S_OK;
}

// -- IMediaSeeking overrides

HRESULT CMpegSplitterFilter::GetDuration(LONGLONG* p) {
    if (!p) return E_POINTER;
    *p = playLength_;
    return S_OK;
}

HRESULT CMpegSplitterFilter::GetCurrentPosition(LONGLONG* p) {
    if (!p) return E_POINTER;
    *p = m_rtCurrent;
    DebugTrace("curpos:%lld\n", static_cast<long long>(*p));
    return S_OK;
}

// -- IAMStreamSelect

bool CMpegSplitterFilter::StreamAt(LONG index, File::StreamKind& kind, File::MpegStream& out) {
    std::lock_guard lk(streamsLock_);
    if (!parser_ || index < 0) return false;
    for (int k = 0; k < File::kStreamKinds; ++k) {
        const auto& list = parser_->Streams(File::StreamKind(k));
        if (std::size_t(index) < list.size()) {
            kind = File::StreamKind(k);
            out = list[std::size_t(index)];
            return true;
        }
        index -= LONG(list.size());
    }
    return false;
}

HRESULT CMpegSplitterFilter::Count(DWORD* pc) {
    if (!pc) return E_POINTER;
    std::lock_guard lk(streamsLock_);
    *pc = 0;
    if (parser_)
        for (int k = 0; k < File::kStreamKinds; ++k)
            *pc += DWORD(parser_->Streams(File::StreamKind(k)).size());
    return S_OK;
}

HRESULT CMpegSplitterFilter::Info(LONG index, AM_MEDIA_TYPE** ppmt, DWORD* flags, LCID* lcid,
                                  DWORD* group, WCHAR** name, IUnknown** object, IUnknown** unk) {
    File::StreamKind kind;
    File::MpegStream s;
    if (!StreamAt(index, kind, s)) return S_OK;
    if (ppmt) *ppmt = CreateMediaType(&s.mt);
    if (flags)
        *flags =
            FindOutputPin(s.Id()) ? AMSTREAMSELECTINFO_ENABLED | AMSTREAMSELECTINFO_EXCLUSIVE : 0;
    if (lcid) *lcid = 0;
    if (group) *group = DWORD(kind);
    if (object) *object = nullptr;
    if (unk) *unk = nullptr;
    if (name) {
        std::string text;
        if (kind == File::kSubpicture && s.pid == 1) {
            text = "No subtitles";
            if (lcid) *lcid = LCID(-1);
        } else {
            BYTE streamType = 0;
            if (s.pid) {
                for (const auto& [pmtPid, program] : parser_->Programs())
                    for (const auto& [pid, type] : program.streams)
                        if (pid == s.pid) streamType = type;
            }
            std::string d = StreamDescription(s.mt, nullptr, streamType);
            const char* t = StreamTypeName(streamType);
            char buf[512];
            if (!d.empty())
                std::snprintf(buf, sizeof buf, "%s (%04x,%02x,%02x)", d.c_str(), s.pid, s.pesid,
                              s.ps1id);
            else if (t)
                std::snprintf(buf, sizeof buf, "%s - %s (%04x,%02x,%02x)",
                              File::StreamKindName(kind), t, s.pid, s.pesid, s.ps1id);
            else
                std::snprintf(buf, sizeof buf, "%s (%04x,%02x,%02x)", File::StreamKindName(kind),
                              s.pid, s.pesid, s.ps1id);
            text = buf;
        }
        *name = TaskString(text);
    }
    return S_OK;
}

HRESULT CMpegSplitterFilter::Enable(LONG index, DWORD flags) {
    if (flags != AMSTREAMSELECTENABLE_ENABLE) return E_NOTIMPL;
    File::StreamKind kind;
    File::MpegStream chosen;
    if (!StreamAt(index, kind, chosen)) return S_FALSE;

    std::vector<DWORD> current;
    {
        std::lock_guard lk(streamsLock_);
        for (const auto& s : parser_->Streams(kind))
            if (FindOutputPin(s.Id())) current.push_back(s.Id());
    }
    for (DWORD id : current) {
        HRESULT hr = RetargetOutputPin(id, chosen.Id(), &chosen.mt);
        if (FAILED(hr)) return hr;
    }

    // Transport streams: the other pins follow to the chosen stream's program.
    if (parser_->GetContainerType() != File::kTransportStream || parser_->IsHdmv() || !chosen.pid)
        return S_OK;
    for (const auto& [pmtPid, program] : parser_->Programs()) {
        bool inProgram = std::any_of(program.streams.begin(), program.streams.end(),
                                     [&](const auto& e) { return e.first == chosen.pid; });
        if (!inProgram) continue;
        for (int k = 0; k < File::kStreamKinds; ++k) {
            if (k == kind) continue;
            std::vector<std::pair<DWORD, File::MpegStream>> moves;
            {
                std::lock_guard lk(streamsLock_);
                const auto& list = parser_->Streams(File::StreamKind(k));
                DWORD from = 0;
                bool hasPin = false;
                for (const auto& s : list)
                    if (FindOutputPin(s.Id())) from = s.Id(), hasPin = true;
                if (!hasPin) continue;
                for (const auto& [pid, type] : program.streams) {
                    auto it = std::find_if(list.begin(), list.end(),
                                           [&](const auto& s) { return s.pid == pid; });
                    if (it != list.end()) {
                        moves.emplace_back(from, *it);
                        break;
                    }
                }
            }
            for (auto& [from, to] : moves)
                if (from != to.Id()) RetargetOutputPin(from, to.Id(), &to.mt);
        }
        break;
    }
    return S_OK;
}
