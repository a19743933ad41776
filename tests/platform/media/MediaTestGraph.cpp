#include "MediaTestGraph.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace mediatest {

ComPtr<FilterGraph> MakeGraph(bool withClock) {
    HRESULT hr = S_OK;
    ComPtr<FilterGraph> g(new FilterGraph(nullptr, &hr));
    if (!withClock) g->SetSyncSource(nullptr);
    return g;
}

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

HRESULT Join(FilterGraph* g, IBaseFilter* a, int i, IBaseFilter* b, int j) {
    ComPtr<IPin> out = PinOf(a, PINDIR_OUTPUT, i), in = PinOf(b, PINDIR_INPUT, j);
    if (!out || !in) return E_POINTER;
    return g->ConnectDirect(out, in, nullptr);
}

double ToneFrequency(const std::vector<std::int16_t>& pcm, int channels, int ch, int rate,
                     std::size_t from, std::size_t to) {
    int crossings = 0;
    std::size_t first = 0, last = 0;
    for (std::size_t i = from + 1; i < to && (i + 1) * channels <= pcm.size(); ++i) {
        const int a = pcm[(i - 1) * channels + ch], b = pcm[i * channels + ch];
        if (a < 0 && b >= 0) {
            if (!crossings) first = i;
            last = i;
            ++crossings;
        }
    }
    if (crossings < 2) return 0;
    return double(crossings - 1) * rate / double(last - first);
}

std::vector<std::vector<std::uint8_t>> FfmpegLuma(const std::string& file, int width, int height,
                                                  const std::vector<int>& frames) {
    std::string select;
    for (int n : frames)
        select += (select.empty() ? "" : "+") + std::string("eq(n\\,") + std::to_string(n) + ")";
    const std::string cmd = "ffmpeg -nostdin -v error -i '" + file + "' -map 0:v:0 -vf \"select='" +
                            select + "'\" -fps_mode passthrough -f rawvideo -pix_fmt yuv420p -";
    std::vector<std::vector<std::uint8_t>> out;
    FILE* p = popen(cmd.c_str(), "r");
    if (!p) return out;
    const std::size_t n = std::size_t(width) * height;
    for (std::size_t k = 0; k < frames.size(); ++k) {
        std::vector<std::uint8_t> y(n), chroma(n / 2);
        if (std::fread(y.data(), 1, n, p) != n || std::fread(chroma.data(), 1, n / 2, p) != n / 2)
            break;
        out.push_back(std::move(y));
    }
    pclose(p);
    return out;
}

double MeanAbsDiff(const std::uint8_t* a, const std::uint8_t* b, std::size_t n) {
    double sum = 0;
    for (std::size_t i = 0; i < n; ++i)
        sum += std::abs(int(a[i]) - int(b[i]));
    return n ? sum / double(n) : 0;
}

} // namespace mediatest
