// Times the DVD source plus the MPEG demultiplexer over one title into null
// sinks. Usage: demux_throughput_bench DISC TITLE RUNS
// Prints "bytes N", "seconds S" (median of the runs), "packets N",
// "pin NAME PACKETS BYTES" and "peak_rss_kb N".
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "demux/CCountingSink.h"
#include "demux/CMpegSplitterFilter.h"
#include "platform/dvd/LibDvd.h"
#include "source/CDVDReader.h"

namespace {

struct Run {
    double seconds = 0;
    long long bytes = 0;
    std::vector<std::pair<std::string, CCountingSink::Stats>> pins;
};

bool RunOnce(const char* discPath, int title, Run& run) {
    DvdHandle disc = MyDVDOpen(discPath);
    if (!disc) return false;
    bool ok = false;
    {
        ComPtr<IBaseFilter> source, splitter;
        std::vector<ComPtr<IBaseFilter>> sinkRefs;
        std::vector<CCountingSink*> sinks;
        CDVDReader::Create(&source);
        auto control = source.As<IMyDVDReader>();
        LONGLONG ms = 0;
        if (control && SUCCEEDED(control->SetDvdHandle(disc)) && SUCCEEDED(control->SetTitleArea(title, -1)) &&
            SUCCEEDED(control->GetTitleDuration(&ms)) && SUCCEEDED(CMpegSplitterFilter::Create(&splitter))) {
            auto* f = static_cast<CMpegSplitterFilter*>(static_cast<CBaseFilter*>(splitter.Get()));
            ComPtr<IPin> out;
            auto t0 = std::chrono::steady_clock::now();
            if (SUCCEEDED(source->FindPin(L"Output", &out)) &&
                SUCCEEDED(out->Connect(f->GetPin(f->GetPinCount() - 1), nullptr))) {
                f->SetPlayRange(0, ms, ms);
                ok = true;
                for (int i = 0; i + 1 < f->GetPinCount(); ++i) {
                    auto* sink = new CCountingSink();
                    sinkRefs.emplace_back(static_cast<IBaseFilter*>(sink));
                    sinks.push_back(sink);
                    ok = ok && SUCCEEDED(f->GetPin(i)->Connect(sink->InputPin(), nullptr));
                    sink->Pause();
                }
                source->Pause();
                ok = ok && SUCCEEDED(f->Pause());
                for (auto* s : sinks)
                    while (ok && !s->WaitForEnd(1000)) {
                    }
                run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
                for (int i = 0; i + 1 < f->GetPinCount(); ++i) {
                    auto* pin = static_cast<CBasePin*>(f->GetPin(i));
                    std::string name(pin->Name().begin(), pin->Name().end());
                    run.pins.emplace_back(name, sinks[size_t(i)]->GetStats());
                }
                LONGLONG total = 0, avail = 0;
                ComPtr<IAsyncReader> reader = out.As<IAsyncReader>();
                if (reader) reader->Length(&total, &avail);
                run.bytes = total;
                f->Stop();
            }
            for (auto* s : sinks) s->Stop();
            source->Stop();
            static_cast<CMpegSplitterFilter*>(static_cast<CBaseFilter*>(splitter.Get()))->DisconnectPins();
        }
    }
    MyDVDClose(disc);
    return ok;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: %s DISC TITLE RUNS\n", argv[0]);
        return 2;
    }
    int title = std::atoi(argv[2]), runs = std::max(1, std::atoi(argv[3]));
    std::vector<double> times;
    Run last;
    for (int i = 0; i < runs; ++i) {
        Run run;
        if (!RunOnce(argv[1], title, run)) {
            std::fprintf(stderr, "demux_throughput_bench: cannot run title %d of %s\n", title, argv[1]);
            return 1;
        }
        times.push_back(run.seconds);
        last = run;
    }
    std::sort(times.begin(), times.end());
    std::printf("bytes %lld\n", last.bytes);
    std::printf("seconds %.6f\n", times[times.size() / 2]);
    long long packets = 0;
    for (auto& [name, s] : last.pins) {
        std::printf("pin %s %lld %lld\n", name.c_str(), (long long)s.packets, (long long)s.bytes);
        packets += s.packets;
    }
    std::printf("packets %lld\n", packets);
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    std::printf("peak_rss_kb %ld\n", ru.ru_maxrss);
    return 0;
}
