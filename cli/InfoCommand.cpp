// dvdconv info DISC [--json]: the titles of a disc as the title list shows them.
#include <cstdio>
#include <memory>

#include <QJsonArray>
#include <QJsonObject>

#include "cli/CliOptions.h"
#include "cli/Commands.h"
#include "cli/DefaultProfile.h"
#include "app/TitleListText.h"
#include "platform/dvd/LibDvd.h"
#include "platform/win/MessageService.h"

namespace {

QString Hex(std::int32_t id) { return QString::asprintf("0x%04X", static_cast<unsigned>(id)); }

// The two letters of a packed language code ("en"), "" when unset.
QString LanguageCode(std::int32_t packed) {
    char a = static_cast<char>((packed >> 8) & 0xFF), b = static_cast<char>(packed & 0xFF);
    if (a < 'a' || a > 'z' || b < 'a' || b > 'z') return {};
    return QString(QChar(a)) + QChar(b);
}

QJsonObject TitleJson(const DvdTitleInfo& t, int index, const std::string& ext) {
    QJsonObject o;
    std::string name = TitleListText::ItemName(index);
    o["index"] = index;
    o["name"] = QString::fromStdString(name);
    o["length"] = QString::fromStdString(TitleListText::LengthText(t.durationMs));
    o["durationMs"] = t.durationMs;
    o["chapters"] = t.chapterCount;
    o["output"] = QString::fromStdString(name + ext);
    QJsonArray audio;
    for (int i = 0; i < t.audioCount && i < kDvdMaxStreams; ++i) {
        QJsonObject a;
        a["id"] = Hex(t.audioIds[i]);
        a["text"] = QString::fromStdString(
            TitleListText::AudioEntry(t.audioLanguages[i], t.audioFormats[i], t.audioChannels[i]));
        a["language"] = QString::fromStdString(TitleListText::LanguageOf(t.audioLanguages[i]));
        a["languageCode"] = LanguageCode(t.audioLanguages[i]);
        a["format"] = QString::fromStdString(TitleListText::FormatName(t.audioFormats[i]));
        a["channels"] = TitleListText::ChannelCount(t.audioChannels[i]);
        audio.append(a);
    }
    o["audio"] = audio;
    QJsonArray subs;
    for (int i = 0; i < t.subtitleCount && i < kDvdMaxStreams; ++i) {
        QJsonObject s;
        s["id"] = Hex(t.subtitleIds[i]);
        s["language"] = QString::fromStdString(TitleListText::LanguageOf(t.subtitleLanguages[i]));
        s["languageCode"] = LanguageCode(t.subtitleLanguages[i]);
        subs.append(s);
    }
    o["subtitles"] = subs;
    return o;
}

void PrintTitle(const QJsonObject& t) {
    std::printf("%-10s %s  %2d chapter%s  %s\n", t["name"].toString().toUtf8().constData(),
                t["length"].toString().toUtf8().constData(), t["chapters"].toInt(),
                t["chapters"].toInt() == 1 ? " " : "s", t["output"].toString().toUtf8().constData());
    for (const auto& v : t["audio"].toArray()) {
        QJsonObject a = v.toObject();
        std::printf("    audio     %s  %s\n", a["id"].toString().toUtf8().constData(),
                    a["text"].toString().toUtf8().constData());
    }
    for (const auto& v : t["subtitles"].toArray()) {
        QJsonObject s = v.toObject();
        QString lang = s["language"].toString();
        std::printf("    subtitle  %s  %s\n", s["id"].toString().toUtf8().constData(),
                    lang.isEmpty() ? "(unknown language)" : lang.toUtf8().constData());
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
    QJsonArray titles;
    for (int t = 0; t < info->titleCount && t < kDvdMaxTitles; ++t) {
        if (TitleListText::IsListed(info->titles[t])) titles.append(TitleJson(info->titles[t], t, ext));
    }
    if (json) {
        QJsonObject root;
        root["disc"] = QString::fromStdString(*disc);
        root["titleCount"] = info->titleCount;
        root["titles"] = titles;
        PrintJson(QJsonDocument(root));
        return 0;
    }
    std::printf("%s: %d title%s, %lld listed (3 s or longer)\n", disc->c_str(), info->titleCount,
                info->titleCount == 1 ? "" : "s", static_cast<long long>(titles.size()));
    for (const auto& t : titles) PrintTitle(t.toObject());
    return 0;
}
