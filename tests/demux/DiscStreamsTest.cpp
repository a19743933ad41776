// The parser on the authored test discs: every title's video, audio (in priority
// order) and subtitle streams with the identifiers, rates, channels and bit rates
// that were authored, cross-checked against ffprobe on the same bytes.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <sstream>

#include "MemoryAsyncReader.h"
#include "TitleBytes.h"
#include "demux/CMpegSplitterFile.h"
#include "demux/StreamDescription.h"
#include "demux/StreamMediaTypes.h"
#include "fixtures/DiscManifest.h"

namespace {

using Kind = CMpegSplitterFile;

// ffprobe's view of one stream: identifier in our numbering and its fields.
struct ProbeStream {
    std::string type, codec;
    int sampleRate = 0, channels = 0, width = 0, height = 0;
    long long bitRate = 0;
};

std::map<DWORD, ProbeStream> Probe(const std::string& path) {
    std::string cmd = "ffprobe -v quiet -probesize 100M -analyzeduration 100M -show_entries "
                      "stream=id,codec_type,codec_name,sample_rate,channels,bit_rate,width,height "
                      "-of csv=p=0:nk=0 '" +
                      path + "'";
    std::map<DWORD, ProbeStream> out;
    FILE* f = popen(cmd.c_str(), "r");
    if (!f) return out;
    char line[1024];
    while (std::fgets(line, sizeof line, f)) {
        std::map<std::string, std::string> kv;
        std::stringstream ss(line);
        std::string item;
        while (std::getline(ss, item, ',')) {
            auto eq = item.find('=');
            if (eq != std::string::npos) {
                std::string v = item.substr(eq + 1);
                while (!v.empty() && (v.back() == '\n' || v.back() == '\r'))
                    v.pop_back();
                kv[item.substr(0, eq)] = v;
            }
        }
        unsigned long id = std::strtoul(kv["id"].c_str(), nullptr, 0);
        // ffprobe numbers private-stream-1 sub-streams by the sub-stream id and the
        // others by 0x100 + stream id.
        DWORD ours = id < 0x100 ? 0xBD00 | id : (id & 0xFF) << 8;
        ProbeStream s;
        s.type = kv["codec_type"];
        s.codec = kv["codec_name"];
        s.sampleRate = std::atoi(kv["sample_rate"].c_str());
        s.channels = std::atoi(kv["channels"].c_str());
        s.width = std::atoi(kv["width"].c_str());
        s.height = std::atoi(kv["height"].c_str());
        s.bitRate = std::atoll(kv["bit_rate"].c_str());
        if (!s.type.empty() && s.type != "data") out[ours] = s;
    }
    pclose(f);
    return out;
}

class DiscStreams : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(manifest.Load(DiscManifest::DiscDir()))
            << "no authored discs in $DVDCONV_TEST_DISCS";
    }
    DiscManifest manifest;
};

