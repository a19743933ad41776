// dvdconv streams DISC --title N [--chapter C] [--json] [--demux [--start S] [--length L]]
//
// Lists the streams the demultiplexer finds in a title (or one chapter) as its
// stream selection names them, which one feeds each output pin, and with
// --demux runs the DVD source and the demultiplexer over the title (or the
// play range of --start S and --length L seconds) into counting sinks and
// reports per pin the packets, bytes, first and last time and discontinuities.
// Titles and chapters count from 1, as in "Title_01".
#include <chrono>
#include <cmath>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "cli/CliOptions.h"
#include "cli/Commands.h"
#include "cli/JsonWriter.h"
#include "demux/CCountingSink.h"
#include "demux/CMpegSplitterFilter.h"
#include "platform/dvd/LibDvd.h"
#include "platform/win/MessageService.h"
#include "source/CDVDReader.h"

namespace {

struct StreamRow {
    int index;
    const char* kind;
    bool enabled;
    std::string name;
};

struct PinRow {
    std::string name;
    CCountingSink::Stats stats;
};

struct Report {
    std::string disc;
    int title = 0, chapter = 0; // 1-based; chapter 0: whole title
    std::string container;
    LONGLONG titleMs = 0;
    std::vector<StreamRow> streams;
    bool demuxed = false;
    double startS = 0, lengthS = 0, seconds = 0;
    std::vector<PinRow> pins;
};

std::string Narrow(const wchar_t* w) {
    std::string out;
    for (; w && *w; ++w) out.push_back(*w < 128 ? char(*w) : '?');
    return out;
}

double Seconds(REFERENCE_TIME t) { return double(t) / 1e7; }

bool ParseSeconds(const std::optional<std::string>& text, double* out) {
    if (!text) return true;
    char* end = nullptr;
    double v = std::strtod(text->c_str(), &end);
    if (end == text->c_str() || *end || !std::isfinite(v) || v < 0) return false;
    *out = v;
    return true;
}

bool ParseIndex(const std::optional<std::string>& text, int* out) {
    if (!text) return true;
    char* end = nullptr;
    long v = std::strtol(text->c_str(), &end, 10);
    if (end == text->c_str() || *end || v < 1 || v > 99) return false;
    *out = int(v);
    return true;
}

// Source, demultiplexer and (for --demux) one counting sink per output pin.
class Pipeline {
public:
    ~Pipeline() {
        if (splitter_) splitter_->Stop();
        for (auto& s : sinks_) s->Stop();
        if (source_) source_->Stop();
        if (filter_) filter_->DisconnectPins();
        splitter_.Reset();
        sinks_.clear();
        source_.Reset();
        if (disc_) MyDVDClose(disc_);
    }

    // Opens the disc and connects the source to the demultiplexer. Returns the
    // message for the user, or "" on success.
    std::string Open(const std::string& path, int title, int chapter, Report& r) {
        disc_ = MyDVDOpen(path.c_str());
        if (!disc_) return "Open DVD error";
        auto info = std::make_unique<DvdDiscInfo>();
        if (MyDVDGetInfo(disc_, info.get()) != 0) return "Open DVD error";
        if (title < 1 || title > info->titleCount) return "no title " + std::to_string(title) + " on this disc";
        const DvdTitleInfo& t = info->titles[title - 1];
        if (chapter > t.chapterCount) return "title " + std::to_string(title) + " has no chapter " + std::to_string(chapter);
        if (FAILED(CDVDReader::Create(&source_))) return "DVD source error";
        auto control = source_.As<IMyDVDReader>();
        if (FAILED(control->SetDvdHandle(disc_)) || FAILED(control->SetTitleArea(title - 1, chapter - 1)))
            return "DVD source error";
        control->GetTitleDuration(&r.titleMs);
        if (FAILED(CMpegSplitterFilter::Create(&splitter_))) return "CLSID_MpegSplitter error";
        filter_ = static_cast<CMpegSplitterFilter*>(static_cast<CBaseFilter*>(splitter_.Get()));
        filter_->SetTitleStreams(&t);
        ComPtr<IPin> out;
        if (FAILED(source_->FindPin(L"Output", &out))) return "DVD source error";
        if (FAILED(out->Connect(filter_->GetPin(filter_->GetPinCount() - 1), nullptr)))
            return "no MPEG program stream found in this title";
        return "";
    }

