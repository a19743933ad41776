// dvdconv info DISC [--json]: the titles of a disc as the title list shows them.
#include <cstdio>
#include <memory>
#include <vector>

#include "app/TitleListText.h"
#include "cli/CliOptions.h"
#include "cli/Commands.h"
#include "cli/DefaultProfile.h"
#include "cli/JsonWriter.h"
#include "platform/dvd/LibDvd.h"
#include "platform/win/MessageService.h"

namespace {

struct StreamRow {
    std::int32_t id;
    std::string text, language, languageCode, format;
    int channels;
};

struct TitleRow {
    int index;
    std::string name, length, output;
    double durationMs;
    int chapters;
    std::vector<StreamRow> audio, subtitles;
};

std::string Hex(std::int32_t id) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%04X", static_cast<unsigned>(id));
    return buf;
}

// The two letters of a packed language code ("en"), "" when unset.
std::string LanguageCode(std::int32_t packed) {
    char a = static_cast<char>((packed >> 8) & 0xFF), b = static_cast<char>(packed & 0xFF);
    if (a < 'a' || a > 'z' || b < 'a' || b > 'z') return {};
    return {a, b};
}

TitleRow MakeRow(const DvdTitleInfo& t, int index, const std::string& ext) {
    TitleRow row{index, TitleListText::ItemName(index), TitleListText::LengthText(t.durationMs),
                 "", t.durationMs, t.chapterCount, {}, {}};
    row.output = row.name + ext;
    for (int i = 0; i < t.audioCount && i < kDvdMaxStreams; ++i) {
        row.audio.push_back({t.audioIds[i],
                             TitleListText::AudioEntry(t.audioLanguages[i], t.audioFormats[i], t.audioChannels[i]),
                             TitleListText::LanguageOf(t.audioLanguages[i]), LanguageCode(t.audioLanguages[i]),
                             TitleListText::FormatName(t.audioFormats[i]),
                             TitleListText::ChannelCount(t.audioChannels[i])});
    }
    for (int i = 0; i < t.subtitleCount && i < kDvdMaxStreams; ++i) {
        std::string lang = TitleListText::LanguageOf(t.subtitleLanguages[i]);
        row.subtitles.push_back({t.subtitleIds[i], lang, lang, LanguageCode(t.subtitleLanguages[i]), "", 0});
    }
    return row;
}

void WriteStreams(JsonWriter& j, const char* key, const std::vector<StreamRow>& streams, bool audio) {
    j.Key(key).BeginArray();
    for (const StreamRow& s : streams) {
        j.BeginObject().Key("id").String(Hex(s.id));
        if (audio) j.Key("text").String(s.text);
        j.Key("language").String(s.language).Key("languageCode").String(s.languageCode);
        if (audio) j.Key("format").String(s.format).Key("channels").Int(s.channels);
        j.EndObject();
    }
    j.EndArray();
}

void PrintJson(const std::string& disc, int titleCount, const std::vector<TitleRow>& rows) {
    JsonWriter j;
    j.BeginObject().Key("disc").String(disc).Key("titleCount").Int(titleCount).Key("titles").BeginArray();
    for (const TitleRow& r : rows) {
        j.BeginObject().Key("index").Int(r.index).Key("name").String(r.name).Key("length").String(r.length);
        j.Key("durationMs").Double(r.durationMs).Key("chapters").Int(r.chapters).Key("output").String(r.output);
        WriteStreams(j, "audio", r.audio, true);
        WriteStreams(j, "subtitles", r.subtitles, false);
        j.EndObject();
    }
    j.EndArray().EndObject();
    std::fputs(j.Text().c_str(), stdout);
}

void PrintText(const std::string& disc, int titleCount, const std::vector<TitleRow>& rows) {
    std::printf("%s: %d title%s, %zu listed (3 s or longer)\n", disc.c_str(), titleCount,
                titleCount == 1 ? "" : "s", rows.size());
    for (const TitleRow& r : rows) {
        std::printf("%-10s %s  %2d chapter%s  %s\n", r.name.c_str(), r.length.c_str(), r.chapters,
                    r.chapters == 1 ? " " : "s", r.output.c_str());
        for (const StreamRow& a : r.audio) std::printf("    audio     %s  %s\n", Hex(a.id).c_str(), a.text.c_str());
        for (const StreamRow& s : r.subtitles)
            std::printf("    subtitle  %s  %s\n", Hex(s.id).c_str(),
                        s.language.empty() ? "(unknown language)" : s.language.c_str());
    }
}

} // namespace

int RunInfoCommand(const CommandArgs& args) {
    CliOptions opts("info", args);
    bool json = opts.Flag("--json");
    auto disc = opts.Positional();
    if (!opts.Finish()) return opts.ReportErrors();
    if (!disc) return opts.UsageError("missing DISC");

    DvdHandle handle = MyDVDOpen(disc->c_str());
    if (handle == 0) {
        MessageService::Show("Open DVD error");
        return 1;
    }
    auto info = std::make_unique<DvdDiscInfo>();
    int rc = MyDVDGetInfo(handle, info.get());
    MyDVDClose(handle);
    if (rc != 0) {
        MessageService::Show("Open DVD error");
        return 1;
    }

    std::string ext = DefaultProfileExtension();
    std::vector<TitleRow> rows;
    for (int t = 0; t < info->titleCount && t < kDvdMaxTitles; ++t)
        if (TitleListText::IsListed(info->titles[t])) rows.push_back(MakeRow(info->titles[t], t, ext));
    if (json)
        PrintJson(*disc, info->titleCount, rows);
    else
        PrintText(*disc, info->titleCount, rows);
    return 0;
}
