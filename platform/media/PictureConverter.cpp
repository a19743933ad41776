#include "platform/media/PictureConverter.h"

extern "C" {
#include <libswscale/swscale.h>
}

PictureConverter::~PictureConverter() {
    sws_freeContext(sws_);
}

QImage PictureConverter::ToImage(const std::uint8_t* yv12, int width, int height) {
    if (!yv12 || width <= 0 || height <= 0 || width % 2 || height % 2) return {};
    sws_ = sws_getCachedContext(sws_, width, height, AV_PIX_FMT_YUV420P, width, height,
                                AV_PIX_FMT_BGRA, SWS_BICUBIC, nullptr, nullptr, nullptr);
    if (!sws_) return {};
    QImage image(width, height, QImage::Format_RGB32);
    if (image.isNull()) return {};
    const std::size_t ySize = std::size_t(width) * height;
    const std::uint8_t* src[3] = {yv12, yv12 + ySize + ySize / 4, yv12 + ySize}; // Y, U, V
    const int srcStride[3] = {width, width / 2, width / 2};
    std::uint8_t* dst[1] = {image.bits()};
    const int dstStride[1] = {int(image.bytesPerLine())};
    sws_scale(sws_, src, srcStride, 0, height, dst, dstStride);
    return image;
}
