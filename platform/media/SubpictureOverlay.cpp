#include "platform/media/SubpictureOverlay.h"

#include <algorithm>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/mem.h>
}

namespace {
constexpr std::size_t kMaxUnit = 65535;  // the size field is 16 bits
constexpr std::size_t kMaxPictures = 64; // old ones are dropped beyond this
} // namespace

SubpictureOverlay::~SubpictureOverlay() {
    Close();
}

bool SubpictureOverlay::Open(const std::string& palette) {
    std::lock_guard<std::mutex> g(lock_);
    avcodec_free_context(&ctx_);
    const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_DVD_SUBTITLE);
    if (!codec) return false;
    ctx_ = avcodec_alloc_context3(codec);
    if (!ctx_) return false;
    if (!palette.empty()) {
        ctx_->extradata =
            static_cast<std::uint8_t*>(av_mallocz(palette.size() + AV_INPUT_BUFFER_PADDING_SIZE));
        if (ctx_->extradata) {
            std::copy(palette.begin(), palette.end(), ctx_->extradata);
            ctx_->extradata_size = int(palette.size());
        }
    }
    if (avcodec_open2(ctx_, codec, nullptr) < 0) {
        avcodec_free_context(&ctx_);
        return false;
    }
    return true;
}

void SubpictureOverlay::Close() {
    std::lock_guard<std::mutex> g(lock_);
    avcodec_free_context(&ctx_);
    unit_.clear();
    pictures_.clear();
    gathering_ = false;
}

void SubpictureOverlay::AddPayload(const std::uint8_t* data, int size, bool hasTime,
                                   REFERENCE_TIME start) {
    if (!data || size <= 0) return;
    std::lock_guard<std::mutex> g(lock_);
    if (!ctx_) return;
    if (hasTime) {
        // A new unit; an unfinished one before it is damaged and dropped.
        unit_.clear();
        unitStart_ = start;
        gathering_ = true;
    }
    if (!gathering_) return; // continuation of a unit whose start was lost
    if (unit_.size() + std::size_t(size) > kMaxUnit) {
        unit_.clear();
        gathering_ = false;
        return;
    }
    unit_.insert(unit_.end(), data, data + size);
    if (unit_.size() < 2) return;
    const std::size_t want = (std::size_t(unit_[0]) << 8) | unit_[1];
    if (want < 4) {
        unit_.clear();
        gathering_ = false;
        return;
    }
    if (unit_.size() >= want) {
        unit_.resize(want);
        DecodeUnit();
        unit_.clear();
        gathering_ = false;
    }
}

void SubpictureOverlay::DecodeUnit() {
    std::vector<std::uint8_t> padded(unit_);
    padded.resize(unit_.size() + AV_INPUT_BUFFER_PADDING_SIZE, 0);
    AVPacket* pkt = av_packet_alloc();
    if (!pkt) return;
    pkt->data = padded.data();
    pkt->size = int(unit_.size());
    AVSubtitle sub{};
    int got = 0;
    int ret = avcodec_decode_subtitle2(ctx_, &sub, &got, pkt);
    av_packet_free(&pkt);
    if (ret < 0 || !got) return;

    Picture pic;
    pic.start = unitStart_ + REFERENCE_TIME(sub.start_display_time) * MILLISECONDS;
    if (sub.end_display_time > sub.start_display_time && sub.end_display_time != UINT32_MAX)
        pic.stop = unitStart_ + REFERENCE_TIME(sub.end_display_time) * MILLISECONDS;
    for (unsigned i = 0; i < sub.num_rects; ++i) {
        const AVSubtitleRect* r = sub.rects[i];
        if (r->type != SUBTITLE_BITMAP || r->w <= 0 || r->h <= 0 || !r->data[0] || !r->data[1])
            continue;
        Plane p;
        p.x = r->x;
        p.y = r->y;
        p.w = r->w;
        p.h = r->h;
        const std::size_t n = std::size_t(r->w) * r->h;
        p.yv.resize(n);
        p.uv.resize(n);
        p.vv.resize(n);
        p.av.resize(n);
        const auto* pal = reinterpret_cast<const std::uint32_t*>(r->data[1]);
        for (int y = 0; y < r->h; ++y) {
            for (int x = 0; x < r->w; ++x) {
                const std::uint32_t argb = pal[r->data[0][y * r->linesize[0] + x]];
                const int a = int(argb >> 24), R = int((argb >> 16) & 255),
                          G = int((argb >> 8) & 255), B = int(argb & 255);
                const std::size_t k = std::size_t(y) * r->w + x;
                // BT.601 limited range.
                p.yv[k] = std::uint8_t(16 + ((66 * R + 129 * G + 25 * B + 128) >> 8));
                p.uv[k] = std::uint8_t(128 + ((-38 * R - 74 * G + 112 * B + 128) >> 8));
                p.vv[k] = std::uint8_t(128 + ((112 * R - 94 * G - 18 * B + 128) >> 8));
                p.av[k] = std::uint8_t(a);
            }
        }
        pic.planes.push_back(std::move(p));
    }
    avsubtitle_free(&sub);

    // An open-ended subpicture lasts until the next one starts.
    for (auto& old : pictures_)
        if (old.stop == MAX_TIME && old.start < pic.start) old.stop = pic.start;
    auto at = std::upper_bound(pictures_.begin(), pictures_.end(), pic.start,
                               [](REFERENCE_TIME t, const Picture& q) { return t < q.start; });
    pictures_.insert(at, std::move(pic));
    if (pictures_.size() > kMaxPictures) pictures_.erase(pictures_.begin());
}

