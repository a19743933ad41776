#include "VobReader.h"

extern "C" {
#include <libavformat/avformat.h>
}

namespace mediatest {

bool ReadVob(const std::string& path, VobContents* out) {
    AVFormatContext* fmt = avformat_alloc_context();
    if (!fmt) return false;
    // Raw PES payloads with the stream's own time stamps, as the demultiplexer sees them.
    fmt->flags |= AVFMT_FLAG_NOPARSE | AVFMT_FLAG_NOFILLIN;
    AVDictionary* opts = nullptr;
    av_dict_set(&opts, "probesize", "50000000", 0);
    av_dict_set(&opts, "analyzeduration", "100000000", 0);
    if (avformat_open_input(&fmt, path.c_str(), nullptr, &opts) < 0) {
        av_dict_free(&opts);
        return false;
    }
    av_dict_free(&opts);
    avformat_find_stream_info(fmt, nullptr);
    // find_stream_info read ahead; start again from the beginning.
    avio_seek(fmt->pb, 0, SEEK_SET);
    avformat_flush(fmt);
    AVPacket* pkt = av_packet_alloc();
    std::int64_t origin = AV_NOPTS_VALUE;
    std::vector<VobPacket> packets;
    while (av_read_frame(fmt, pkt) >= 0) {
        const AVStream* st = fmt->streams[pkt->stream_index];
        VobPacket p;
        p.stream = st->id;
        if (st->codecpar->codec_type == AVMEDIA_TYPE_VIDEO &&
            st->codecpar->codec_id == AV_CODEC_ID_MPEG2VIDEO) {
            out->width = st->codecpar->width;
            out->height = st->codecpar->height;
            if (st->r_frame_rate.num > 0)
                out->frameDuration = av_rescale(UNITS, st->r_frame_rate.den, st->r_frame_rate.num);
            if (origin == AV_NOPTS_VALUE && pkt->pts != AV_NOPTS_VALUE) origin = pkt->pts;
        }
        int skip = 0;
        if (st->codecpar->codec_id == AV_CODEC_ID_PCM_DVD) skip = 3;
        if (pkt->size > skip) {
            p.data.assign(pkt->data + skip, pkt->data + pkt->size);
            if (pkt->pts != AV_NOPTS_VALUE) {
                p.hasTime = true;
                p.start = pkt->pts; // made relative below
            }
            if (st->codecpar->codec_type != AVMEDIA_TYPE_DATA) packets.push_back(std::move(p));
        }
        av_packet_unref(pkt);
    }
    av_packet_free(&pkt);
    avformat_close_input(&fmt);
    if (origin == AV_NOPTS_VALUE) origin = 0;
    for (auto& p : packets)
        if (p.hasTime) p.start = (p.start - origin) * 1000 / 9; // 90 kHz -> 100 ns
    out->packets = std::move(packets);
    return !out->packets.empty();
}

std::vector<const VobPacket*> Select(const VobContents& vob, std::initializer_list<int> ids) {
    std::vector<const VobPacket*> out;
    for (const auto& p : vob.packets)
        for (int id : ids)
            if (p.stream == id) out.push_back(&p);
    return out;
}

} // namespace mediatest