    void List(Report& r) {
        static const char* const kKinds[] = {"video", "audio", "subtitle"};
        r.container = CMpegSplitterFile::ContainerTypeName(filter_->Parser()->GetContainerType());
        auto select = ComPtr<IBaseFilter>(splitter_).As<IAMStreamSelect>();
        DWORD count = 0;
        select->Count(&count);
        for (DWORD i = 0; i < count; ++i) {
            DWORD flags = 0, group = 0;
            WCHAR* name = nullptr;
            select->Info(LONG(i), nullptr, &flags, nullptr, &group, &name, nullptr, nullptr);
            r.streams.push_back({int(i), kKinds[group < 3 ? group : 2], (flags & 1) != 0, Narrow(name)});
            CoTaskMemFree(name);
        }
    }

    // Runs the pass into counting sinks and waits for every pin's end of stream.
    std::string Demux(Report& r) {
        int outputs = filter_->GetPinCount() - 1;
        for (int i = 0; i < outputs; ++i) {
            auto* sink = new CCountingSink();
            sinks_.emplace_back(static_cast<IBaseFilter*>(sink));
            counters_.push_back(sink);
            if (FAILED(filter_->GetPin(i)->Connect(sink->InputPin(), nullptr))) return "cannot connect a counting sink";
        }
        LONGLONG startMs = LONGLONG(std::llround(r.startS * 1000));
        LONGLONG lengthMs = r.lengthS > 0 ? LONGLONG(std::llround(r.lengthS * 1000)) : r.titleMs - startMs;
        if (lengthMs <= 0) lengthMs = r.titleMs > 0 ? r.titleMs : 0;
        if (r.titleMs > 0 || lengthMs > 0) filter_->SetPlayRange(startMs, lengthMs, r.titleMs);
        r.lengthS = double(lengthMs) / 1000;
        auto t0 = std::chrono::steady_clock::now();
        for (auto* s : counters_) s->Pause();
        source_->Pause();
        if (FAILED(filter_->Pause())) return "the demultiplexer did not start";
        for (auto* s : counters_)
            while (!s->WaitForEnd(1000)) {
            }
        r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        r.demuxed = true;
        for (int i = 0; i < outputs; ++i)
            r.pins.push_back({Narrow(static_cast<CBasePin*>(filter_->GetPin(i))->Name().c_str()),
                              counters_[size_t(i)]->GetStats()});
        filter_->Stop();
        return "";
    }

private:
    DvdHandle disc_ = 0;
    ComPtr<IBaseFilter> source_, splitter_;
    CMpegSplitterFilter* filter_ = nullptr;
    std::vector<ComPtr<IBaseFilter>> sinks_;
    std::vector<CCountingSink*> counters_;
};

void PrintText(const Report& r) {
    std::printf("%s, title %d", r.disc.c_str(), r.title);
    if (r.chapter) std::printf(" chapter %d", r.chapter);
    std::printf(": %s, %.3f s, %zu streams\n", r.container.c_str(), double(r.titleMs) / 1000, r.streams.size());
    for (const StreamRow& s : r.streams)
        std::printf("  %2d %-8s %s %s\n", s.index, s.kind, s.enabled ? "*" : " ", s.name.c_str());
    if (!r.demuxed) return;
    std::printf("demux from %.3f s for %.3f s: %.2f s\n", r.startS, r.lengthS, r.seconds);
    std::printf("  %-9s %9s %12s %10s %10s %8s\n", "pin", "packets", "bytes", "first s", "last s", "discont.");
    for (const PinRow& p : r.pins)
        std::printf("  %-9s %9lld %12lld %10.3f %10.3f %8lld\n", p.name.c_str(), (long long)p.stats.packets,
                    (long long)p.stats.bytes, Seconds(p.stats.first), Seconds(p.stats.last),
                    (long long)p.stats.discontinuities);
}

void PrintJson(const Report& r) {
    JsonWriter j;
    j.BeginObject().Key("disc").String(r.disc).Key("title").Int(r.title).Key("chapter").Int(r.chapter);
    j.Key("container").String(r.container).Key("durationMs").Int(r.titleMs).Key("streams").BeginArray();
    for (const StreamRow& s : r.streams)
        j.BeginObject().Key("index").Int(s.index).Key("kind").String(s.kind).Key("enabled").Bool(s.enabled)
            .Key("name").String(s.name).EndObject();
    j.EndArray();
    if (r.demuxed) {
        j.Key("demux").BeginObject().Key("start").Double(r.startS).Key("length").Double(r.lengthS);
        j.Key("seconds").Double(r.seconds).Key("pins").BeginArray();
        for (const PinRow& p : r.pins) {
            j.BeginObject().Key("name").String(p.name).Key("packets").Int(p.stats.packets);
            j.Key("bytes").Int(p.stats.bytes).Key("first").Double(Seconds(p.stats.first));
            j.Key("last").Double(Seconds(p.stats.last)).Key("discontinuities").Int(p.stats.discontinuities);
            j.Key("ended").Bool(p.stats.ended).EndObject();
        }
        j.EndArray().EndObject();
    }
    j.EndObject();
    std::fputs(j.Text().c_str(), stdout);
}

} // namespace

