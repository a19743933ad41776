// Decoding speed of a DVD title through the pipeline: DVD source, MPEG
// demultiplexer and the MPEG-2 video decoder into a null renderer, with no
// clock. Usage: decode_throughput_bench DISC_FOLDER TITLE [RUNS]
// Prints "frames N seconds S fps F" for the fastest of RUNS runs (default 3).
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "demux/CCountingSink.h"
#include "demux/CMpegSplitterFilter.h"
#include "platform/dshow/ComponentRegistry.h"
#include "platform/dshow/FilterGraph.h"
#include "platform/dvd/LibDvd.h"
#include "platform/media/MediaClsids.h"
#include "platform/media/MediaComponents.h"
#include "source/CDVDReader.h"
#include "source/IMyDVDReader.h"

namespace {

ComPtr<IPin> PinOf(IBaseFilter* f, PIN_DIRECTION dir, int n) {
    ComPtr<IEnumPins> e;
    if (FAILED(f->EnumPins(&e))) return nullptr;
    IPin* p = nullptr;
    while (e->Next(1, &p, nullptr) == S_OK) {
        ComPtr<IPin> pin = ComPtr<IPin>::Adopt(p);
        PIN_DIRECTION d;
        pin->QueryDirection(&d);
        if (d == dir && n-- == 0) return pin;
    }
    return nullptr;
}

bool Check(HRESULT hr, const char* what) {
    if (SUCCEEDED(hr)) return true;
    std::fprintf(stderr, "decode_throughput: %s failed (0x%08X)\n", what, unsigned(hr));
    return false;
}

// One pass over the title; frames decoded and seconds taken, or false.
bool g_splitOnly = false;

bool RunOnce(DvdHandle dvd, int title, long long* frames, double* seconds) {
    HRESULT hr = S_OK;
    ComPtr<FilterGraph> graph(new FilterGraph(nullptr, &hr));
    graph->SetSyncSource(nullptr);
    ComPtr<IBaseFilter> source, splitter, decoder;
    auto* sink = new CCountingSink(false);
    ComPtr<IBaseFilter> sinkRef(static_cast<IBaseFilter*>(sink));
    if (!Check(CDVDReader::Create(&source), "source") ||
        !Check(CMpegSplitterFilter::Create(&splitter), "splitter") ||
        !Check(CoCreateInstance(CLSID_MpegDecoder, nullptr, 1, IID_IBaseFilter,
                                reinterpret_cast<void**>(&decoder)),
               "decoder"))
        return false;
    auto reader = source.As<IMyDVDReader>();
    if (!Check(reader->SetDvdHandle(dvd), "SetDvdHandle") ||
        !Check(reader->SetTitleArea(title, -1), "SetTitleArea"))
        return false;
    graph->AddFilter(source, L"Reader");
    graph->AddFilter(splitter, L"Splitter");
    graph->AddFilter(decoder, L"Decoder");
    graph->AddFilter(sinkRef, L"Null Renderer");
    if (!Check(graph->ConnectDirect(PinOf(source, PINDIR_OUTPUT, 0),
                                    PinOf(splitter, PINDIR_INPUT, 0), nullptr),
               "source to splitter"))
        return false;
    if (g_splitOnly) {
        if (!Check(graph->ConnectDirect(PinOf(splitter, PINDIR_OUTPUT, 0),
                                        PinOf(sinkRef, PINDIR_INPUT, 0), nullptr),
                   "splitter to renderer"))
            return false;
    } else if (!Check(graph->ConnectDirect(PinOf(splitter, PINDIR_OUTPUT, 0),
                                           PinOf(decoder, PINDIR_INPUT, 0), nullptr),
                      "splitter to decoder") ||
               !Check(graph->ConnectDirect(PinOf(decoder, PINDIR_OUTPUT, 0),
                                           PinOf(sinkRef, PINDIR_INPUT, 0), nullptr),
                      "decoder to renderer"))
        return false;
    const auto t0 = std::chrono::steady_clock::now();
    if (!Check(graph->Run(), "Run")) return false;
    const bool ended = sink->WaitForEnd(600000);
    const auto t1 = std::chrono::steady_clock::now();
    graph->Stop();
    if (!ended) {
        std::fprintf(stderr, "decode_throughput: no end of stream\n");
        return false;
    }
    *frames = sink->GetStats().packets;
    *seconds = std::chrono::duration<double>(t1 - t0).count();
    return true;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s DISC_FOLDER TITLE [RUNS]\n", argv[0]);
        return 2;
    }
    const int title = std::atoi(argv[2]);
    const int runs = argc > 3 ? std::max(1, std::atoi(argv[3])) : 3;
    // --split-only: the demultiplexer's video packets into the null renderer (its share of the
    // time).
    g_splitOnly = argc > 4 && std::string(argv[4]) == "--split-only";
    if (FAILED(RegisterMediaComponents())) return 2;
    DvdHandle dvd = MyDVDOpen(argv[1]);
    if (!dvd) {
        std::fprintf(stderr, "decode_throughput: cannot open %s\n", argv[1]);
        return 2;
    }
    long long bestFrames = 0;
    double best = 0;
    for (int i = 0; i < runs; ++i) {
        long long frames = 0;
        double seconds = 0;
        if (!RunOnce(dvd, title, &frames, &seconds)) {
            MyDVDClose(dvd);
            return 1;
        }
        if (best == 0 || seconds < best) {
            best = seconds;
            bestFrames = frames;
        }
    }
    MyDVDClose(dvd);
    std::printf("frames %lld seconds %.3f fps %.1f\n", bestFrames, best, double(bestFrames) / best);
    return 0;
}
