// Looks at written media files with the peer tools: ffprobe for containers,
// codecs, sizes, rates and frame counts; ffprobe's lavfi input for the time of
// the first bright picture and the first loud sound, which measures how far
// sound and pictures are apart. Header only; used by the sink and convert tests.
#pragma once

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

namespace probe {

struct Stream {
    std::string type, codec;
    int width = 0, height = 0;
    double fps = 0;
    int sampleRate = 0, channels = 0;
    double start = 0, duration = -1;
    long frames = -1;
};

struct Result {
    bool ok = false;
    std::string format;
    double duration = -1;
    std::vector<Stream> streams;
    const Stream* Of(const std::string& type) const {
        for (const auto& s : streams)
            if (s.type == type) return &s;
        return nullptr;
    }
    int Count(const std::string& type) const {
        int n = 0;
        for (const auto& s : streams) n += s.type == type;
        return n;
    }
};

inline std::string Run(const std::string& cmd) {
    std::string out;
    FILE* p = popen(cmd.c_str(), "r");
    if (!p) return out;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    pclose(p);
    return out;
}

inline double Number(const std::string& v) {
    auto slash = v.find('/');
    if (slash != std::string::npos) {
        double d = std::atof(v.c_str() + slash + 1);
        return d ? std::atof(v.substr(0, slash).c_str()) / d : 0;
    }
    if (v.empty() || v == "N/A") return -1;
    return std::atof(v.c_str());
}

inline Result File(const std::string& path) {
    Result r;
    std::string out = Run("ffprobe -v error -count_frames -show_entries "
                          "format=format_name,duration:stream=codec_type,codec_name,width,height,"
                          "avg_frame_rate,sample_rate,channels,start_time,duration,nb_read_frames "
                          "-of default=nw=0 '" + path + "' 2>/dev/null");
    std::istringstream in(out);
    std::string line;
    Stream* cur = nullptr;
    bool inFormat = false;
    while (std::getline(in, line)) {
        if (line == "[STREAM]") {
            r.streams.emplace_back();
            cur = &r.streams.back();
            continue;
        }
        if (line == "[FORMAT]") {
            inFormat = true;
            cur = nullptr;
            continue;
        }
        auto eq = line.find('=');
        if (eq == std::string::npos) continue;
        std::string k = line.substr(0, eq), v = line.substr(eq + 1);
        if (inFormat) {
            if (k == "format_name") r.format = v, r.ok = true;
            if (k == "duration") r.duration = Number(v);
        } else if (cur) {
            if (k == "codec_type") cur->type = v;
            if (k == "codec_name") cur->codec = v;
            if (k == "width") cur->width = std::atoi(v.c_str());
            if (k == "height") cur->height = std::atoi(v.c_str());
            if (k == "avg_frame_rate") cur->fps = Number(v);
            if (k == "sample_rate") cur->sampleRate = std::atoi(v.c_str());
            if (k == "channels") cur->channels = std::atoi(v.c_str());
            if (k == "start_time") cur->start = Number(v);
            if (k == "duration") cur->duration = Number(v);
            if (k == "nb_read_frames") cur->frames = std::atol(v.c_str());
        }
    }
    return r;
}

// Presentation time (s) of the first picture whose mean luma exceeds `luma`,
// or NaN. Decoding honours the container's edit lists, as a player does.
inline double FirstBrightPicture(const std::string& path, double luma = 128) {
    std::string out = Run("ffprobe -v error -f lavfi -i \"movie='" + path +
                          "',signalstats\" -show_entries "
                          "frame=pts_time:frame_tags=lavfi.signalstats.YAVG -of csv=p=0 2>/dev/null");
    std::istringstream in(out);
    std::string line;
    while (std::getline(in, line)) {
        auto c = line.find(',');
        if (c == std::string::npos) continue;
        if (std::atof(line.c_str() + c + 1) > luma) return std::atof(line.c_str());
    }
    return std::numeric_limits<double>::quiet_NaN();
}

// Presentation time (s) of the first 5-ms block of sound louder than `dB`
// (RMS), or NaN.
inline double FirstLoudSound(const std::string& path, double dB = -30) {
    std::string out = Run("ffprobe -v error -f lavfi -i \"amovie='" + path +
                          "',asetnsamples=n=240,astats=metadata=1:reset=1\" -show_entries "
                          "frame=pts_time:frame_tags=lavfi.astats.Overall.RMS_level -of csv=p=0 "
                          "2>/dev/null");
    std::istringstream in(out);
    std::string line;
    while (std::getline(in, line)) {
        auto c = line.find(',');
        if (c == std::string::npos) continue;
        std::string level = line.substr(c + 1);
        if (level.find("inf") != std::string::npos) continue;
        if (std::atof(level.c_str()) > dB) return std::atof(line.c_str());
    }
    return std::numeric_limits<double>::quiet_NaN();
}

} // namespace probe
