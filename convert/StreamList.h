// StreamList: the streams the demultiplexer of a built pipeline offers, for
// choosing the audio and subtitle streams. Indices are the demultiplexer's
// stream-selection numbering; the key is the stream's id in the disc
// description's numbering, (PES stream id << 8) | sub-stream id, taken from
// the "(%04x,%02x,%02x)" group that ends each stream's name: 0xBD80 for the
// first AC-3 stream, 0xC100 for MPEG audio stream 0xC1, 0xBD20 for the first
// subpicture. The sub-stream id alone would not do: every MPEG audio stream
// has sub-stream id 0.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct StreamList {
    struct Video {
        long index = 0;
        int width = 0, height = 0;
        double fps = 0;
    };
    struct Audio {
        long index = 0;
        int key = -1;
        int sampleRate = 0, channels = 0;
        long bitRate = 0; // bits per second
    };
    struct Subpicture {
        long index = 0;
        int key = -1;
    };
    std::vector<Video> video;
    std::vector<Audio> audio;
    std::vector<Subpicture> subpictures;

    void Clear() {
        video.clear();
        audio.clear();
        subpictures.clear();
    }
    // (second << 8) | third number of the last "(%04x,%02x,%02x)" group of
    // `name`, or -1 when there is none.
    static int KeyFromName(const std::string& name);
};
