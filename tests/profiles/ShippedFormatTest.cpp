// The shipped Format.xml against the installed FFmpeg: every profile's
// encoders open by name with the profile's settings (and with every choice
// its lists offer), every extension gives a container that takes the codecs,
// and a short file can be written with each profile's defaults.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
}

#include "platform/win/TestFiles.h"
#include "platform/win/TextConvert.h"
#include "profiles/ChoiceList.h"
#include "profiles/ProfileCatalogue.h"
#include "profiles/XmlDocument.h"

namespace {

std::string U8(std::u16string_view s) {
    return Utf16ToUtf8(s);
}

std::vector<OutputProfile> ShippedProfiles() {
    ProfileCatalogue catalogue;
    EXPECT_TRUE(catalogue.Load(SourceDir() / "Format.xml"));
    std::vector<OutputProfile> out;
    catalogue.Lock();
    for (auto* node = catalogue.First(); node; node = catalogue.Next(node))
        out.push_back(node->profile);
    catalogue.Unlock();
    return out;
}

const std::vector<OutputProfile>& Profiles() {
    static const std::vector<OutputProfile> profiles = ShippedProfiles();
    return profiles;
}

std::string Describe(const OutputProfile& p) {
    return "profile " + std::to_string(p.Index) + " (" + U8(TextOf(p.ProfileName)) + ")";
}

std::vector<std::string> Values(std::u16string_view list) {
    std::vector<std::string> out;
    for (const ChoiceItem& item : ChoiceList::Items(list))
        out.push_back(U8(item.value));
    return out;
}

AVRational VideoTimeBase(int frameRate) {
    // As the output file writer does it.
    if (frameRate == 23976) return {1001, 24000};
    if (frameRate == 29970) return {1001, 30000};
    return {1, frameRate / 1000};
}

const AVOutputFormat* Container(const OutputProfile& p) {
    std::string name = "out" + U8(TextOf(p.FormatExt));
    return av_guess_format(nullptr, name.c_str(), nullptr);
}

struct VideoSettings {
    std::string codec;
    int width, height, frameRate, bitRate;
};

struct AudioSettings {
    std::string codec;
    int sampleRate, channels, bitRate;
};

// Fills a video encoder context the way the output file writer does.
void SetUpVideo(AVCodecContext* c, const AVCodec* codec, const VideoSettings& s,
                bool globalHeader) {
    c->codec_type = AVMEDIA_TYPE_VIDEO;
    c->bit_rate = s.bitRate;
    c->width = s.width;
    c->height = s.height;
    c->time_base = VideoTimeBase(s.frameRate);
    c->framerate = av_inv_q(c->time_base);
    c->gop_size = s.frameRate / 1000;
    c->pix_fmt = codec->pix_fmts ? codec->pix_fmts[0] : AV_PIX_FMT_YUV420P;
    c->max_b_frames = 0;
    c->sample_aspect_ratio = {1, 1};
    const AVCodecID id = codec->id;
    c->thread_count =
        (id == AV_CODEC_ID_MPEG1VIDEO || id == AV_CODEC_ID_MPEG2VIDEO || id == AV_CODEC_ID_MPEG4)
            ? 2
            : 1;
    if (id == AV_CODEC_ID_MJPEG) c->strict_std_compliance = -1;
    if (globalHeader) c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
}

void SetUpAudio(AVCodecContext* c, const AVCodec* codec, const AudioSettings& s,
                bool globalHeader) {
    c->codec_type = AVMEDIA_TYPE_AUDIO;
    c->bit_rate = s.bitRate;
    c->sample_rate = s.sampleRate;
    av_channel_layout_default(&c->ch_layout, s.channels);
    c->time_base = {1, s.sampleRate};
    // 16-bit signed where the encoder takes it, else its first format.
    c->sample_fmt = codec->sample_fmts ? codec->sample_fmts[0] : AV_SAMPLE_FMT_S16;
    for (const AVSampleFormat* f = codec->sample_fmts; f && *f != AV_SAMPLE_FMT_NONE; ++f)
        if (*f == AV_SAMPLE_FMT_S16) c->sample_fmt = AV_SAMPLE_FMT_S16;
    if (globalHeader) c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
}

std::string OpenVideo(const VideoSettings& s, bool globalHeader) {
    const AVCodec* codec = avcodec_find_encoder_by_name(s.codec.c_str());
    if (!codec) return "no encoder " + s.codec;
    if (codec->type != AVMEDIA_TYPE_VIDEO) return s.codec + " is not a video encoder";
    AVCodecContext* c = avcodec_alloc_context3(codec);
    SetUpVideo(c, codec, s, globalHeader);
    int r = avcodec_open2(c, codec, nullptr);
    avcodec_free_context(&c);
    if (r < 0) {
        char buf[128];
        av_strerror(r, buf, sizeof buf);
        return "open " + s.codec + " " + std::to_string(s.width) + "x" + std::to_string(s.height) +
               " @" + std::to_string(s.frameRate) + " " + std::to_string(s.bitRate) + ": " + buf;
    }
    return {};
}

std::string OpenAudio(const AudioSettings& s, bool globalHeader) {
    const AVCodec* codec = avcodec_find_encoder_by_name(s.codec.c_str());
    if (!codec) return "no encoder " + s.codec;
    if (codec->type != AVMEDIA_TYPE_AUDIO) return s.codec + " is not an audio encoder";
    if (codec->supported_samplerates) {
        bool found = false;
        for (const int* r = codec->supported_samplerates; *r; ++r)
            found |= *r == s.sampleRate;
        if (!found) return s.codec + " does not list " + std::to_string(s.sampleRate) + " Hz";
    }
    AVCodecContext* c = avcodec_alloc_context3(codec);
    SetUpAudio(c, codec, s, globalHeader);
    int r = avcodec_open2(c, codec, nullptr);
    avcodec_free_context(&c);
    if (r < 0) {
        char buf[128];
        av_strerror(r, buf, sizeof buf);
        return "open " + s.codec + " " + std::to_string(s.sampleRate) + " Hz " +
               std::to_string(s.channels) + " ch " + std::to_string(s.bitRate) + ": " + buf;
    }
    return {};
}

bool ContainerTakes(const AVOutputFormat* format, const std::string& encoder) {
    const AVCodec* codec = avcodec_find_encoder_by_name(encoder.c_str());
    // 1: listed as supported; negative: the muxer cannot say (the file-writing
    // test below settles those); 0: refused.
    return codec && avformat_query_codec(format, codec->id, FF_COMPLIANCE_NORMAL) != 0;
}

// Writes a short file with the given settings: header, a few frames, trailer.
std::string WriteSample(const std::filesystem::path& path, const AVOutputFormat* format,
                        const VideoSettings* video, const AudioSettings* audio) {
    AVFormatContext* out = nullptr;
    if (avformat_alloc_output_context2(&out, format, nullptr, path.c_str()) < 0)
        return "no context";
    std::string error;
    AVCodecContext* vc = nullptr;
    AVCodecContext* ac = nullptr;
    AVStream* vs = nullptr;
    AVStream* as = nullptr;
    AVPacket* pkt = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    const bool global = format->flags & AVFMT_GLOBALHEADER;
    auto fail = [&](const std::string& what, int r) {
        char buf[128] = "";
        if (r < 0) av_strerror(r, buf, sizeof buf);
        if (error.empty()) error = what + ": " + buf;
    };
    auto drain = [&](AVCodecContext* c, AVStream* st) {
        while (true) {
            int r = avcodec_receive_packet(c, pkt);
            if (r == AVERROR(EAGAIN) || r == AVERROR_EOF) return;
            if (r < 0) return fail("receive", r);
            av_packet_rescale_ts(pkt, c->time_base, st->time_base);
            pkt->stream_index = st->index;
            r = av_interleaved_write_frame(out, pkt);
            if (r < 0) return fail("write packet", r);
        }
    };
    do {
        if (video) {
            const AVCodec* codec = avcodec_find_encoder_by_name(video->codec.c_str());
            vc = avcodec_alloc_context3(codec);
            SetUpVideo(vc, codec, *video, global);
            vs = avformat_new_stream(out, nullptr);
            vs->sample_aspect_ratio = {1, 1};
            int r = avcodec_open2(vc, codec, nullptr);
            if (r < 0) {
                fail("open video", r);
                break;
            }
            vs->time_base = vc->time_base;
            avcodec_parameters_from_context(vs->codecpar, vc);
        }
        if (audio) {
            const AVCodec* codec = avcodec_find_encoder_by_name(audio->codec.c_str());
            ac = avcodec_alloc_context3(codec);
            SetUpAudio(ac, codec, *audio, global);
            as = avformat_new_stream(out, nullptr);
            int r = avcodec_open2(ac, codec, nullptr);
            if (r < 0) {
                fail("open audio", r);
                break;
            }
            as->time_base = ac->time_base;
            avcodec_parameters_from_context(as->codecpar, ac);
        }
        int r = avio_open(&out->pb, path.c_str(), AVIO_FLAG_WRITE);
        if (r < 0) {
            fail("avio_open", r);
            break;
        }
        r = avformat_write_header(out, nullptr);
        if (r < 0) {
            fail("header", r);
            break;
        }
        if (vc) {
            for (int i = 0; i < 5 && error.empty(); ++i) {
                av_frame_unref(frame);
                frame->format = vc->pix_fmt;
                frame->width = vc->width;
                frame->height = vc->height;
                av_frame_get_buffer(frame, 0);
                for (int p = 0; p < 4 && frame->data[p]; ++p)
                    std::memset(frame->data[p], 128,
                                frame->linesize[p] * (p ? (vc->height + 1) / 2 : vc->height));
                frame->pts = i;
                if ((r = avcodec_send_frame(vc, frame)) < 0) fail("send video", r);
                drain(vc, vs);
            }
            avcodec_send_frame(vc, nullptr);
            drain(vc, vs);
        }
        if (ac) {
            const int frameSize = ac->frame_size > 0 ? ac->frame_size : 1024;
            int64_t pts = 0;
            for (int i = 0; i < 10 && error.empty(); ++i) {
                av_frame_unref(frame);
                frame->format = ac->sample_fmt;
                frame->nb_samples = frameSize;
                av_channel_layout_copy(&frame->ch_layout, &ac->ch_layout);
                frame->sample_rate = ac->sample_rate;
                av_frame_get_buffer(frame, 0);
                for (int p = 0; p < AV_NUM_DATA_POINTERS && frame->data[p]; ++p)
                    std::memset(frame->data[p], 0, frame->linesize[0]);
                frame->pts = pts;
                pts += frameSize;
                if ((r = avcodec_send_frame(ac, frame)) < 0) fail("send audio", r);
                drain(ac, as);
            }
            avcodec_send_frame(ac, nullptr);
            drain(ac, as);
        }
        r = av_write_trailer(out);
        if (r < 0) fail("trailer", r);
    } while (false);
    if (out->pb) avio_closep(&out->pb);
    avcodec_free_context(&vc);
    avcodec_free_context(&ac);
    avformat_free_context(out);
    av_packet_free(&pkt);
    av_frame_free(&frame);
    return error;
}

class ShippedFormat : public ::testing::Test {
protected:
    static void SetUpTestSuite() { av_log_set_level(AV_LOG_ERROR); }
};

TEST_F(ShippedFormat, LoadsWithManyProfilesAndAWellChosenDefault) {
    CXmlDocument doc;
    ASSERT_TRUE(doc.LoadFile(SourceDir() / "Format.xml")) << U8(doc.ResultLog());
    const auto& profiles = Profiles();
    ASSERT_GE(profiles.size(), 12u);
    const OutputProfile& def = profiles.at(1);
    EXPECT_EQ(def.Index, 1);
    EXPECT_EQ(U8(TextOf(def.FormatExt)), ".mp4");
    EXPECT_EQ(TextOf(def.EncodeParams.VideoCodecName), "libx264");
    EXPECT_EQ(TextOf(def.EncodeParams.AudioCodecName), "aac");
    EXPECT_EQ(def.EncodeParams.Width, 720);
    EXPECT_EQ(def.EncodeParams.Height, 480);
}

TEST_F(ShippedFormat, CoversTheRequiredKinds) {
    std::set<std::string> kinds;
    for (const OutputProfile& p : Profiles()) {
        const EncodeParams& e = p.EncodeParams;
        std::string kind = U8(TextOf(p.FormatExt)) + ":" +
                           (e.HasVideo ? std::string(TextOf(e.VideoCodecName)) : "-") + ":" +
                           (e.HasAudio ? std::string(TextOf(e.AudioCodecName)) : "-");
        kinds.insert(kind);
    }
    for (const char* wanted :
         {".mp4:libx264:aac", ".mp4:mpeg4:aac", ".mkv:libx264:ac3", ".avi:mpeg4:libmp3lame",
          ".mpg:mpeg2video:mp2", ".webm:libvpx-vp9:libopus", ".wmv:wmv2:wmav2",
          ".flv:flv:libmp3lame", ".mp3:-:libmp3lame", ".m4a:-:aac", ".wav:-:pcm_s16le"})
        EXPECT_TRUE(kinds.count(wanted)) << wanted;
}

TEST_F(ShippedFormat, NoFieldIsCut) {
    // Every text value of the file fits its field with room for the zero.
    CXmlDocument doc;
    ASSERT_TRUE(doc.LoadFile(SourceDir() / "Format.xml"));
    const std::map<std::u16string, size_t> capacity = {
        {u"ProfileName", 160},   {u"FormatExt", 8},       {u"VideoCodecName", 16},
        {u"AudioCodecName", 16}, {u"Resolutions", 128},   {u"FrameRates", 128},
        {u"VideoBitRates", 320}, {u"AudioBitRates", 128}, {u"SampleRates", 128},
        {u"Channels", 64},       {u"VideoCodecs", 256},   {u"AudioCodecs", 128}};
    doc.RewindSiblings();
    int profiles = 0;
    while (doc.NextChild(u"Profile")) {
        ASSERT_TRUE(doc.EnterElement()); // current: the Profile, no child yet
        ++profiles;
        for (const auto& [name, cap] : capacity) {
            if (!doc.NextChild(name)) continue;
            doc.EnterElement();
            const std::u16string value = doc.AttributeValue(u"value");
            EXPECT_LT(value.size(), cap) << U8(name) << " of profile " << profiles;
            EXPECT_LT(Utf16ToUtf8(value).size(), cap) << U8(name) << " of profile " << profiles;
            doc.LeaveElement();
            // Back to the Profile with no child, so the next search starts at its first child.
            doc.LeaveElement();
            doc.EnterElement();
        }
        doc.LeaveElement();
    }
    EXPECT_EQ(profiles, static_cast<int>(Profiles().size()));
}

TEST_F(ShippedFormat, EveryDefaultHasALabelAndNoLabelIsAPrefixOfAnother) {
    for (const OutputProfile& p : Profiles()) {
        const EncodeParams& e = p.EncodeParams;
        SCOPED_TRACE(Describe(p));
        auto labelOf = [](std::u16string_view list, long long v) {
            return ChoiceList::LabelOfValue(list, Utf8ToUtf16(std::to_string(v)));
        };
        if (e.HasVideo) {
            EXPECT_FALSE(ChoiceList::LabelOfValue(
                             TextOf(p.Resolutions),
                             Utf8ToUtf16(std::to_string(e.Width) + "*" + std::to_string(e.Height)))
                             .empty());
            EXPECT_FALSE(labelOf(TextOf(p.FrameRates), e.FrameRate).empty());
            EXPECT_FALSE(labelOf(TextOf(p.VideoBitRates), e.VideoBitRate).empty());
            EXPECT_FALSE(ChoiceList::LabelOfValue(TextOf(p.VideoCodecs),
                                                  Utf8ToUtf16(TextOf(e.VideoCodecName)))
                             .empty());
        }
        if (e.HasAudio) {
            EXPECT_FALSE(labelOf(TextOf(p.SampleRates), e.SampleRate).empty());
            EXPECT_FALSE(labelOf(TextOf(p.Channels), e.Channel).empty());
            EXPECT_FALSE(labelOf(TextOf(p.AudioBitRates), e.AudioBitRate).empty());
            EXPECT_FALSE(ChoiceList::LabelOfValue(TextOf(p.AudioCodecs),
                                                  Utf8ToUtf16(TextOf(e.AudioCodecName)))
                             .empty());
        }
        // The settings dialog selects rows by case-insensitive prefix search.
        for (std::u16string_view list :
             {TextOf(p.Resolutions), TextOf(p.FrameRates), TextOf(p.VideoCodecs),
              TextOf(p.VideoBitRates), TextOf(p.SampleRates), TextOf(p.Channels),
              TextOf(p.AudioCodecs), TextOf(p.AudioBitRates)}) {
            auto items = ChoiceList::Items(list);
            for (size_t i = 0; i < items.size(); ++i) {
                EXPECT_FALSE(items[i].label.empty());
                for (size_t j = 0; j < items.size(); ++j) {
                    if (i == j) continue;
                    std::string a = U8(items[i].label), b = U8(items[j].label);
                    for (auto& ch : a)
                        ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
                    for (auto& ch : b)
                        ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
                    EXPECT_NE(b.rfind(a, 0), 0u) << a << " is a prefix of " << b;
                }
            }
        }
    }
}

TEST_F(ShippedFormat, EveryExtensionGuessesAContainerThatTakesTheCodecs) {
    for (const OutputProfile& p : Profiles()) {
        SCOPED_TRACE(Describe(p));
        const AVOutputFormat* format = Container(p);
        ASSERT_NE(format, nullptr) << U8(TextOf(p.FormatExt));
        if (p.EncodeParams.HasVideo) {
            for (const std::string& codec : Values(TextOf(p.VideoCodecs)))
                EXPECT_TRUE(ContainerTakes(format, codec)) << format->name << " / " << codec;
        } else {
            EXPECT_TRUE(U8(TextOf(p.VideoCodecs)).empty());
        }
        if (p.EncodeParams.HasAudio) {
            for (const std::string& codec : Values(TextOf(p.AudioCodecs)))
                EXPECT_TRUE(ContainerTakes(format, codec)) << format->name << " / " << codec;
        }
    }
}

TEST_F(ShippedFormat, EveryVideoChoiceOpens) {
    for (const OutputProfile& p : Profiles()) {
        const EncodeParams& e = p.EncodeParams;
        if (!e.HasVideo) continue;
        SCOPED_TRACE(Describe(p));
        const bool global = Container(p)->flags & AVFMT_GLOBALHEADER;
        const VideoSettings def{std::string(TextOf(e.VideoCodecName)), e.Width, e.Height,
                                e.FrameRate, e.VideoBitRate};
        EXPECT_EQ(OpenVideo(def, global), "");
        for (const std::string& codec : Values(TextOf(p.VideoCodecs))) {
            VideoSettings s = def;
            s.codec = codec;
            for (const std::string& res : Values(TextOf(p.Resolutions))) {
                VideoSettings r = s;
                ASSERT_EQ(std::sscanf(res.c_str(), "%d*%d", &r.width, &r.height), 2) << res;
                EXPECT_EQ(OpenVideo(r, global), "");
            }
            for (const std::string& rate : Values(TextOf(p.FrameRates))) {
                VideoSettings r = s;
                r.frameRate = std::stoi(rate);
                EXPECT_EQ(OpenVideo(r, global), "");
                // The writer keeps only the integer part besides 23.976 and 29.97.
                if (r.frameRate != 23976 && r.frameRate != 29970) {
                    EXPECT_EQ(r.frameRate % 1000, 0) << rate;
                }
            }
            for (const std::string& rate : Values(TextOf(p.VideoBitRates))) {
                VideoSettings r = s;
                r.bitRate = std::stoi(rate);
                EXPECT_EQ(OpenVideo(r, global), "");
            }
        }
    }
}

TEST_F(ShippedFormat, EveryAudioChoiceCombinationOpens) {
    for (const OutputProfile& p : Profiles()) {
        const EncodeParams& e = p.EncodeParams;
        if (!e.HasAudio) continue;
        SCOPED_TRACE(Describe(p));
        const bool global = Container(p)->flags & AVFMT_GLOBALHEADER;
        EXPECT_EQ(OpenAudio({std::string(TextOf(e.AudioCodecName)), e.SampleRate, e.Channel,
                             e.AudioBitRate},
                            global),
                  "");
        for (const std::string& codec : Values(TextOf(p.AudioCodecs)))
            for (const std::string& rate : Values(TextOf(p.SampleRates)))
                for (const std::string& channels : Values(TextOf(p.Channels)))
                    for (const std::string& bitRate : Values(TextOf(p.AudioBitRates)))
                        EXPECT_EQ(OpenAudio({codec, std::stoi(rate), std::stoi(channels),
                                             std::stoi(bitRate)},
                                            global),
                                  "");
    }
}

TEST_F(ShippedFormat, EachProfileWritesAFileWithEveryCodecChoice) {
    TempFolder dir;
    for (const OutputProfile& p : Profiles()) {
        const EncodeParams& e = p.EncodeParams;
        SCOPED_TRACE(Describe(p));
        const AVOutputFormat* format = Container(p);
        ASSERT_NE(format, nullptr);
        const VideoSettings video{std::string(TextOf(e.VideoCodecName)), e.Width, e.Height,
                                  e.FrameRate, e.VideoBitRate};
        const AudioSettings audio{std::string(TextOf(e.AudioCodecName)), e.SampleRate, e.Channel,
                                  e.AudioBitRate};
        const auto path = dir.path() / ("p" + std::to_string(p.Index) + U8(TextOf(p.FormatExt)));
        EXPECT_EQ(
            WriteSample(path, format, e.HasVideo ? &video : nullptr, e.HasAudio ? &audio : nullptr),
            "");
        EXPECT_GT(std::filesystem::file_size(path), 0u);
        if (e.HasVideo) {
            for (const std::string& codec : Values(TextOf(p.VideoCodecs))) {
                VideoSettings v = video;
                v.codec = codec;
                EXPECT_EQ(WriteSample(path, format, &v, e.HasAudio ? &audio : nullptr), "")
                    << codec;
            }
        }
        if (e.HasAudio)
            for (const std::string& codec : Values(TextOf(p.AudioCodecs)))
                for (const std::string& rate : Values(TextOf(p.SampleRates)))
                    for (const std::string& channels : Values(TextOf(p.Channels))) {
                        AudioSettings a = audio;
                        a.codec = codec;
                        a.sampleRate = std::stoi(rate);
                        a.channels = std::stoi(channels);
                        EXPECT_EQ(WriteSample(path, format, nullptr, &a), "")
                            << codec << " " << rate << " " << channels;
                    }
    }
}

} // namespace