void SubpictureOverlay::Clear() {
    std::lock_guard<std::mutex> g(lock_);
    unit_.clear();
    gathering_ = false;
    pictures_.clear();
}

std::size_t SubpictureOverlay::Count() {
    std::lock_guard<std::mutex> g(lock_);
    return pictures_.size();
}

bool SubpictureOverlay::Blend(std::uint8_t* picture, int width, int height, REFERENCE_TIME t) {
    std::lock_guard<std::mutex> g(lock_);
    bool drawn = false;
    for (const Picture& pic : pictures_) {
        if (t < pic.start || t >= pic.stop) continue;
        for (const Plane& p : pic.planes)
            BlendPlane(p, picture, width, height);
        drawn = drawn || !pic.planes.empty();
    }
    // Subpictures that ended before t are no longer needed.
    std::erase_if(pictures_,
                  [t](const Picture& q) { return q.stop != MAX_TIME && q.stop + 10 * UNITS < t; });
    return drawn;
}

void SubpictureOverlay::BlendPlane(const Plane& p, std::uint8_t* picture, int width, int height) {
    const int x0 = std::max(0, p.x), y0 = std::max(0, p.y);
    const int x1 = std::min(width, p.x + p.w), y1 = std::min(height, p.y + p.h);
    if (x0 >= x1 || y0 >= y1) return;
    std::uint8_t* Y = picture;
    std::uint8_t* V = picture + std::size_t(width) * height;
    std::uint8_t* U = V + std::size_t(width / 2) * (height / 2);
    for (int y = y0; y < y1; ++y) {
        for (int x = x0; x < x1; ++x) {
            const std::size_t k = std::size_t(y - p.y) * p.w + (x - p.x);
            const int a = p.av[k];
            if (!a) continue;
            std::uint8_t& d = Y[std::size_t(y) * width + x];
            d = std::uint8_t((d * (255 - a) + p.yv[k] * a + 127) / 255);
        }
    }
    // Chroma: one sample per 2x2 block, from the block's top-left overlay pixel.
    const int cw = width / 2, ch = height / 2;
    for (int cy = y0 / 2; cy < (y1 + 1) / 2 && cy < ch; ++cy) {
        for (int cx = x0 / 2; cx < (x1 + 1) / 2 && cx < cw; ++cx) {
            const int x = std::clamp(cx * 2, x0, x1 - 1), y = std::clamp(cy * 2, y0, y1 - 1);
            const std::size_t k = std::size_t(y - p.y) * p.w + (x - p.x);
            const int a = p.av[k];
            if (!a) continue;
            std::uint8_t& u = U[std::size_t(cy) * cw + cx];
            std::uint8_t& v = V[std::size_t(cy) * cw + cx];
            u = std::uint8_t((u * (255 - a) + p.uv[k] * a + 127) / 255);
            v = std::uint8_t((v * (255 - a) + p.vv[k] * a + 127) / 255);
        }
    }
}