TEST_F(DiscStreams, EveryTitleOfEveryDisc) {
    int titlesChecked = 0;
    for (std::string disc : {"ntsc", "pal"}) {
        std::string folder = manifest.Dir() + "/" + manifest.Str(disc + ".folder");
        int titles = static_cast<int>(manifest.Int(disc + ".titles"));
        for (int t = 0; t < titles; ++t) {
            SCOPED_TRACE(disc + " title " + std::to_string(t));
            auto key = [&](const std::string& k) { return DiscManifest::Title(disc, t, k); };
            TitleBytes title;
            ASSERT_TRUE(title.Load(folder, t));
            auto table = TitleStreamTable::FromTitleRecord(&title.info, sizeof title.info);
            auto reader = MemoryAsyncReader::Create(title.bytes);
            HRESULT hr = E_UNEXPECTED;
            CMpegSplitterFile file(reader, hr, false, nullptr, &table);
            ASSERT_EQ(hr, S_OK);
            EXPECT_EQ(file.GetContainerType(), Kind::kProgramStream);

            std::string vob = (std::filesystem::temp_directory_path() /
                               ("demux_disc_" + disc + std::to_string(t) + ".vob"))
                                  .string();
            ASSERT_TRUE(title.Save(vob));
            auto probe = Probe(vob);
            std::filesystem::remove(vob);

            // Video.
            ASSERT_EQ(file.Streams(Kind::kVideo).size(), 1u);
            const auto& video = file.Streams(Kind::kVideo)[0];
            EXPECT_EQ(video.Id(), 0xE000u);
            ASSERT_EQ(video.mt.formattype, FORMAT_MPEG2_VIDEO);
            auto* vi = reinterpret_cast<const MPEG2VIDEOINFO*>(video.mt.pbFormat);
            EXPECT_EQ(vi->hdr.bmiHeader.biWidth, manifest.Int(disc + ".width"));
            EXPECT_EQ(vi->hdr.bmiHeader.biHeight, manifest.Int(disc + ".height"));
            EXPECT_EQ(vi->hdr.AvgTimePerFrame,
                      manifest.Str(key("frame_rate")) == "25" ? 400000 : 333666);
            if (manifest.Str(disc + ".aspect") == "16:9")
                EXPECT_EQ(vi->hdr.dwPictAspectRatioX * 9, vi->hdr.dwPictAspectRatioY * 16);
            else
                EXPECT_EQ(vi->hdr.dwPictAspectRatioX * 3, vi->hdr.dwPictAspectRatioY * 4);
            ASSERT_TRUE(probe.count(0xE000));
            EXPECT_EQ(probe[0xE000].width, vi->hdr.bmiHeader.biWidth);
            if (probe[0xE000].bitRate) {
                EXPECT_EQ(static_cast<long long>(vi->hdr.dwBitRate), probe[0xE000].bitRate);
            }

            // Audio: every authored stream, in priority order, matching ffprobe.
            int audioCount = static_cast<int>(manifest.Int(key("audio_count")));
            std::vector<DWORD> expectedIds;
            for (int a = 0; a < audioCount; ++a)
                expectedIds.push_back(
                    static_cast<DWORD>(manifest.Int(key("audio." + std::to_string(a) + ".id"))));
            std::vector<DWORD> ids;
            for (const auto& s : file.Streams(Kind::kAudio))
                ids.push_back(s.Id());
            std::vector<DWORD> sortedIds = ids, sortedExpected = expectedIds;
            std::sort(sortedIds.begin(), sortedIds.end());
            std::sort(sortedExpected.begin(), sortedExpected.end());
            EXPECT_EQ(sortedIds, sortedExpected);
            for (std::size_t i = 1; i < file.Streams(Kind::kAudio).size(); ++i)
                EXPECT_GE(file.AudioPriority(file.Streams(Kind::kAudio)[i - 1]),
                          file.AudioPriority(file.Streams(Kind::kAudio)[i]));
            for (int a = 0; a < audioCount; ++a) {
                auto ak = [&](const std::string& k) {
                    return key("audio." + std::to_string(a) + "." + k);
                };
                DWORD id = static_cast<DWORD>(manifest.Int(ak("id")));
                SCOPED_TRACE("audio " + std::to_string(a));
                auto it = std::find_if(file.Streams(Kind::kAudio).begin(),
                                       file.Streams(Kind::kAudio).end(),
                                       [&](const auto& s) { return s.Id() == id; });
                ASSERT_NE(it, file.Streams(Kind::kAudio).end());
                const WAVEFORMATEX* wfe = WaveFormatOf(it->mt);
                ASSERT_NE(wfe, nullptr);
                EXPECT_EQ(wfe->nSamplesPerSec, static_cast<DWORD>(manifest.Int(ak("rate"))));
                EXPECT_EQ(wfe->nChannels, manifest.Int(ak("channels")));
                std::string format = manifest.Str(ak("format"));
                const GUID& subtype = format == "ac3"    ? MEDIASUBTYPE_DOLBY_AC3
                                      : format == "lpcm" ? MEDIASUBTYPE_DVD_LPCM_AUDIO
                                                         : MEDIASUBTYPE_MPEG1AudioPayload;
                EXPECT_EQ(it->mt.subtype, subtype);
                ASSERT_TRUE(probe.count(id));
                EXPECT_EQ(static_cast<int>(wfe->nSamplesPerSec), probe[id].sampleRate);
                EXPECT_EQ(static_cast<int>(wfe->nChannels), probe[id].channels);
                EXPECT_EQ(8LL * wfe->nAvgBytesPerSec, probe[id].bitRate);
            }

            // Subtitles: the declared streams, or the placeholder.
            std::vector<DWORD> subIds;
            for (const auto& s : file.Streams(Kind::kSubpicture))
                subIds.push_back(s.Id());
            int subCount = static_cast<int>(manifest.Int(key("subtitle_count")));
            std::vector<DWORD> expectedSubs;
            for (int s = 0; s < subCount; ++s)
                expectedSubs.push_back(
                    static_cast<DWORD>(manifest.Int(key("subtitle." + std::to_string(s) + ".id"))));
            if (expectedSubs.empty()) expectedSubs.push_back(0);
            EXPECT_EQ(subIds, expectedSubs);
            for (DWORD id : subIds)
                if (id) {
                    EXPECT_TRUE(probe.count(id)) << std::hex << id;
                }
            ++titlesChecked;
        }
    }
    EXPECT_GE(titlesChecked, 4);
}

TEST_F(DiscStreams, ConversionPipelineSeesNoTitleTable) {
    // The conversion pipeline does not hand over the title record: the scan stops at
    // the first window that gives video and a time span.
    TitleBytes title;
    ASSERT_TRUE(title.Load(manifest.Dir() + "/" + manifest.Str("ntsc.folder"), 0));
    auto reader = MemoryAsyncReader::Create(title.bytes);
    HRESULT hr = E_UNEXPECTED;
    CMpegSplitterFile file(reader, hr);
    ASSERT_EQ(hr, S_OK);
    EXPECT_EQ(file.Streams(Kind::kVideo).size(), 1u);
    EXPECT_LE(reader->MaxReadEnd(), 131072 + 65536);
    double seconds = manifest.Int("ntsc.title.0.duration_ms") / 1000.0;
    double expectedRate = title.bytes->size() / seconds;
    // Measured over the first window only, where the multiplexer front-loads audio
    // and the first pictures, so within a factor of two of the title's average.
    EXPECT_GT(file.GetRate(), expectedRate * 0.5);
    EXPECT_LT(file.GetRate(), expectedRate * 2.0);
}

} // namespace
