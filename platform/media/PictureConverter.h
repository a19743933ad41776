// PictureConverter: YV12 pictures (planes Y, V, U; rows packed at the width) to
// 32-bit RGB QImages with libswscale. Not thread-safe: one caller at a time.
#pragma once

#include <cstdint>

#include <QImage>

struct SwsContext;

class PictureConverter {
public:
    PictureConverter() = default;
    ~PictureConverter();
    PictureConverter(const PictureConverter&) = delete;
    PictureConverter& operator=(const PictureConverter&) = delete;

    // A Format_RGB32 image of width x height; null on bad sizes.
    QImage ToImage(const std::uint8_t* yv12, int width, int height);

private:
    SwsContext* sws_ = nullptr;
};
