// Small media files made with ffmpeg at test time (once per test process), and
// helpers that damage or rearrange program-stream packets in memory.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <unistd.h>

using Bytes = std::vector<std::uint8_t>;

inline std::shared_ptr<Bytes> ReadFileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return nullptr;
    return std::make_shared<Bytes>(std::istreambuf_iterator<char>(in),
                                   std::istreambuf_iterator<char>());
}

// ffmpeg ARGS -> bytes of the output; cached by name. Null when ffmpeg fails.
inline std::shared_ptr<Bytes> Generated(const std::string& name, const std::string& args) {
    // The scratch folder goes away with the process.
    struct Scratch {
        std::filesystem::path dir =
            std::filesystem::temp_directory_path() / ("demux_test_" + std::to_string(getpid()));
        ~Scratch() {
            std::error_code ec;
            std::filesystem::remove_all(dir, ec);
        }
    };
    static Scratch scratch;
    static std::map<std::string, std::shared_ptr<Bytes>> cache;
    if (auto it = cache.find(name); it != cache.end()) return it->second;
    const auto& dir = scratch.dir;
    std::filesystem::create_directories(dir);
    std::string out = (dir / name).string();
    std::string cmd = "ffmpeg -nostdin -hide_banner -loglevel quiet -y " + args + " '" + out + "'";
    std::shared_ptr<Bytes> bytes;
    if (std::system(cmd.c_str()) == 0) bytes = ReadFileBytes(out);
    std::filesystem::remove(out);
    cache[name] = bytes;
    return bytes;
}

inline const char* kVideoIn = "-f lavfi -i testsrc=s=352x240:r=30000/1001 ";
inline const char* kToneA = "-f lavfi -i sine=f=440:r=48000 ";
inline const char* kToneB = "-f lavfi -i sine=f=660:r=48000 ";

// A DVD program stream: MPEG-2 video, AC-3 (0xBD80) and MPEG audio (0xC000).
inline std::shared_ptr<Bytes> DvdProgramStream() {
    return Generated("ps.vob",
                     std::string(kVideoIn) + kToneA + kToneB +
                         "-t 3 -map 0 -map 1 -map 2 -c:v mpeg2video -b:v 2M -c:a:0 ac3 -b:a:0 192k "
                         "-c:a:1 mp2 -b:a:1 128k -f dvd");
}

// About 6 MB: video at 4 Mbit/s and two AC-3 streams (0xBD80, 0xBD81).
inline std::shared_ptr<Bytes> TwoAc3ProgramStream() {
    return Generated(
        "two_ac3.vob",
        std::string(kVideoIn) + kToneA + kToneB +
            "-t 12 -map 0 -map 1 -map 2 -c:v mpeg2video -b:v 4M -minrate 4M -maxrate 4M "
            "-bufsize 1835k -c:a ac3 -b:a 192k -f dvd");
}

// Walks the packs of a program stream: calls f(offset of 00 00 01 xx, stream id,
// packet length) for every PES packet (stream ids 0xBD..0xEF).
template <class F> void ForEachPesPacket(Bytes& d, F f) {
    std::size_t i = 0;
    while (i + 6 <= d.size()) {
        if (!(d[i] == 0 && d[i + 1] == 0 && d[i + 2] == 1)) {
            ++i;
            continue;
        }
        std::uint8_t id = d[i + 3];
        if (id == 0xBA) {
            if (i + 14 > d.size()) break;
            i += 14 + (d[i + 13] & 7);
        } else if (id >= 0xBB && id <= 0xEF) {
            std::size_t len = (std::size_t(d[i + 4]) << 8) | d[i + 5];
            if (id >= 0xBD) f(i, id, len);
            i += 6 + len;
        } else {
            ++i;
        }
    }
}

// The first payload byte of a private-stream-1 packet (its sub-stream id).
inline std::uint8_t SubstreamId(const Bytes& d, std::size_t packet) {
    std::size_t headerLen = d[packet + 8];
    return d[packet + 9 + headerLen];
}