int RunStreamsCommand(const CommandArgs& args) {
    CliOptions opts("streams", args);
    Report r;
    bool json = opts.Flag("--json");
    bool demux = opts.Flag("--demux");
    auto title = opts.Value("--title");
    auto chapter = opts.Value("--chapter");
    auto start = opts.Value("--start");
    auto length = opts.Value("--length");
    auto disc = opts.Positional();
    if (!opts.Finish()) return opts.ReportErrors();
    if (!disc) return opts.UsageError("missing DISC");
    if (!title) return opts.UsageError("missing --title N");
    if (!ParseIndex(title, &r.title)) return opts.UsageError("--title wants a number from 1");
    if (!ParseIndex(chapter, &r.chapter)) return opts.UsageError("--chapter wants a number from 1");
    if (!ParseSeconds(start, &r.startS)) return opts.UsageError("--start wants seconds (0 or more)");
    if (!ParseSeconds(length, &r.lengthS)) return opts.UsageError("--length wants seconds (0 or more)");
    if ((start || length) && !demux) return opts.UsageError("--start and --length go with --demux");
    r.disc = *disc;

    Pipeline pipeline;
    std::string failure = pipeline.Open(*disc, r.title, r.chapter, r);
    if (failure == "Open DVD error") {
        MessageService::Show(failure);
        return 1;
    }
    if (!failure.empty()) {
        std::fprintf(stderr, "dvdconv streams: %s\n", failure.c_str());
        return 1;
    }
    pipeline.List(r);
    if (demux) {
        if (r.titleMs > 0 && r.startS * 1000 >= double(r.titleMs)) {
            std::fprintf(stderr, "dvdconv streams: --start %.3f is beyond the title's end (%.3f s)\n", r.startS,
                         double(r.titleMs) / 1000);
            return 1;
        }
        failure = pipeline.Demux(r);
        if (!failure.empty()) {
            std::fprintf(stderr, "dvdconv streams: %s\n", failure.c_str());
            return 1;
        }
    }
    if (json)
        PrintJson(r);
    else
        PrintText(r);
    return 0;
}
