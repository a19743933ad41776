// SubpictureOverlay: decodes DVD subpicture units (libavcodec's DVD subtitle
// decoder) and blends the ones whose display window covers a picture's time onto
// that YV12 picture (burned-in subtitles).
//
// Input: PES payloads of one subpicture stream; a payload with a time begins a
// unit (the first two bytes give the unit's size), payloads without one continue
// it. Palette: a "palette:" text block given to Open (as in VobSub index files;
// the demultiplexer makes one from the disc's colour table), else colours the
// decoder guesses, which rarely match the disc's.
//
// Times are 100-ns units. Thread-safe: AddPayload/Clear on the subpicture thread,
// Blend on the video thread (one lock, held briefly).
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "platform/dshow/DshowTypes.h"

struct AVCodecContext;

class SubpictureOverlay {
public:
    SubpictureOverlay() = default;
    ~SubpictureOverlay();
    SubpictureOverlay(const SubpictureOverlay&) = delete;
    SubpictureOverlay& operator=(const SubpictureOverlay&) = delete;

    // palette: optional decoder extradata ("palette: rrggbb, ..."). False when the
    // decoder is missing.
    bool Open(const std::string& palette = {});
    void Close();

    void AddPayload(const std::uint8_t* data, int size, bool hasTime, REFERENCE_TIME start);
    // Drops the unit being gathered and every decoded subpicture (flush, seek).
    void Clear();
    // Blends onto a YV12 picture (planes Y, V, U; rows packed at width) whose
    // start time is t. Returns true when something was drawn.
    bool Blend(std::uint8_t* picture, int width, int height, REFERENCE_TIME t);
    // Decoded subpictures so far (tests, traces).
    std::size_t Count();

private:
    struct Plane {
        int x = 0, y = 0, w = 0, h = 0;
        std::vector<std::uint8_t> yv, uv, vv, av; // per pixel Y, U, V, alpha (0..255)
    };
    struct Picture {
        REFERENCE_TIME start = 0;
        REFERENCE_TIME stop = MAX_TIME; // MAX_TIME: until the next one starts
        std::vector<Plane> planes;
    };

    void DecodeUnit(); // on the gathered unit, under lock_
    static void BlendPlane(const Plane& p, std::uint8_t* picture, int width, int height);

    std::mutex lock_;
    // -- protected by lock_
    AVCodecContext* ctx_ = nullptr;
    std::vector<std::uint8_t> unit_;
    REFERENCE_TIME unitStart_ = 0;
    bool gathering_ = false;
    std::vector<Picture> pictures_; // in start order
};
